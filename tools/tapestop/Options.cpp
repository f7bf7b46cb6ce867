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

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int parseBlockFrames(const std::string& text) {
    const std::optional<long long> frames = wholeNumber(text, 1, kMaxBlockFrames);
    if (!frames)
        throw UsageError("bad block size '" + text + "': give a whole number of frames from 1 to " +
                         std::to_string(kMaxBlockFrames));
    return static_cast<int>(*frames);
}

}  // namespace

// A plug-in argument is always a path: a bare name is a file in the current
// folder, where dlopen would search the system's library path instead.
std::string pluginPathArgument(const std::string& text) {
    return text.find('/') == std::string::npos ? "./" + text : text;
}

namespace {

TimedEvent triggerAt(const std::string& option, const std::string& time, bool on) {
    return TimedEvent{parseTime(time), ParameterAssignment{"Trigger", on ? 1.0f : 0.0f, on ? "1" : "0", on ? "1" : "0"},
                      option + " " + time};
}

// The text between matching quotes, or nothing when `text` is not quoted.
std::optional<std::string> unquoted(const std::string& text) {
    if (text.size() < 2 || (text.front() != '\'' && text.front() != '"') || text.back() != text.front())
        return std::nullopt;
    return text.substr(1, text.size() - 2);
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
    const std::optional<long long> note = wholeNumber(number, 0, kLastMidiNote);
    if (!note)
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
    const std::optional<double> bpm = parseDecimal(text);
    if (!bpm || *bpm < kMinTempoBpm || *bpm > kMaxTempoBpm)
        throw UsageError("bad tempo '" + text + "': give beats per minute from 1 to 999");
    return *bpm;
}

// Beats per bar from 1 to 64 over a power of two from 1 to 64, as "3/4".
TimeSignature parseMeter(const std::string& text) {
    constexpr int kMaxMeterPart = 64;
    const auto part = [&](const std::string& digits) {
        return static_cast<int>(wholeNumber(digits, 1, kMaxMeterPart).value_or(0));
    };
    const auto slash = text.find('/');
    const int numerator = slash == std::string::npos ? 0 : part(text.substr(0, slash));
    const int denominator = slash == std::string::npos ? 0 : part(text.substr(slash + 1));
    if (numerator == 0 || denominator == 0 || (denominator & (denominator - 1)) != 0)
        throw UsageError("bad meter '" + text + "': give beats per bar over a note value, e.g. 3/4 or 6/8");
    return TimeSignature{numerator, denominator};
}

Command parseRender(const std::vector<std::string>& arguments) {
    RenderOptions options;
    std::string formatText;
    const std::vector<OptionRule> rules{
        {"--plugin", false, [&](auto value) { options.pluginPath = pluginPathArgument(value()); }},
        {"--format", false, [&](auto value) { formatText = value(); }},
        {"--force", false, [&](auto) { options.force = true; }},
        {"--block", false, [&](auto value) { options.blockFrames = parseBlockFrames(value()); }},
        {"--set", true, [&](auto value) { options.settings.push_back(parseAssignment(value())); }},
        {"--at", true,
         [&](auto value) {
             const std::string time = value();
             options.events.push_back(parseTimedEvent(time, value()));
         }},
        {"--stop", true, [&](auto value) { options.events.push_back(triggerAt("--stop", value(), true)); }},
        {"--release", true, [&](auto value) { options.events.push_back(triggerAt("--release", value(), false)); }},
        {"--tempo", false, [&](auto value) { options.tempoBpm = parseTempo(value()); }},
        {"--meter", false, [&](auto value) { options.meter = parseMeter(value()); }},
    };
    const ParsedArguments parsed = parseArguments(arguments, rules);
    if (parsed.helpAsked) return HelpRequest{};
    expectPositional(parsed.positional, 2, parsed.positional.empty() ? "input and output files" : "output file");
    options.inputPath = parsed.positional[0];
    options.outputPath = parsed.positional[1];
    if (!formatText.empty()) {
        try {
            options.format = parseSampleFormat(formatText);
        } catch (const AudioFileError& error) {
            throw UsageError(error.what());
        }
    }
    return options;
}

// The plug-in is named as with validate (info PLUGIN.so) or with --plugin,
// not both.
Command parseInfo(const std::vector<std::string>& arguments) {
    InfoOptions options;
    const std::vector<OptionRule> rules{
        {"--plugin", false, [&](auto value) { options.pluginPath = pluginPathArgument(value()); }},
        {"--json", false, [&](auto) { options.json = true; }},
    };
    const ParsedArguments parsed = parseArguments(arguments, rules);
    if (parsed.helpAsked) return HelpRequest{};
    if (!parsed.positional.empty() && !options.pluginPath.empty())
        throw UsageError("the plug-in is named twice ('" + parsed.positional.front() + "' and --plugin " +
                         options.pluginPath + "); name it once");
    expectPositional(parsed.positional, parsed.positional.empty() ? 0 : 1, "");
    if (!parsed.positional.empty()) options.pluginPath = pluginPathArgument(parsed.positional.front());
    return options;
}

Command parseDemo(const std::vector<std::string>& arguments) {
    const ParsedArguments parsed = parseArguments(arguments, {});
    if (parsed.helpAsked) return HelpRequest{};
    expectPositional(parsed.positional, 1, "output file for the demo signal");
    return DemoOptions{parsed.positional[0]};
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
    const std::optional<double> amount = parseDecimal(number);
    const bool wholeFrames = time.unit != TimeSpec::Unit::kFrames || (amount && *amount == std::floor(*amount));
    if (!amount || *amount < 0 || !wholeFrames)
        throw UsageError("bad time '" + text + "': give seconds (2.5s), milliseconds (250ms) or whole frames (120000)");
    time.amount = *amount;
    return time;
}

// The name ends at the first '=': display texts may hold one, names rarely.
// A bare number is a host value, always; a text in quotes is always a text,
// so a value the plug-in shows as a number ('-40') cannot be taken for one.
ParameterAssignment parseAssignment(const std::string& text) {
    const auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw UsageError("bad parameter setting '" + text + "': write NAME=VALUE, e.g. Speed=0.5");
    const std::string name = text.substr(0, equals);
    const std::string valueText = text.substr(equals + 1);
    if (const std::optional<std::string> quoted = unquoted(valueText)) {
        if (quoted->empty()) throw UsageError("bad parameter setting '" + text + "': the quoted text is empty");
        return ParameterAssignment{name, std::nullopt, valueText, *quoted};
    }
    const std::optional<double> value = parseDecimal(valueText);
    if (value && (*value < 0.0 || *value > 1.0))
        throw UsageError("bad value '" + valueText + "' in '" + text +
                         "': a bare number is a host value from 0 to 1; for the value as the plug-in shows it, "
                         "quote it: " + name + "='" + valueText + "'");
    if (value) return ParameterAssignment{name, static_cast<float>(*value), valueText, valueText};
    return ParameterAssignment{name, std::nullopt, valueText, valueText};
}

std::string assignmentText(const ParameterAssignment& assignment) {
    return assignment.parameter + "=" + assignment.valueText;
}

Command parseCommandLine(int argc, const char* const* argv) {
    if (argc < 2) throw UsageError("missing command");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") return HelpRequest{};
    if (command == "--version") return VersionRequest{};
    const std::vector<std::string> arguments(argv + 2, argv + argc);
    if (command == "render") return parseRender(arguments);
    if (command == "info") return parseInfo(arguments);
    if (command == "demo") return parseDemo(arguments);
    throw UsageError("unknown command '" + command + "'");
}

std::string usageText() {
    return R"(Usage:
  tapestop render [options] INPUT OUTPUT
  tapestop info [PLUGIN.so | --plugin PATH] [--json]
  tapestop demo OUTPUT
  tapestop validate PLUGIN.so [--strictness 1-10] [--json] [--only NAME,...] [--seed S]
                    [--time-limit SECONDS]
  tapestop show PLUGIN.so [--set NAME=VALUE]... [--seconds S] [--screenshot FILE.png]
  tapestop batch JOBS.json [-j N] [--force] [--report FILE.json]
  tapestop --help | --version

render: runs INPUT through a VST 2.4 plug-in (the Tarvo TapeStop built with
this program, unless --plugin names another) and writes OUTPUT. The output
container follows OUTPUT's extension: .wav .w64 .aif .aiff .caf .flac .ogg .oga.
WAV output beyond 4 GiB is written as RF64; AIFF beyond 4 GiB is refused.
  --plugin PATH        the plug-in library to use (always a path: x.so is ./x.so)
  --format FORMAT      pcm16, pcm24 or float (default float; FLAC: pcm24);
                       integer formats are clipped, and clipped samples counted
  --set NAME=VALUE     set a parameter before processing; NAME as the plug-in
                       reports it (any case) or its index; VALUE a bare number
                       is the host value from 0 to 1 (Speed=0.3), anything
                       else a text the plug-in reads ("Stop=250 ms", Sync=On);
                       quote a text that is a number: "Curve='-40'"
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
A mono plug-in (1 in, 1 out) runs once per channel of a stereo file; a
channel dropped, duplicated or mixed on the way is warned about (README).

Options that take one value may be given once. Exit status: 0 done, 1 the
work failed, 2 a command line that cannot be carried out.

info: prints the plug-in's identity, flags, programs, tail, canDo answers and
parameters with their properties (--json: as JSON); the plug-in is named as
PLUGIN.so or with --plugin PATH.

validate: checks any VST 2.4 plug-in as a strict host would, each check in a
child process of its own; exit status 1 when a check fails (default
strictness 5; 10 runs every check; --time-limit SECONDS per check, default 60).
After a check times out while the plug-in processes audio, the later checks
that process audio are not run, unless --keep-going asks for them.

show: opens the plug-in's editor in a window of its own, as a host does, and
plays the effect on a test signal meanwhile (processed and discarded). Prints
every edit the editor reports to the host. Runs until the window is closed,
or for --seconds S; --screenshot writes the window's picture after S seconds
(default 1) and exits. A plug-in without an editor is refused (exit status 1).

batch: renders a JSON list of render jobs, N at a time (tapestop batch --help).

demo: writes a few seconds of synthesized stereo tones and hits to OUTPUT,
a signal in which a tape stop is easy to hear.

Example:
  tapestop render drums.wav stopped.wav --stop 2s --release 4s --set Speed=0.2
)";
}

}  // namespace tapestop
