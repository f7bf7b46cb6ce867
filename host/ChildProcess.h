// Running a plug-in where its failure cannot take the caller down: the work
// that loads and drives the plug-in runs in a forked child process, and the
// parent learns how it ended — finished, crashed, aborted, exited early, hung
// past a time limit, or cut short because the user interrupted the parent.
//
// The child writes its progress (the last step it began, the last frame it
// reached) into memory shared with the parent, so the parent can say where a
// crash happened. A caller that moves data between the two sides gets a
// block of shared memory of its chosen size and a message channel.
//
// The child leads a process group of its own; when it ends, or is killed,
// every process left in that group (whatever the plug-in forked) is killed
// with it, so nothing of the plug-in's outlives the child.
//
// Interrupts: while an InterruptWatch lives, SIGINT, SIGTERM, SIGHUP and
// SIGQUIT do not end the parent; they are noted, every wait of a
// ChildProcess returns at once, and the child is killed. The child ignores
// the terminal's SIGINT, SIGQUIT and SIGHUP (the parent decides), and is
// killed when the parent dies.
//
// Thread context: the parent side is meant for a single-threaded caller
// (fork copies only the calling thread).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace host {

// While one lives, the four interrupting signals are noted instead of ending
// the process. Watches nest; the previous handlers return with the last one.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // The first interrupting signal noted since the outermost watch began, or 0.
    static int pendingSignal();
    // A descriptor that becomes readable when a signal is noted, for poll().
    static int descriptor();
};

// The child's progress, in memory both sides see. The child writes; the
// parent reads the frame at any time and the step once the child has ended.
class ChildProgress {
public:
    static constexpr std::size_t kStepBytes = 120;

    // Begins a named step ("processing", "closing"); cut to kStepBytes - 1.
    void step(const char* what);
    void frame(std::int64_t frame) { frame_.store(frame, std::memory_order_relaxed); }

    std::string lastStep() const;
    std::int64_t lastFrame() const { return frame_.load(std::memory_order_relaxed); }  // -1 before any

private:
    friend class ChildProcess;
    std::atomic<std::int64_t> frame_{-1};
    std::atomic<bool> bodyReturned_{false};
    char step_[kStepBytes] = {};
};

// How a child ended.
struct ChildOutcome {
    enum class Ending {
        kFinished,     // the body returned; status is its return value
        kExitedEarly,  // the child called exit itself before the body returned
        kCrashed,      // a signal ended it (SIGSEGV, SIGABRT, ...)
        kTimedOut,     // it ran past its time limit and was killed
        kInterrupted,  // the parent was interrupted and killed it
    };

    Ending ending = Ending::kFinished;
    int status = 0;               // the body's return value, or the early exit status
    int signal = 0;               // the signal that ended it, or that interrupted the parent
    double timeLimitSeconds = 0;  // with kTimedOut
    std::string lastStep;         // the last step the child began, may be empty
    std::int64_t lastFrame = -1;  // the last frame it reported, -1 for none

    bool succeeded() const { return ending == Ending::kFinished && status == 0; }
    // "crashed (SIGSEGV) at frame 4096 while processing", "aborted (SIGABRT)",
    // "exited with status 0 without finishing", "timed out after 5 s",
    // "was interrupted (SIGINT)"; "finished" for a finished child.
    std::string describe() const;
};

// The child's side: what the body is handed.
class ChildContext {
public:
    ChildProgress& progress() { return *progress_; }
    void* shared() { return shared_; }
    // Blocking message exchange with the parent; false once the parent is gone.
    bool send(const void* message, std::size_t bytes);
    bool receive(void* message, std::size_t bytes);

private:
    friend class ChildProcess;
    ChildContext(ChildProgress* progress, void* shared, int socket)
        : progress_(progress), shared_(shared), socket_(socket) {}
    ChildProgress* progress_;
    void* shared_;
    int socket_;
};

// One forked child running one body. Destroying it kills and reaps a child
// still running.
class ChildProcess {
public:
    using Body = std::function<int(ChildContext&)>;

    // Forks at once; throws HostError when the child cannot be made.
    // sharedBytes of zero-filled memory are shared by both sides.
    explicit ChildProcess(const Body& body, std::size_t sharedBytes = 0);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    void* shared() { return shared_; }
    const ChildProgress& progress() const { return *progress_; }

    // False once the child is gone.
    bool send(const void* message, std::size_t bytes);
    enum class Received { kMessage, kChildGone, kTimedOut, kInterrupted };
    // Waits for one message of exactly `bytes` bytes; a negative timeout waits
    // without limit.
    Received receive(void* message, std::size_t bytes, double timeoutSeconds = -1.0);

    // Waits for the child to end, killing it when the time limit passes (a
    // negative limit waits without one) or an interrupt arrives, and says how
    // it ended. Later calls answer the same.
    ChildOutcome finish(double timeLimitSeconds = -1.0);

private:
    bool ended() const;
    int pollMilliseconds(int waitMilliseconds) const;
    void killGroup();
    ChildOutcome reap(int waitStatus);
    ChildOutcome killAndReap(ChildOutcome::Ending why, int signal, double timeLimitSeconds);

    InterruptWatch watch_;
    pid_t pid_ = -1;
    int socket_ = -1;
    int pidDescriptor_ = -1;  // readable once the child has ended; -1 where the kernel has none
    void* mapping_ = nullptr;
    std::size_t mappingBytes_ = 0;
    ChildProgress* progress_ = nullptr;
    void* shared_ = nullptr;
    bool ended_ = false;
    ChildOutcome outcome_;
};

// How long a child whose work is all handed over gets to close and unload the
// plug-in before it is killed.
constexpr double kClosingSeconds = 5.0;

// In a child: what the plug-in prints on stdout goes to stderr, so that the
// parent's report on stdout stays clean.
void sendStdoutToStderr();

// "SIGSEGV" for 11; "signal N" for one without a name.
std::string signalName(int signal);

}  // namespace host
