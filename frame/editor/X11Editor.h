/// @file
/// X11Editor: an effect's editor window on Linux, drawn with Cairo.
#pragma once

#include <cairo/cairo.h>

#include <vector>

#include "AEffEditor.h"
#include "AudioEffectX.h"

/// The base of an editor window on Linux (Tarvo::Editor). It makes the
/// window a child of the host's parent window on a display connection of its
/// own, pumps its events from the host's idle call (and from `_XEventProc`
/// for hosts that deliver them that way), and draws it with Cairo: on expose,
/// when a parameter's value changed (from any thread: idle compares every
/// parameter with the value last drawn), and when the editor asks.
///
/// A derived editor draws in points and reacts to the pointer and keys; the
/// base scales points to pixels (GDK_SCALE, else Xft.dpi / 96) and reports
/// the scaled size through effEditGetRect. Edits from the window go to the
/// host through beginEdit, changeParameter and endEdit.
///
/// Threads: every operation here runs on the host's UI thread; nothing here
/// is ever called from the audio thread, and the audio thread never touches
/// the editor: it publishes what the window shows in atomics the editor reads
/// at idle. Destroying the editor while its window is open closes the window.
class X11Editor : public AEffEditor {
public:
    /// Called by the effect at creation; the window will be widthPoints by heightPoints at 100 %.
    X11Editor(AudioEffectX& effect, int widthPoints, int heightPoints);
    /// Called by the effect's destructor; any thread the host deletes from; closes an open window.
    ~X11Editor() override;
    X11Editor(const X11Editor&) = delete;
    X11Editor& operator=(const X11Editor&) = delete;

    /// effEditGetRect (13); UI thread; the window's size in pixels, scale included.
    bool getRect(ERect** rect) override;
    /// effEditOpen (14) with the host's X11 window; UI thread; false when no window could be made.
    bool open(void* parentWindow) override;
    /// effEditClose (15); UI thread; releases a press still held (keyUp, pointerUp), destroys the window and closes the display connection.
    void close() override;
    /// effEditIdle (19); UI thread; handles pending events, then draws if anything changed.
    void idle() override;
    /// effEditKeyDown (59); UI thread; hands the space key to keyDown.
    bool onKeyDown(VstKeyCode& keyCode) override;
    /// effEditKeyUp (60); UI thread; hands the space key to keyUp.
    bool onKeyUp(VstKeyCode& keyCode) override;

    /// Called by anyone on the UI thread; true while the window exists.
    bool isOpen() const { return window_ != 0; }
    /// Called by anyone on the UI thread; pixels per point (1 at 100 %, 2 at 200 %).
    double scale();

protected:
    /// A pointer event in points from the window's top left.
    struct Pointer {
        double x;   ///< points from the left edge
        double y;   ///< points from the top edge
        bool fine;  ///< Shift or Control held: the drag moves in small steps
    };
    /// The keys an editor hears about, from its own window or from the host.
    enum class Key {
        kSpace  ///< the space bar
    };

    /// Called by idle (effEditIdle) when the window needs drawing; UI thread; cairo is set up in points.
    virtual void draw(cairo_t* cairo) = 0;
    /// Called by idle for a press of the first button; UI thread; clicks counts 2 for a double-click.
    virtual void pointerDown(const Pointer& pointer, int clicks) { (void)pointer, (void)clicks; }
    /// Called by idle when the pointer moved; UI thread.
    virtual void pointerMove(const Pointer& pointer) { (void)pointer; }
    /// Called by idle for the release of the first button; UI thread.
    virtual void pointerUp(const Pointer& pointer) { (void)pointer; }
    /// Called by idle for the mouse wheel; UI thread; notches is +1 up, -1 down.
    virtual void wheel(const Pointer& pointer, int notches) { (void)pointer, (void)notches; }
    /// Called by idle or effEditKeyDown (59) for a key pressed (repeats filtered out); UI thread; true when used.
    virtual bool keyDown(Key key) { (void)key; return false; }
    /// Called by idle or effEditKeyUp (60) for a key released; UI thread; true when used.
    virtual bool keyUp(Key key) { (void)key; return false; }
    /// Called by every idle while open; UI thread; true asks for a redraw (animation).
    virtual bool animate() { return false; }

    /// Called by the derived editor; UI thread; draws at the next idle.
    void redraw() { dirty_ = true; }
    /// Called by the derived editor; UI thread; audioMasterBeginEdit before a change.
    void beginEdit(VstInt32 index);
    /// Called by the derived editor; UI thread; sets the value and tells the host (audioMasterAutomate).
    void changeParameter(VstInt32 index, float value);
    /// Called by the derived editor; UI thread; audioMasterEndEdit after a change.
    void endEdit(VstInt32 index);

    AudioEffectX& effect;  ///< the effect the window shows; it owns the editor

private:
    friend struct X11EditorEvents;
    void handleEvent(void* event);
    void forwardKey(void* event);
    void letGo();
    bool parametersChanged();
    void paint();

    int widthPoints_;
    int heightPoints_;
    double scale_ = 0.0;  // 0 until first asked
    ERect rect_{};
    void* display_ = nullptr;  // Display*, this editor's own connection
    unsigned long window_ = 0;
    unsigned long parent_ = 0;  // the host's window we live in
    cairo_surface_t* surface_ = nullptr;  // the picture, in memory
    void* image_ = nullptr;               // XImage* over the surface's pixels
    void* gc_ = nullptr;                  // GC for putting it on the window
    bool dirty_ = false;
    bool windowGone_ = false;  // destroyed with the host's window
    std::vector<float> drawnValues_;  // each parameter as last drawn
    unsigned long lastPressTime_ = 0;
    double lastPressX_ = -1.0, lastPressY_ = -1.0;
    bool spaceHeld_ = false;
    bool pointerHeld_ = false;  // the first button, pressed in our window
};
