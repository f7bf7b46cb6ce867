// TapeMotor's editor, opened through the built tapemotor.so's dispatcher in
// a host window on the test display (Xvfb), with the user's pointer and keys
// sent through XTest. The layout the tests click on is the one the docs
// state, in points (pixels at 100 %): the window is 640 wide, the stop button
// fills 20..240 x 60..260, and every parameter but Trigger has a control of
// 116 x 64 in rows of five from y 280, 121 apart, in the effect's order.
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "BlockProcessor.h"
#include "EditorRig.h"
#include "TransportHost.h"

namespace {

using namespace editortest;

constexpr int kWidthPoints = 640;
constexpr Rect kButton{20, 60, 220, 200};
constexpr int kButtonCentreX = 130, kButtonCentreY = 160;
constexpr int kControlsTop = 280, kControlStep = 121, kControlWidth = 116, kControlHeight = 64;
constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 512;
constexpr int kOpenCloseCycles = 200;

host::PluginLibrary& library() {
    static host::PluginLibrary loaded(TAPEMOTOR_PLUGIN_PATH);
    return loaded;
}

Rect controlOf(int slot) {
    return {20 + (slot % 5) * kControlStep, kControlsTop + (slot / 5) * 72, kControlWidth, kControlHeight};
}

class TapeMotorEditor : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("GDK_SCALE", "1", 1);
        effect = std::make_unique<host::Effect>(library(), hostSide);
        ERect* rect = nullptr;
        ASSERT_EQ(effect->dispatch(effEditGetRect, 0, 0, &rect), 1);
        ASSERT_NE(rect, nullptr);
        width = rect->right - rect->left;
        height = rect->bottom - rect->top;
        window = std::make_unique<HostWindow>(width, height);
        xErrors() = 0;
        ASSERT_EQ(effect->dispatch(effEditOpen, 0, 0, window->parent()), 1);
        idleUntil(*effect, [] { return true; });
        hostSide.clearRequests();
    }
    void TearDown() override {
        if (effect) effect->dispatch(effEditClose);
        effect.reset();
        window.reset();
    }

    VstInt32 parameterNamed(const std::string& name) {
        for (VstInt32 index = 0; index < effect->record()->numParams; ++index)
            if (effect->parameterName(index) == name) return index;
        ADD_FAILURE() << "no parameter " << name;
        return -1;
    }
    // The control's slot: parameters after Trigger (0) in the effect's order.
    Rect controlFor(const std::string& name) { return controlOf(parameterNamed(name) - 1); }
    bool editsReached(std::size_t count) {
        return idleUntil(*effect, [&] { return edits(hostSide).size() >= count; });
    }
    // Processes two seconds with Trigger on: the default stop takes one, so
    // the tape stands still and the reels no longer move.
    void stopTheTape(host::Effect& target) {
        target.start(kSampleRateHz, kBlockFrames);
        target.setParameter(0, 1.0f);
        std::vector<float> in(kBlockFrames, 0.1f), out(kBlockFrames);
        for (int block = 0; block < 2 * kSampleRateHz / kBlockFrames; ++block)
            target.processStereo(in.data(), in.data(), out.data(), out.data(), kBlockFrames);
    }
    void click(int x, int y) {
        window->moveTo(x, y);
        window->button(1, true);
        window->button(1, false);
    }

    host::Host hostSide;
    std::unique_ptr<host::Effect> effect;
    std::unique_ptr<HostWindow> window;
    int width = 0, height = 0;
};

TEST_F(TapeMotorEditor, OpensAtItsStatedSizeAndDrawsAnInterface) {
    EXPECT_NE(effect->record()->flags & effFlagsHasEditor, 0);
    EXPECT_EQ(width, kWidthPoints);
    EXPECT_GE(height, kControlsTop + kControlHeight);
    const std::vector<Rect> children = window->children();
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(children[0].width, width);
    EXPECT_EQ(children[0].height, height);
    // Text, reels and bars: a real picture has many colours (antialiasing),
    // a blank or unfilled window one or two.
    EXPECT_GT(distinctColours(window->picture()), 50u);
    EXPECT_EQ(xErrors(), 0);
}

TEST_F(TapeMotorEditor, TwiceTheSizeAtTwoHundredPercent) {
    setenv("GDK_SCALE", "2", 1);
    host::Host otherHost;
    host::Effect scaled(library(), otherHost);
    ERect* rect = nullptr;
    ASSERT_EQ(scaled.dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->right - rect->left, 2 * width);
    EXPECT_EQ(rect->bottom - rect->top, 2 * height);
}

TEST_F(TapeMotorEditor, ButtonIsLitWhileTheMotorIsOff) {
    const VstInt32 trigger = parameterNamed("Trigger");
    const auto buttonAfter = [&](float value) {
        effect->setParameter(trigger, value);
        for (int i = 0; i < 2; ++i) effect->dispatch(effEditIdle);
        return window->picture(kButton);
    };
    const auto off = buttonAfter(0.0f);
    const auto on = buttonAfter(1.0f);
    const auto offAgain = buttonAfter(0.0f);
    EXPECT_NE(on, off);
    EXPECT_EQ(offAgain, off);
    EXPECT_GT(meanBrightness(on), meanBrightness(off) + 50.0);
}

// A note held on the host's MIDI stops the motor as Trigger does: the button
// shows it while the note is held, and goes dark after the release.
TEST_F(TapeMotorEditor, ButtonIsLitWhileAMidiNoteHoldsTheMotorOff) {
    constexpr std::uint8_t kNoteOn = 0x90, kNoteOff = 0x80;
    effect->start(kSampleRateHz, kBlockFrames);
    host::BlockProcessor player(*effect, 2, 2, kBlockFrames, {});
    std::vector<float> in(kBlockFrames, 0.1f), out(kBlockFrames);
    const float* ins[] = {in.data(), in.data()};
    float* outs[] = {out.data(), out.data()};
    const auto buttonAfterNote = [&](std::uint8_t status) {
        player.schedule({{}, {{player.position(), status, 60, 100}}});
        player.process(ins, outs, kBlockFrames);
        for (int i = 0; i < 2; ++i) effect->dispatch(effEditIdle);
        return window->picture(kButton);
    };
    const auto dark = window->picture(kButton);
    const auto held = buttonAfterNote(kNoteOn);
    const auto released = buttonAfterNote(kNoteOff);
    EXPECT_GT(meanBrightness(held), meanBrightness(dark) + 50.0);
    // The release starts the motor again at once (no Quantize): dark again.
    EXPECT_EQ(released, dark);
    EXPECT_EQ(effect->getParameter(parameterNamed("Trigger")), 0.0f);  // the note, not the parameter
}

// The host's changes come from any thread; the window shows them within
// two idle calls, also when nothing on it moves.
TEST_F(TapeMotorEditor, HostChangesAreRedrawnWithinTwoIdles) {
    stopTheTape(*effect);
    for (int i = 0; i < 3; ++i) effect->dispatch(effEditIdle);
    struct Case {
        const char* parameter;
        float value;
    };
    for (const Case& change : {Case{"Mix", 0.25f}, Case{"Stop", 0.1f}, Case{"Sync", 1.0f}, Case{"Curve", 0.9f}}) {
        SCOPED_TRACE(change.parameter);
        const Rect control = controlFor(change.parameter);
        const auto before = window->picture(control);
        std::thread([&] { effect->setParameter(parameterNamed(change.parameter), change.value); }).join();
        effect->dispatch(effEditIdle);
        effect->dispatch(effEditIdle);
        EXPECT_NE(window->picture(control), before);
    }
}

TEST_F(TapeMotorEditor, ClickOnTheButtonStopsTheTapeUntilReleased) {
    const VstInt32 trigger = parameterNamed("Trigger");
    window->moveTo(kButtonCentreX, kButtonCentreY);
    window->button(1, true);
    ASSERT_TRUE(editsReached(2));
    EXPECT_EQ(effect->getParameter(trigger), 1.0f);
    window->button(1, false);
    ASSERT_TRUE(editsReached(4));
    const std::vector<Edit> expected{{audioMasterBeginEdit, trigger, 0.0f},
                                     {audioMasterAutomate, trigger, 1.0f},
                                     {audioMasterAutomate, trigger, 0.0f},
                                     {audioMasterEndEdit, trigger, 0.0f}};
    EXPECT_EQ(edits(hostSide), expected);
    EXPECT_EQ(effect->getParameter(trigger), 0.0f);
}

// Space from the host (effEditKeyDown / Up, character ' ') and from the
// window's own keyboard focus work as the button does.
TEST_F(TapeMotorEditor, SpaceWorksTheButton) {
    const VstInt32 trigger = parameterNamed("Trigger");
    EXPECT_EQ(effect->dispatch(effEditKeyDown, ' ', 0, nullptr, 0.0f), 1);
    EXPECT_EQ(effect->getParameter(trigger), 1.0f);
    EXPECT_EQ(effect->dispatch(effEditKeyDown, ' ', 0, nullptr, 0.0f), 1);  // a repeat: no new edit
    EXPECT_EQ(effect->dispatch(effEditKeyUp, ' ', 0, nullptr, 0.0f), 1);
    EXPECT_EQ(effect->getParameter(trigger), 0.0f);
    EXPECT_EQ(effect->dispatch(effEditKeyDown, 'a', 0, nullptr, 0.0f), 0);  // not ours: the host keeps it
    const std::vector<Edit> fromHost{{audioMasterBeginEdit, trigger, 0.0f},
                                     {audioMasterAutomate, trigger, 1.0f},
                                     {audioMasterAutomate, trigger, 0.0f},
                                     {audioMasterEndEdit, trigger, 0.0f}};
    EXPECT_EQ(edits(hostSide), fromHost);

    // A click on an empty spot gives the window the keyboard.
    click(width - 5, 5);
    idleUntil(*effect, [] { return true; }, 5);
    hostSide.clearRequests();
    window->key(XK_space, true);
    ASSERT_TRUE(editsReached(2));
    EXPECT_EQ(effect->getParameter(trigger), 1.0f);
    window->key(XK_space, false);
    ASSERT_TRUE(editsReached(4));
    EXPECT_EQ(edits(hostSide), fromHost);
}

// A host may close the window while the user still holds the button, the
// space bar or a control being dragged: the press ends with the window, so
// the tape does not stay stopped and the host's edit does not stay open.
TEST_F(TapeMotorEditor, ClosingTheWindowEndsWhatTheUserHolds) {
    const VstInt32 trigger = parameterNamed("Trigger");
    const Rect stop = controlFor("Stop");
    const VstInt32 stopIndex = parameterNamed("Stop");
    struct Case {
        const char* held;
        std::function<void()> press;
        VstInt32 index;
    };
    const Case cases[] = {
        {"the button, by the pointer", [&] { window->moveTo(kButtonCentreX, kButtonCentreY), window->button(1, true); },
         trigger},
        {"the button, by space from the host", [&] { effect->dispatch(effEditKeyDown, ' ', 0, nullptr, 0.0f); },
         trigger},
        {"a drag of Stop", [&] {
             window->moveTo(stop.x + stop.width / 2, stop.y + stop.height / 2), window->button(1, true);
             window->moveTo(stop.x + stop.width / 2 + 20, stop.y + stop.height / 2);
         }, stopIndex},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.held);
        test.press();
        ASSERT_TRUE(idleUntil(*effect, [&] { return edits(hostSide).size() >= 2; }));
        effect->dispatch(effEditClose);
        const std::vector<Edit> sent = edits(hostSide);
        EXPECT_EQ(sent.front(), (Edit{audioMasterBeginEdit, test.index, 0.0f}));
        EXPECT_EQ(sent.back(), (Edit{audioMasterEndEdit, test.index, 0.0f}));
        EXPECT_EQ(effect->getParameter(trigger), 0.0f);  // the tape runs again
        window->button(1, false);  // the user lets go of a window that is gone
        hostSide.clearRequests();
        ASSERT_EQ(effect->dispatch(effEditOpen, 0, 0, window->parent()), 1);
        idleUntil(*effect, [] { return true; }, 5);
        EXPECT_TRUE(edits(hostSide).empty());
    }
}

// With the keyboard (after a click), the window hands the keys it has no
// use for to the host's top-level window, so the host's own keys keep working
// (Escape closing Audacity's effect dialog, Ardour's shortcuts); space, the
// button's key, stays with the editor. Ardour opens editors in a window of
// its own inside the plug-in window, made on a connection that ignores keys:
// the keys must reach the top-level all the same.
TEST_F(TapeMotorEditor, KeysItDoesNotUseGoOnToTheHost) {
    const VstInt32 trigger = parameterNamed("Trigger");
    const std::vector<Edit> button{{audioMasterBeginEdit, trigger, 0.0f},
                                   {audioMasterAutomate, trigger, 1.0f},
                                   {audioMasterAutomate, trigger, 0.0f},
                                   {audioMasterEndEdit, trigger, 0.0f}};
    struct Case {
        KeySym key;
        bool passedOn;
    };
    std::vector<HostWindow::PassedKey> expected;
    for (const bool inner : {false, true}) {
        SCOPED_TRACE(inner ? "in a window inside the top-level" : "in the top-level");
        if (inner) {
            effect->dispatch(effEditClose);
            ASSERT_EQ(effect->dispatch(effEditOpen, 0, 0, window->innerParent()), 1);
        }
        click(width - 5, 5);
        idleUntil(*effect, [] { return true; });
        hostSide.clearRequests();
        for (const Case& typed :
             {Case{XK_Escape, true}, Case{XK_a, true}, Case{XK_space, false}, Case{XK_Return, true}}) {
            SCOPED_TRACE(XKeysymToString(typed.key));
            window->key(typed.key, true);
            window->key(typed.key, false);
            if (typed.passedOn) {
                expected.push_back({typed.key, true});
                expected.push_back({typed.key, false});
                ASSERT_TRUE(idleUntil(*effect, [&] { return window->keysPassedOn().size() >= expected.size(); }));
            } else {
                ASSERT_TRUE(editsReached(4));  // the button went down and up
            }
            EXPECT_EQ(window->keysPassedOn(), expected);
        }
        EXPECT_EQ(edits(hostSide), button);
    }
    EXPECT_EQ(xErrors(), 0);
}

TEST_F(TapeMotorEditor, DraggingALengthSendsValuesAndTheTextFollows) {
    const VstInt32 stop = parameterNamed("Stop");
    const Rect control = controlFor("Stop");
    const float before = effect->getParameter(stop);
    const std::string textBefore = effect->parameterDisplay(stop);
    const auto pictureBefore = window->picture(control);
    const int x = control.x + control.width / 2, y = control.y + control.height / 2;
    window->moveTo(x, y);
    window->button(1, true);
    constexpr int kSteps = 6, kStepPixels = 5;
    for (int step = 1; step <= kSteps; ++step) {
        window->moveTo(x + step * kStepPixels, y);
        ASSERT_TRUE(idleUntil(*effect, [&] { return edits(hostSide).size() >= static_cast<std::size_t>(step) + 1; }));
    }
    window->button(1, false);
    ASSERT_TRUE(editsReached(kSteps + 2));
    const std::vector<Edit> sent = edits(hostSide);
    EXPECT_EQ(sent.front(), (Edit{audioMasterBeginEdit, stop, 0.0f}));
    EXPECT_EQ(sent.back(), (Edit{audioMasterEndEdit, stop, 0.0f}));
    float previous = before;
    for (std::size_t i = 1; i + 1 < sent.size(); ++i) {
        EXPECT_EQ(sent[i].opcode, audioMasterAutomate);
        EXPECT_GT(sent[i].value, previous);  // right raises the value
        previous = sent[i].value;
    }
    // 30 points of 300 for the whole range.
    EXPECT_NEAR(effect->getParameter(stop) - before, 0.1f, 0.005f);
    EXPECT_NE(effect->parameterDisplay(stop), textBefore);
    effect->dispatch(effEditIdle);
    EXPECT_NE(window->picture(control), pictureBefore);
}

TEST_F(TapeMotorEditor, ShiftMakesTheDragFine) {
    const VstInt32 mix = parameterNamed("Mix");
    effect->setParameter(mix, 0.5f);
    const Rect control = controlFor("Mix");
    const int x = control.x + control.width / 2, y = control.y + control.height / 2;
    window->key(XK_Shift_L, true);
    window->moveTo(x, y);
    window->button(1, true);
    window->moveTo(x, y - 30);  // up raises too
    window->button(1, false);
    window->key(XK_Shift_L, false);
    ASSERT_TRUE(editsReached(3));
    EXPECT_NEAR(effect->getParameter(mix), 0.51f, 0.001f);
}

TEST_F(TapeMotorEditor, WheelStepsTheTextAndDoubleClickRestoresTheDefault) {
    struct Case {
        const char* parameter;
        float from;
    };
    // Sync on, a length moves in note values: a notch must still reach the next one.
    effect->setParameter(parameterNamed("Sync"), 1.0f);
    for (const Case& test : {Case{"Stop", 0.5f}, Case{"Mix", 0.5f}, Case{"Curve", 0.5f}}) {
        SCOPED_TRACE(test.parameter);
        const VstInt32 index = parameterNamed(test.parameter);
        const float startValue = effect->getParameter(index);
        effect->setParameter(index, test.from);
        const std::string textBefore = effect->parameterDisplay(index);
        const Rect control = controlFor(test.parameter);
        window->moveTo(control.x + control.width / 2, control.y + control.height / 2);
        hostSide.clearRequests();
        window->button(4, true);  // wheel up
        window->button(4, false);
        ASSERT_TRUE(editsReached(3));
        const std::vector<Edit> sent = edits(hostSide);
        ASSERT_EQ(sent.size(), 3u);
        EXPECT_EQ(sent[0].opcode, audioMasterBeginEdit);
        EXPECT_EQ(sent[2].opcode, audioMasterEndEdit);
        EXPECT_GT(sent[1].value, test.from);
        EXPECT_NE(effect->parameterDisplay(index), textBefore);

        hostSide.clearRequests();
        window->button(1, true);
        window->button(1, false);
        window->button(1, true);
        window->button(1, false);
        ASSERT_TRUE(idleUntil(*effect, [&] { return effect->getParameter(index) == startValue; }));
    }
}

// The tape's speed comes from the audio thread: processing with the motor
// off runs the tape down, and the picture of the tape changes with it.
TEST_F(TapeMotorEditor, TheTapePictureFollowsTheSpeedFromTheAudioThread) {
    effect->dispatch(effEditClose);
    host::TransportHost transport(kSampleRateHz, kBlockFrames);
    transport.setRecording(false);
    host::Effect processed(library(), transport);
    ASSERT_EQ(processed.dispatch(effEditOpen, 0, 0, window->parent()), 1);
    const Rect speedBar{260, 200, 360, 60};
    idleUntil(processed, [] { return true; }, 3);
    const auto running = window->picture(speedBar);
    std::thread audio([&] { stopTheTape(processed); });
    for (int i = 0; i < 20; ++i) processed.dispatch(effEditIdle);  // the UI thread idles meanwhile
    audio.join();
    processed.dispatch(effEditIdle);
    EXPECT_NE(window->picture(speedBar), running);
    processed.dispatch(effEditClose);
    EXPECT_EQ(xErrors(), 0);
}

// Hosts open and close editors many times, destroy their own window first,
// and delete effects whose window is open: no X error, no connection or
// window left behind.
TEST_F(TapeMotorEditor, OpenCloseCyclesAndDeletionWhileOpenLeaveNothing) {
    effect->dispatch(effEditClose);
    const int descriptors = openFileDescriptors();
    for (int cycle = 0; cycle < kOpenCloseCycles; ++cycle) {
        ASSERT_EQ(effect->dispatch(effEditOpen, 0, 0, window->parent()), 1);
        effect->dispatch(effEditIdle);
        effect->dispatch(effEditClose);
    }
    // A parent that is no window: the editor does not open, and says so.
    for (void* noWindow : {static_cast<void*>(nullptr), reinterpret_cast<void*>(std::uintptr_t{0x1FFFFFFF})})
        EXPECT_EQ(effect->dispatch(effEditOpen, 0, 0, noWindow), 0);
    XSync(window->display(), False);
    EXPECT_EQ(openFileDescriptors(), descriptors);
    EXPECT_TRUE(window->children().empty());

    ASSERT_EQ(effect->dispatch(effEditOpen, 0, 0, window->parent()), 1);
    effect->dispatch(effEditIdle);
    effect->close();  // the effect and its editor are deleted with the window open
    effect.reset();
    XSync(window->display(), False);
    EXPECT_TRUE(window->children().empty());
    EXPECT_EQ(openFileDescriptors(), descriptors);

    host::Effect another(library(), hostSide);
    ASSERT_EQ(another.dispatch(effEditOpen, 0, 0, window->parent()), 1);
    another.dispatch(effEditIdle);
    window->destroy();  // the host's window goes first, the editor's with it
    another.dispatch(effEditIdle);
    another.dispatch(effEditClose);
    EXPECT_EQ(openFileDescriptors(), descriptors);
    EXPECT_EQ(xErrors(), 0);
}

// A host on a machine without an X server (a render farm, a terminal
// session) still asks for the editor's size and may try to open it: the
// size is the one at 100 %, the window stays closed, and idling, keys and
// closing are harmless.
TEST(TapeMotorEditorWithoutX, StaysClosedAndGivesItsSizeAtOneHundredPercent) {
    setenv("GDK_SCALE", "1", 1);
    host::Host hostSide;
    host::Effect reference(library(), hostSide);
    ERect* rect = nullptr;
    ASSERT_EQ(reference.dispatch(effEditGetRect, 0, 0, &rect), 1);
    const ERect atOneHundredPercent = *rect;

    const std::string display = std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("GDK_SCALE");  // so that the size would come from the display's resources
    host::Effect effect(library(), hostSide);
    ASSERT_EQ(effect.dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->right - rect->left, atOneHundredPercent.right - atOneHundredPercent.left);
    EXPECT_EQ(rect->bottom - rect->top, atOneHundredPercent.bottom - atOneHundredPercent.top);
    EXPECT_EQ(effect.dispatch(effEditOpen, 0, 0, reinterpret_cast<void*>(std::uintptr_t{0x200001})), 0);
    effect.dispatch(effEditIdle);
    effect.dispatch(effEditKeyDown, ' ', 0, nullptr, 0.0f);
    effect.dispatch(effEditClose);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_TRUE(edits(hostSide).empty());
    EXPECT_EQ(effect.getParameter(0), 0.0f);  // space did not press the button of a window that is not there
}

}  // namespace
