// A plug-in that crashes, aborts, exits or hangs cannot take a render's
// output with it: tapestop says what happened, exits non-zero and leaves
// nothing behind; an interrupt ends any render within a second. Nothing the
// plug-in forks outlives its process; a plug-in that hangs while closing
// cannot cost a finished render; `info` runs the plug-in as isolated.
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
// A killed process is gone at once; the margin is for a loaded machine.
constexpr auto kProcessEndLimit = std::chrono::seconds(10);
// The output appears as soon as the last block is in, long before the
// closing plug-in gives up its 60 s hang.
constexpr auto kOutputLimit = std::chrono::seconds(30);

// True once the process is gone (or a zombie nobody has reaped yet).
bool processEnded(pid_t pid) {
    const std::string stat = tooltest::slurp("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t nameEnd = stat.rfind(')');
    return stat.empty() || nameEnd == std::string::npos || stat.compare(nameEnd, 4, ") Z ") == 0;
}

bool waitUntilEnded(pid_t pid) {
    const auto deadline = std::chrono::steady_clock::now() + kProcessEndLimit;
    while (!processEnded(pid)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool waitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kOutputLimit;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

TEST(Isolation, AFailingPluginIsReportedAndLeavesNothingBehind) {
    tooltest::letFaultsThrough();
    struct Row {
        const char* plugin;
        const char* message;
    };
    const Row rows[] = {
        {FAULTY_CRASH_PLUGIN, "the plug-in crashed (SIGSEGV) at frame 10000 (last step: processing); no output written"},
        {FAULTY_ABORT_PLUGIN, "the plug-in aborted (SIGABRT) at frame 10000 (last step: processing); no output written"},
        {FAULTY_EXIT_PLUGIN, "the plug-in exited with status 0 without finishing at frame 10000 (last step: processing)"},
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

// A plug-in that forks a helper and then crashes: the helper would hold the
// child's socket and pipes open for its whole life. It ends with the
// plug-in's process, and the crash is reported at once, in every command.
TEST(Isolation, NothingThePluginForkedOutlivesItsProcess) {
    tooltest::letFaultsThrough();
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kInputFrames, 2, kSampleRateHz));
    struct Row {
        std::vector<std::string> args;
        const char* message;  // in stderr, or in the report on stdout for validate
    };
    const Row rows[] = {
        {{"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", FAULTY_FORK_CRASH_PLUGIN, "--block", "1000"},
         "tapestop: the plug-in crashed (SIGSEGV) at frame 10000 (last step: processing); no output written\n"},
        {{"info", "--plugin", FAULTY_CREATION_FORK_CRASH_PLUGIN},
         "tapestop: the plug-in crashed (SIGSEGV) (last step: creating the effect)\n"},
        {{"validate", FAULTY_FORK_CRASH_PLUGIN, "--only", "block-sizes"}, "fail  block-sizes"},
    };
    const std::string pidFile = dir.file("helper.pid");
    ::setenv("FAULTY_HELPER_PID_FILE", pidFile.c_str(), 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.front());
        std::filesystem::remove(pidFile);
        const tooltest::RunResult run = tooltest::runTool(row.args);
        EXPECT_EQ(run.exitCode, kExitFailure);
        EXPECT_NE((run.err + run.out).find(row.message), std::string::npos) << run.err << run.out;
        const pid_t helper = std::atoi(tooltest::slurp(pidFile).c_str());
        ASSERT_GT(helper, 0) << "the plug-in forked no helper";
        EXPECT_TRUE(waitUntilEnded(helper)) << "the helper " << helper << " still runs";
        EXPECT_EQ(tooltest::slurp(pidFile).find("outlived"), std::string::npos) << "the command waited for the helper";
    }
    ::unsetenv("FAULTY_HELPER_PID_FILE");
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.wav")));
}

// Once the last block is in, the output is kept: a plug-in that hangs while
// it closes is killed after a few seconds, or at once on an interrupt, and
// a warning says so.
TEST(Isolation, APluginThatHangsWhileClosingCannotCostAFinishedRender) {
    const tooltest::Audio input = tooltest::testSignal(kInputFrames, 2, kSampleRateHz);
    struct Row {
        bool interrupt;
        const char* warning;
    };
    const Row rows[] = {
        {false, "tapestop: warning: the plug-in did not close within 5 s (last step: closing) and was killed; "
                "the output is complete and was kept\n"},
        {true, "tapestop: warning: interrupted (SIGINT) while the plug-in closed; it was killed; "
               "the output is complete and was kept\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.interrupt ? "interrupted" : "left to close");
        tooltest::TempDir dir;
        tooltest::writeAudio(dir.file("in.wav"), input);
        tooltest::StartedProgram render(
            TAPESTOP_CLI, {"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", FAULTY_CLOSE_HANG_PLUGIN});
        if (row.interrupt) {
            ASSERT_TRUE(waitForFile(dir.file("out.wav")));
            render.signal(SIGINT);
        }
        const tooltest::RunResult run = render.wait();
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, row.warning);
        EXPECT_EQ(run.out.rfind("wrote " + dir.file("out.wav") + ": 30000 frames", 0), 0u) << run.out;
        EXPECT_TRUE(tooltest::sameBits(tooltest::readAudio(dir.file("out.wav")).samples, input.samples));
    }
}

// Every frame handed over, and then the plug-in's unloading crashes: the
// finished output is kept over an earlier file, and the crash is a warning.
TEST(Isolation, APluginThatCrashesWhileUnloadingCannotCostAFinishedRender) {
    tooltest::letFaultsThrough();
    const tooltest::Audio input = tooltest::testSignal(kInputFrames, 2, kSampleRateHz);
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), input);
    std::ofstream(dir.file("out.wav")) << kKeptContent;
    const tooltest::RunResult run = tooltest::runTool(
        {"render", dir.file("in.wav"), dir.file("out.wav"), "--plugin", FAULTY_CRASH_ON_UNLOAD_PLUGIN, "--force"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("SIGSEGV"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("the output is complete and was kept"), std::string::npos) << run.err;
    EXPECT_TRUE(tooltest::sameBits(tooltest::readAudio(dir.file("out.wav")).samples, input.samples));
}

// `info` runs the plug-in in a child as a render does: an exit or a crash
// while it loads is reported, and what it prints stays off stdout.
TEST(Isolation, InfoReportsHowThePluginEndedAndKeepsItsOutputClean) {
    tooltest::letFaultsThrough();
    struct Row {
        const char* plugin;
        int exitCode;
        const char* err;
    };
    const Row rows[] = {
        {FAULTY_CREATION_EXIT_PLUGIN, kExitFailure,
         "tapestop: the plug-in exited with status 0 without finishing (last step: creating the effect)\n"},
        {FAULTY_CREATION_CRASH_PLUGIN, kExitFailure,
         "tapestop: the plug-in crashed (SIGSEGV) (last step: creating the effect)\n"},
        {FAULTY_CREATION_PRINT_PLUGIN, 0, "a plug-in that talks on stdout while it loads\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.plugin);
        tooltest::TempDir dir;
        const tooltest::RunResult run = tooltest::runTool({"info", "--plugin", row.plugin, "--json"});
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(run.err, row.err);
        if (row.exitCode != 0) {
            EXPECT_EQ(run.out, "");
            continue;
        }
        std::ofstream(dir.file("info.json")) << run.out;
        const tooltest::RunResult parsed = tooltest::runProgram(
            "/usr/bin/python3", {"-c", "import json, sys; print(json.load(sys.stdin)['uniqueIdText'])"},
            dir.file("info.json"));
        EXPECT_EQ(parsed.out, "Flty\n") << run.out << parsed.err;
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
