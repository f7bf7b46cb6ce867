// How the tape moves, seen in the built plug-in's output: how long a stop
// takes at each rate and tempo, MIDI notes against Trigger on the same frame,
// the start from the live point, the return to the input bit for bit, and
// the same output whatever the block size.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "LoadedPlugin.h"
#include "TapeMotorRig.h"

namespace {

using namespace tapemotor_test;

// --- Stop lengths: standstill (exact silence at Mix 100) comes the stated
// length after the motor was switched off, within one frame.

struct StopCase {
    const char* name;
    double rateHz;
    const char* stopText;
    bool synced;
    double tempoBpm;
    const char* curveText;
    double seconds;  // what the text states, at that tempo
};
void PrintTo(const StopCase& c, std::ostream* out) { *out << c.name; }

const StopCase kStopCases[] = {
    {"250ms_44k1", 44100.0, "250 ms", false, 120.0, "0", 0.25},
    {"250ms_48k", 48000.0, "250 ms", false, 120.0, "0", 0.25},
    {"250ms_96k", 96000.0, "250 ms", false, 120.0, "0", 0.25},
    {"1s50_44k1_steep", 44100.0, "1.50 s", false, 120.0, "100", 1.5},
    {"10ms_48k_gentle", 48000.0, "10 ms", false, 120.0, "-100", 0.010},
    {"quarter_90bpm", 48000.0, "1/4", true, 90.0, "0", 60.0 / 90.0},
    {"bar_140bpm", 44100.0, "1 bar", true, 140.0, "50", 4.0 * 60.0 / 140.0},
    {"sixteenth_140bpm_96k", 96000.0, "1/16", true, 140.0, "-50", 0.25 * 60.0 / 140.0},
};

class StopLength : public testing::TestWithParam<StopCase> {};

TEST_P(StopLength, StandstillWithinOneFrameOfTheStatedLength) {
    const StopCase& c = GetParam();
    constexpr std::int64_t kTriggerFrame = 1000;
    Rig rig(c.rateHz, 512, c.tempoBpm);
    rig.set(kSync, c.synced ? "On" : "Off");
    rig.set(kStop, c.stopText);
    rig.set(kCurve, c.curveText);
    const double lengthFrames = c.seconds * c.rateHz;
    const auto frames = static_cast<std::size_t>(kTriggerFrame + lengthFrames + 1000);
    const host::Signal in = constant(0.5f, frames);
    const host::Signal out = rig.play(in, 512, {{{kTriggerFrame, kTrigger, 1.0f}}, {}});
    const std::int64_t silent = firstSilentFrame(out, kTriggerFrame);
    ASSERT_GE(silent, 0) << "never stood still";
    EXPECT_NEAR(static_cast<double>(silent - kTriggerFrame), lengthFrames, 1.0);
    // And it stays still while the motor is off.
    EXPECT_EQ(firstSilentFrame(out, silent), silent);
    for (std::size_t i = static_cast<std::size_t>(silent); i < frames; ++i) ASSERT_EQ(out[0][i], 0.0f) << i;
}

INSTANTIATE_TEST_SUITE_P(RatesAndTempos, StopLength, testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- MIDI against Trigger: a note held from frame N to frame M plays the
// same as Trigger on from N to M, for every block size; before N the output
// is the input; some time after M it is the input again.

constexpr double kRateHz = 44100.0;
constexpr std::int64_t kOnFrame = 10007;
constexpr std::int64_t kOffFrame = 25013;  // after standstill (250 ms is 11,025 frames)
constexpr std::size_t kFrames = 44100;

host::Signal noise(std::size_t frames) { return testing_support::noise(frames, 7, 0.5f).signal(); }

host::Signal playStopAndStart(VstInt32 blockFrames, const host::Timeline& timeline, const host::Signal& in) {
    Rig rig(kRateHz, blockFrames);
    rig.set(kStop, "250 ms");
    rig.set(kStart, "100 ms");
    rig.set(kMix, "70");
    return rig.play(in, blockFrames, timeline);
}

class NoteAgainstTrigger : public testing::TestWithParam<VstInt32> {};

TEST_P(NoteAgainstTrigger, SameOutputBitForBitOnTheSameFrame) {
    const VstInt32 blockFrames = GetParam();
    const host::Signal in = noise(kFrames);
    const host::Signal byNote =
        playStopAndStart(blockFrames, {{}, {note(kOnFrame, kNoteOn), note(kOffFrame, kNoteOff)}}, in);
    const host::Signal byTrigger =
        playStopAndStart(blockFrames, {{{kOnFrame, kTrigger, 1.0f}, {kOffFrame, kTrigger, 0.0f}}, {}}, in);
    EXPECT_TRUE(bitEqual(byNote, byTrigger));
    for (std::size_t c = 0; c < 2; ++c) {
        EXPECT_EQ(std::memcmp(byNote[c].data(), in[c].data(), kOnFrame * sizeof(float)), 0) << "before the note";
        EXPECT_NE(byNote[c][kOnFrame + 100], in[c][kOnFrame + 100]) << "the note stopped the tape";
    }
    // Caught up no later than start + crossfade (20 ms) after the release.
    const std::int64_t caughtUp = firstFrameEqualToTheEnd(byNote, in);
    EXPECT_GT(caughtUp, kOffFrame + static_cast<std::int64_t>(0.1 * kRateHz));
    EXPECT_LE(caughtUp, kOffFrame + static_cast<std::int64_t>(0.1 * kRateHz + 0.02 * kRateHz) + 2);
    // Whatever the block size, the same output as in blocks of 512.
    if (blockFrames != 512) {
        const host::Signal reference =
            playStopAndStart(512, {{}, {note(kOnFrame, kNoteOn), note(kOffFrame, kNoteOff)}}, in);
        EXPECT_TRUE(bitEqual(byNote, reference));
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, NoteAgainstTrigger, testing::Values(1, 7, 512, 4096));

// A start that interrupts a stop, with notes overlapping: the motor runs
// again only when the last held note ends, and a velocity-0 note-on ends a
// note. The same as Trigger over the union of the notes.
TEST(Notes, TheMotorRunsWhenTheLastHeldNoteEnds) {
    const host::Signal in = noise(kFrames);
    const host::Timeline notes{{},
                               {note(kOnFrame, kNoteOn, 60), note(kOnFrame + 2000, kNoteOn, 64),
                                note(kOnFrame + 3000, kNoteOff, 60), note(kOnFrame + 3000, kNoteOn, 67),
                                note(kOnFrame + 4000, kNoteOn, 64, 0), note(kOnFrame + 6000, kNoteOff, 67)}};
    const host::Timeline trigger{{{kOnFrame, kTrigger, 1.0f}, {kOnFrame + 6000, kTrigger, 0.0f}}, {}};
    EXPECT_TRUE(bitEqual(playStopAndStart(64, notes, in), playStopAndStart(64, trigger, in)));
}

TEST(Notes, TriggerKeepsTheMotorOffThroughANote) {
    const host::Signal in = noise(kFrames);
    const host::Timeline both{{{kOnFrame, kTrigger, 1.0f}, {kOffFrame, kTrigger, 0.0f}},
                              {note(kOnFrame + 500, kNoteOn), note(kOnFrame + 900, kNoteOff)}};
    const host::Timeline trigger{{{kOnFrame, kTrigger, 1.0f}, {kOffFrame, kTrigger, 0.0f}}, {}};
    EXPECT_TRUE(bitEqual(playStopAndStart(512, both, in), playStopAndStart(512, trigger, in)));
}

// Events on one frame act in the order the host sent them, and the notes
// held after the last one decide whether the motor runs. A note-off and a
// note-on of one key leave the key held, and so does All Notes Off followed
// by a note-on: the tape comes to a standstill the stop length after the
// first note-on (silence at Mix 100) and stays there. A note-on followed by
// its note-off holds nothing: the tape never stands still.
struct SameFrameCase {
    const char* name;
    std::vector<host::MidiMessage> notes;
    bool stops;
};
void PrintTo(const SameFrameCase& c, std::ostream* out) { *out << c.name; }

constexpr std::int64_t kSameFrame = kOnFrame + 500;  // while the tape is stopping
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kAllNotesOff = 123;

const SameFrameCase kSameFrameCases[] = {
    {"note_off_then_on_of_a_held_key",
     {note(kOnFrame, kNoteOn), note(kSameFrame, kNoteOff), note(kSameFrame, kNoteOn)}, true},
    {"stray_note_off_then_note_on", {note(kOnFrame, kNoteOff), note(kOnFrame, kNoteOn)}, true},
    {"all_notes_off_then_note_on",
     {note(kOnFrame, kNoteOn, 60), note(kSameFrame, kControlChange, kAllNotesOff, 0), note(kSameFrame, kNoteOn, 64)},
     true},
    {"note_on_then_off", {note(kOnFrame, kNoteOn), note(kOnFrame, kNoteOff)}, false},
};

class SameFrameEvents : public testing::TestWithParam<SameFrameCase> {};

TEST_P(SameFrameEvents, ActInTheOrderSent) {
    constexpr double kStopSeconds = 0.05;
    const SameFrameCase& c = GetParam();
    const double standstill = static_cast<double>(kOnFrame) + kStopSeconds * kRateHz;
    const host::Signal in = constant(0.5f, static_cast<std::size_t>(standstill) + 4000);
    Rig rig(kRateHz, 512);
    rig.set(kStop, "50 ms");
    const host::Signal out = rig.play(in, 512, {{}, c.notes});
    const std::int64_t silent = firstSilentFrame(out, kOnFrame);
    if (!c.stops) {
        EXPECT_EQ(silent, -1);
        return;
    }
    ASSERT_NE(silent, -1) << "the motor ran again";
    EXPECT_NEAR(static_cast<double>(silent), standstill, 2.0);
    for (std::size_t i = static_cast<std::size_t>(silent); i < in[0].size(); ++i) ASSERT_EQ(out[0][i], 0.0f) << i;
}

INSTANTIATE_TEST_SUITE_P(Notes, SameFrameEvents, testing::ValuesIn(kSameFrameCases),
                         [](const auto& info) { return std::string(info.param.name); });

// More events in one block than the effect keeps: the rest are dropped and
// counted, and the effect goes on.
TEST(Notes, EventsBeyondTheBlockArrayAreDroppedAndCounted) {
    constexpr VstInt32 kKept = 512;
    constexpr VstInt32 kSent = kKept + 88;
    Rig rig(kRateHz, 512);
    std::vector<host::MidiMessage> many;
    for (VstInt32 i = 0; i < kSent; ++i) many.push_back(note(100 + i % 300, kNoteOn, static_cast<std::uint8_t>(i % 128)));
    const host::Signal in = noise(4096);
    rig.play(in, 4096, {{}, many});
    EXPECT_EQ(rig.effect.dispatch(effVendorSpecific, 0, 0, nullptr, 0.0f), 0) << "only the effect's own question";
    const VstInt32 question = fourCharCode("TMdr");
    // The vendor-specific opcode passes the index as its first argument.
    EXPECT_EQ(rig.effect.dispatch(effVendorSpecific, question), kSent - kKept);
    rig.effect.stop();
    rig.effect.start(static_cast<float>(kRateHz), 512);
    EXPECT_EQ(rig.effect.dispatch(effVendorSpecific, question), 0) << "counted since the last resume";
}

// --- Starts.

// Each frame's number as its sample: the output names the frame it came from
// (the cubic reproduces a straight line).
host::Signal frameNumbers(std::size_t frames) {
    std::vector<float> ramp(frames);
    for (std::size_t i = 0; i < frames; ++i) ramp[i] = static_cast<float>(i);
    return stereo(ramp);
}

// A start from standstill plays from the frame the motor starts at, not from where the
// head stopped.
TEST(Start, FromStandstillTheTapePlaysFromTheLivePoint) {
    const host::Signal in = frameNumbers(kFrames);
    Rig rig(kRateHz, 512);
    rig.set(kStop, "100 ms");
    rig.set(kStart, "100 ms");
    rig.set(kCurve, "0");
    const host::Signal out = rig.play(in, 512, {{{kOnFrame, kTrigger, 1.0f}, {kOffFrame, kTrigger, 0.0f}}, {}});
    // Linear start over 4,410 frames: the speed reaches 1/4 (full level)
    // after 1,103 frames; the head has then moved about 138 frames.
    for (std::int64_t i = kOffFrame + 1103; i < kOffFrame + 2000; ++i) {
        ASSERT_GE(out[0][i], static_cast<float>(kOffFrame) - 1.0f) << i;
        ASSERT_LE(out[0][i], static_cast<float>(i)) << i;
    }
}

// A start that interrupts a stop goes on from the head: at the release the
// speed turns around without a jump in what is played.
TEST(Start, InterruptingAStopContinuesFromTheHead) {
    const host::Signal in = frameNumbers(kFrames);
    Rig rig(kRateHz, 512);
    rig.set(kStop, "500 ms");
    rig.set(kStart, "500 ms");
    constexpr std::int64_t kRelease = kOnFrame + 5000;
    const host::Signal out = rig.play(in, 512, {{{kOnFrame, kTrigger, 1.0f}, {kRelease, kTrigger, 0.0f}}, {}});
    // The played position moves forward by at most one frame per frame
    // through the turn, and never backward.
    for (std::int64_t i = kRelease - 50; i < kRelease + 50; ++i) {
        ASSERT_GE(out[0][i + 1] - out[0][i], 0.0f) << i;
        ASSERT_LE(out[0][i + 1] - out[0][i], 1.0f) << i;
    }
    // 5,000 frames into a linear stop of 22,050 the head lags by 5000^2 / (2 * 22050) = 567 frames.
    EXPECT_NEAR(out[0][kRelease], static_cast<float>(kRelease - 567), 2.0f) << "still behind the live point";
}

// The head's step per frame is the speed. A curve or a length changed during
// a stop goes on from the present speed: the step does not jump.
TEST(Start, ASettingChangedDuringAStopKeepsTheSpeed) {
    const host::Signal in = frameNumbers(kFrames);
    constexpr std::int64_t kCurveChange = kOnFrame + 13000;  // speed about 0.7
    constexpr std::int64_t kLengthChange = kOnFrame + 20000;
    Rig rig(kRateHz, 512);
    rig.set(kStop, "1 s");
    rig.set(kCurve, "0");
    const host::Signal out = rig.play(
        in, 512, {{{kOnFrame, kTrigger, 1.0f}, {kCurveChange, kCurve, 1.0f}, {kLengthChange, kStop, 0.8f}}, {}});
    for (std::int64_t change : {kCurveChange, kLengthChange}) {
        for (std::int64_t i = change - 20; i < change + 20; ++i) {
            const float step = out[0][i + 1] - out[0][i], next = out[0][i + 2] - out[0][i + 1];
            ASSERT_GT(step, 0.25f) << i;
            ASSERT_NEAR(next, step, 0.05f) << i;
        }
    }
}

// --- Caught up: the input passes bit for bit whatever Mix, before a stop and
// after a start and its crossfade.
TEST(CaughtUp, InputPassesBitForBitWhateverMix) {
    const host::Signal in = noise(kFrames);
    for (const char* mix : {"0", "30", "100"}) {
        Rig rig(kRateHz, 333);
        rig.set(kMix, mix);
        rig.set(kStart, "50 ms");
        rig.set(kStop, "50 ms");
        const host::Signal out = rig.play(in, 333, {{{kOnFrame, kTrigger, 1.0f}, {kOnFrame + 1000, kTrigger, 0.0f}}, {}});
        const std::int64_t caughtUp = firstFrameEqualToTheEnd(out, in);
        EXPECT_LE(caughtUp, kOnFrame + 1000 + static_cast<std::int64_t>(0.07 * kRateHz) + 2) << "Mix " << mix;
        for (std::size_t c = 0; c < 2; ++c)
            EXPECT_EQ(std::memcmp(out[c].data(), in[c].data(), kOnFrame * sizeof(float)), 0) << "Mix " << mix;
    }
}

// After a start the tape runs at full speed the start length after the
// release, then crossfades to the live input over 20 ms; from there on the
// input passes bit for bit. Bound from both sides, so that a crossfade of
// any other length shows.
struct ReturnCase {
    const char* name;
    double rateHz;
    const char* startText;
    double startSeconds;
};
void PrintTo(const ReturnCase& c, std::ostream* out) { *out << c.name; }

const ReturnCase kReturnCases[] = {
    {"100ms_44k1", 44100.0, "100 ms", 0.1},
    {"50ms_48k", 48000.0, "50 ms", 0.05},
    {"300ms_96k", 96000.0, "300 ms", 0.3},
};

class ReturnToInput : public testing::TestWithParam<ReturnCase> {};

TEST_P(ReturnToInput, StartLengthThenA20MsCrossfade) {
    constexpr double kCrossfadeSeconds = 0.020;
    constexpr std::int64_t kStopFrame = 1000;
    const ReturnCase& c = GetParam();
    const auto release = kStopFrame + static_cast<std::int64_t>(0.1 * c.rateHz);  // a 50 ms stop stands still by then
    const double caughtUp = static_cast<double>(release) + (c.startSeconds + kCrossfadeSeconds) * c.rateHz;
    Rig rig(c.rateHz, 512);
    rig.set(kStop, "50 ms");
    rig.set(kStart, c.startText);
    const host::Signal in = noise(static_cast<std::size_t>(caughtUp + 0.05 * c.rateHz));
    const host::Signal out = rig.play(in, 512, {{{kStopFrame, kTrigger, 1.0f}, {release, kTrigger, 0.0f}}, {}});
    EXPECT_NEAR(static_cast<double>(firstFrameEqualToTheEnd(out, in)), caughtUp, 2.0);
}

INSTANTIATE_TEST_SUITE_P(CaughtUp, ReturnToInput, testing::ValuesIn(kReturnCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A resume, after a rate change or not, rewinds the tape: with Trigger still
// on, a new stop begins from the live input at the first frame processed.
TEST(Lifecycle, AResumeRewindsTheTapeAndPacesItForTheNewRate) {
    const host::Signal in = noise(kFrames);
    Rig rig(kRateHz, 512);
    rig.set(kStop, "100 ms");
    rig.play(in, 512, {{{100, kTrigger, 1.0f}}, {}});
    rig.effect.stop();
    rig.effect.start(96000.0f, 512);
    const host::Signal out = rig.play(constant(0.5f, kFrames), 512);
    EXPECT_EQ(out[0][0], 0.5f) << "the stop begins at the live point";
    EXPECT_NEAR(static_cast<double>(firstSilentFrame(out, 0)), 0.1 * 96000.0, 1.0) << "100 ms at 96 kHz";
}

// A synced stop longer than the tape holds (4 bars at 20 BPM, 48 s; the tape
// holds 16 s at 8 kHz) reads only recorded frames (the sanitizer build checks
// every read) and stays within the input's range, widened by the cubic's
// largest overshoot: its weights' magnitudes add up to 1.632 at most (between
// the last two frames, where the four nodes are the newest four).
TEST(Lifecycle, AStopLongerThanTheTapeStaysBounded) {
    constexpr double kRate = 8000.0;
    const auto frames = static_cast<std::size_t>(50 * kRate);
    Rig rig(kRate, 4096, 20.0);
    rig.set(kSync, "On");
    rig.set(kStop, "4 bars");
    const host::Signal in = noise(frames);
    const host::Signal out = rig.play(in, 4096, {{{0, kTrigger, 1.0f}}, {}});
    for (std::size_t i = 0; i < frames; ++i) ASSERT_LE(std::abs(out[0][i]), 0.5f * 1.632f) << i;
    EXPECT_NE(firstSilentFrame(out, 0), -1) << "and it comes to a stop";
}

// Synced lengths at a host tempo, with every kind of block: still the same
// output bit for bit.
TEST(Determinism, SyncedStopAndStartAreTheSameInAnyBlockSize) {
    const host::Signal in = noise(kFrames);
    const host::Timeline timeline{{{kOnFrame, kTrigger, 1.0f}, {kOnFrame + 12000, kTrigger, 0.0f}}, {}};
    host::Signal reference;
    for (VstInt32 block : {4096, 1, 100, 512}) {
        Rig rig(kRateHz, block, 140.0);
        rig.set(kSync, "On");
        rig.set(kStop, "1/4");
        rig.set(kStart, "1/16");
        const host::Signal out = rig.play(in, block, timeline);
        if (reference.empty()) reference = out;
        EXPECT_TRUE(bitEqual(out, reference)) << "block " << block;
    }
}

}  // namespace
