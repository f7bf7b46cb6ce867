// `tapestop show`, run as a developer runs it, on the test display (Xvfb):
// its screenshots, its refusals, and the edits it prints when a user clicks
// and drags in the editor (xdotool).
#include <cairo/cairo.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "tools/ToolTestSupport.h"

namespace {

using tooltest::runProgram;
using tooltest::runTool;

constexpr int kWidthPixels = 640;
constexpr int kButtonCentreX = 130, kButtonCentreY = 160;  // the stop button, 20..240 x 60..260
constexpr int kStopCentreX = 78, kStopCentreY = 312;       // the first control: Stop

struct Png {
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    // The pixels of a part, row by row.
    std::vector<std::uint32_t> part(int x, int y, int w, int h) const {
        std::vector<std::uint32_t> out;
        for (int row = y; row < y + h; ++row)
            out.insert(out.end(), pixels.begin() + row * width + x, pixels.begin() + row * width + x + w);
        return out;
    }
};

Png readPng(const std::string& path) {
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    Png png;
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
        png.width = cairo_image_surface_get_width(surface);
        png.height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        for (int y = 0; y < png.height; ++y)
            for (int x = 0; x < png.width; ++x)
                png.pixels.push_back(reinterpret_cast<const std::uint32_t*>(data + y * stride)[x] & 0xFFFFFF);
    }
    cairo_surface_destroy(surface);
    return png;
}

TEST(Show, RefusesWhatItCannotShow) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;
    };
    const Case cases[] = {
        {{"show", TAPESTOP_PLUGIN_PATH, "--seconds", "1"}, 1, "has no editor window"},
        {{"show", TAPEMOTOR_PLUGIN_PATH, "--seconds", "0"}, 2, "bad --seconds '0'"},
        {{"show", TAPEMOTOR_PLUGIN_PATH, "--set", "Nope=1", "--seconds", "1"}, 2, "Nope"},
        {{"show"}, 2, "missing PLUGIN.so"},
        {{"show", TAPEMOTOR_PLUGIN_PATH, "--zoom"}, 2, "unknown option '--zoom'"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.args.back());
        const tooltest::RunResult result = runTool(test.args);
        EXPECT_EQ(result.exitCode, test.exitCode);
        EXPECT_NE(result.err.find(test.message), std::string::npos) << result.err;
    }
    // Without an X server: a failure that says what is missing.
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "run under xvfb-run";
    const std::string display = std::getenv("DISPLAY");
    unsetenv("DISPLAY");
    const tooltest::RunResult headless = runTool({"show", TAPEMOTOR_PLUGIN_PATH, "--seconds", "1"});
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_EQ(headless.exitCode, 1);
    EXPECT_NE(headless.err.find("cannot open the X display (is DISPLAY set?)"), std::string::npos) << headless.err;
}

TEST(Show, ScreenshotsShowTheButtonLitWhileTriggerIsOn) {
    tooltest::TempDir dir;
    Png pictures[2];
    for (int trigger = 0; trigger < 2; ++trigger) {
        const std::string path = dir.file("trigger" + std::to_string(trigger) + ".png");
        const tooltest::RunResult result = runTool({"show", TAPEMOTOR_PLUGIN_PATH, "--set",
                                                    "Trigger=" + std::to_string(trigger), "--screenshot", path});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find("showing Tarvo TapeMotor: 640 x "), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("wrote " + path), std::string::npos);
        pictures[trigger] = readPng(path);
        EXPECT_EQ(pictures[trigger].width, kWidthPixels);
    }
    EXPECT_EQ(pictures[0].height, pictures[1].height);
    ASSERT_GT(pictures[0].height, kStopCentreY);
    EXPECT_NE(pictures[0].part(20, 60, 220, 200), pictures[1].part(20, 60, 220, 200));
}

// A user clicks the stop button and drags Stop: the host hears each edit.
TEST(Show, PrintsTheEditsOfAClickAndADrag) {
    tooltest::StartedProgram show(TAPESTOP_CLI, {"show", TAPEMOTOR_PLUGIN_PATH, "--seconds", "10"});
    const tooltest::RunResult found =
        runProgram(XDOTOOL, {"search", "--sync", "--onlyvisible", "--name", "tapestop show"});
    ASSERT_EQ(found.exitCode, 0) << found.err;
    const std::string window = found.out.substr(0, found.out.find('\n'));
    const auto at = [&](int x, int y) { return std::vector<std::string>{"mousemove", "--window", window,
                                                                        std::to_string(x), std::to_string(y)}; };
    std::vector<std::string> actions = at(kButtonCentreX, kButtonCentreY);
    for (const char* step : {"mousedown", "1", "sleep", "0.3", "mouseup", "1", "sleep", "0.3"}) actions.push_back(step);
    for (const std::string& step : at(kStopCentreX, kStopCentreY)) actions.push_back(step);
    for (const char* step : {"mousedown", "1", "sleep", "0.3", "mousemove_relative", "20", "0", "sleep", "0.3",
                             "mouseup", "1"})
        actions.push_back(step);
    ASSERT_EQ(runProgram(XDOTOOL, actions).exitCode, 0);
    const tooltest::RunResult result = show.wait();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Trigger: begin edit\nTrigger = 1.000000 (On)\nTrigger = 0.000000 (Off)\n"
                              "Trigger: end edit\n"),
              std::string::npos)
        << result.out;
    EXPECT_TRUE(std::regex_search(result.out, std::regex("Stop: begin edit\n(Stop = 0\\.[0-9]{6} \\([^)]+\\)\n)+"
                                                         "Stop: end edit\n")))
        << result.out;
}

}  // namespace
