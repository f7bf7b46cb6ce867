// Test support for editor windows: a host's top-level window on the X
// display the tests run on (Xvfb), the built plug-in's editor opened in it
// through the dispatcher, pictures read back from the screen, and pointer
// and key events sent through XTest as a user's would arrive.
#pragma once

// GoogleTest first: Xlib's macros (None, Bool) would break its headers.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PluginHost.h"
#include "X11Display.h"

namespace editortest {

// Every X error in this process, the plug-in's own connection included.
inline std::atomic<int>& xErrors() {
    static std::atomic<int> count{0};
    return count;
}
inline int countXError(Display* display, XErrorEvent* error) {
    char text[128] = {};
    XGetErrorText(display, error->error_code, text, sizeof(text));
    std::fprintf(stderr, "X error: %s (request %d)\n", text, error->request_code);
    ++xErrors();
    return 0;
}

inline int openFileDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

struct Rect {
    int x, y, width, height;
};

// A top-level window at the screen's top left, as a host makes for a plug-in.
class HostWindow {
public:
    HostWindow(int width, int height) : width_(width), height_(height) {
        display_ = tarvo::editor::openDisplay();
        if (display_ == nullptr) throw std::runtime_error("no X display: run the editor tests under xvfb-run");
        XSetErrorHandler(countXError);
        const int screen = DefaultScreen(display_);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;  // exactly where asked, window manager or not
        attributes.background_pixel = BlackPixel(display_, screen);
        window_ = XCreateWindow(display_, RootWindow(display_, screen), 0, 0, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                                CWOverrideRedirect | CWBackPixel, &attributes);
        XSelectInput(display_, window_, StructureNotifyMask);
        XMapRaised(display_, window_);
        XEvent event;
        do XWindowEvent(display_, window_, StructureNotifyMask, &event);
        while (event.type != MapNotify);
    }
    ~HostWindow() {
        if (innerDisplay_ != nullptr) XCloseDisplay(innerDisplay_);
        if (window_ != 0) XDestroyWindow(display_, window_);
        XCloseDisplay(display_);
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    void* parent() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(window_)); }
    // A window filling this one, made on a second connection that never reads
    // its events, as Ardour makes the window it opens editors in.
    void* innerParent() {
        if (innerDisplay_ == nullptr) {
            innerDisplay_ = tarvo::editor::openDisplay();
            if (innerDisplay_ == nullptr) throw std::runtime_error("no second X connection");
            inner_ = XCreateSimpleWindow(innerDisplay_, window_, 0, 0, static_cast<unsigned>(width_),
                                         static_cast<unsigned>(height_), 0, 0, 0);
            XMapWindow(innerDisplay_, inner_);
            XSync(innerDisplay_, False);
        }
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(inner_));
    }
    Display* display() const { return display_; }
    void destroy() {
        XDestroyWindow(display_, std::exchange(window_, 0));
        XSync(display_, False);
    }

    // The windows the editor made inside ours, with their sizes.
    std::vector<Rect> children() const {
        Window root = 0, parent = 0, *list = nullptr;
        unsigned int count = 0;
        XQueryTree(display_, window_, &root, &parent, &list, &count);
        std::vector<Rect> sizes;
        for (unsigned int i = 0; i < count; ++i) {
            XWindowAttributes attributes{};
            XGetWindowAttributes(display_, list[i], &attributes);
            sizes.push_back({attributes.x, attributes.y, attributes.width, attributes.height});
        }
        if (list != nullptr) XFree(list);
        return sizes;
    }

    // The pixels on screen in a part of the window, row by row.
    std::vector<std::uint32_t> picture(const Rect& part) const {
        XSync(display_, False);
        XImage* image = XGetImage(display_, window_, part.x, part.y, static_cast<unsigned>(part.width),
                                  static_cast<unsigned>(part.height), AllPlanes, ZPixmap);
        if (image == nullptr) throw std::runtime_error("XGetImage failed");
        std::vector<std::uint32_t> pixels;
        for (int y = 0; y < part.height; ++y)
            for (int x = 0; x < part.width; ++x) pixels.push_back(static_cast<std::uint32_t>(XGetPixel(image, x, y)));
        XDestroyImage(image);
        return pixels;
    }
    std::vector<std::uint32_t> picture() const { return picture({0, 0, width_, height_}); }

    // A user's pointer and keys, through XTest.
    void moveTo(int x, int y) const {
        XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
        XSync(display_, False);
    }
    void button(unsigned int number, bool down) const {
        XTestFakeButtonEvent(display_, number, down ? True : False, CurrentTime);
        XSync(display_, False);
    }
    void key(KeySym symbol, bool down) const {
        XTestFakeKeyEvent(display_, XKeysymToKeycode(display_, symbol), down ? True : False, CurrentTime);
        XSync(display_, False);
    }

    // The key events the editor passed on to this window so far, in order.
    struct PassedKey {
        KeySym symbol;
        bool press;
        bool operator==(const PassedKey&) const = default;
    };
    std::vector<PassedKey> keysPassedOn() {
        XEvent event;
        const auto isKey = [](Display*, XEvent* candidate, XPointer window) {
            return (candidate->type == KeyPress || candidate->type == KeyRelease) &&
                           candidate->xkey.window == *reinterpret_cast<Window*>(window)
                       ? True
                       : False;
        };
        while (XCheckIfEvent(display_, &event, isKey, reinterpret_cast<XPointer>(&window_)))
            passed_.push_back({XLookupKeysym(&event.xkey, 0), event.type == KeyPress});
        return passed_;
    }

private:
    Display* display_ = nullptr;
    Window window_ = 0;
    std::vector<PassedKey> passed_;
    Display* innerDisplay_ = nullptr;
    Window inner_ = 0;
    int width_, height_;
};

// The mean brightness of a picture, 0 to 255 (24-bit TrueColor pixels).
inline double meanBrightness(const std::vector<std::uint32_t>& pixels) {
    double sum = 0.0;
    for (const std::uint32_t pixel : pixels)
        sum += (((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF)) / 3.0;
    return pixels.empty() ? 0.0 : sum / static_cast<double>(pixels.size());
}

inline std::size_t distinctColours(std::vector<std::uint32_t> pixels) {
    std::sort(pixels.begin(), pixels.end());
    return static_cast<std::size_t>(std::unique(pixels.begin(), pixels.end()) - pixels.begin());
}

// Idles the editor until `done` holds, as a host's UI loop does; false if
// it never does within a generous number of idles.
inline bool idleUntil(host::Effect& effect, const std::function<bool()>& done, int most = 500) {
    for (int i = 0; i < most; ++i) {
        effect.dispatch(effEditIdle);
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The edit requests a host received, in order: begin (43), end (44) and
// automate (0) with the value.
struct Edit {
    VstInt32 opcode;
    VstInt32 index;
    float value;
    bool operator==(const Edit&) const = default;
};
inline std::vector<Edit> edits(const host::Host& host) {
    std::vector<Edit> list;
    for (const host::HostRequest& request : host.requests())
        if (request.opcode == audioMasterAutomate || request.opcode == audioMasterBeginEdit ||
            request.opcode == audioMasterEndEdit)
            list.push_back({request.opcode, request.index, request.opcode == audioMasterAutomate ? request.opt : 0.0f});
    return list;
}

}  // namespace editortest
