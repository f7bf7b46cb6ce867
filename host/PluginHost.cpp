#include "PluginHost.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace host {

namespace {

// Which host each live effect belongs to. The callback gets only the record.
std::mutex registryMutex;
std::unordered_map<const AEffect*, Host*>& registry() {
    static std::unordered_map<const AEffect*, Host*> hosts;
    return hosts;
}

// The host creating an effect on this thread: the version query and any
// request from the effect's constructor come before the record is known.
thread_local Host* creatingHost = nullptr;
// What that host answered to the version query, for the message when the
// creation fails; empty while the effect has not asked.
thread_local std::optional<VstIntPtr> versionAnswerAtCreation;

std::string describe(const std::string& path) { return "'" + path + "'"; }

}  // namespace

// --- PluginLibrary

PluginLibrary::PluginLibrary(const std::string& path) : path_(path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw HostError("cannot open plug-in " + describe(path) + ": " + std::strerror(errno));
    if (!S_ISREG(info.st_mode)) throw HostError("cannot open plug-in " + describe(path) + ": not a regular file");
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = ::dlerror();
        throw HostError("cannot load plug-in " + describe(path) + " as a shared library: " +
                        (reason != nullptr ? reason : "unknown reason"));
    }
    void* entry = ::dlsym(handle_, "VSTPluginMain");
    if (entry == nullptr) entry = ::dlsym(handle_, "main");
    if (entry == nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
        throw HostError(describe(path) + " is not a VST 2.4 plug-in: it exports neither VSTPluginMain nor main");
    }
    entry_ = reinterpret_cast<EntryFunction>(entry);
}

PluginLibrary::~PluginLibrary() {
    if (handle_ != nullptr) ::dlclose(handle_);
}

void* PluginLibrary::symbol(const char* name) const { return ::dlsym(handle_, name); }

// --- Host

Host::Host() { answers_[audioMasterVersion] = kHostVersion; }

Host::~Host() {
    std::lock_guard<std::mutex> lock(registryMutex);
    for (auto it = registry().begin(); it != registry().end();)
        it = it->second == this ? registry().erase(it) : std::next(it);
}

void Host::setAnswer(VstInt32 opcode, VstIntPtr answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[opcode] = answer;
}

void Host::setHandler(VstInt32 opcode, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[opcode] = std::move(handler);
}

void Host::setRecording(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    recording_ = on;
}

std::vector<HostRequest> Host::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<HostRequest> Host::requestsWithOpcode(VstInt32 opcode) const {
    std::vector<HostRequest> matching;
    for (const HostRequest& request : requests())
        if (request.opcode == opcode) matching.push_back(request);
    return matching;
}

void Host::clearRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

VstIntPtr Host::answer(const HostRequest& request) {
    Handler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (recording_) requests_.push_back(request);
        auto handled = handlers_.find(request.opcode);
        if (handled != handlers_.end()) {
            handler = handled->second;
        } else {
            auto found = answers_.find(request.opcode);
            if (found != answers_.end()) return found->second;
        }
    }
    return handler ? handler(request) : fallbackAnswer(request);
}

VstIntPtr Host::fallbackAnswer(const HostRequest&) { return 0; }

VstIntPtr Host::callback(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    Host* host = nullptr;
    if (effect != nullptr) {
        std::lock_guard<std::mutex> lock(registryMutex);
        auto found = registry().find(effect);
        if (found != registry().end()) host = found->second;
    }
    const bool creating = host == nullptr && creatingHost != nullptr;
    if (creating) host = creatingHost;
    if (host == nullptr) return 0;  // a request from an effect no host here knows
    const VstIntPtr answer = host->answer(HostRequest{effect, opcode, index, value, ptr, opt});
    if (creating && opcode == audioMasterVersion) versionAnswerAtCreation = answer;
    return answer;
}

void Host::attach(AEffect* effect) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry()[effect] = this;
}

void Host::detach(AEffect* effect) {
    std::lock_guard<std::mutex> lock(registryMutex);
    registry().erase(effect);
}

// --- Effect

namespace {

std::string describeVersionAnswer(const std::optional<VstIntPtr>& answer) {
    if (!answer) return "it did not ask for the host's version";
    return "the host answered " + std::to_string(*answer) + " to its version query";
}

AEffect* createWith(const PluginLibrary& library, Host& host) {
    Host* previousHost = creatingHost;
    const std::optional<VstIntPtr> previousAnswer = versionAnswerAtCreation;
    creatingHost = &host;
    versionAnswerAtCreation.reset();
    AEffect* record = library.entry()(&Host::callback);
    const std::optional<VstIntPtr> versionAnswer = versionAnswerAtCreation;
    creatingHost = previousHost;
    versionAnswerAtCreation = previousAnswer;
    if (record == nullptr)
        throw HostError("plug-in " + describe(library.path()) +
                        " refused to create an effect (its entry function returned null; " +
                        describeVersionAnswer(versionAnswer) + ")");
    if (record->magic != kEffectMagic)
        throw HostError("plug-in " + describe(library.path()) +
                        " returned a record that is not a VST effect (no magic number 'VstP'; " +
                        describeVersionAnswer(versionAnswer) + ")");
    return record;
}

}  // namespace

Effect::Effect(const PluginLibrary& library, Host& host) : host_(host), record_(createWith(library, host)) {
    host_.attach(record_);
}

Effect::Effect(AEffect* record, Host& host) : host_(host), record_(record) { host_.attach(record_); }

Effect::~Effect() {
    if (record_ != nullptr) close();
}

VstIntPtr Effect::dispatch(VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr, float opt) {
    return record_->dispatcher(record_, opcode, index, value, ptr, opt);
}

void Effect::setParameter(VstInt32 index, float value) { record_->setParameter(record_, index, value); }

float Effect::getParameter(VstInt32 index) { return record_->getParameter(record_, index); }

void Effect::processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) {
    record_->processReplacing(record_, inputs, outputs, sampleFrames);
}

void Effect::processStereo(const float* inL, const float* inR, float* outL, float* outR, VstInt32 sampleFrames) {
    float* inputs[2] = {const_cast<float*>(inL), const_cast<float*>(inR)};
    float* outputs[2] = {outL, outR};
    processReplacing(inputs, outputs, sampleFrames);
}

void Effect::open() {
    if (opened_) return;
    opened_ = true;
    dispatch(effOpen);
}

void Effect::start(float sampleRateHz, VstInt32 blockSizeFrames) {
    open();
    dispatch(effSetSampleRate, 0, 0, nullptr, sampleRateHz);
    dispatch(effSetBlockSize, 0, blockSizeFrames);
    resume();
}

void Effect::resume() {
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
}

void Effect::stop() {
    dispatch(effStopProcess);
    dispatch(effMainsChanged, 0, 0);
}

VstIntPtr Effect::close() {
    AEffect* record = record_;
    record_ = nullptr;
    const VstIntPtr answer = record->dispatcher(record, effClose, 0, 0, nullptr, 0.0f);
    host_.detach(record);
    return answer;
}

std::string Effect::text(VstInt32 opcode, VstInt32 index, std::size_t capacity) {
    // Generous room: some plug-ins write past the interface's limits.
    std::vector<char> buffer(capacity + 256, '\0');
    dispatch(opcode, index, 0, buffer.data());
    buffer.back() = '\0';
    return std::string(buffer.data());
}

std::string Effect::parameterName(VstInt32 index) { return text(effGetParamName, index, kVstMaxParamStrLen); }
std::string Effect::parameterLabel(VstInt32 index) { return text(effGetParamLabel, index, kVstMaxParamStrLen); }
std::string Effect::parameterDisplay(VstInt32 index) { return text(effGetParamDisplay, index, kVstMaxParamStrLen); }
std::string Effect::effectName() { return text(effGetEffectName, 0, kVstMaxEffectNameLen); }
std::string Effect::vendorString() { return text(effGetVendorString, 0, kVstMaxVendorStrLen); }
std::string Effect::productString() { return text(effGetProductString, 0, kVstMaxProductStrLen); }

std::string fourCharText(VstInt32 code) {
    const auto bits = static_cast<std::uint32_t>(code);
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((bits >> shift) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

}  // namespace host
