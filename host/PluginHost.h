// What a host does with a VST 2.4 plug-in library, written once for the
// tests, the renderer and the benchmarks: load the library, create effects
// with a host callback that records every request and answers configurable
// values, drive them through their record, close them and unload safely.
//
// Failures to load or create are thrown as HostError with a message that
// names the library and the problem; nothing here crashes on a bad file.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "VstInterface.h"

namespace host {

class HostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One request an effect made of the host, with its arguments as received.
struct HostRequest {
    const AEffect* effect;  // null for the version query made before the effect exists
    VstInt32 opcode;
    VstInt32 index;
    VstIntPtr value;
    void* ptr;
    float opt;
};

// A loaded plug-in library. Effects made from it must be closed before it is
// destroyed, which unloads the library.
class PluginLibrary {
public:
    using EntryFunction = AEffect* (*)(audioMasterCallback);

    explicit PluginLibrary(const std::string& path);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    const std::string& path() const { return path_; }
    EntryFunction entry() const { return entry_; }
    // The address a symbol is exported at, or null.
    void* symbol(const char* name) const;

private:
    std::string path_;
    void* handle_ = nullptr;
    EntryFunction entry_ = nullptr;
};

// The host side of the callback: records every request and answers it.
// By default it answers the version query with 2400 and everything else
// with 0; setAnswer and setHandler change that for one opcode each, and a
// derived host changes the default through fallbackAnswer. Thread-safe: an
// effect may call back from any thread.
class Host {
public:
    using Handler = std::function<VstIntPtr(const HostRequest&)>;
    static constexpr VstIntPtr kHostVersion = 2400;

    Host();
    virtual ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The answer to every later request with this opcode.
    void setAnswer(VstInt32 opcode, VstIntPtr answer);
    // A handler that answers every later request with this opcode; it takes
    // precedence over setAnswer's answer for that opcode, and every other
    // opcode keeps its answer. Handlers run outside the host's lock.
    void setHandler(VstInt32 opcode, Handler handler);
    // Recording can be switched off where requests come by the million.
    void setRecording(bool on);

    std::vector<HostRequest> requests() const;
    std::vector<HostRequest> requestsWithOpcode(VstInt32 opcode) const;
    void clearRequests();

    // The callback handed to entry functions. It finds this host through the
    // effect's record, or, while an effect is being created, through the
    // host that is creating it on this thread.
    static VstIntPtr callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                              float opt);

protected:
    // Records the request, then answers with its opcode's handler, else its
    // fixed answer, else fallbackAnswer.
    virtual VstIntPtr answer(const HostRequest& request);
    // The answer to an opcode nothing was set for; 0 here.
    virtual VstIntPtr fallbackAnswer(const HostRequest& request);

private:
    friend class Effect;
    void attach(AEffect* effect);
    void detach(AEffect* effect);

    mutable std::mutex mutex_;
    std::map<VstInt32, VstIntPtr> answers_;
    std::map<VstInt32, Handler> handlers_;
    bool recording_ = true;
    std::vector<HostRequest> requests_;
};

// One effect instance, created through a library's entry function. Closes
// itself when destroyed unless closed already.
class Effect {
public:
    // Throws HostError when the entry function yields null or a record that
    // is not an effect's; the message says what the host answered to the
    // version query while the effect was being created.
    Effect(const PluginLibrary& library, Host& host);
    // Wraps a record made elsewhere; the effect is still closed on destruction.
    Effect(AEffect* record, Host& host);
    ~Effect();
    Effect(const Effect&) = delete;
    Effect& operator=(const Effect&) = delete;

    AEffect* record() const { return record_; }
    bool isOpen() const { return record_ != nullptr; }

    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f);
    void setParameter(VstInt32 index, float value);
    float getParameter(VstInt32 index);
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames);
    // Stereo convenience: one channel pointer each way per side.
    void processStereo(const float* inL, const float* inR, float* outL, float* outR, VstInt32 sampleFrames);

    // effOpen, once in the effect's life: later calls send nothing. Hosts
    // open before anything else (some plug-ins make their inner object only
    // then).
    void open();
    // The start of a host, in its order: open (unless opened already),
    // sample rate, block size, resume. The effect is then ready to process.
    void start(float sampleRateHz, VstInt32 blockSizeFrames);
    // Resume (mains on) and start process: ready to process again after stop().
    void resume();
    // The matching end: stop process, suspend (mains off). start() or
    // resume() may follow.
    void stop();
    // effClose; answers what the record answered. The effect is gone after it.
    VstIntPtr close();

    // Texts as a host reads them through the dispatcher.
    std::string parameterName(VstInt32 index);
    std::string parameterLabel(VstInt32 index);
    std::string parameterDisplay(VstInt32 index);
    std::string effectName();
    std::string vendorString();
    std::string productString();

private:
    std::string text(VstInt32 opcode, VstInt32 index, std::size_t capacity);

    Host& host_;
    AEffect* record_ = nullptr;
    bool opened_ = false;
};

// A four-character code as text, e.g. 'tkqz'.
std::string fourCharText(VstInt32 code);

}  // namespace host
