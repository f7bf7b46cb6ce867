#include <algorithm>
#include <cstring>

#include "Engine.h"
#include "Info.h"
#include "Parameters.h"

namespace tarvo {

namespace {

// The chunk index that means the whole bank, not one program.
constexpr VstInt32 kBankChunk = 0;

void checkIndex(std::int32_t index, std::int32_t count, const char* what) {
    if (index < 0 || index >= count)
        throw InputError(std::string("no ") + what + " " + std::to_string(index) + ": the plug-in has " +
                         std::to_string(count));
}

// The plug-in in this process, driven through the host library.
class LocalEngine final : public Engine {
public:
    LocalEngine(const LoadOptions& options, host::ChildProgress* progress)
        : options_(options),
          progress_(progress),
          library_((step("loading"), options.path)),
          transport_(options.sampleRateHz, options.blockFrames),
          effect_((step("creating"), library_), transport_) {
        transport_.setRecording(false);
        step("starting");
        effect_.start(static_cast<float>(options.sampleRateHz), options.blockFrames);
        identity_ = tapestop::readIdentity(effect_);
        step("ready");
    }

    ~LocalEngine() override {
        step("closing");
        stream_.reset();
        effect_.stop();
        effect_.close();
    }

    // Read once: the isolated engine asks for the channel counts at every chunk.
    Identity identity() override { return identity_; }

    std::vector<std::string> parameterNames() override {
        std::vector<std::string> names;
        for (VstInt32 i = 0; i < effect_.record()->numParams; ++i) names.push_back(effect_.parameterName(i));
        return names;
    }

    float parameter(std::int32_t index) override {
        checkIndex(index, effect_.record()->numParams, "parameter");
        return effect_.getParameter(index);
    }

    void setParameter(std::int32_t index, float value) override {
        checkIndex(index, effect_.record()->numParams, "parameter");
        effect_.setParameter(index, value);
    }

    std::string parameterDisplay(std::int32_t index) override {
        checkIndex(index, effect_.record()->numParams, "parameter");
        return effect_.parameterDisplay(index);
    }

    std::string parameterLabel(std::int32_t index) override {
        checkIndex(index, effect_.record()->numParams, "parameter");
        return effect_.parameterLabel(index);
    }

    std::optional<float> valueOfText(std::int32_t index, const std::string& text) override {
        checkIndex(index, effect_.record()->numParams, "parameter");
        try {
            const tapestop::ParameterAssignment assignment{"", std::nullopt, text, text};
            return tapestop::parameterValue(effect_, index, assignment);
        } catch (const tapestop::UsageError&) {
            return std::nullopt;
        }
    }

    std::vector<std::string> programNames() override { return tapestop::readProgramNames(effect_); }

    std::int32_t program() override { return static_cast<std::int32_t>(effect_.dispatch(effGetProgram)); }

    void setProgram(std::int32_t index) override {
        checkIndex(index, effect_.record()->numPrograms, "program");
        effect_.dispatch(effBeginSetProgram);
        effect_.dispatch(effSetProgram, 0, index);
        effect_.dispatch(effEndSetProgram);
    }

    // Without a chunk the state is the parameters' host values, as 32-bit floats
    // in the machine's byte order.
    std::string state() override {
        if ((effect_.record()->flags & effFlagsProgramChunks) != 0) {
            void* data = nullptr;
            const VstIntPtr bytes = effect_.dispatch(effGetChunk, kBankChunk, 0, &data);
            if (bytes <= 0 || data == nullptr)
                throw PluginError("the plug-in keeps its state in a chunk but gave none");
            return std::string(static_cast<const char*>(data), static_cast<std::size_t>(bytes));
        }
        std::string bytes;
        for (VstInt32 i = 0; i < effect_.record()->numParams; ++i) {
            const float value = effect_.getParameter(i);
            bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
        }
        return bytes;
    }

    void setState(const std::string& bytes) override {
        if ((effect_.record()->flags & effFlagsProgramChunks) != 0) {
            std::string chunk = bytes;  // the plug-in may keep the pointer for the call only
            effect_.dispatch(effSetChunk, kBankChunk, static_cast<VstIntPtr>(chunk.size()), chunk.data());
            return;
        }
        const std::size_t expected = static_cast<std::size_t>(effect_.record()->numParams) * sizeof(float);
        if (bytes.size() != expected)
            throw InputError("the plug-in keeps no chunk: its state is " + std::to_string(expected) +
                             " bytes of parameter values, not " + std::to_string(bytes.size()));
        for (VstInt32 i = 0; i < effect_.record()->numParams; ++i) {
            float value = 0.0f;
            std::memcpy(&value, bytes.data() + static_cast<std::size_t>(i) * sizeof value, sizeof value);
            if (!(value >= 0.0f && value <= 1.0f))
                throw InputError("parameter value " + std::to_string(i) + " in the state is outside 0 to 1");
            effect_.setParameter(i, value);
        }
    }

    std::int64_t tailFrames() override { return effect_.dispatch(effGetTailSize); }

    std::int64_t latencyFrames() override { return effect_.record()->initialDelay; }

    void reset() override {
        step("resetting");
        stream_.reset();
        effect_.dispatch(effStopProcess);
        effect_.dispatch(effMainsChanged, 0, 0);
        effect_.dispatch(effMainsChanged, 0, 1);
        effect_.dispatch(effStartProcess);
    }

    // The transport is set as the renderer sets it before its first block.
    void startStream(const Transport& transport) override {
        transport_.moveTo(0);
        transport_.setTempo(transport.tempoBpm);
        transport_.setTimeSignature(transport.beatsPerBar, transport.beatUnit);
        transportSettings_ = transport;
        const AEffect& record = *effect_.record();
        try {
            stream_ = std::make_unique<host::BlockProcessor>(effect_, record.numInputs, record.numOutputs,
                                                             options_.blockFrames, host::Timeline{}, &transport_);
        } catch (const host::HostError& error) {
            throw PluginError(error.what());
        }
    }

    void setTransport(const Transport& transport) override {
        if (!stream_) {
            transportSettings_ = transport;
            return;
        }
        transport_.moveTo(stream_->position());
        if (transport.tempoBpm != transportSettings_.tempoBpm) transport_.setTempo(transport.tempoBpm);
        if (transport.beatsPerBar != transportSettings_.beatsPerBar ||
            transport.beatUnit != transportSettings_.beatUnit)
            transport_.setTimeSignature(transport.beatsPerBar, transport.beatUnit);
        transportSettings_ = transport;
    }

    void schedule(const host::Timeline& events) override {
        if (!stream_) startStream(transportSettings_);
        stream_->schedule(events);
    }

    void process(const float* const* in, float* const* out, std::int64_t frames, bool onBlockGrid) override {
        if (!stream_) startStream(transportSettings_);
        step("processing");
        const AEffect& record = *effect_.record();
        std::vector<const float*> inputs(in, in + std::max(record.numInputs, 0));
        std::vector<float*> outputs(out, out + std::max(record.numOutputs, 0));
        const std::int64_t block = options_.blockFrames;
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t position = stream_->position();
            const std::int64_t step = onBlockGrid ? std::min(frames - done, block - position % block) : frames - done;
            if (progress_ != nullptr) progress_->frame(position);
            stream_->process(inputs.data(), outputs.data(), step);
            for (auto& pointer : inputs) pointer += step;
            for (auto& pointer : outputs) pointer += step;
            done += step;
        }
        step("ready");
    }

    std::int64_t streamPosition() override { return stream_ ? stream_->position() : 0; }

private:
    void step(const char* what) {
        if (progress_ != nullptr) progress_->step(what);
    }

    LoadOptions options_;
    host::ChildProgress* progress_;
    host::PluginLibrary library_;
    host::TransportHost transport_;
    host::Effect effect_;
    Identity identity_;
    Transport transportSettings_;
    std::unique_ptr<host::BlockProcessor> stream_;
};

}  // namespace

std::unique_ptr<Engine> makeLocalEngine(const LoadOptions& options, host::ChildProgress* progress) {
    return std::make_unique<LocalEngine>(options, progress);
}

std::unique_ptr<Engine> loadEngine(const LoadOptions& options) {
    if (options.sampleRateHz <= 0) throw InputError("the sample rate must be above 0 Hz");
    if (options.blockFrames < 1) throw InputError("the block size must be at least 1 frame");
    if (options.isolated) return makeIsolatedEngine(options);
    try {
        return makeLocalEngine(options);
    } catch (const host::HostError& error) {
        throw PluginError(error.what());
    }
}

}  // namespace tarvo
