#include "Show.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo/cairo.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <thread>

#include "PluginHost.h"
#include "RenderTimeline.h"
#include "TransportHost.h"
#include "X11Display.h"

namespace tapestop {

namespace {

constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 512;
constexpr auto kIdlePeriod = std::chrono::milliseconds(33);  // about 30 idle calls a second
constexpr double kDefaultScreenshotSeconds = 1.0;
constexpr double kLongestSeconds = 86400.0;
constexpr float kToneLevel = 0.25f;
constexpr double kLeftToneHz = 220.0, kRightToneHz = 330.0;

// X errors of the whole process, the plug-in's connection included: each is
// printed, and any one fails the command.
std::atomic<int> gXErrors{0};
int reportXError(Display* display, XErrorEvent* error) {
    char text[256] = {};
    XGetErrorText(display, error->error_code, text, sizeof(text));
    std::cerr << "tapestop: X error: " << text << " (request " << static_cast<int>(error->request_code) << ")"
              << std::endl;
    ++gXErrors;
    return 0;
}

double parseSeconds(const std::string& text) {
    const std::optional<double> seconds = parseDecimal(text);
    if (!seconds || *seconds <= 0.0 || *seconds > kLongestSeconds)
        throw UsageError("bad --seconds '" + text + "': give seconds above 0, at most 86400");
    return *seconds;
}

// The edits the editor reports, one line each, as they reach the host.
void printEdits(host::Host& host, host::Effect& effect) {
    const auto name = [&effect](VstInt32 index) { return effect.parameterName(index); };
    host.setHandler(audioMasterBeginEdit, [name](const host::HostRequest& request) -> VstIntPtr {
        std::cout << name(request.index) << ": begin edit" << std::endl;
        return 1;
    });
    host.setHandler(audioMasterEndEdit, [name](const host::HostRequest& request) -> VstIntPtr {
        std::cout << name(request.index) << ": end edit" << std::endl;
        return 1;
    });
    host.setHandler(audioMasterAutomate, [name, &effect](const host::HostRequest& request) -> VstIntPtr {
        char value[32];
        std::snprintf(value, sizeof(value), "%.6f", static_cast<double>(request.opt));
        std::cout << name(request.index) << " = " << value << " (" << effect.parameterDisplay(request.index) << ")"
                  << std::endl;
        return 0;
    });
}

// Plays two steady tones through the effect in real time, as a host's
// audio thread would, and discards the output.
class TestSignalPlayer {
public:
    TestSignalPlayer(host::Effect& effect, host::TransportHost& transport)
        : thread_([this, &effect, &transport] { play(effect, transport); }) {}
    ~TestSignalPlayer() {
        running_ = false;
        thread_.join();
    }

private:
    void play(host::Effect& effect, host::TransportHost& transport) {
        std::vector<float> inL(kBlockFrames), inR(kBlockFrames), outL(kBlockFrames), outR(kBlockFrames);
        const auto blockPeriod = std::chrono::duration<double>(kBlockFrames / static_cast<double>(kSampleRateHz));
        auto due = std::chrono::steady_clock::now();
        for (std::int64_t frame = 0; running_; frame += kBlockFrames) {
            for (VstInt32 i = 0; i < kBlockFrames; ++i) {
                const double seconds = static_cast<double>(frame + i) / kSampleRateHz;
                inL[i] = kToneLevel * static_cast<float>(std::sin(2 * std::numbers::pi * kLeftToneHz * seconds));
                inR[i] = kToneLevel * static_cast<float>(std::sin(2 * std::numbers::pi * kRightToneHz * seconds));
            }
            transport.moveTo(frame);
            effect.processStereo(inL.data(), inR.data(), outL.data(), outR.data(), kBlockFrames);
            due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(blockPeriod);
            std::this_thread::sleep_until(due);
        }
    }

    std::atomic<bool> running_{true};
    std::thread thread_;
};

// The host's window: top level, of the editor's size, closable.
struct HostWindow {
    Display* display = nullptr;
    Window window = 0;
    Atom deleteWindow = 0;

    HostWindow(int width, int height, const std::string& title) {
        display = tarvo::editor::openDisplay();
        if (display == nullptr) throw std::runtime_error("cannot open the X display (is DISPLAY set?)");
        const int screen = DefaultScreen(display);
        window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(width),
                                     static_cast<unsigned>(height), 0, BlackPixel(display, screen),
                                     BlackPixel(display, screen));
        XStoreName(display, window, title.c_str());
        XSizeHints hints{};
        hints.flags = PMinSize | PMaxSize;
        hints.min_width = hints.max_width = width;
        hints.min_height = hints.max_height = height;
        XSetWMNormalHints(display, window, &hints);
        deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display, window, &deleteWindow, 1);
        XSelectInput(display, window, StructureNotifyMask);
        XMapWindow(display, window);
        XEvent event;
        do XWindowEvent(display, window, StructureNotifyMask, &event);
        while (event.type != MapNotify);
    }
    ~HostWindow() {
        XDestroyWindow(display, window);
        XCloseDisplay(display);
    }
    // Handles what came for the window; false once the user closed it.
    bool stillOpen() {
        bool open = true;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) open = false;
        }
        return open;
    }
};

// The window's picture, editor included, as a PNG file.
void writeScreenshot(const HostWindow& host, int width, int height, const std::string& path) {
    XSync(host.display, False);
    XImage* image = XGetImage(host.display, host.window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) throw std::runtime_error("could not read the window's picture");
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) mask >>= 1, ++shift;
        return static_cast<std::uint32_t>(((pixel >> shift) & mask) * 255 / (mask == 0 ? 1 : mask));
    };
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    auto* pixels = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            reinterpret_cast<std::uint32_t*>(pixels + y * stride)[x] =
                channel(pixel, image->red_mask) << 16 | channel(pixel, image->green_mask) << 8 |
                channel(pixel, image->blue_mask);
        }
    XDestroyImage(image);
    cairo_surface_mark_dirty(surface);
    const cairo_status_t status = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS)
        throw std::runtime_error("could not write " + path + ": " + cairo_status_to_string(status));
}

}  // namespace

std::optional<ShowOptions> parseShowOptions(int argc, const char* const* argv) {
    ShowOptions options;
    const std::vector<OptionRule> rules{
        {"--set", true, [&](auto value) { options.settings.push_back(parseAssignment(value())); }},
        {"--seconds", false, [&](auto value) { options.seconds = parseSeconds(value()); }},
        {"--screenshot", false, [&](auto value) { options.screenshotPath = value(); }},
    };
    const ParsedArguments parsed = parseArguments(std::vector<std::string>(argv + 2, argv + argc), rules);
    if (parsed.helpAsked) return std::nullopt;
    expectPositional(parsed.positional, 1, "PLUGIN.so");
    options.pluginPath = pluginPathArgument(parsed.positional[0]);
    if (!options.screenshotPath.empty() && !options.seconds) options.seconds = kDefaultScreenshotSeconds;
    return options;
}

int show(const ShowOptions& options) {
    XSetErrorHandler(reportXError);
    host::PluginLibrary library(options.pluginPath);
    host::TransportHost transport(kSampleRateHz, kBlockFrames);
    transport.setRecording(false);
    host::Effect effect(library, transport);
    if ((effect.record()->flags & effFlagsHasEditor) == 0)
        throw std::runtime_error(options.pluginPath + " has no editor window; its host shows its parameters instead");
    effect.start(kSampleRateHz, kBlockFrames);
    applySettings(effect, options.settings);
    printEdits(transport, effect);

    ERect* rect = nullptr;
    if (effect.dispatch(effEditGetRect, 0, 0, &rect) == 0 || rect == nullptr)
        throw std::runtime_error("the editor of " + options.pluginPath + " did not say its size");
    const int width = rect->right - rect->left, height = rect->bottom - rect->top;
    if (width <= 0 || height <= 0) throw std::runtime_error("the editor says its size is empty");
    HostWindow window(width, height, "tapestop show: " + effect.effectName());
    const auto parent = reinterpret_cast<void*>(static_cast<std::uintptr_t>(window.window));
    if (effect.dispatch(effEditOpen, 0, 0, parent) == 0)
        throw std::runtime_error("the editor of " + options.pluginPath + " did not open");
    std::cout << "showing " << effect.effectName() << ": " << width << " x " << height << " pixels" << std::endl;
    {
        TestSignalPlayer player(effect, transport);
        const auto start = std::chrono::steady_clock::now();
        const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start); };
        while (window.stillOpen() && (!options.seconds || elapsed().count() < *options.seconds)) {
            effect.dispatch(effEditIdle);
            std::this_thread::sleep_for(kIdlePeriod);
        }
        if (!options.screenshotPath.empty()) {
            effect.dispatch(effEditIdle);
            writeScreenshot(window, width, height, options.screenshotPath);
            std::cout << "wrote " << options.screenshotPath << std::endl;
        }
        effect.dispatch(effEditClose);
    }
    effect.stop();
    effect.close();
    XSync(window.display, False);
    if (gXErrors > 0) throw std::runtime_error(std::to_string(gXErrors) + " X errors while the editor was open");
    return 0;
}

}  // namespace tapestop
