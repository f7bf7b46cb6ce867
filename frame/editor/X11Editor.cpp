#include "X11Editor.h"

#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "X11Display.h"

namespace {

constexpr double kPointsPerInch = 96.0;  // Xft.dpi at 100 %
constexpr double kLargestScale = 4.0;
constexpr unsigned long kDoubleClickMilliseconds = 400;
constexpr double kDoubleClickPixels = 5.0;
constexpr unsigned char kVirtualKeySpace = 7;  // VstKeyCode::virt of the space bar
constexpr unsigned int kWheelUpButton = 4;
constexpr unsigned int kWheelDownButton = 5;
constexpr long kEventMask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                            KeyReleaseMask | StructureNotifyMask;

Display* displayOf(void* display) { return static_cast<Display*>(display); }

// The scale a number of pixels per point asks for: below 1 counts as 1.
double usableScale(double scale) {
    if (!std::isfinite(scale) || scale < 1.0) return 1.0;
    return std::min(scale, kLargestScale);
}

// Xft.dpi from the X resources the desktop set, or 0.
double resourceDotsPerInch(Display* display) {
    const char* resources = XResourceManagerString(display);
    if (resources == nullptr) return 0.0;
    const char* found = std::strstr(resources, "Xft.dpi:");
    return found != nullptr ? std::atof(found + std::strlen("Xft.dpi:")) : 0.0;
}

// X errors on the display being torn down are expected (the host may have
// destroyed our window with its parent already); every other display's
// errors go to the handler that was there before.
Display* gQuietDisplay = nullptr;
XErrorHandler gPreviousHandler = nullptr;
int gQuietErrors = 0;
int quietErrorHandler(Display* display, XErrorEvent* error) {
    if (display == gQuietDisplay) {
        ++gQuietErrors;
        return 0;
    }
    return gPreviousHandler != nullptr ? gPreviousHandler(display, error) : 0;
}

// While one lives, the display's errors are counted instead of reported.
struct QuietErrors {
    explicit QuietErrors(Display* display) {
        gQuietDisplay = display;
        gQuietErrors = 0;
        gPreviousHandler = XSetErrorHandler(quietErrorHandler);
    }
    ~QuietErrors() {
        XSetErrorHandler(gPreviousHandler);
        gQuietDisplay = nullptr;
    }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;
};

// The host's top-level window above `window`: the first with the WM_STATE a
// window manager gives client windows, else (no window manager) the one just
// below the root. Asked on every use: hosts and window managers reparent.
Window hostTopLevel(Display* display, Window window) {
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    for (;;) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, left = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(display, window, wmState, 0, 0, False, AnyPropertyType, &type, &format, &items, &left,
                           &data);
        if (data != nullptr) XFree(data);
        if (type != 0) return window;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return window;
        if (children != nullptr) XFree(children);
        if (parent == root || parent == 0) return window;
        window = parent;
    }
}

}  // namespace

// The editors with an open window, for the `_XEventProc` entry, which gets
// only the event. UI thread only.
struct X11EditorEvents {
    static std::vector<X11Editor*>& openEditors() {
        static std::vector<X11Editor*> editors;
        return editors;
    }
    static void eventProc(XEvent* event) {
        for (X11Editor* editor : openEditors())
            if (editor->window_ == event->xany.window) {
                editor->handleEvent(event);
                if (editor->dirty_ && !editor->windowGone_) editor->paint();
                XFlush(displayOf(editor->display_));
                return;
            }
    }
};

X11Editor::X11Editor(AudioEffectX& effect, int widthPoints, int heightPoints)
    : effect(effect), widthPoints_(widthPoints), heightPoints_(heightPoints) {}

X11Editor::~X11Editor() { close(); }

double X11Editor::scale() {
    if (scale_ > 0.0) return scale_;
    if (const char* gdkScale = std::getenv("GDK_SCALE"); gdkScale != nullptr && *gdkScale != '\0') {
        scale_ = usableScale(std::atof(gdkScale));
        return scale_;
    }
    Display* display = display_ != nullptr ? displayOf(display_) : tarvo::editor::openDisplay();
    scale_ = display != nullptr ? usableScale(resourceDotsPerInch(display) / kPointsPerInch) : 1.0;
    if (display != nullptr && display_ == nullptr) XCloseDisplay(display);
    return scale_;
}

bool X11Editor::getRect(ERect** rect) {
    if (rect == nullptr) return false;
    const double pixelsPerPoint = scale();
    rect_.top = 0;
    rect_.left = 0;
    rect_.bottom = static_cast<std::int16_t>(std::lround(heightPoints_ * pixelsPerPoint));
    rect_.right = static_cast<std::int16_t>(std::lround(widthPoints_ * pixelsPerPoint));
    *rect = &rect_;
    return true;
}

// The picture is drawn into an image in memory and put on the window in one
// piece: no half-drawn frames, and Cairo keeps nothing per display (its xlib
// surfaces leave state behind for every connection closed).
bool X11Editor::open(void* parentWindow) {
    close();
    if (parentWindow == nullptr) return false;
    Display* display = tarvo::editor::openDisplay();
    if (display == nullptr) return false;
    ERect* rect = nullptr;
    getRect(&rect);
    const int screen = DefaultScreen(display);
    Visual* visual = DefaultVisual(display, screen);
    // Cairo's RGB24 pixels are the screen's when it has 8 bits per colour in
    // this order, as X servers on PCs have.
    if (DefaultDepth(display, screen) < 24 || visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 ||
        visual->blue_mask != 0xFF) {
        XCloseDisplay(display);
        return false;
    }
    // The screen's own visual with its colormap, so the window can be made
    // inside a parent of any depth.
    XSetWindowAttributes attributes{};
    attributes.background_pixmap = None;  // we paint every pixel; no clearing flashes
    attributes.border_pixel = BlackPixel(display, screen);
    attributes.colormap = DefaultColormap(display, screen);
    attributes.event_mask = kEventMask;
    const auto parent = static_cast<Window>(reinterpret_cast<std::uintptr_t>(parentWindow));
    // A parent that is no window is the host's mistake: no window, no error.
    Window window = 0;
    {
        const QuietErrors quiet(display);
        window = XCreateWindow(display, parent, 0, 0, static_cast<unsigned>(rect->right),
                               static_cast<unsigned>(rect->bottom), 0, DefaultDepth(display, screen), InputOutput,
                               DefaultVisual(display, screen), CWBackPixmap | CWBorderPixel | CWColormap | CWEventMask,
                               &attributes);
        XSync(display, False);
        if (gQuietErrors > 0) {
            XCloseDisplay(display);
            return false;
        }
    }
    // Hosts that deliver events themselves call the function this property
    // holds: its address as two 32-bit items, low half first.
    const auto address = reinterpret_cast<std::uintptr_t>(&X11EditorEvents::eventProc);
    const long halves[2] = {static_cast<long>(address & 0xFFFFFFFFu), static_cast<long>(address >> 32)};
    const Atom eventProcAtom = XInternAtom(display, "_XEventProc", False);
    XChangeProperty(display, window, eventProcAtom, eventProcAtom, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(halves), 2);
    XMapWindow(display, window);
    display_ = display;
    window_ = window;
    parent_ = parent;
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, rect->right, rect->bottom);
    image_ = XCreateImage(display, visual, static_cast<unsigned>(DefaultDepth(display, screen)), ZPixmap, 0,
                          reinterpret_cast<char*>(cairo_image_surface_get_data(surface_)),
                          static_cast<unsigned>(rect->right), static_cast<unsigned>(rect->bottom), 32,
                          cairo_image_surface_get_stride(surface_));
    gc_ = XCreateGC(display, window, 0, nullptr);
    drawnValues_.assign(static_cast<std::size_t>(effect.getAeffect()->numParams),
                        std::numeric_limits<float>::quiet_NaN());
    X11EditorEvents::openEditors().push_back(this);
    lastPressTime_ = 0;
    spaceHeld_ = false;
    dirty_ = true;
    XFlush(display);
    return true;
}

// The host may have destroyed its window, and ours with it, before closing
// the editor: then there is nothing to destroy, and the errors that freeing
// the rest raises are ours alone, kept from the host's error handler.
void X11Editor::close() {
    if (!isOpen()) return;
    letGo();
    auto& editors = X11EditorEvents::openEditors();
    editors.erase(std::remove(editors.begin(), editors.end(), this), editors.end());
    Display* display = displayOf(display_);
    {
        const QuietErrors quiet(display);
        XSync(display, False);
        XEvent event;
        while (XCheckTypedWindowEvent(display, window_, DestroyNotify, &event)) windowGone_ = true;
        auto* image = static_cast<XImage*>(image_);
        image->data = nullptr;  // the pixels are the surface's
        XDestroyImage(image);
        XFreeGC(display, static_cast<GC>(gc_));
        cairo_surface_destroy(surface_);
        if (!windowGone_) XDestroyWindow(display, window_);
        XSync(display, True);
        XCloseDisplay(display);
    }
    surface_ = nullptr;
    image_ = nullptr;
    gc_ = nullptr;
    display_ = nullptr;
    window_ = 0;
    parent_ = 0;
    windowGone_ = false;
}

void X11Editor::idle() {
    if (!isOpen()) return;
    Display* display = displayOf(display_);
    while (isOpen() && XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        handleEvent(&event);
    }
    if (!isOpen()) return;
    if (animate()) dirty_ = true;
    if (parametersChanged()) dirty_ = true;
    if (dirty_ && !windowGone_) paint();
    // What the events asked of the server (the keyboard focus, keys passed
    // on) happens now, not at the next idle: a key typed right after a click
    // must find the focus already moved.
    XFlush(display);
}

bool X11Editor::parametersChanged() {
    bool changed = false;
    for (std::size_t index = 0; index < drawnValues_.size(); ++index) {
        const float value = effect.getParameter(static_cast<VstInt32>(index));
        if (value == drawnValues_[index]) continue;
        drawnValues_[index] = value;
        changed = true;
    }
    return changed;
}

void X11Editor::paint() {
    dirty_ = false;
    cairo_t* cairo = cairo_create(surface_);
    cairo_scale(cairo, scale_, scale_);
    draw(cairo);
    cairo_destroy(cairo);
    cairo_surface_flush(surface_);
    auto* image = static_cast<XImage*>(image_);
    XPutImage(displayOf(display_), window_, static_cast<GC>(gc_), image, 0, 0, 0, 0,
              static_cast<unsigned>(image->width), static_cast<unsigned>(image->height));
    // On the screen when idle returns: hosts and tests that read the screen
    // next see this picture.
    XSync(displayOf(display_), False);
}

void X11Editor::handleEvent(void* anyEvent) {
    XEvent& event = *static_cast<XEvent*>(anyEvent);
    Display* display = displayOf(display_);
    const auto pointerAt = [&](int x, int y, unsigned int state) {
        return Pointer{x / scale_, y / scale_, (state & (ShiftMask | ControlMask)) != 0};
    };
    switch (event.type) {
        case DestroyNotify:
            if (event.xdestroywindow.window == window_) windowGone_ = true;
            break;
        case Expose:
            if (event.xexpose.count == 0) dirty_ = true;
            break;
        case ButtonPress: {
            const XButtonEvent& button = event.xbutton;
            const Pointer pointer = pointerAt(button.x, button.y, button.state);
            if (button.button == kWheelUpButton || button.button == kWheelDownButton) {
                wheel(pointer, button.button == kWheelUpButton ? 1 : -1);
                break;
            }
            if (button.button != Button1) break;
            // The window takes the keyboard when clicked, so space reaches it.
            XSetInputFocus(display, window_, RevertToParent, button.time);
            const bool near = std::abs(button.x - lastPressX_) < kDoubleClickPixels &&
                              std::abs(button.y - lastPressY_) < kDoubleClickPixels;
            const bool twice = lastPressTime_ != 0 && near && button.time - lastPressTime_ < kDoubleClickMilliseconds;
            lastPressTime_ = twice ? 0 : button.time;  // a third click starts a new pair
            lastPressX_ = button.x;
            lastPressY_ = button.y;
            pointerHeld_ = true;
            pointerDown(pointer, twice ? 2 : 1);
            break;
        }
        case ButtonRelease:
            if (event.xbutton.button == Button1 && pointerHeld_) {
                pointerHeld_ = false;
                pointerUp(pointerAt(event.xbutton.x, event.xbutton.y, event.xbutton.state));
            }
            break;
        case MotionNotify: {
            // Only the latest of consecutive moves matters; a move after a
            // press or release must stay after it.
            XEvent next;
            while (XEventsQueued(display, QueuedAlready) > 0 && (XPeekEvent(display, &next), next.type == MotionNotify))
                XNextEvent(display, &event);
            pointerMove(pointerAt(event.xmotion.x, event.xmotion.y, event.xmotion.state));
            break;
        }
        case KeyPress: {
            const bool space = XLookupKeysym(&event.xkey, 0) == XK_space;
            if (space && spaceHeld_) break;  // a repeat of a press the editor took
            if (space && keyDown(Key::kSpace)) {
                spaceHeld_ = true;
                break;
            }
            forwardKey(&event);
            break;
        }
        case KeyRelease: {
            if (XLookupKeysym(&event.xkey, 0) != XK_space || !spaceHeld_) {
                forwardKey(&event);
                break;
            }
            // Auto-repeat sends a release and a press with the same time: not a release.
            if (XEventsQueued(display, QueuedAfterReading) > 0) {
                XEvent next;
                XPeekEvent(display, &next);
                if (next.type == KeyPress && next.xkey.time == event.xkey.time &&
                    next.xkey.keycode == event.xkey.keycode) {
                    XNextEvent(display, &next);
                    break;
                }
            }
            spaceHeld_ = false;
            keyUp(Key::kSpace);
            break;
        }
        default: break;
    }
}

// A click gives the window the keyboard (so space reaches the editor); the
// keys the editor does not take go on to the host's top-level window (the
// plug-in window or dialog we live in), to the program that made it, so the
// host's own keys (Escape closing a dialog, its shortcuts) still work while
// the editor has the focus. Not to the parent itself: hosts such as Ardour
// make that one on a connection of their own that ignores keys.
void X11Editor::forwardKey(void* anyEvent) {
    Display* display = displayOf(display_);
    const Window topLevel = hostTopLevel(display, parent_);
    XEvent event = *static_cast<XEvent*>(anyEvent);
    event.xkey.window = topLevel;
    event.xkey.subwindow = 0;
    XSendEvent(display, topLevel, False, NoEventMask, &event);
}

// Keys are for the window: with none open, the host keeps them.
bool X11Editor::onKeyDown(VstKeyCode& keyCode) {
    if (!isOpen()) return false;
    if (keyCode.character != ' ' && keyCode.virt != kVirtualKeySpace) return false;
    if (spaceHeld_) return true;  // a repeat
    spaceHeld_ = true;
    return keyDown(Key::kSpace);
}

bool X11Editor::onKeyUp(VstKeyCode& keyCode) {
    if (keyCode.character != ' ' && keyCode.virt != kVirtualKeySpace) return false;
    spaceHeld_ = false;
    return keyUp(Key::kSpace);
}

// A window that goes while the user holds the button or drags a control
// ends the press as a release would: a held stop must not outlast the
// window, and the host's edit must end.
void X11Editor::letGo() {
    if (std::exchange(spaceHeld_, false)) keyUp(Key::kSpace);
    if (std::exchange(pointerHeld_, false)) pointerUp(Pointer{lastPressX_ / scale_, lastPressY_ / scale_, false});
}

void X11Editor::beginEdit(VstInt32 index) { effect.beginEdit(index); }

void X11Editor::changeParameter(VstInt32 index, float value) {
    effect.setParameterAutomated(index, std::clamp(value, 0.0f, 1.0f));
}

void X11Editor::endEdit(VstInt32 index) { effect.endEdit(index); }
