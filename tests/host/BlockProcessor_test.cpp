// Block processing through the probe effect, whose outputs show per frame
// the parameter value it had, the MIDI note that landed there, the
// transport position it was told and the length of the block.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "BlockProcessor.h"
#include "TransportHost.h"

namespace {

constexpr float kSampleRateHz = 48000.0f;
constexpr std::int64_t kFrames = 5003;
enum ProbeOutput { kParameterValue, kLandedNote, kTransportFrame, kBlockLength };

host::PluginLibrary& probeLibrary() {
    static host::PluginLibrary library(PROBE_PLUGIN);
    return library;
}

// Changes at block edges of every tested size and between them; two at
// frame 1000 to show they apply in their order, and out of order in the list.
const host::Timeline kTimeline{
    {{1000, 0, 0.6f}, {0, 0, 0.1f}, {1, 0, 0.2f}, {7, 0, 0.3f}, {511, 0, 0.4f}, {513, 0, 0.5f},
     {1000, 0, 0.7f}, {4095, 0, 0.8f}, {4096, 0, 0.9f}, {5002, 0, 1.0f}},
    {{0, 0x90, 10, 100}, {3, 0x90, 11, 100}, {7, 0x80, 12, 0}, {511, 0x90, 13, 1}, {512, 0x90, 14, 1},
     {4095, 0x90, 15, 1}, {4100, 0x80, 16, 0}, {5002, 0x90, 17, 1}},
};

// What the probe shows for kTimeline, worked out from the timeline alone.
float expectedValue(std::int64_t frame) {
    float value = 0.0f;
    for (const auto& [at, change] : std::vector<std::pair<std::int64_t, float>>{
             {0, 0.1f}, {1, 0.2f}, {7, 0.3f}, {511, 0.4f}, {513, 0.5f}, {1000, 0.7f}, {4095, 0.8f}, {4096, 0.9f},
             {5002, 1.0f}})
        if (frame >= at) value = change;
    return value;
}

float expectedNote(std::int64_t frame) {
    for (const host::MidiMessage& message : kTimeline.midi)
        if (message.frame == frame) return message.data1;
    return 0.0f;
}

host::Signal silence(std::size_t channels, std::int64_t frames) {
    return host::Signal(channels, std::vector<float>(static_cast<std::size_t>(frames), 0.0f));
}

TEST(BlockProcessor, EventsLandOnTheirExactFramesForEveryBlockSize) {
    for (VstInt32 blockFrames : {1, 7, 512, 4096}) {
        SCOPED_TRACE(testing::Message() << "block " << blockFrames);
        host::TransportHost transport(kSampleRateHz, blockFrames);
        transport.setRecording(false);
        host::Effect effect(probeLibrary(), transport);
        effect.start(kSampleRateHz, blockFrames);
        const host::Signal out = host::processSignal(effect, silence(1, kFrames), blockFrames, kTimeline, &transport);

        ASSERT_EQ(out.size(), 4u);
        for (std::int64_t frame = 0; frame < kFrames; ++frame) {
            const auto i = static_cast<std::size_t>(frame);
            ASSERT_EQ(out[kParameterValue][i], expectedValue(frame)) << "frame " << frame;
            ASSERT_EQ(out[kLandedNote][i], expectedNote(frame)) << "frame " << frame;
            ASSERT_EQ(out[kTransportFrame][i], static_cast<float>(frame)) << "frame " << frame;
            ASSERT_GE(out[kBlockLength][i], 1.0f);
            ASSERT_LE(out[kBlockLength][i], static_cast<float>(blockFrames)) << "frame " << frame;
        }
    }
}

TEST(BlockProcessor, BlocksEndOnlyAtChangesAndTheBlockSize) {
    // One change at 300 and MIDI at 100, which does not split: blocks of
    // at most 512 become 300, 512, 288.
    host::Host hostSide;
    host::Effect effect(probeLibrary(), hostSide);
    effect.start(kSampleRateHz, 512);
    const host::Signal out =
        host::processSignal(effect, silence(1, 1100), 512, {{{300, 0, 1.0f}}, {{100, 0x90, 60, 1}}});
    const struct {
        std::size_t frame;
        float blockLength;
    } kBlocks[] = {{0, 300}, {299, 300}, {300, 512}, {811, 512}, {812, 288}, {1099, 288}};
    for (const auto& row : kBlocks) EXPECT_EQ(out[kBlockLength][row.frame], row.blockLength) << "frame " << row.frame;
    EXPECT_EQ(out[kLandedNote][100], 60.0f);
    EXPECT_EQ(out[kTransportFrame][0], -1.0f);  // a plain host gives no time information
}

TEST(BlockProcessor, StreamsAcrossCallsAndAppliesPastEntriesAtOnce) {
    host::Host hostSide;
    host::Effect effect(probeLibrary(), hostSide);
    effect.start(kSampleRateHz, 64);
    // Negative frames are in the past from the start; the change at 100 is
    // due exactly where the first call ends.
    host::BlockProcessor processor(effect, 1, 4, 64, {{{100, 0, 0.5f}, {-5, 0, 0.25f}}, {{-3, 0x90, 42, 1}}});
    host::Signal in = silence(1, 250);
    host::Signal out = silence(4, 250);
    const float* inputs[] = {in[0].data()};
    for (std::int64_t first : {0, 100, 103}) {
        const std::int64_t length = first == 0 ? 100 : first == 100 ? 3 : 147;
        const float* shifted[] = {inputs[0] + first};
        float* outputs[4];
        for (std::size_t c = 0; c < 4; ++c) outputs[c] = out[c].data() + first;
        processor.process(shifted, outputs, length);
    }
    EXPECT_EQ(processor.position(), 250);
    EXPECT_EQ(processor.pendingParameterChanges(), 0u);
    EXPECT_EQ(processor.pendingMidiMessages(), 0u);
    EXPECT_EQ(out[kParameterValue][0], 0.25f);
    EXPECT_EQ(out[kParameterValue][99], 0.25f);
    EXPECT_EQ(out[kParameterValue][100], 0.5f);
    EXPECT_EQ(out[kLandedNote][0], 42.0f);
    EXPECT_EQ(out[kBlockLength][100], 3.0f);  // a call shorter than a block is one block
}

TEST(BlockProcessor, EventsScheduledWhileAStreamPlaysLandOnTheirFrames) {
    // kTimeline handed over in pieces, each just before the call that holds
    // its frames, gives what the whole timeline gives.
    host::TransportHost transport(kSampleRateHz, 512);
    transport.setRecording(false);
    host::Effect effect(probeLibrary(), transport);
    effect.start(kSampleRateHz, 512);
    host::BlockProcessor processor(effect, 1, 4, 512, {}, &transport);
    const host::Signal in = silence(1, kFrames);
    host::Signal out = silence(4, kFrames);
    const std::int64_t kCallEnds[] = {3, 600, 1000, 4096, kFrames};
    std::int64_t first = 0;
    for (const std::int64_t end : kCallEnds) {
        host::Timeline piece;
        for (const host::ParameterChange& change : kTimeline.parameters)
            if (change.frame >= first && change.frame < end) piece.parameters.push_back(change);
        for (const host::MidiMessage& message : kTimeline.midi)
            if (message.frame >= first && message.frame < end) piece.midi.push_back(message);
        processor.schedule(piece);
        const float* inputs[] = {in[0].data() + first};
        float* outputs[4];
        for (std::size_t c = 0; c < 4; ++c) outputs[c] = out[c].data() + first;
        processor.process(inputs, outputs, end - first);
        first = end;
    }
    EXPECT_EQ(processor.pendingParameterChanges(), 0u);
    EXPECT_EQ(processor.pendingMidiMessages(), 0u);
    for (std::int64_t frame = 0; frame < kFrames; ++frame) {
        const auto i = static_cast<std::size_t>(frame);
        // The two changes at 1000 keep their order within the piece.
        ASSERT_EQ(out[kParameterValue][i], expectedValue(frame)) << "frame " << frame;
        ASSERT_EQ(out[kLandedNote][i], expectedNote(frame)) << "frame " << frame;
    }
}

TEST(BlockProcessor, RefusesWhatItCannotProcess) {
    host::Host hostSide;
    host::Effect effect(probeLibrary(), hostSide);
    effect.start(kSampleRateHz, 64);
    EXPECT_THROW(host::processSignal(effect, silence(2, 10), 64), host::HostError);  // the probe has 1 input
    EXPECT_THROW(host::processSignal(effect, silence(1, 10), 0), host::HostError);
    host::Signal ragged = silence(1, 10);
    ragged.push_back(std::vector<float>(9));
    EXPECT_THROW(host::processSignal(effect, ragged, 64), host::HostError);
    EXPECT_TRUE(host::processSignal(effect, silence(1, 0), 64).at(0).empty());
}

// A record with only the old accumulating process: it adds twice its input.
VstIntPtr answerNothing(AEffect*, VstInt32, VstInt32, VstIntPtr, void*, float) { return 0; }
void addTwiceTheInput(AEffect*, float** in, float** out, VstInt32 frames) {
    for (VstInt32 i = 0; i < frames; ++i) out[0][i] += 2.0f * in[0][i];
}

TEST(BlockProcessor, AnEffectWithOnlyTheAccumulatingProcessStartsFromSilence) {
    AEffect record{};
    record.magic = kEffectMagic;
    record.dispatcher = answerNothing;
    record.process = addTwiceTheInput;
    record.numInputs = 1;
    record.numOutputs = 1;
    host::Host hostSide;
    host::Effect effect(&record, hostSide);
    const host::Signal out = host::processSignal(effect, {{1.0f, -2.0f, 3.0f}}, 2);
    EXPECT_EQ(out, (host::Signal{{2.0f, -4.0f, 6.0f}}));  // not NaN + 2x: the outputs were cleared
    record.process = nullptr;
    EXPECT_THROW(host::processSignal(effect, {{1.0f}}, 2), host::HostError);
}

}  // namespace
