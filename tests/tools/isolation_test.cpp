// A plug-in that crashes, aborts, exits or hangs cannot take a render's
// output with it: tapestop says what happened, exits non-zero and leaves
// nothing behind; an interrupt ends any render within a second.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "ToolTestSupport.h"

namespace {

constexpr int kSampleRateHz = 48000;
constexpr std::int64_t kInputFrames = 30000;  // the faulty plug-ins fail at frame 10,000
constexpr int kExitFailure = 1;
constexpr int kExitSignalBase = 128;
constexpr auto kInterruptDeadline = std::chrono::seconds(1);
// The render is under way once its child process exists; a little later the
// child is inside the hung plug-in or the FIFO's open.
constexpr auto kChildStartLimit = std::chrono::seconds(10);
constexpr auto kSettleTime = std::chrono::milliseconds(100);
constexpr const char* kKeptContent = "an earlier render\n";

// In a sanitizer build, the sanitizer would turn the plug-in's segmentation
// fault into an abort and its exit(0) into a leak report; these tests are
// about how the plug-in ends, so the sanitizer leaves both alone.
void letFaultsThrough() {
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string joined = std::string(options == nullptr ? "" : options) + ":handle_segv=0:detect_leaks=0";
    ::setenv("ASAN_OPTIONS", joined.c_str(), 1);
}

TEST(Isolation, AFailingPluginIsReportedAndLeavesNothingBehind) {
    letFaultsThrough();
    struct Row {
        const char* plugin;
        const char* message;
    };
    const Row rows[] = {
        {FAULTY_CRASH_PLUGIN, "the plug-in crashed (SIGSEGV) at frame 10000 (last step: processing); no output written"},
        {FAULTY_ABORT_PLUGIN, "the plug-in aborted (SIGABRT) at frame 10000 (last step: processing); no output written"},
        {FAULTY_EXIT_PLUGIN, "the plug-in exited with status 0 without finishing at frame 10000 (last step: processing)"},
        // Every frame handed over, and then the plug-in's unloading crashes.
        {FAULTY_CRASH_ON_UNLOAD_PLUGIN,
         "the plug-in crashed (SIGSEGV) at frame 29000 (last step: stopping); no output written"},
    };
    for (const Row& row : rows) {
        for (const bool outputExists : {false, true}) {
            SCOPED_TRACE(std::string(row.plugin) + (outputExists ? " over an existing output" : ""));
            tooltest::TempDir dir;
            tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kInputFrames, 2, kSampleRateHz));
            if (outputExists) std::ofstream(dir.file("out.wav")) << kKeptContent;
            const tooltest::RunResult run = tooltest::runTool(
                {"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", row.plugin, "--block", "1000"});
            EXPECT_EQ(run.exitCode, kExitFailure);
            EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
            const std::vector<std::string> expected =
                outputExists ? std::vector<std::string>{"in.wav", "out.wav"} : std::vector<std::string>{"in.wav"};
            EXPECT_EQ(dir.entries(), expected);
            if (outputExists) {
                EXPECT_EQ(tooltest::slurp(dir.file("out.wav")), kKeptContent);
            }
        }
    }
}

// Each interrupting signal, while the plug-in hangs in its processing, or
// while the input is a FIFO nobody writes to.
TEST(Isolation, AnInterruptEndsAnyRenderWithinASecond) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        for (const bool fifo : {false, true}) {
            SCOPED_TRACE(std::string(strsignal(signal)) + (fifo ? " with a FIFO input" : " with a hung plug-in"));
            tooltest::TempDir dir;
            if (fifo)
                ASSERT_EQ(::mkfifo(dir.file("in.wav").c_str(), 0600), 0);
            else
                tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kInputFrames, 2, kSampleRateHz));
            std::vector<std::string> args{"render", dir.file("in.wav"), dir.file("out.wav")};
            if (!fifo) args.insert(args.end(), {"--plugin", FAULTY_HANG_PLUGIN});
            tooltest::StartedProgram render(TAPESTOP_CLI, args);
            ASSERT_TRUE(render.waitForChild(kChildStartLimit));
            std::this_thread::sleep_for(kSettleTime);
            const auto signalled = std::chrono::steady_clock::now();
            render.signal(signal);
            const tooltest::RunResult run = render.wait();
            EXPECT_LT(std::chrono::steady_clock::now() - signalled, kInterruptDeadline);
            EXPECT_EQ(run.exitCode, kExitSignalBase + signal);
            EXPECT_EQ(run.err, "tapestop: interrupted; no output written\n");
            EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});
        }
    }
}

// Not even SIGKILL, which nothing can catch, leaves a partial file: the
// output has no name until it is complete.
TEST(Isolation, SigkillLeavesNothingBehind) {
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kInputFrames, 2, kSampleRateHz));
    tooltest::StartedProgram render(TAPESTOP_CLI,
                                    {"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", FAULTY_HANG_PLUGIN});
    ASSERT_TRUE(render.waitForChild(kChildStartLimit));
    std::this_thread::sleep_for(kSettleTime);
    render.signal(SIGKILL);
    EXPECT_EQ(render.wait().exitCode, -1);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in.wav"});
}

}  // namespace
