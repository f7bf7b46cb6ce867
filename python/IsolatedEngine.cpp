#include "Engine.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace tarvo {

namespace {

// The shared memory: a payload area for texts, states and events, then the
// audio of one chunk, planar. Pages nobody touches cost nothing.
constexpr std::size_t kPayloadBytes = std::size_t{16} << 20;
constexpr std::size_t kAudioBytes = std::size_t{16} << 20;

enum class Op : std::int32_t {
    kLoaded, kIdentity, kParameterNames, kParameter, kSetParameter, kDisplay, kLabel, kValueOfText,
    kProgramNames, kProgram, kSetProgram, kState, kSetState, kTail, kLatency, kReset,
    kStartStream, kSetTransport, kSchedule, kProcess, kPosition, kClose,
};

enum class Status : std::int32_t { kOk, kPluginError, kInputError };

char* payloadArea(void* shared) { return static_cast<char*>(shared); }
float* audioArea(void* shared) { return reinterpret_cast<float*>(static_cast<char*>(shared) + kPayloadBytes); }

// Texts and lists in the payload: each text is its length, then its bytes.
class Writer {
public:
    template <typename T>
    void put(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void putText(const std::string& text) {
        put(static_cast<std::uint64_t>(text.size()));
        bytes += text;
    }
    std::string bytes;
};

class Reader {
public:
    explicit Reader(std::string bytes) : bytes_(std::move(bytes)) {}
    template <typename T>
    T take() {
        T value{};
        need(sizeof value);
        std::memcpy(&value, bytes_.data() + at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    std::string takeText() {
        const auto length = take<std::uint64_t>();
        need(length);
        std::string text = bytes_.substr(at_, length);
        at_ += length;
        return text;
    }

private:
    void need(std::size_t count) const {
        if (count > bytes_.size() - at_) throw PluginError("the plug-in's process handed back a garbled answer");
    }
    std::string bytes_;
    std::size_t at_ = 0;
};

std::string textList(const std::vector<std::string>& texts) {
    Writer writer;
    writer.put(static_cast<std::uint64_t>(texts.size()));
    for (const std::string& text : texts) writer.putText(text);
    return writer.bytes;
}

std::vector<std::string> textListFrom(std::string bytes) {
    Reader reader(std::move(bytes));
    std::vector<std::string> texts(reader.take<std::uint64_t>());
    for (std::string& text : texts) text = reader.takeText();
    return texts;
}

std::string identityBytes(const Identity& identity) {
    Writer writer;
    for (const std::string* text : {&identity.name, &identity.vendor, &identity.product}) writer.putText(*text);
    for (std::int32_t value : {identity.uniqueId, identity.version, identity.inputs, identity.outputs,
                               identity.parameters, identity.programs, identity.flags})
        writer.put(value);
    writer.put(identity.category);
    return writer.bytes;
}

Identity identityFrom(std::string bytes) {
    Reader reader(std::move(bytes));
    Identity identity;
    for (std::string* text : {&identity.name, &identity.vendor, &identity.product}) *text = reader.takeText();
    for (std::int32_t* value : {&identity.uniqueId, &identity.version, &identity.inputs, &identity.outputs,
                                &identity.parameters, &identity.programs, &identity.flags})
        *value = reader.take<std::int32_t>();
    identity.category = reader.take<VstIntPtr>();
    return identity;
}

// Events in the payload: the counts, then the entries as they are.
constexpr std::size_t kEventBytes = std::max(sizeof(host::ParameterChange), sizeof(host::MidiMessage));

std::string timelineBytes(const host::Timeline& events) {
    Writer writer;
    writer.put(static_cast<std::uint64_t>(events.parameters.size()));
    writer.put(static_cast<std::uint64_t>(events.midi.size()));
    for (const host::ParameterChange& change : events.parameters) writer.put(change);
    for (const host::MidiMessage& message : events.midi) writer.put(message);
    return writer.bytes;
}

host::Timeline timelineFrom(std::string bytes) {
    Reader reader(std::move(bytes));
    host::Timeline events;
    events.parameters.resize(reader.take<std::uint64_t>());
    events.midi.resize(reader.take<std::uint64_t>());
    for (host::ParameterChange& change : events.parameters) change = reader.take<host::ParameterChange>();
    for (host::MidiMessage& message : events.midi) message = reader.take<host::MidiMessage>();
    return events;
}

// Channels of a chunk: the plug-in's inputs, then its outputs.
std::int64_t channelsOf(const Identity& identity) {
    return std::max(identity.inputs, 0) + std::max(identity.outputs, 0);
}

struct Request {
    Op op = Op::kLoaded;
    std::int32_t index = 0;
    std::int64_t count = 0;
    double number = 0.0;
    std::int32_t first = 0, second = 0;
    std::uint64_t payloadBytes = 0;
};

struct Reply {
    Status status = Status::kOk;
    std::int32_t flag = 0;
    std::int64_t count = 0;
    double number = 0.0;
    std::uint64_t payloadBytes = 0;
};

Reply withPayload(void* shared, const std::string& bytes) {
    if (bytes.size() > kPayloadBytes)
        throw PluginError("the answer is " + std::to_string(bytes.size()) + " bytes; an isolated plug-in hands back at most " +
                          std::to_string(kPayloadBytes));
    std::memcpy(payloadArea(shared), bytes.data(), bytes.size());
    Reply reply;
    reply.payloadBytes = bytes.size();
    return reply;
}

Reply answer(Engine& engine, const Request& request, void* shared) {
    const std::string payload(payloadArea(shared), std::min<std::uint64_t>(request.payloadBytes, kPayloadBytes));
    Reply reply;
    switch (request.op) {
        case Op::kLoaded: break;
        case Op::kIdentity: return withPayload(shared, identityBytes(engine.identity()));
        case Op::kParameterNames: return withPayload(shared, textList(engine.parameterNames()));
        case Op::kParameter: reply.number = engine.parameter(request.index); break;
        case Op::kSetParameter: engine.setParameter(request.index, static_cast<float>(request.number)); break;
        case Op::kDisplay: return withPayload(shared, engine.parameterDisplay(request.index));
        case Op::kLabel: return withPayload(shared, engine.parameterLabel(request.index));
        case Op::kValueOfText: {
            const std::optional<float> value = engine.valueOfText(request.index, payload);
            reply.flag = value.has_value();
            reply.number = value.value_or(0.0f);
            break;
        }
        case Op::kProgramNames: return withPayload(shared, textList(engine.programNames()));
        case Op::kProgram: reply.count = engine.program(); break;
        case Op::kSetProgram: engine.setProgram(request.index); break;
        case Op::kState: return withPayload(shared, engine.state());
        case Op::kSetState: engine.setState(payload); break;
        case Op::kTail: reply.count = engine.tailFrames(); break;
        case Op::kLatency: reply.count = engine.latencyFrames(); break;
        case Op::kReset: engine.reset(); break;
        case Op::kStartStream: engine.startStream(Transport{request.number, request.first, request.second}); break;
        case Op::kSetTransport: engine.setTransport(Transport{request.number, request.first, request.second}); break;
        case Op::kSchedule: engine.schedule(timelineFrom(payload)); break;
        case Op::kProcess: {
            const Identity identity = engine.identity();
            const std::int64_t frames = request.count;
            float* audio = audioArea(shared);
            std::vector<const float*> in;
            std::vector<float*> out;
            for (std::int32_t c = 0; c < std::max(identity.inputs, 0); ++c) in.push_back(audio + c * frames);
            for (std::int32_t c = 0; c < std::max(identity.outputs, 0); ++c)
                out.push_back(audio + (std::max(identity.inputs, 0) + c) * frames);
            engine.process(in.data(), out.data(), frames, request.first != 0);
            break;
        }
        case Op::kPosition: reply.count = engine.streamPosition(); break;
        case Op::kClose: break;
    }
    return reply;
}

Reply failure(void* shared, Status status, const char* message) {
    Reply reply = withPayload(shared, std::string(message).substr(0, kPayloadBytes));
    reply.status = status;
    return reply;
}

// The child: loads the plug-in, says so, then answers requests until told
// to close or the parent is gone.
int serve(const LoadOptions& options, host::ChildContext& context) {
    std::unique_ptr<Engine> engine;
    Reply loaded;
    try {
        engine = makeLocalEngine(options, &context.progress());
    } catch (const std::exception& error) {
        loaded = failure(context.shared(), Status::kPluginError, error.what());
    }
    if (!context.send(&loaded, sizeof loaded) || !engine) return 0;
    for (Request request; context.receive(&request, sizeof request);) {
        Reply reply;
        try {
            if (request.op == Op::kClose) engine.reset();
            else reply = answer(*engine, request, context.shared());
        } catch (const InputError& error) {
            reply = failure(context.shared(), Status::kInputError, error.what());
        } catch (const std::exception& error) {
            reply = failure(context.shared(), Status::kPluginError, error.what());
        }
        if (!context.send(&reply, sizeof reply) || request.op == Op::kClose) break;
    }
    return 0;
}

// A plug-in in a child process of its own: every call crosses to the child
// as a small message, with texts, states, events and audio in memory both
// sides share.
class IsolatedEngine final : public Engine {
public:
    explicit IsolatedEngine(const LoadOptions& options) : options_(options) {
        try {
            child_ = std::make_unique<host::ChildProcess>(
                [options](host::ChildContext& context) { return serve(options, context); },
                kPayloadBytes + kAudioBytes);
        } catch (const host::HostError& error) {
            throw PluginError(error.what());
        }
        Reply loaded;
        const auto received = child_->receive(&loaded, sizeof loaded, options_.timeLimitSeconds);
        if (received != host::ChildProcess::Received::kMessage) childEnded();
        if (loaded.status != Status::kOk) {
            const std::string message = payloadOf(loaded);
            child_->finish(options_.timeLimitSeconds);
            throw PluginError(message);
        }
        identity_ = identityFrom(payloadOf(call(Request{Op::kIdentity})));
    }

    ~IsolatedEngine() override {
        if (!goneBecause_.empty() || !child_) return;
        Request close{Op::kClose};
        Reply closed;
        if (child_->send(&close, sizeof close)) child_->receive(&closed, sizeof closed, options_.timeLimitSeconds);
        child_->finish(options_.timeLimitSeconds);
    }

    Identity identity() override { return identity_; }

    std::vector<std::string> parameterNames() override {
        return textListFrom(payloadOf(call(Request{Op::kParameterNames})));
    }

    float parameter(std::int32_t index) override {
        return static_cast<float>(call(Request{Op::kParameter, index}).number);
    }

    void setParameter(std::int32_t index, float value) override {
        call(Request{Op::kSetParameter, index, 0, value});
    }

    std::string parameterDisplay(std::int32_t index) override { return payloadOf(call(Request{Op::kDisplay, index})); }

    std::string parameterLabel(std::int32_t index) override { return payloadOf(call(Request{Op::kLabel, index})); }

    std::optional<float> valueOfText(std::int32_t index, const std::string& text) override {
        const Reply reply = call(Request{Op::kValueOfText, index}, text);
        if (reply.flag == 0) return std::nullopt;
        return static_cast<float>(reply.number);
    }

    std::vector<std::string> programNames() override {
        return textListFrom(payloadOf(call(Request{Op::kProgramNames})));
    }

    std::int32_t program() override { return static_cast<std::int32_t>(call(Request{Op::kProgram}).count); }

    void setProgram(std::int32_t index) override { call(Request{Op::kSetProgram, index}); }

    std::string state() override { return payloadOf(call(Request{Op::kState})); }

    void setState(const std::string& bytes) override { call(Request{Op::kSetState}, bytes); }

    std::int64_t tailFrames() override { return call(Request{Op::kTail}).count; }

    std::int64_t latencyFrames() override { return call(Request{Op::kLatency}).count; }

    void reset() override { call(Request{Op::kReset}); }

    void startStream(const Transport& transport) override {
        call(Request{Op::kStartStream, 0, 0, transport.tempoBpm, transport.beatsPerBar, transport.beatUnit});
    }

    void setTransport(const Transport& transport) override {
        call(Request{Op::kSetTransport, 0, 0, transport.tempoBpm, transport.beatsPerBar, transport.beatUnit});
    }

    // Long timelines cross in pieces that fit the payload.
    void schedule(const host::Timeline& events) override {
        const std::size_t perPiece = (kPayloadBytes - 2 * sizeof(std::uint64_t)) / kEventBytes;
        std::size_t parameter = 0;
        std::size_t midi = 0;
        do {
            host::Timeline piece;
            const std::size_t parameters = std::min(perPiece, events.parameters.size() - parameter);
            const std::size_t messages = std::min(perPiece - parameters, events.midi.size() - midi);
            const auto firstChange = events.parameters.begin() + static_cast<std::ptrdiff_t>(parameter);
            piece.parameters.assign(firstChange, firstChange + static_cast<std::ptrdiff_t>(parameters));
            piece.midi.assign(events.midi.begin() + midi, events.midi.begin() + midi + messages);
            parameter += parameters;
            midi += messages;
            call(Request{Op::kSchedule}, timelineBytes(piece));
        } while (parameter < events.parameters.size() || midi < events.midi.size());
    }

    // The audio crosses a chunk at a time; on the block grid, a chunk is a whole
    // number of blocks, so the grid stays where the stream put it.
    void process(const float* const* in, float* const* out, std::int64_t frames, bool onBlockGrid) override {
        const std::int64_t inputs = std::max(identity_.inputs, 0);
        const std::int64_t outputs = std::max(identity_.outputs, 0);
        const std::int64_t capacity =
            static_cast<std::int64_t>(kAudioBytes / sizeof(float)) / std::max<std::int64_t>(channelsOf(identity_), 1);
        const std::int64_t block = options_.blockFrames;
        const std::int64_t chunk = onBlockGrid && capacity >= block ? capacity / block * block : capacity;
        float* audio = audioArea(child_->shared());
        for (std::int64_t done = 0; done < frames;) {
            const std::int64_t count = std::min(chunk, frames - done);
            for (std::int64_t c = 0; c < inputs; ++c) std::copy_n(in[c] + done, count, audio + c * count);
            Request request{Op::kProcess, 0, count, 0.0, onBlockGrid ? 1 : 0};
            call(request);
            for (std::int64_t c = 0; c < outputs; ++c) std::copy_n(audio + (inputs + c) * count, count, out[c] + done);
            done += count;
        }
    }

    std::int64_t streamPosition() override { return call(Request{Op::kPosition}).count; }

private:
    Reply call(const Request& request, const std::string& payload = {}) {
        if (!goneBecause_.empty()) throw PluginCrashed(goneBecause_ + "; load it again");
        if (payload.size() > kPayloadBytes)
            throw InputError("an isolated plug-in takes at most " + std::to_string(kPayloadBytes) +
                             " bytes at once, not " + std::to_string(payload.size()));
        std::memcpy(payloadArea(child_->shared()), payload.data(), payload.size());
        Request sent = request;
        sent.payloadBytes = payload.size();
        Reply reply;
        if (!child_->send(&sent, sizeof sent) ||
            child_->receive(&reply, sizeof reply, options_.timeLimitSeconds) != host::ChildProcess::Received::kMessage)
            childEnded();
        if (reply.status == Status::kInputError) throw InputError(payloadOf(reply));
        if (reply.status == Status::kPluginError) throw PluginError(payloadOf(reply));
        return reply;
    }

    std::string payloadOf(const Reply& reply) {
        return std::string(payloadArea(child_->shared()), std::min<std::uint64_t>(reply.payloadBytes, kPayloadBytes));
    }

    [[noreturn]] void childEnded() {
        host::ChildOutcome outcome = child_->finish(0.0);
        // A child killed here was waited for as long as a call may take.
        if (outcome.ending == host::ChildOutcome::Ending::kTimedOut)
            outcome.timeLimitSeconds = options_.timeLimitSeconds;
        goneBecause_ = "the plug-in " + outcome.describe();
        if (outcome.ending == host::ChildOutcome::Ending::kInterrupted) throw Interrupted(goneBecause_);
        throw PluginCrashed(goneBecause_);
    }

    LoadOptions options_;
    std::unique_ptr<host::ChildProcess> child_;
    std::string goneBecause_;  // set once the child has ended
    Identity identity_;
};

}  // namespace

std::unique_ptr<Engine> makeIsolatedEngine(const LoadOptions& options) {
    return std::make_unique<IsolatedEngine>(options);
}

}  // namespace tarvo
