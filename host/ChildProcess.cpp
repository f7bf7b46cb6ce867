#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

#include "PluginHost.h"

namespace host {

namespace {

constexpr std::array<int, 4> kInterruptingSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Without a process descriptor to wait on, a child's end is looked for this often.
constexpr int kChildPollMilliseconds = 5;

// Process-wide, as signal dispositions are.
int watchDepth = 0;
int interruptPipe[2] = {-1, -1};
volatile std::sig_atomic_t pendingInterrupt = 0;
std::array<struct sigaction, kInterruptingSignals.size()> previousActions{};

extern "C" void noteInterrupt(int signal) {
    if (pendingInterrupt == 0) pendingInterrupt = signal;
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(interruptPipe[1], &byte, 1);
    errno = savedErrno;
}

using Clock = std::chrono::steady_clock;

// Milliseconds left before `deadline` for poll(); -1 waits without limit.
int millisecondsUntil(const Clock::time_point* deadline) {
    if (deadline == nullptr) return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left + 1);
}

Clock::time_point deadlineAfter(double seconds) {
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The child's settings: the parent alone answers the terminal's signals, a
// child whose parent died is killed rather than left running, and the child
// leads a process group of its own, so that whatever the plug-in forks can be
// ended with it.
void becomeChild(pid_t parent) {
    for (int signal : {SIGINT, SIGQUIT, SIGHUP}) std::signal(signal, SIG_IGN);
    std::signal(SIGTERM, SIG_DFL);
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
}

std::size_t roundUpToCacheLine(std::size_t bytes) { return (bytes + 63) / 64 * 64; }

}  // namespace

// --- InterruptWatch

InterruptWatch::InterruptWatch() {
    if (watchDepth++ > 0) return;
    if (interruptPipe[0] < 0 && ::pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        watchDepth = 0;
        throw HostError(std::string("cannot watch for interrupts: ") + std::strerror(errno));
    }
    // A new watch starts from no interrupt.
    char drained[64];
    while (::read(interruptPipe[0], drained, sizeof drained) > 0) {
    }
    pendingInterrupt = 0;
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a blocked read in the parent returns
    for (std::size_t i = 0; i < kInterruptingSignals.size(); ++i)
        ::sigaction(kInterruptingSignals[i], &action, &previousActions[i]);
}

InterruptWatch::~InterruptWatch() {
    if (--watchDepth > 0) return;
    for (std::size_t i = 0; i < kInterruptingSignals.size(); ++i)
        ::sigaction(kInterruptingSignals[i], &previousActions[i], nullptr);
}

int InterruptWatch::pendingSignal() { return pendingInterrupt; }

int InterruptWatch::descriptor() { return interruptPipe[0]; }

// --- ChildProgress

void ChildProgress::step(const char* what) {
    std::size_t length = 0;
    while (length + 1 < kStepBytes && what[length] != '\0') ++length;
    std::memcpy(step_, what, length);
    step_[length] = '\0';
}

std::string ChildProgress::lastStep() const {
    return std::string(step_, ::strnlen(step_, kStepBytes));
}

// --- ChildOutcome

void sendStdoutToStderr() {
    std::fflush(stdout);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
}

std::string signalName(int signal) {
    const char* abbreviation = ::sigabbrev_np(signal);
    return abbreviation != nullptr ? std::string("SIG") + abbreviation : "signal " + std::to_string(signal);
}

std::string ChildOutcome::describe() const {
    std::string text;
    switch (ending) {
        case Ending::kFinished:
            return status == 0 ? "finished" : "finished with status " + std::to_string(status);
        case Ending::kExitedEarly: text = "exited with status " + std::to_string(status) + " without finishing"; break;
        case Ending::kCrashed:
            text = (signal == SIGABRT ? "aborted (" : "crashed (") + signalName(signal) + ")";
            break;
        case Ending::kTimedOut: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", timeLimitSeconds);
            text = std::string("timed out after ") + seconds + " s";
            break;
        }
        case Ending::kInterrupted: text = "was interrupted (" + signalName(signal) + ")"; break;
    }
    if (lastFrame >= 0) text += " at frame " + std::to_string(lastFrame);
    if (!lastStep.empty()) text += " (last step: " + lastStep + ")";
    return text;
}

// --- ChildContext

bool ChildContext::send(const void* message, std::size_t bytes) {
    return ::send(socket_, message, bytes, MSG_NOSIGNAL) == static_cast<ssize_t>(bytes);
}

bool ChildContext::receive(void* message, std::size_t bytes) {
    ssize_t received;
    do received = ::recv(socket_, message, bytes, 0);
    while (received < 0 && errno == EINTR);
    return received == static_cast<ssize_t>(bytes);
}

// --- ChildProcess

ChildProcess::ChildProcess(const Body& body, std::size_t sharedBytes) {
    const std::size_t progressBytes = roundUpToCacheLine(sizeof(ChildProgress));
    mappingBytes_ = progressBytes + sharedBytes;
    mapping_ = ::mmap(nullptr, mappingBytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mapping_ == MAP_FAILED) {
        mapping_ = nullptr;
        throw HostError(std::string("cannot share memory with a child process: ") + std::strerror(errno));
    }
    progress_ = new (mapping_) ChildProgress;
    shared_ = sharedBytes > 0 ? static_cast<char*>(mapping_) + progressBytes : nullptr;

    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sockets) != 0) {
        ::munmap(mapping_, mappingBytes_);
        throw HostError(std::string("cannot talk to a child process: ") + std::strerror(errno));
    }
    std::fflush(nullptr);  // or the child would write the parent's buffered output again
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) {
        ::close(sockets[0]);
        ::close(sockets[1]);
        ::munmap(mapping_, mappingBytes_);
        throw HostError(std::string("cannot start a child process: ") + std::strerror(errno));
    }
    if (pid_ == 0) {
        ::close(sockets[0]);
        becomeChild(parent);
        ChildContext context(progress_, shared_, sockets[1]);
        int status = 1;
        try {
            status = body(context);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
        } catch (...) {
        }
        progress_->bodyReturned_.store(true);
        std::fflush(nullptr);
        ::_exit(status & 0xff);
    }
    ::close(sockets[1]);
    socket_ = sockets[0];
    // Set on both sides, so that the group exists before either goes on.
    ::setpgid(pid_, pid_);
    pidDescriptor_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
}

ChildProcess::~ChildProcess() {
    if (!ended_) killAndReap(ChildOutcome::Ending::kInterrupted, SIGKILL, 0);
    if (socket_ >= 0) ::close(socket_);
    if (pidDescriptor_ >= 0) ::close(pidDescriptor_);
    ::munmap(mapping_, mappingBytes_);
}

// The child is not reaped here: while it is a zombie its process group
// cannot be taken over by a new process.
bool ChildProcess::ended() const {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_;
}

// Milliseconds to wait for a child's end in one poll: without a process
// descriptor, its end is looked for every few milliseconds.
int ChildProcess::pollMilliseconds(int waitMilliseconds) const {
    if (pidDescriptor_ >= 0) return waitMilliseconds;
    return waitMilliseconds < 0 || waitMilliseconds > kChildPollMilliseconds ? kChildPollMilliseconds
                                                                             : waitMilliseconds;
}

// Whatever the plug-in forked lives in the child's process group (unless it
// left it on purpose) and would keep the child's socket, pipes and files
// open: it ends with the child.
void ChildProcess::killGroup() {
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
}

bool ChildProcess::send(const void* message, std::size_t bytes) {
    return ::send(socket_, message, bytes, MSG_NOSIGNAL) == static_cast<ssize_t>(bytes);
}

ChildProcess::Received ChildProcess::receive(void* message, std::size_t bytes, double timeoutSeconds) {
    const Clock::time_point deadline = deadlineAfter(timeoutSeconds < 0 ? 0 : timeoutSeconds);
    const Clock::time_point* limit = timeoutSeconds < 0 ? nullptr : &deadline;
    // A process the plug-in forked may hold the child's end of the socket
    // open, so the socket alone does not tell that the child is gone.
    for (;;) {
        if (InterruptWatch::pendingSignal() != 0) return Received::kInterrupted;
        pollfd waits[3] = {{socket_, POLLIN, 0}, {InterruptWatch::descriptor(), POLLIN, 0}, {pidDescriptor_, POLLIN, 0}};
        ::poll(waits, pidDescriptor_ >= 0 ? 3 : 2, pollMilliseconds(millisecondsUntil(limit)));
        if (InterruptWatch::pendingSignal() != 0) return Received::kInterrupted;
        const ssize_t received = ::recv(socket_, message, bytes, MSG_DONTWAIT);
        if (received >= 0 || (errno != EINTR && errno != EAGAIN))
            return received == static_cast<ssize_t>(bytes) ? Received::kMessage : Received::kChildGone;
        if (ended()) return Received::kChildGone;
        if (limit != nullptr && Clock::now() >= deadline) return Received::kTimedOut;
    }
}

ChildOutcome ChildProcess::finish(double timeLimitSeconds) {
    if (ended_) return outcome_;
    const Clock::time_point deadline = deadlineAfter(timeLimitSeconds < 0 ? 0 : timeLimitSeconds);
    const Clock::time_point* limit = timeLimitSeconds < 0 ? nullptr : &deadline;
    for (;;) {
        if (ended()) {
            killGroup();
            int waitStatus = 0;
            while (::waitpid(pid_, &waitStatus, 0) < 0 && errno == EINTR) {
            }
            return reap(waitStatus);
        }
        ChildOutcome::Ending stop = ChildOutcome::Ending::kFinished;
        if (InterruptWatch::pendingSignal() != 0) stop = ChildOutcome::Ending::kInterrupted;
        else if (limit != nullptr && Clock::now() >= deadline) stop = ChildOutcome::Ending::kTimedOut;
        if (stop != ChildOutcome::Ending::kFinished)
            return killAndReap(stop, InterruptWatch::pendingSignal(), timeLimitSeconds);
        pollfd waits[2] = {{InterruptWatch::descriptor(), POLLIN, 0}, {pidDescriptor_, POLLIN, 0}};
        ::poll(waits, pidDescriptor_ >= 0 ? 2 : 1, pollMilliseconds(millisecondsUntil(limit)));
    }
}

ChildOutcome ChildProcess::reap(int waitStatus) {
    ended_ = true;
    outcome_.lastStep = progress_->lastStep();
    outcome_.lastFrame = progress_->lastFrame();
    if (WIFSIGNALED(waitStatus)) {
        // A signal sent to the whole process group ends the child too; that
        // is the user's interrupt, not the plug-in's crash.
        const int interrupt = InterruptWatch::pendingSignal();
        outcome_.ending = interrupt != 0 ? ChildOutcome::Ending::kInterrupted : ChildOutcome::Ending::kCrashed;
        outcome_.signal = interrupt != 0 ? interrupt : WTERMSIG(waitStatus);
    } else {
        outcome_.status = WEXITSTATUS(waitStatus);
        outcome_.ending = progress_->bodyReturned_.load() ? ChildOutcome::Ending::kFinished
                                                          : ChildOutcome::Ending::kExitedEarly;
    }
    return outcome_;
}

// A child that ended on its own before the kill keeps its own ending.
ChildOutcome ChildProcess::killAndReap(ChildOutcome::Ending why, int signal, double timeLimitSeconds) {
    killGroup();
    int waitStatus = 0;
    while (::waitpid(pid_, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    reap(waitStatus);
    if (WIFSIGNALED(waitStatus) && WTERMSIG(waitStatus) == SIGKILL) {
        outcome_.ending = why;
        outcome_.signal = signal;
        outcome_.timeLimitSeconds = timeLimitSeconds;
    }
    return outcome_;
}

}  // namespace host
