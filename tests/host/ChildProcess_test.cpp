// A child process's ending, as the parent learns it: each way a plug-in can
// end the process that drives it, with the progress it reported first.
#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

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

}  // namespace
