/// @file
/// Opening a connection to the X server, for editors and the hosts that show them.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <thread>

namespace tarvo::editor {

/// A connection to the display in DISPLAY, or nullptr when there is none.
/// A busy X server turns a connection away now and then (its socket's
/// backlog is full for a moment, and the connect fails with EAGAIN), so a
/// failed attempt is retried a few times, a few milliseconds apart: an
/// editor must not stay closed because the host opened it under load.
inline Display* openDisplay() {
    constexpr int kAttempts = 6;
    constexpr auto kPauseBetweenAttempts = std::chrono::milliseconds(15);
    for (int attempt = 1;; ++attempt) {
        if (Display* display = XOpenDisplay(nullptr); display != nullptr) return display;
        if (attempt == kAttempts) return nullptr;
        std::this_thread::sleep_for(kPauseBetweenAttempts);
    }
}

}  // namespace tarvo::editor
