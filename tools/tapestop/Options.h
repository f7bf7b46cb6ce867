// The command line of `tapestop`: what each command was asked to do, parsed
// and checked for form. Values that need the plug-in or the input file
// (parameter names, times in seconds) are resolved later, by the render.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "AudioFile.h"
#include "CommandLine.h"

namespace tapestop {

// A point in the input, as written: frames, seconds or milliseconds.
struct TimeSpec {
    enum class Unit { kFrames, kSeconds, kMilliseconds };
    double amount = 0.0;
    Unit unit = Unit::kFrames;
    std::string text;  // as the user wrote it, for messages
};

// NAME=VALUE: a parameter by name (any case) or index, and either a host
// value from 0 to 1 (a bare number) or a text for the plug-in to read: one
// that is no number ("250 ms", "On") or any text in quotes ('-40', "0").
struct ParameterAssignment {
    std::string parameter;
    std::optional<float> value;  // set when VALUE is a bare number
    std::string valueText;       // VALUE as written
    std::string text;            // what the plug-in reads, without the quotes
};

// note-on=N or note-off=N: a MIDI note on the first channel.
struct NoteEvent {
    bool on = true;
    int note = 0;
};

// Something that happens at a point in the input, with the options that
// asked for it as written ("--stop 2s"), for messages.
struct TimedEvent {
    TimeSpec at;
    std::variant<ParameterAssignment, NoteEvent> what;
    std::string source;
};

struct TimeSignature {
    int numerator = 4;
    int denominator = 4;
};

struct RenderOptions {
    std::string inputPath;
    std::string outputPath;
    std::string pluginPath;
    std::optional<SampleFormat> format;  // unset: the container's default
    int blockFrames = 512;
    bool force = false;  // replace a read-only output
    std::vector<ParameterAssignment> settings;  // before processing, in order
    std::vector<TimedEvent> events;             // in command-line order
    double tempoBpm = 120.0;                    // the transport's
    TimeSignature meter;
};

struct InfoOptions {
    std::string pluginPath;
    bool json = false;
};

struct DemoOptions {
    std::string outputPath;
};

struct HelpRequest {};
struct VersionRequest {};

using Command = std::variant<HelpRequest, VersionRequest, RenderOptions, InfoOptions, DemoOptions>;

// Throws UsageError naming the offending argument.
Command parseCommandLine(int argc, const char* const* argv);

// A plug-in argument as a path: a bare name is a file in the current folder.
std::string pluginPathArgument(const std::string& text);

// Parsers for single values, also used where the value comes from elsewhere.
TimeSpec parseTime(const std::string& text);
ParameterAssignment parseAssignment(const std::string& text);

// "NAME=VALUE" as the user wrote it, for messages.
std::string assignmentText(const ParameterAssignment& assignment);

std::string usageText();

}  // namespace tapestop
