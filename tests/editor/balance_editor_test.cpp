// The example editor (examples/Balance), through the built balance.so: a
// 320 x 96 point window whose slider runs from x 20 (left only, -100) to
// x 300 (right only, +100) at y 60; a double-click puts it back to 0.
#include <cstdlib>

#include "EditorRig.h"

namespace {

using namespace editortest;

TEST(BalanceEditor, TheSliderFollowsTheDragAndADoubleClickCentresIt) {
    setenv("GDK_SCALE", "1", 1);
    host::PluginLibrary library(BALANCE_PLUGIN_PATH);
    host::Host hostSide;
    host::Effect effect(library, hostSide);
    ERect* rect = nullptr;
    ASSERT_EQ(effect.dispatch(effEditGetRect, 0, 0, &rect), 1);
    EXPECT_EQ(rect->right - rect->left, 320);
    EXPECT_EQ(rect->bottom - rect->top, 96);
    HostWindow window(320, 96);
    xErrors() = 0;
    ASSERT_EQ(effect.dispatch(effEditOpen, 0, 0, window.parent()), 1);
    idleUntil(effect, [] { return true; });

    // Presses far apart: two quick presses at one spot are a double-click.
    struct Case {
        int pressX;
        int x;
        const char* text;
    };
    for (const Case& drag : {Case{100, 20, "-100"}, Case{200, 300, "+100"}, Case{60, 230, "+50"}}) {
        SCOPED_TRACE(drag.text);
        hostSide.clearRequests();
        window.moveTo(drag.pressX, 60);
        window.button(1, true);
        window.moveTo(drag.x, 60);
        window.button(1, false);
        ASSERT_TRUE(idleUntil(effect, [&] {
            const auto sent = edits(hostSide);
            return !sent.empty() && sent.back().opcode == audioMasterEndEdit;
        }));
        EXPECT_EQ(edits(hostSide).front().opcode, audioMasterBeginEdit);
        EXPECT_EQ(effect.parameterDisplay(0), drag.text);
    }
    for (int click = 0; click < 2; ++click) {
        window.button(1, true);
        window.button(1, false);
    }
    ASSERT_TRUE(idleUntil(effect, [&] { return effect.getParameter(0) == 0.5f; }));
    EXPECT_EQ(effect.parameterDisplay(0), "+0");
    effect.dispatch(effEditClose);
    EXPECT_EQ(xErrors(), 0);
}

// An editor with no use for space passes it on to the host, as any other key.
TEST(BalanceEditor, PassesSpaceOnToTheHost) {
    setenv("GDK_SCALE", "1", 1);
    host::PluginLibrary library(BALANCE_PLUGIN_PATH);
    host::Host hostSide;
    host::Effect effect(library, hostSide);
    HostWindow window(320, 96);
    ASSERT_EQ(effect.dispatch(effEditOpen, 0, 0, window.parent()), 1);
    idleUntil(effect, [] { return true; });
    window.moveTo(160, 90);  // the click gives the window the keyboard
    window.button(1, true);
    window.button(1, false);
    idleUntil(effect, [] { return true; });
    window.key(XK_space, true);
    window.key(XK_space, false);
    ASSERT_TRUE(idleUntil(effect, [&] { return window.keysPassedOn().size() >= 2; }));
    const std::vector<HostWindow::PassedKey> expected{{XK_space, true}, {XK_space, false}};
    EXPECT_EQ(window.keysPassedOn(), expected);
    effect.dispatch(effEditClose);
}

}  // namespace
