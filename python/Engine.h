// What the Python module does with one plug-in, whether it runs in this
// process (LocalEngine.cpp) or in a child process of its own
// (IsolatedEngine.cpp).
// The module's Plugin object holds one engine and knows nothing of where it
// runs.
//
// Thread context: an engine is used by one thread at a time; the module
// releases the GIL around process calls, so the caller locks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BlockProcessor.h"
#include "ChildProcess.h"
#include "Info.h"
#include "PluginHost.h"
#include "TransportHost.h"

namespace tarvo {

// The plug-in failed to load, create, or do what it was asked.
class PluginError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An isolated plug-in's process ended (crash, abort, exit, hang); the
// message names the signal and the last step.
class PluginCrashed : public PluginError {
public:
    using PluginError::PluginError;
};

// The user interrupted the parent while an isolated plug-in ran.
class Interrupted : public PluginCrashed {
public:
    using PluginCrashed::PluginCrashed;
};

// Bad input from the caller (Python's ValueError).
class InputError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// What a plug-in says about itself when it is created, as `tapestop info`
// reads it. Plain data.
using Identity = tapestop::PluginIdentity;

struct Transport {
    double tempoBpm = host::TransportHost::kDefaultTempoBpm;
    std::int32_t beatsPerBar = host::TransportHost::kDefaultBeatsPerBar;
    std::int32_t beatUnit = host::TransportHost::kDefaultBeatUnit;
};

class Engine {
public:
    virtual ~Engine() = default;

    virtual Identity identity() = 0;
    virtual std::vector<std::string> parameterNames() = 0;
    virtual float parameter(std::int32_t index) = 0;
    virtual void setParameter(std::int32_t index, float value) = 0;
    // What the host shows: the display text and the label.
    virtual std::string parameterDisplay(std::int32_t index) = 0;
    virtual std::string parameterLabel(std::int32_t index) = 0;
    // The host value the plug-in reads `text` as, or nothing when it refuses
    // it; the parameter keeps its value.
    virtual std::optional<float> valueOfText(std::int32_t index, const std::string& text) = 0;

    virtual std::vector<std::string> programNames() = 0;
    virtual std::int32_t program() = 0;
    virtual void setProgram(std::int32_t index) = 0;
    // The plug-in's chunk when it keeps one, else its parameter values.
    virtual std::string state() = 0;
    virtual void setState(const std::string& bytes) = 0;
    virtual std::int64_t tailFrames() = 0;
    virtual std::int64_t latencyFrames() = 0;

    // Suspend and resume.
    virtual void reset() = 0;

    // A stream starts at frame 0 with the transport there; schedule adds
    // events at frames from the stream's start; process runs the next
    // frames, planar, one pointer per plug-in input and output. With
    // `onBlockGrid` the blocks start at whole multiples of the block size
    // from the stream's start, as the renderer's do.
    virtual void startStream(const Transport& transport) = 0;
    virtual void setTransport(const Transport& transport) = 0;
    virtual void schedule(const host::Timeline& events) = 0;
    virtual void process(const float* const* in, float* const* out, std::int64_t frames, bool onBlockGrid) = 0;
    virtual std::int64_t streamPosition() = 0;
};

struct LoadOptions {
    std::string path;
    double sampleRateHz = 48000.0;
    std::int32_t blockFrames = 512;
    bool isolated = false;
    double timeLimitSeconds = 60.0;  // per call of an isolated plug-in; below 0: none
};

// Throws PluginError with the host library's message.
std::unique_ptr<Engine> loadEngine(const LoadOptions& options);

// The plug-in in this process, driven through the host library. `progress`,
// when given, hears of each step and block (in an isolated plug-in's child).
std::unique_ptr<Engine> makeLocalEngine(const LoadOptions& options, host::ChildProgress* progress = nullptr);

// A plug-in in a child process of its own: a crash, abort, exit or hang of the
// plug-in ends only the child; the call that met it throws PluginCrashed
// naming the signal and the last step, and every later call says the plug-in
// is gone. While one lives, the host library's interrupt watch holds SIGINT,
// SIGTERM, SIGHUP and SIGQUIT: such a signal ends the child, and the next call
// throws Interrupted. Throws PluginError when the child cannot load or create
// the plug-in, PluginCrashed when it dies trying.
std::unique_ptr<Engine> makeIsolatedEngine(const LoadOptions& options);

}  // namespace tarvo
