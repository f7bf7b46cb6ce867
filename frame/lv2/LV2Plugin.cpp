// The LV2 adapter: runs an effect on the frame as an LV2 plug-in. It is
// compiled into each plug-in's LV2 binary beside the effect's own sources; the
// effect knows nothing of it. The adapter is the effect's host: it makes the
// same AudioEffectX subclass through createEffectInstance, answers its host
// requests from what the LV2 host gave (sample rate, block length, time
// position) and turns each run into VST 2.4 calls: parameter changes first,
// then MIDI through processEvents and audio through processReplacing, split
// where the time position changes. An input the host gives in place (in the
// buffer of an output, as Ardour does) is copied first, since VST 2.4 effects
// may read a frame's input after writing its output.
//
// Every feature is optional: without urid:map there are no MIDI, time or
// state, without options the longest block is kDefaultMaxBlockFrames, and
// a plain host such as lv2apply runs every effect with its controls.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "AudioEffectX.h"
#include "LV2Ports.h"

namespace tarvo::lv2 {
extern const char kPluginUri[];  // generated for each plug-in by tarvo_add_plugin
}

namespace {

using tarvo::lv2::PortLayout;

// Without the host's options, runs longer than this are split into blocks of it.
constexpr std::uint32_t kDefaultMaxBlockFrames = 4096;
// MIDI events handed to the effect in one processEvents; more in one run
// split the block at the first event that does not fit.
constexpr std::uint32_t kMaxEventsPerBlock = 512;
// Bytes a VstMidiEvent carries: status and two data bytes. Longer messages
// (system exclusive) are not passed on.
constexpr std::uint32_t kMaxMidiBytes = 3;
constexpr double kSecondsPerMinute = 60.0;
constexpr double kQuarterNoteUnit = 4.0;

struct Urids {
    LV2_URID atomBlank = 0, atomObject = 0, atomFloat = 0, atomDouble = 0, atomInt = 0, atomLong = 0, atomChunk = 0;
    LV2_URID midiEvent = 0, timePosition = 0, timeFrame = 0, timeSpeed = 0, timeBeatsPerMinute = 0, timeBar = 0,
             timeBarBeat = 0, timeBeatsPerBar = 0, timeBeatUnit = 0;
    LV2_URID maxBlockLength = 0, nominalBlockLength = 0;
    LV2_URID stateProgram = 0, stateChunk = 0;

    explicit Urids(LV2_URID_Map* map) {
        if (map == nullptr) return;
        auto id = [map](const char* uri) { return map->map(map->handle, uri); };
        atomBlank = id(LV2_ATOM__Blank), atomObject = id(LV2_ATOM__Object), atomFloat = id(LV2_ATOM__Float);
        atomDouble = id(LV2_ATOM__Double), atomInt = id(LV2_ATOM__Int), atomLong = id(LV2_ATOM__Long);
        atomChunk = id(LV2_ATOM__Chunk), midiEvent = id(LV2_MIDI__MidiEvent), timePosition = id(LV2_TIME__Position);
        timeFrame = id(LV2_TIME__frame), timeSpeed = id(LV2_TIME__speed);
        timeBeatsPerMinute = id(LV2_TIME__beatsPerMinute), timeBar = id(LV2_TIME__bar);
        timeBarBeat = id(LV2_TIME__barBeat), timeBeatsPerBar = id(LV2_TIME__beatsPerBar);
        timeBeatUnit = id(LV2_TIME__beatUnit), maxBlockLength = id(LV2_BUF_SIZE__maxBlockLength);
        nominalBlockLength = id(LV2_BUF_SIZE__nominalBlockLength);
        stateProgram = id(tarvo::lv2::kStateProgramUri), stateChunk = id(tarvo::lv2::kStateChunkUri);
    }

    // A number atom of any width as a double; false for anything else.
    bool number(const LV2_Atom* atom, double& value) const {
        if (atom == nullptr) return false;
        if (atom->type == atomFloat) value = reinterpret_cast<const LV2_Atom_Float*>(atom)->body;
        else if (atom->type == atomDouble) value = reinterpret_cast<const LV2_Atom_Double*>(atom)->body;
        else if (atom->type == atomInt) value = reinterpret_cast<const LV2_Atom_Int*>(atom)->body;
        else if (atom->type == atomLong) value = static_cast<double>(reinterpret_cast<const LV2_Atom_Long*>(atom)->body);
        else return false;
        return true;
    }
};

// The song position as the host last told it, moved on with every block.
struct Transport {
    bool known = false;  // a time:Position with a tempo has arrived
    double frame = 0.0, speed = 0.0, beatsPerMinute = 0.0, bar = 0.0, barBeat = 0.0;
    double beatsPerBar = 4.0, beatUnit = 4.0;

    void advance(std::uint32_t frames, double sampleRateHz) {
        if (!known || speed == 0.0) return;
        frame += frames * speed;
        barBeat += frames * speed * beatsPerMinute / (kSecondsPerMinute * sampleRateHz);
        if (beatsPerBar <= 0.0) return;
        const double wholeBars = std::floor(barBeat / beatsPerBar);
        bar += wholeBars;
        barBeat -= wholeBars * beatsPerBar;
    }

    // What getTimeInfo answers: positions in quarter notes, as VST 2.4 hosts give them.
    void fill(VstTimeInfo& info, double sampleRateHz) const {
        const double quartersPerBeat = kQuarterNoteUnit / beatUnit;
        info = VstTimeInfo{};
        info.samplePos = frame;
        info.sampleRate = sampleRateHz;
        info.tempo = beatsPerMinute;
        info.ppqPos = (bar * beatsPerBar + barBeat) * quartersPerBeat;
        info.barStartPos = bar * beatsPerBar * quartersPerBeat;
        info.timeSigNumerator = static_cast<VstInt32>(beatsPerBar);
        info.timeSigDenominator = static_cast<VstInt32>(beatUnit);
        info.flags = kVstTempoValid | kVstPpqPosValid | kVstBarsValid | kVstTimeSigValid |
                     (speed != 0.0 ? kVstTransportPlaying : 0);
    }
};

class Adapter {
public:
    static Adapter* create(double sampleRateHz, const LV2_Feature* const* features);
    ~Adapter();

    void connect(std::uint32_t port, void* data);
    void activate();
    void deactivate();
    void run(std::uint32_t frames);
    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle);
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle);

private:
    Adapter(double sampleRateHz, LV2_URID_Map* map, std::uint32_t maxBlockFrames);
    static VstIntPtr hostCallback(AEffect* record, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                                  float opt);
    VstIntPtr answer(VstInt32 opcode, VstInt32 index, void* ptr);
    VstIntPtr dispatch(VstInt32 opcode, VstInt32 index = 0, VstIntPtr value = 0, void* ptr = nullptr,
                       float opt = 0.0f) {
        return record->dispatcher(record, opcode, index, value, ptr, opt);
    }
    bool makeEffect();
    std::string parameterKey(std::uint32_t index) const;
    void applyControlChanges();
    void readPosition(const LV2_Atom_Object* position);
    bool queueMidi(const LV2_Atom_Event& event, std::uint32_t blockStart);
    void processBlock(std::uint32_t start, std::uint32_t frames);
    float* inputOf(std::uint32_t channel, std::uint32_t offset, std::uint32_t frames);
    void writeOutputs();

    // The adapter whose effect is being constructed: its requests come
    // before the adapter knows the effect's record.
    static thread_local Adapter* constructing;

    const double sampleRateHz;
    LV2_URID_Map* const map;
    const Urids urids;
    const std::uint32_t maxBlockFrames;
    AEffect* record = nullptr;
    PortLayout layout;
    std::vector<std::string> symbols;

    std::vector<float*> audioPorts;  // inputs, then outputs
    std::vector<float*> channelInputs, channelOutputs;  // offset into the ports per block
    std::vector<std::vector<float>> inputCopies;  // per input, maxBlockFrames: inputs given in place
    std::vector<const float*> controlPorts;
    std::vector<float> lastControlValues;  // what the adapter last handed to setParameter
    float* latencyPort = nullptr;
    float* tailPort = nullptr;
    const LV2_Atom_Sequence* eventPort = nullptr;

    Transport transport;
    VstTimeInfo timeInfo{};
    VstMidiEvent midiEvents[kMaxEventsPerBlock]{};
    struct {
        VstInt32 numEvents;
        VstIntPtr reserved;
        VstEvent* events[kMaxEventsPerBlock];
    } eventList{};
    std::uint32_t queuedEvents = 0;
};

thread_local Adapter* Adapter::constructing = nullptr;

Adapter::Adapter(double rateHz, LV2_URID_Map* uridMap, std::uint32_t blockFrames)
    : sampleRateHz(rateHz), map(uridMap), urids(uridMap), maxBlockFrames(blockFrames) {
    for (std::uint32_t i = 0; i < kMaxEventsPerBlock; ++i) {
        midiEvents[i].type = kVstMidiType;
        midiEvents[i].byteSize = sizeof(VstMidiEvent);
        eventList.events[i] = reinterpret_cast<VstEvent*>(&midiEvents[i]);
    }
}

// Instantiation: the features a host offers are all optional.
Adapter* Adapter::create(double sampleRateHz, const LV2_Feature* const* features) {
    LV2_URID_Map* map = nullptr;
    const LV2_Options_Option* options = nullptr;
    for (const LV2_Feature* const* feature = features; feature != nullptr && *feature != nullptr; ++feature) {
        if (std::strcmp((*feature)->URI, LV2_URID__map) == 0) map = static_cast<LV2_URID_Map*>((*feature)->data);
        if (std::strcmp((*feature)->URI, LV2_OPTIONS__options) == 0)
            options = static_cast<const LV2_Options_Option*>((*feature)->data);
    }
    const Urids urids(map);
    std::uint32_t maxBlockFrames = kDefaultMaxBlockFrames;
    for (const LV2_Options_Option* option = options; map != nullptr && option != nullptr && option->key != 0;
         ++option) {
        if (option->key == urids.maxBlockLength && option->type == urids.atomInt && option->value != nullptr) {
            const std::int32_t frames = *static_cast<const std::int32_t*>(option->value);
            if (frames > 0) maxBlockFrames = static_cast<std::uint32_t>(frames);
        }
    }
    std::unique_ptr<Adapter> adapter(new (std::nothrow) Adapter(sampleRateHz, map, maxBlockFrames));
    if (adapter == nullptr || !adapter->makeEffect()) return nullptr;
    return adapter.release();
}

bool Adapter::makeEffect() {
    constructing = this;
    AudioEffect* effect = createEffectInstance(&Adapter::hostCallback);
    constructing = nullptr;
    if (effect == nullptr) return false;
    record = effect->getAeffect();
    record->user = this;
    dispatch(effOpen);
    dispatch(effSetSampleRate, 0, 0, nullptr, static_cast<float>(sampleRateHz));
    dispatch(effSetBlockSize, 0, static_cast<VstIntPtr>(maxBlockFrames));

    char canDoText[32];
    auto receives = [&](const char* what) {
        std::strncpy(canDoText, what, sizeof(canDoText) - 1);
        return dispatch(effCanDo, 0, 0, canDoText) == 1;
    };
    layout.audioInputs = static_cast<std::uint32_t>(std::max(record->numInputs, 0));
    layout.audioOutputs = static_cast<std::uint32_t>(std::max(record->numOutputs, 0));
    layout.parameters = static_cast<std::uint32_t>(std::max(record->numParams, 0));
    layout.hasLatency = record->initialDelay != 0;
    layout.hasTail = dispatch(effGetTailSize) != 0;
    layout.hasEvents = receives(tarvo::lv2::kReceiveMidiCanDo) || receives(tarvo::lv2::kReceiveTimeCanDo);

    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < layout.parameters; ++i) {
        char name[kVstMaxParamStrLen * 8 + 1] = {};
        dispatch(effGetParamName, static_cast<VstInt32>(i), 0, name);
        names.emplace_back(name);
    }
    symbols = tarvo::lv2::portSymbols(names, tarvo::lv2::fixedSymbols(layout));

    audioPorts.assign(layout.audioInputs + layout.audioOutputs, nullptr);
    channelInputs.assign(layout.audioInputs, nullptr);
    channelOutputs.assign(layout.audioOutputs, nullptr);
    inputCopies.assign(layout.audioInputs, std::vector<float>(maxBlockFrames));
    controlPorts.assign(layout.parameters, nullptr);
    for (std::uint32_t i = 0; i < layout.parameters; ++i)
        lastControlValues.push_back(record->getParameter(record, static_cast<VstInt32>(i)));
    return true;
}

Adapter::~Adapter() {
    if (record != nullptr) dispatch(effClose);  // the frame destroys the effect
}

// Instantiation or any time between runs: ports may move at any time.
void Adapter::connect(std::uint32_t port, void* data) {
    if (port < layout.firstControl()) audioPorts[port] = static_cast<float*>(data);
    else if (port < layout.latencyPort()) controlPorts[port - layout.firstControl()] = static_cast<const float*>(data);
    else if (layout.hasLatency && port == layout.latencyPort()) latencyPort = static_cast<float*>(data);
    else if (layout.hasTail && port == layout.tailPort()) tailPort = static_cast<float*>(data);
    else if (layout.hasEvents && port == layout.eventPort()) eventPort = static_cast<const LV2_Atom_Sequence*>(data);
}

// Instantiation class: before the first run and after deactivate.
void Adapter::activate() {
    transport = Transport{};
    dispatch(effMainsChanged, 0, 1);
    dispatch(effStartProcess);
}

void Adapter::deactivate() {
    dispatch(effStopProcess);
    dispatch(effMainsChanged, 0, 0);
}

// Audio thread. A host that splits runs at its automation points gets every
// change on its frame.
void Adapter::applyControlChanges() {
    for (std::uint32_t i = 0; i < layout.parameters; ++i) {
        if (controlPorts[i] == nullptr) continue;
        const float value = *controlPorts[i];
        if (value == lastControlValues[i]) continue;
        record->setParameter(record, static_cast<VstInt32>(i), value);
        lastControlValues[i] = value;
    }
}

// Audio thread: a time:Position object updates the fields it carries.
void Adapter::readPosition(const LV2_Atom_Object* position) {
    const LV2_Atom *frame = nullptr, *speed = nullptr, *bpm = nullptr, *bar = nullptr, *barBeat = nullptr,
                   *beatsPerBar = nullptr, *beatUnit = nullptr;
    lv2_atom_object_get(position, urids.timeFrame, &frame, urids.timeSpeed, &speed, urids.timeBeatsPerMinute, &bpm,
                        urids.timeBar, &bar, urids.timeBarBeat, &barBeat, urids.timeBeatsPerBar, &beatsPerBar,
                        urids.timeBeatUnit, &beatUnit, 0);
    urids.number(frame, transport.frame);
    urids.number(speed, transport.speed);
    urids.number(bar, transport.bar);
    urids.number(barBeat, transport.barBeat);
    urids.number(beatsPerBar, transport.beatsPerBar);
    urids.number(beatUnit, transport.beatUnit);
    if (urids.number(bpm, transport.beatsPerMinute) && transport.beatsPerMinute > 0.0) transport.known = true;
    if (transport.beatUnit <= 0.0) transport.beatUnit = kQuarterNoteUnit;
}

// Audio thread: a MIDI message of up to three bytes joins the block's events
// at its frame; false when the block holds as many as it can.
bool Adapter::queueMidi(const LV2_Atom_Event& event, std::uint32_t blockStart) {
    if (event.body.size == 0 || event.body.size > kMaxMidiBytes) return true;  // not passed on
    if (queuedEvents == kMaxEventsPerBlock) return false;
    VstMidiEvent& midi = midiEvents[queuedEvents++];
    const auto* bytes = static_cast<const std::uint8_t*>(LV2_ATOM_BODY_CONST(&event.body));
    std::memset(midi.midiData, 0, sizeof(midi.midiData));
    std::memcpy(midi.midiData, bytes, event.body.size);
    midi.deltaFrames = static_cast<VstInt32>(event.time.frames - blockStart);
    return true;
}

// Audio thread: the queued events, then the audio of frames [start, start +
// frames), in pieces no longer than the effect was told.
void Adapter::processBlock(std::uint32_t start, std::uint32_t frames) {
    if (frames == 0 && queuedEvents == 0) return;
    if (transport.known) transport.fill(timeInfo, sampleRateHz);
    if (queuedEvents > 0) {
        eventList.numEvents = static_cast<VstInt32>(queuedEvents);
        dispatch(effProcessEvents, 0, 0, &eventList);
        queuedEvents = 0;
    }
    for (std::uint32_t done = 0; done < frames;) {
        const std::uint32_t piece = std::min(frames - done, maxBlockFrames);
        for (std::uint32_t c = 0; c < layout.audioOutputs; ++c)
            channelOutputs[c] = audioPorts[layout.audioInputs + c] + start + done;
        for (std::uint32_t c = 0; c < layout.audioInputs; ++c)
            channelInputs[c] = inputOf(c, start + done, piece);
        record->processReplacing(record, channelInputs.data(), channelOutputs.data(), static_cast<VstInt32>(piece));
        done += piece;
    }
    transport.advance(frames, sampleRateHz);
}

// Audio thread: input channel's frames [offset, offset + frames), copied
// when they share memory with an output of the same piece.
float* Adapter::inputOf(std::uint32_t channel, std::uint32_t offset, std::uint32_t frames) {
    float* input = audioPorts[channel] + offset;
    const auto begin = reinterpret_cast<std::uintptr_t>(input);
    const std::uintptr_t bytes = frames * sizeof(float);
    for (std::uint32_t c = 0; c < layout.audioOutputs; ++c) {
        const auto output = reinterpret_cast<std::uintptr_t>(channelOutputs[c]);
        if (begin < output + bytes && output < begin + bytes)
            return std::copy_n(input, frames, inputCopies[channel].data()) - frames;
    }
    return input;
}

void Adapter::writeOutputs() {
    if (latencyPort != nullptr) *latencyPort = static_cast<float>(record->initialDelay);
    if (tailPort != nullptr) *tailPort = static_cast<float>(dispatch(effGetTailSize));
}

// Audio thread: controls, then the run split at each time position.
void Adapter::run(std::uint32_t frames) {
    applyControlChanges();
    std::uint32_t blockStart = 0;
    if (eventPort != nullptr && map != nullptr) {
        LV2_ATOM_SEQUENCE_FOREACH(eventPort, event) {
            const std::uint32_t at = static_cast<std::uint32_t>(std::clamp<std::int64_t>(event->time.frames, 0, frames));
            if (event->body.type == urids.midiEvent) {
                if (queueMidi(*event, blockStart)) continue;
                processBlock(blockStart, at - blockStart);
                blockStart = at;
                queueMidi(*event, blockStart);
            } else if (event->body.type == urids.atomObject || event->body.type == urids.atomBlank) {
                const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
                if (object->body.otype != urids.timePosition) continue;
                processBlock(blockStart, at - blockStart);
                blockStart = at;
                readPosition(object);
            }
        }
    }
    processBlock(blockStart, frames - blockStart);
    writeOutputs();
}

std::string Adapter::parameterKey(std::uint32_t index) const {
    return std::string(tarvo::lv2::kPluginUri) + "#" + symbols[index];
}

// Any thread but the audio thread's run: the program, the chunk when the
// effect's programs are chunks, and every parameter's value.
LV2_State_Status Adapter::save(LV2_State_Store_Function store, LV2_State_Handle handle) {
    if (map == nullptr) return LV2_STATE_ERR_NO_FEATURE;
    const std::uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    const std::int32_t program = static_cast<std::int32_t>(dispatch(effGetProgram));
    store(handle, urids.stateProgram, &program, sizeof(program), urids.atomInt, flags);
    if ((record->flags & effFlagsProgramChunks) != 0) {
        void* chunk = nullptr;
        const VstIntPtr bytes = dispatch(effGetChunk, 0, 0, &chunk);
        if (chunk != nullptr && bytes > 0)
            store(handle, urids.stateChunk, chunk, static_cast<std::size_t>(bytes), urids.atomChunk, flags);
    }
    for (std::uint32_t i = 0; i < layout.parameters; ++i) {
        const float value = record->getParameter(record, static_cast<VstInt32>(i));
        store(handle, map->map(map->handle, parameterKey(i).c_str()), &value, sizeof(value), urids.atomFloat, flags);
    }
    return LV2_STATE_SUCCESS;
}

LV2_State_Status Adapter::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle) {
    if (map == nullptr) return LV2_STATE_ERR_NO_FEATURE;
    std::size_t size = 0;
    std::uint32_t type = 0, flags = 0;
    const void* value = retrieve(handle, urids.stateProgram, &size, &type, &flags);
    if (value != nullptr && type == urids.atomInt && size == sizeof(std::int32_t))
        dispatch(effSetProgram, 0, *static_cast<const std::int32_t*>(value));
    value = retrieve(handle, urids.stateChunk, &size, &type, &flags);
    if (value != nullptr && type == urids.atomChunk && (record->flags & effFlagsProgramChunks) != 0)
        dispatch(effSetChunk, 0, static_cast<VstIntPtr>(size), const_cast<void*>(value));
    for (std::uint32_t i = 0; i < layout.parameters; ++i) {
        value = retrieve(handle, map->map(map->handle, parameterKey(i).c_str()), &size, &type, &flags);
        if (value == nullptr || type != urids.atomFloat || size != sizeof(float)) continue;
        const float parameter = *static_cast<const float*>(value);
        record->setParameter(record, static_cast<VstInt32>(i), parameter);
        lastControlValues[i] = parameter;
    }
    return LV2_STATE_SUCCESS;
}

// The effect's requests, answered from what the LV2 host gave.
VstIntPtr Adapter::hostCallback(AEffect* record, VstInt32 opcode, VstInt32 index, VstIntPtr, void* ptr, float) {
    Adapter* adapter = record != nullptr && record->user != nullptr ? static_cast<Adapter*>(record->user)
                                                                     : constructing;
    return adapter != nullptr ? adapter->answer(opcode, index, ptr) : 0;
}

VstIntPtr Adapter::answer(VstInt32 opcode, VstInt32, void* ptr) {
    auto writeText = [ptr](const char* text) {
        if (ptr == nullptr) return VstIntPtr{0};
        std::strncpy(static_cast<char*>(ptr), text, kVstMaxVendorStrLen - 1);
        return VstIntPtr{1};
    };
    switch (opcode) {
        case audioMasterVersion: return kVstVersion;
        case audioMasterWantMidi: return 1;
        case audioMasterGetTime: return transport.known ? reinterpret_cast<VstIntPtr>(&timeInfo) : 0;
        case audioMasterGetSampleRate: return static_cast<VstIntPtr>(sampleRateHz);
        case audioMasterGetBlockSize: return static_cast<VstIntPtr>(maxBlockFrames);
        case audioMasterGetVendorString: return writeText("Tarvo");
        case audioMasterGetProductString: return writeText("Tarvo LV2 adapter");
        case audioMasterCanDo: {
            if (ptr == nullptr || map == nullptr) return 0;
            const std::string what(static_cast<const char*>(ptr));
            return what == "sendVstEvents" || what == "sendVstMidiEvent" || what == "sendVstTimeInfo" ? 1 : 0;
        }
        default: return 0;
    }
}

// --- The LV2 descriptor's table.

Adapter* adapterOf(LV2_Handle instance) { return static_cast<Adapter*>(instance); }

LV2_Handle instantiate(const LV2_Descriptor*, double sampleRateHz, const char*, const LV2_Feature* const* features) {
    try {
        return Adapter::create(sampleRateHz, features);
    } catch (...) {
        return nullptr;
    }
}

void connectPort(LV2_Handle instance, std::uint32_t port, void* data) { adapterOf(instance)->connect(port, data); }
void activate(LV2_Handle instance) { adapterOf(instance)->activate(); }
void run(LV2_Handle instance, std::uint32_t frames) { adapterOf(instance)->run(frames); }
void deactivate(LV2_Handle instance) { adapterOf(instance)->deactivate(); }
void cleanup(LV2_Handle instance) { delete adapterOf(instance); }

LV2_State_Status saveState(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle,
                           std::uint32_t, const LV2_Feature* const*) {
    return adapterOf(instance)->save(store, handle);
}

LV2_State_Status restoreState(LV2_Handle instance, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                              std::uint32_t, const LV2_Feature* const*) {
    return adapterOf(instance)->restore(retrieve, handle);
}

const LV2_State_Interface kStateInterface = {saveState, restoreState};

const void* extensionData(const char* uri) {
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kStateInterface : nullptr;
}

}  // namespace

// Discovery: one plug-in per binary.
extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(std::uint32_t index) {
    static const LV2_Descriptor descriptor = {tarvo::lv2::kPluginUri, instantiate, connectPort, activate, run,
                                              deactivate, cleanup, extensionData};
    return index == 0 ? &descriptor : nullptr;
}
