// A child process's ending, as the parent learns it: each way a plug-in can
// end the process that drives it, with the progress it reported first.
#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace {

using host::ChildContext;
using host::ChildOutcome;
using host::ChildProcess;
using Ending = ChildOutcome::Ending;

// A segmentation fault as the kernel delivers it, even where a sanitizer's
// handler would otherwise catch it first.
void segfault() {
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
}

int reportThen(ChildContext& child, void (*end)()) {
    child.progress().step("processing");
    child.progress().frame(4096);
    end();
    return 0;
}

struct EndingCase {
    const char* name;
    ChildProcess::Body body;
    double timeLimitSeconds;
    Ending ending;
    const char* description;
};

TEST(ChildProcess, SaysHowTheChildEnded) {
    const EndingCase cases[] = {
        {"returns", [](ChildContext&) { return 0; }, -1, Ending::kFinished, "finished"},
        {"returns 3", [](ChildContext&) { return 3; }, -1, Ending::kFinished, "finished with status 3"},
        {"segfaults", [](ChildContext& c) { return reportThen(c, segfault); }, -1,
         Ending::kCrashed, "crashed (SIGSEGV) at frame 4096 (last step: processing)"},
        {"aborts", [](ChildContext& c) { return reportThen(c, [] { std::abort(); }); }, -1, Ending::kCrashed,
         "aborted (SIGABRT) at frame 4096 (last step: processing)"},
        {"exits", [](ChildContext& c) { return reportThen(c, [] { std::exit(0); }); }, -1, Ending::kExitedEarly,
         "exited with status 0 without finishing at frame 4096 (last step: processing)"},
        {"hangs", [](ChildContext& c) { return reportThen(c, [] { for (;;) ::pause(); }); }, 0.2,
         Ending::kTimedOut, "timed out after 0.2 s at frame 4096 (last step: processing)"},
        {"ignores the terminal's signals",
         [](ChildContext&) {
             std::raise(SIGINT);
             std::raise(SIGQUIT);
             return 0;
         },
         -1, Ending::kFinished, "finished"},
    };
    for (const EndingCase& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess child(c.body);
        const ChildOutcome outcome = child.finish(c.timeLimitSeconds);
        EXPECT_EQ(outcome.ending, c.ending);
        EXPECT_EQ(outcome.describe(), c.description);
        EXPECT_EQ(outcome.succeeded(), c.description == std::string("finished"));
        EXPECT_EQ(child.finish().describe(), c.description);  // asked again, the same answer
    }
}

TEST(ChildProcess, ExchangesMessagesAndSharedMemory) {
    ChildProcess child(
        [](ChildContext& c) {
            int frames = 0;
            while (c.receive(&frames, sizeof frames)) {
                auto* samples = static_cast<float*>(c.shared());
                for (int i = 0; i < frames; ++i) samples[i] *= 2.0f;
                if (!c.send(&frames, sizeof frames)) return 1;
            }
            return 0;
        },
        4 * sizeof(float));
    auto* samples = static_cast<float*>(child.shared());
    for (int i = 0; i < 4; ++i) samples[i] = static_cast<float>(i + 1);
    int frames = 3;
    ASSERT_TRUE(child.send(&frames, sizeof frames));
    int done = 0;
    ASSERT_EQ(child.receive(&done, sizeof done, 5.0), ChildProcess::Received::kMessage);
    EXPECT_EQ(done, 3);
    EXPECT_EQ(samples[0], 2.0f);
    EXPECT_EQ(samples[2], 6.0f);
    EXPECT_EQ(samples[3], 4.0f);  // past the frames asked for: untouched
    EXPECT_EQ(child.receive(&done, sizeof done, 0.05), ChildProcess::Received::kTimedOut);
}

TEST(ChildProcess, ReceiveLearnsThatTheChildIsGone) {
    ChildProcess child([](ChildContext&) {
        segfault();
        return 0;
    });
    int message = 0;
    EXPECT_EQ(child.receive(&message, sizeof message, 5.0), ChildProcess::Received::kChildGone);
    EXPECT_EQ(child.finish().describe(), "crashed (SIGSEGV)");
}

TEST(ChildProcess, AnInterruptOfTheParentEndsTheChild) {
    ChildProcess child([](ChildContext&) {
        for (;;) ::pause();
        return 0;
    });
    int message = 0;
    ::kill(::getpid(), SIGTERM);
    EXPECT_EQ(child.receive(&message, sizeof message), ChildProcess::Received::kInterrupted);
    const ChildOutcome outcome = child.finish();
    EXPECT_EQ(outcome.ending, Ending::kInterrupted);
    EXPECT_EQ(outcome.describe(), "was interrupted (SIGTERM)");
}

// A killed process ends at once; the margin is for a loaded machine.
constexpr auto kHelperEndLimit = std::chrono::seconds(10);

// True once the process is gone, or a zombie whoever adopted it has not reaped.
bool endsWithin(pid_t pid, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(in, line);
        const std::size_t nameEnd = line.rfind(')');
        if (line.empty() || nameEnd == std::string::npos || line.compare(nameEnd, 4, ") Z ") == 0) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// What the child forks is in its process group, holds its socket open, and
// ends with it: the parent learns at once that the child is gone, whether
// the child crashed or finished, and nothing it forked is left running.
TEST(ChildProcess, NothingTheChildForkedOutlivesIt) {
    struct Case {
        const char* name;
        void (*end)();
        const char* description;
    };
    const Case cases[] = {
        {"crashes", segfault, "crashed (SIGSEGV)"},
        {"returns", [] {}, "finished"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess child(
            [&](ChildContext& context) {
                const pid_t helper = ::fork();
                if (helper == 0) {
                    for (;;) ::pause();
                }
                *static_cast<pid_t*>(context.shared()) = helper;
                c.end();
                return 0;
            },
            sizeof(pid_t));
        int message = 0;
        EXPECT_EQ(child.receive(&message, sizeof message, 30.0), ChildProcess::Received::kChildGone);
        EXPECT_EQ(child.finish().describe(), c.description);
        const pid_t helper = *static_cast<const pid_t*>(child.shared());
        ASSERT_GT(helper, 0);
        EXPECT_TRUE(endsWithin(helper, kHelperEndLimit)) << "the helper " << helper << " still runs";
    }
}

}  // namespace
