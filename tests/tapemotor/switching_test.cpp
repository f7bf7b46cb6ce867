// When the motor switches, through the built plug-in: Quantize holds a
// switch by Trigger or by a note until the next point of its grid at the
// host's tempo and meter (a render switched late on the grid equals one
// switched on the grid without Quantize, bit for bit, in any block size),
// at once with the transport stopped; Latch toggles the motor with each
// note-on and ignores note-offs.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "LoadedPlugin.h"
#include "TapeMotorRig.h"

namespace {

using namespace tapemotor_test;

constexpr double kRateHz = 48000.0;

host::Signal noise(std::size_t frames) { return testing_support::noise(frames, 11, 0.5f).signal(); }

// Short ramps, so that each switch is seen soon after it lands.
struct Motor {
    double tempoBpm;
    int beatsPerBar;
    const char* quantize;
    bool playing;
    VstInt32 blockFrames;

    host::Signal play(const host::Signal& in, const host::Timeline& timeline, const char* mode = "Hold") const {
        Rig rig(kRateHz, blockFrames, tempoBpm);
        rig.transport.setTimeSignature(beatsPerBar, 4);
        rig.transport.setPlaying(playing);
        rig.set(kStop, "10 ms");
        rig.set(kStart, "10 ms");
        rig.set(kQuantize, quantize);
        rig.set(kMode, mode);
        return rig.play(in, blockFrames, timeline);
    }
};

// A switch's timeline: by Trigger, or by a note held over the same frames.
host::Timeline offOn(bool byNote, std::int64_t offFrame, std::int64_t onFrame) {
    if (byNote) return {{}, {note(offFrame, kNoteOn), note(onFrame, kNoteOff)}};
    return {{{offFrame, kTrigger, 1.0f}, {onFrame, kTrigger, 0.0f}}, {}};
}

struct GridCase {
    const char* quantize;
    double quarterNotes;  // 0: one bar
};
const GridCase kGrids[] = {{"1/16", 0.25}, {"1/8", 0.5}, {"1/4", 1.0}, {"1/2", 2.0}, {"1 bar", 0.0}};

struct QuantizeCase {
    GridCase grid;
    double tempoBpm;
    int beatsPerBar;
    bool byNote;
    std::string name() const {
        std::string text = std::string(grid.quantize) + "_" + std::to_string(static_cast<int>(tempoBpm)) + "bpm_" +
                           std::to_string(beatsPerBar) + "4_" + (byNote ? "note" : "trigger");
        for (char& c : text)
            if (c == '/' || c == ' ') c = '_';
        return text;
    }
};
void PrintTo(const QuantizeCase& c, std::ostream* out) { *out << c.name(); }

std::vector<QuantizeCase> quantizeCases() {
    std::vector<QuantizeCase> cases;
    for (const GridCase& grid : kGrids)
        for (double tempo : {90.0, 140.0})
            for (int beats : {4, 3})
                for (bool byNote : {false, true}) cases.push_back({grid, tempo, beats, byNote});
    return cases;
}

class Quantize : public testing::TestWithParam<QuantizeCase> {};

// The grid's points at the case's tempo and meter, in frames (fractional):
// the steps of each bar from its start, and the bar lines.
std::vector<double> gridFrames(const QuantizeCase& c, double untilFrames) {
    const double framesPerQuarterNote = 60.0 / c.tempoBpm * kRateHz;
    const double barQuarterNotes = c.beatsPerBar;
    const double stepQuarterNotes = c.grid.quarterNotes > 0.0 ? c.grid.quarterNotes : barQuarterNotes;
    std::vector<double> points;
    for (double bar = 0.0; bar * framesPerQuarterNote < untilFrames; bar += barQuarterNotes)
        for (double q = 0.0; q < barQuarterNotes; q += stepQuarterNotes) points.push_back((bar + q) * framesPerQuarterNote);
    return points;
}

// The motor goes off at an arbitrary frame between the second and third
// grid points and on again between the third and fourth: the stop lands on
// the first frame at or after the third, the start on the fourth.
TEST_P(Quantize, ASwitchLandsOnTheFirstFrameAtOrAfterTheNextGridPoint) {
    const QuantizeCase& c = GetParam();
    const std::vector<double> points = gridFrames(c, 8.0 * 4.0 * 60.0 / c.tempoBpm * kRateHz);
    const auto offFrame = static_cast<std::int64_t>(points[1] + 0.37 * (points[2] - points[1])) + 3;
    const auto onFrame = static_cast<std::int64_t>(points[2] + 0.61 * (points[3] - points[2])) + 5;
    const auto stopLands = static_cast<std::int64_t>(std::ceil(points[2]));
    const auto startLands = static_cast<std::int64_t>(std::ceil(points[3]));
    const auto frames = static_cast<std::size_t>(startLands + 0.05 * kRateHz);
    const host::Signal in = noise(frames);

    const Motor unquantized{c.tempoBpm, c.beatsPerBar, "Off", true, 512};
    const host::Signal onTheGrid = unquantized.play(in, offOn(c.byNote, stopLands, startLands));
    ASSERT_FALSE(bitEqual(onTheGrid, in)) << "the motor stopped";
    for (VstInt32 block : {1, 7, 512, 4096}) {
        const Motor quantized{c.tempoBpm, c.beatsPerBar, c.grid.quantize, true, block};
        EXPECT_TRUE(bitEqual(quantized.play(in, offOn(c.byNote, offFrame, onFrame)), onTheGrid)) << "block " << block;
    }
    // A switch on a grid point is not held to the next one.
    if (std::ceil(points[2]) == points[2]) {
        const Motor quantized{c.tempoBpm, c.beatsPerBar, c.grid.quantize, true, 512};
        EXPECT_TRUE(bitEqual(quantized.play(in, offOn(c.byNote, stopLands, startLands)), onTheGrid));
    }
}

INSTANTIATE_TEST_SUITE_P(GridsTemposMeters, Quantize, testing::ValuesIn(quantizeCases()),
                         [](const auto& info) { return info.param.name(); });

// With the transport stopped there is no position: switches are immediate.
TEST(QuantizeTransport, StoppedTransportSwitchesAtOnce) {
    const host::Signal in = noise(40000);
    const host::Timeline late = offOn(false, 7001, 20011);
    for (VstInt32 block : {7, 512}) {
        const host::Signal atOnce = Motor{120.0, 4, "Off", false, block}.play(in, late);
        EXPECT_TRUE(bitEqual(Motor{120.0, 4, "1/4", false, block}.play(in, late), atOnce)) << block;
    }
}

// Off and on again within one grid step: the waiting stop is replaced by the
// start, and the tape never stops.
TEST(QuantizeTransport, PressAndReleaseWithinOneStepCancel) {
    const host::Signal in = noise(60000);
    for (bool byNote : {false, true}) {
        const host::Signal out = Motor{120.0, 4, "1/4", true, 64}.play(in, offOn(byNote, 25000, 30000));
        EXPECT_TRUE(bitEqual(out, in)) << (byNote ? "note" : "trigger");
    }
}

// A host that gives its position in whole ticks of 1/1,920 quarter note, as
// Ardour 7.3 does (up to 6 frames off at 120 BPM and 48 kHz), and its sample
// position exactly.
class TickHost : public host::TransportHost {
public:
    using TransportHost::TransportHost;

protected:
    VstIntPtr fallbackAnswer(const host::HostRequest& request) override {
        const VstIntPtr answer = TransportHost::fallbackAnswer(request);
        if (request.opcode != audioMasterGetTime || answer == 0) return answer;
        ticked = *reinterpret_cast<const VstTimeInfo*>(answer);
        ticked.ppqPos = std::round(ticked.ppqPos * 1920.0) / 1920.0;
        return reinterpret_cast<VstIntPtr>(&ticked);
    }

private:
    VstTimeInfo ticked{};
};

// Two seconds in, a stop asked for late still lands on the beat's frame:
// blocks that begin at many places between two ticks show how far the
// ticks stray from the sample position.
TEST(QuantizeTransport, APositionInWholeTicksStillLandsOnTheBeat) {
    const host::Signal in = noise(130000);
    const host::Signal onTheBeat = Motor{120.0, 4, "Off", true, 512}.play(in, {{{120000, kTrigger, 1.0f}}, {}});
    for (VstInt32 block : {512, 64, 1024}) {
        TickHost ticks(kRateHz, block);
        ticks.setRecording(false);
        host::Effect effect(library(), ticks);
        effect.start(static_cast<float>(kRateHz), block);
        for (const auto& [index, text] : {std::pair{kStop, "10 ms"}, {kStart, "10 ms"}, {kQuantize, "1/4"}}) {
            std::string copy = text;
            effect.dispatch(effString2Parameter, index, 0, copy.data());
        }
        const host::Signal late = host::processSignal(effect, in, block, {{{100003, kTrigger, 1.0f}}, {}}, &ticks);
        EXPECT_TRUE(bitEqual(late, onTheBeat)) << "block " << block;
        effect.close();
    }
}

// --- Latch: note-on, note-off, note-on switch the motor off, leave it off,
// and switch it on; the same output as Trigger on over that span.
TEST(Latch, EachNoteOnTogglesTheMotorAndNoteOffsAreIgnored) {
    const host::Signal in = noise(60000);
    const Motor motor{120.0, 4, "Off", true, 100};
    const host::Signal byTrigger = motor.play(in, offOn(false, 5003, 40007));
    struct Row {
        const char* what;
        host::Timeline timeline;
    };
    const Row rows[] = {
        {"on off on", {{}, {note(5003, kNoteOn, 60), note(9000, kNoteOff, 60), note(40007, kNoteOn, 60)}}},
        {"another key ends it", {{}, {note(5003, kNoteOn, 60), note(40007, kNoteOn, 72), note(41000, kNoteOff, 72)}}},
        {"all notes off ignored",
         {{}, {note(5003, kNoteOn, 60), note(7000, 0xB0, 123, 0), note(8000, 0xB0, 120, 0), note(40007, kNoteOn, 60)}}},
        {"velocity 0 is a note-off", {{}, {note(5003, kNoteOn), note(6000, kNoteOn, 60, 0), note(40007, kNoteOn)}}},
    };
    for (const Row& row : rows) EXPECT_TRUE(bitEqual(motor.play(in, row.timeline, "Latch"), byTrigger)) << row.what;
    // In Hold the first of these releases the motor at the note-off.
    EXPECT_FALSE(bitEqual(motor.play(in, rows[0].timeline, "Hold"), byTrigger));
}

// Trigger keeps its meaning in Latch: the motor is off while it is on,
// whatever the latched state.
TEST(Latch, TriggerStillHoldsTheMotorOff) {
    const host::Signal in = noise(60000);
    const Motor motor{120.0, 4, "Off", true, 512};
    const host::Timeline both{{{5003, kTrigger, 1.0f}, {40007, kTrigger, 0.0f}},
                              {note(10000, kNoteOn), note(20000, kNoteOn)}};
    EXPECT_TRUE(bitEqual(motor.play(in, both, "Latch"), motor.play(in, offOn(false, 5003, 40007))));
}

// Quantized latch: a note-on late in a beat stops the tape on the next beat.
TEST(Latch, QuantizedNoteOnLandsOnTheBeat) {
    const host::Signal in = noise(80000);
    const Motor onTheBeat{120.0, 4, "1/4", true, 256};
    const Motor plain{120.0, 4, "Off", true, 256};
    const host::Timeline late{{}, {note(30001, kNoteOn), note(30500, kNoteOff), note(50001, kNoteOn)}};
    const host::Timeline onBeats{{}, {note(48000, kNoteOn), note(48100, kNoteOff), note(72000, kNoteOn)}};
    EXPECT_TRUE(bitEqual(onTheBeat.play(in, late, "Latch"), plain.play(in, onBeats, "Latch")));
}

}  // namespace
