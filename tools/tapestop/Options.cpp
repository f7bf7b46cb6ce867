#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <utility>

namespace tapestop {

namespace {

constexpr int kMaxBlockFrames = 1 << 20;

// A whole-text decimal number, or nothing: digits with an optional sign,
// point and exponent. strtod alone would also take "0x100", "inf" and "nan".
std::optional<double> parseNumber(const std::string& text) {
    const auto isDecimal = [](unsigned char c) { return std::isdigit(c) || std::strchr(".eE+-", c) != nullptr; };
    if (text.empty() || !std::all_of(text.begin(), text.end(), isDecimal) ||
        std::none_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return std::nullopt;
    return value;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int parseBlockFrames(const std::string& text) {
    const std::optional<double> number = parseNumber(text);
    if (!number || *number != std::floor(*number) || *number < 1 || *number > kMaxBlockFrames)
        throw UsageError("bad block size '" + text + "': give a whole number of frames from 1 to " +
                         std::to_string(kMaxBlockFrames));
    return static_cast<int>(*number);
}

// Walks the arguments of one command, handing out option values.
class ArgumentCursor {
public:
    ArgumentCursor(int argc, const char* const* argv, int first) : argc_(argc), argv_(argv), next_(first) {}

    bool done() const { return next_ >= argc_; }
    std::string take() { return argv_[next_++]; }
    std::string valueOf(const std::string& option) {
        if (done()) throw UsageError("option " + option + " needs a value");
        return take();
    }

private:
    int argc_;
    const char* const* argv_;
    int next_;
};

// Splits "--name=value" into the option and its value, which then comes
// before any later argument.
struct SplitOption {
    std::string name;
    std::optional<std::string> inlineValue;
};

SplitOption splitOption(const std::string& argument) {
    const auto equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos) return {argument, std::nullopt};
    return {argument.substr(0, equals), argument.substr(equals + 1)};
}

using OptionHandler = std::function<void(const std::function<std::string()>& value)>;

// Runs the handler of every option and collects the positional arguments.
std::vector<std::string> parseArguments(ArgumentCursor& cursor, const std::map<std::string, OptionHandler>& handlers,
                                        bool& helpAsked) {
    std::vector<std::string> positional;
    while (!cursor.done()) {
        const std::string argument = cursor.take();
        if (argument == "--") {  // everything after it is a file name, even "-x"
            while (!cursor.done()) positional.push_back(cursor.take());
            break;
        }
        if (argument == "--help" || argument == "-h") {
            helpAsked = true;
            continue;
        }
        if (argument.size() < 2 || argument[0] != '-') {
            positional.push_back(argument);
            continue;
        }
        const SplitOption option = splitOption(argument);
        const auto handler = handlers.find(option.name);
        if (handler == handlers.end()) throw UsageError("unknown option '" + option.name + "'");
        // An inline value is the option's first value; any further one follows.
        std::optional<std::string> inlineValue = option.inlineValue;
        handler->second([&]() {
            if (!inlineValue) return cursor.valueOf(option.name);
            return std::string(*std::exchange(inlineValue, std::nullopt));
        });
        if (inlineValue) throw UsageError("option " + option.name + " takes no value");
    }
    return positional;
}

void expectPositional(const std::vector<std::string>& positional, std::size_t count, const std::string& what) {
    if (positional.size() < count) throw UsageError("missing " + what);
    if (positional.size() > count) throw UsageError("unexpected argument '" + positional[count] + "'");
}

// A plug-in argument is always a path: a bare name is a file in the current
// folder, where dlopen would search the system's library path instead.
std::string pluginPathArgument(const std::string& text) {
    return text.find('/') == std::string::npos ? "./" + text : text;
}

TimedEvent triggerAt(const std::string& option, const std::string& time, bool on) {
    return TimedEvent{parseTime(time), ParameterAssignment{"Trigger", on ? 1.0f : 0.0f, on ? "1" : "0"},
                      option + " " + time};
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The highest MIDI note number.
constexpr int kLastMidiNote = 127;

std::optional<NoteEvent> parseNoteEvent(const std::string& text) {
    const auto equals = text.find('=');
    const std::string name = lowered(text.substr(0, equals));
    if (equals == std::string::npos || (name != "note-on" && name != "note-off")) return std::nullopt;
    const std::string number = text.substr(equals + 1);
    const std::optional<double> note = parseNumber(number);
    if (!note || *note != std::floor(*note) || *note < 0 || *note > kLastMidiNote)
        throw UsageError("bad note '" + number + "' in '" + text + "': give a MIDI note number from 0 to 127");
    return NoteEvent{name == "note-on", static_cast<int>(*note)};
}

TimedEvent parseTimedEvent(const std::string& time, const std::string& what) {
    const std::string source = "--at " + time + " " + what;
    if (const std::optional<NoteEvent> note = parseNoteEvent(what)) return TimedEvent{parseTime(time), *note, source};
    return TimedEvent{parseTime(time), parseAssignment(what), source};
}

constexpr double kMinTempoBpm = 1.0;
constexpr double kMaxTempoBpm = 999.0;

double parseTempo(const std::string& text) {
    const std::optional<double> bpm = parseNumber(text);
    if (!bpm || *bpm < kMinTempoBpm || *bpm > kMaxTempoBpm)
        throw UsageError("bad tempo '" + text + "': give beats per minute from 1 to 999");
    return *bpm;
}

// Beats per bar from 1 to 64 over a power of two from 1 to 64, as "3/4".
TimeSignature parseMeter(const std::string& text) {
    constexpr int kMaxMeterPart = 64;
    const auto part = [&](const std::string& digits) {
        const std::optional<double> n = parseNumber(digits);
        return n && *n == std::floor(*n) && *n >= 1 && *n <= kMaxMeterPart ? static_cast<int>(*n) : 0;
    };
    const auto slash = text.find('/');
    const int numerator = slash == std::string::npos ? 0 : part(text.substr(0, slash));
    const int denominator = slash == std::string::npos ? 0 : part(text.substr(slash + 1));
    if (numerator == 0 || denominator == 0 || (denominator & (denominator - 1)) != 0)
        throw UsageError("bad meter '" + text + "': give beats per bar over a note value, e.g. 3/4 or 6/8");
    return TimeSignature{numerator, denominator};
}

Command parseRender(ArgumentCursor& cursor) {
    RenderOptions options;
    std::string formatText;
    const std::map<std::string, OptionHandler> handlers{
        {"--plugin", [&](auto value) { options.pluginPath = pluginPathArgument(value()); }},
        {"--format", [&](auto value) { formatText = value(); }},
        {"--force", [&](auto) { options.force = true; }},
        {"--block", [&](auto value) { options.blockFrames = parseBlockFrames(value()); }},
        {"--set", [&](auto value) { options.settings.push_back(parseAssignment(value())); }},
        {"--at",
         [&](auto value) {
             const std::string time = value();
             options.events.push_back(parseTimedEvent(time, value()));
         }},
        {"--stop", [&](auto value) { options.events.push_back(triggerAt("--stop", value(), true)); }},
        {"--release", [&](auto value) { options.events.push_back(triggerAt("--release", value(), false)); }},
        {"--tempo", [&](auto value) { options.tempoBpm = parseTempo(value()); }},
        {"--meter", [&](auto value) { options.meter = parseMeter(value()); }},
    };
    bool helpAsked = false;
    const std::vector<std::string> positional = parseArguments(cursor, handlers, helpAsked);
    if (helpAsked) return HelpRequest{};
    expectPositional(positional, 2, positional.empty() ? "input and output files" : "output file");
    options.inputPath = positional[0];
    options.outputPath = positional[1];
    if (!formatText.empty()) {
        try {
            options.format = parseSampleFormat(formatText);
        } catch (const AudioFileError& error) {
            throw UsageError(error.what());
        }
    }
    return options;
}

Command parseInfo(ArgumentCursor& cursor) {
    InfoOptions options;
    const std::map<std::string, OptionHandler> handlers{
        {"--plugin", [&](auto value) { options.pluginPath = pluginPathArgument(value()); }},
        {"--json", [&](auto) { options.json = true; }},
    };
    bool helpAsked = false;
    const std::vector<std::string> positional = parseArguments(cursor, handlers, helpAsked);
    if (helpAsked) return HelpRequest{};
    expectPositional(positional, 0, "");
    return options;
}

Command parseDemo(ArgumentCursor& cursor) {
    bool helpAsked = false;
    const std::vector<std::string> positional = parseArguments(cursor, {}, helpAsked);
    if (helpAsked) return HelpRequest{};
    expectPositional(positional, 1, "output file for the demo signal");
    return DemoOptions{positional[0]};
}

}  // namespace

TimeSpec parseTime(const std::string& text) {
    TimeSpec time{0.0, TimeSpec::Unit::kFrames, text};
    std::string number = text;
    if (endsWith(text, "ms")) {
        time.unit = TimeSpec::Unit::kMilliseconds;
        number = text.substr(0, text.size() - 2);
    } else if (endsWith(text, "s")) {
        time.unit = TimeSpec::Unit::kSeconds;
        number = text.substr(0, text.size() - 1);
    }
    const std::optional<double> amount = parseNumber(number);
    const bool wholeFrames = time.unit != TimeSpec::Unit::kFrames || (amount && *amount == std::floor(*amount));
    if (!amount || *amount < 0 || !wholeFrames)
        throw UsageError("bad time '" + text + "': give seconds (2.5s), milliseconds (250ms) or whole frames (120000)");
    time.amount = *amount;
    return time;
}

// The name ends at the first '=': display texts may hold one, names rarely.
ParameterAssignment parseAssignment(const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw UsageError("bad parameter setting '" + text + "': write NAME=VALUE, e.g. Speed=0.5");
    const std::string valueText = text.substr(equals + 1);
    const std::optional<double> value = parseNumber(valueText);
    if (value && (*value < 0.0 || *value > 1.0))
        throw UsageError("bad value '" + valueText + "' in '" + text + "': parameter values run from 0 to 1");
    if (value) return ParameterAssignment{text.substr(0, equals), static_cast<float>(*value), valueText};
    return ParameterAssignment{text.substr(0, equals), std::nullopt, valueText};
}

std::string assignmentText(const ParameterAssignment& assignment) {
    return assignment.parameter + "=" + assignment.valueText;
}

Command parseCommandLine(int argc, const char* const* argv) {
    if (argc < 2) throw UsageError("missing command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") return HelpRequest{};
    if (command == "--version") return VersionRequest{};
    ArgumentCursor cursor(argc, argv, 2);
    if (command == "render") return parseRender(cursor);
    if (command == "info") return parseInfo(cursor);
    if (command == "demo") return parseDemo(cursor);
    throw UsageError("unknown command '" + command + "'");
}

std::string usageText() {
    return R"(Usage:
  tapestop render [options] INPUT OUTPUT
  tapestop info [--plugin PATH] [--json]
  tapestop demo OUTPUT
  tapestop validate PLUGIN.so [--strictness 1-10] [--json] [--only NAME,...] [--seed S]
  tapestop batch JOBS.json [-j N] [--force] [--report FILE.json]
  tapestop --help | --version

render: runs INPUT through a VST 2.4 plug-in (the Tarvo TapeStop built with
this program, unless --plugin names another) and writes OUTPUT. The output
container follows OUTPUT's extension: .wav .w64 .aif .aiff .caf .flac .ogg .oga.
Mono input is processed on both channels and written back as mono.
  --plugin PATH        the plug-in library to use (always a path: x.so is ./x.so)
  --format FORMAT      pcm16, pcm24 or float (default float; FLAC: pcm24);
                       integer formats are clipped, and clipped samples counted
  --set NAME=VALUE     set a parameter before processing; NAME as the plug-in
                       reports it (any case) or its index, VALUE from 0 to 1
                       or a text the plug-in reads (e.g. Stop="250 ms")
  --at TIME NAME=VALUE set a parameter at TIME, exactly on that frame
  --at TIME note-on=N  send MIDI note N on (note-off=N: off) at TIME
  --stop TIME          the same as --at TIME Trigger=1
  --release TIME       the same as --at TIME Trigger=0
  --tempo BPM          the transport's tempo (default 120)
  --meter N/D          the transport's time signature (default 4/4)
  --block N            frames per processing block (default 512)
  --force              replace a read-only output file
  --                   ends the options: what follows are file names
TIME is seconds (2.5s), milliseconds (250ms) or frames (120000).

info: prints the plug-in's identity, flags, programs, tail, canDo answers and
parameters with their properties (--json: as JSON).

validate: checks any VST 2.4 plug-in as a strict host would, each check in a
child process of its own; exit status 1 when a check fails (default
strictness 5; 10 runs every check; --time-limit SECONDS per check, default 60).

batch: renders a JSON list of render jobs, N at a time (tapestop batch --help).

demo: writes a few seconds of synthesized stereo tones and hits to OUTPUT,
a signal in which a tape stop is easy to hear.

Example:
  tapestop render drums.wav stopped.wav --stop 2s --release 4s --set Speed=0.2
)";
}

}  // namespace tapestop
