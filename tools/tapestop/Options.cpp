#include "Options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <utility>

namespace tapestop {

namespace {

constexpr int kMaxBlockFrames = 1 << 20;

// A whole-text decimal number, or nothing.
std::optional<double> parseNumber(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
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

TimedAssignment triggerAt(const std::string& time, float value) {
    return TimedAssignment{parseTime(time), ParameterAssignment{"Trigger", value}};
}

Command parseRender(ArgumentCursor& cursor) {
    RenderOptions options;
    std::string formatText;
    const std::map<std::string, OptionHandler> handlers{
        {"--plugin", [&](auto value) { options.pluginPath = value(); }},
        {"--format", [&](auto value) { formatText = value(); }},
        {"--block", [&](auto value) { options.blockFrames = parseBlockFrames(value()); }},
        {"--set", [&](auto value) { options.settings.push_back(parseAssignment(value())); }},
        {"--at",
         [&](auto value) {
             const TimeSpec at = parseTime(value());
             options.events.push_back(TimedAssignment{at, parseAssignment(value())});
         }},
        {"--stop", [&](auto value) { options.events.push_back(triggerAt(value(), 1.0f)); }},
        {"--release", [&](auto value) { options.events.push_back(triggerAt(value(), 0.0f)); }},
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
        {"--plugin", [&](auto value) { options.pluginPath = value(); }},
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

ParameterAssignment parseAssignment(const std::string& text) {
    const auto equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0)
        throw UsageError("bad parameter setting '" + text + "': write NAME=VALUE, e.g. Speed=0.5");
    const std::string valueText = text.substr(equals + 1);
    const std::optional<double> value = parseNumber(valueText);
    if (!value || *value < 0.0 || *value > 1.0)
        throw UsageError("bad value '" + valueText + "' in '" + text + "': parameter values run from 0 to 1");
    return ParameterAssignment{text.substr(0, equals), static_cast<float>(*value)};
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
  tapestop --help | --version

render: runs INPUT through a VST 2.4 plug-in (the Tarvo TapeStop built with
this program, unless --plugin names another) and writes OUTPUT. The output
container follows OUTPUT's extension: .wav .w64 .aif .aiff .caf .flac .ogg .oga.
Mono input is processed on both channels and written back as mono.
  --plugin PATH        the plug-in library to use
  --format FORMAT      pcm16, pcm24 or float (default float; FLAC: pcm24);
                       integer formats are clipped, and clipped samples counted
  --set NAME=VALUE     set a parameter before processing; NAME as the plug-in
                       reports it (any case) or its index, VALUE from 0 to 1
  --at TIME NAME=VALUE set a parameter at TIME, exactly on that frame
  --stop TIME          the same as --at TIME Trigger=1
  --release TIME       the same as --at TIME Trigger=0
  --block N            frames per processing block (default 512)
TIME is seconds (2.5s), milliseconds (250ms) or frames (120000).

info: prints the plug-in's identity, flags and parameters (--json: as JSON).

validate: checks any VST 2.4 plug-in as a strict host would, each check in a
child process of its own; exit status 1 when a check fails (default
strictness 5; 10 runs every check; --time-limit SECONDS per check, default 60).

demo: writes a few seconds of synthesized stereo tones and hits to OUTPUT,
a signal in which a tape stop is easy to hear.

Example:
  tapestop render drums.wav stopped.wav --stop 2s --release 4s --set Speed=0.2
)";
}

}  // namespace tapestop
