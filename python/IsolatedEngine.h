// A plug-in in a child process of its own: every call crosses to the child
// as a small message, with texts, states, events and audio in memory both
// sides share. A crash, abort, exit or hang of the plug-in ends only the
// child; the call that met it throws PluginCrashed naming the signal and the
// last step, and every later call says the plug-in is gone.
//
// While one lives, the host library's interrupt watch holds SIGINT, SIGTERM,
// SIGHUP and SIGQUIT: such a signal ends the child, and the next call throws
// Interrupted.
#pragma once

#include <memory>
#include <string>

#include "ChildProcess.h"
#include "Engine.h"

namespace tarvo {

// The user interrupted the parent while an isolated plug-in ran.
class Interrupted : public PluginCrashed {
public:
    using PluginCrashed::PluginCrashed;
};

class IsolatedEngine : public Engine {
public:
    // Throws PluginError when the child cannot load or create the plug-in,
    // PluginCrashed when it dies trying.
    explicit IsolatedEngine(const LoadOptions& options);
    ~IsolatedEngine() override;

    Identity identity() override;
    std::vector<std::string> parameterNames() override;
    float parameter(std::int32_t index) override;
    void setParameter(std::int32_t index, float value) override;
    std::string parameterDisplay(std::int32_t index) override;
    std::string parameterLabel(std::int32_t index) override;
    std::optional<float> valueOfText(std::int32_t index, const std::string& text) override;
    std::vector<std::string> programNames() override;
    std::int32_t program() override;
    void setProgram(std::int32_t index) override;
    std::string state() override;
    void setState(const std::string& bytes) override;
    std::int64_t tailFrames() override;
    std::int64_t latencyFrames() override;
    void reset() override;
    void startStream(const Transport& transport) override;
    void setTransport(const Transport& transport) override;
    void schedule(const host::Timeline& events) override;
    void process(const float* const* in, float* const* out, std::int64_t frames, bool onBlockGrid) override;
    std::int64_t streamPosition() override;

    struct Request;
    struct Reply;

private:
    Reply call(const Request& request, const std::string& payload = {});
    std::string payloadOf(const Reply& reply);
    [[noreturn]] void childEnded();

    LoadOptions options_;
    std::unique_ptr<host::ChildProcess> child_;
    std::string goneBecause_;  // set once the child has ended
    Identity identity_;
};

}  // namespace tarvo
