#include "Batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "AudioFile.h"
#include "ChildProcess.h"
#include "CommandLine.h"
#include "Info.h"
#include "JsonReader.h"
#include "JsonWriter.h"
#include "Options.h"
#include "Render.h"

namespace tapestop {

namespace {

using Clock = std::chrono::steady_clock;

// --- Jobs: JSON objects turned into the render command's own arguments, so
// that a job means what the same command line means.

constexpr const char* kJobFields = "input, output, plugin, set, at, tempo, meter, block, format";

std::string scalarText(const JsonValue& value, const std::string& field) {
    if (value.kind == JsonValue::Kind::kString || value.kind == JsonValue::Kind::kNumber) return value.text;
    throw UsageError("field '" + field + "' takes a text or a number");
}

std::vector<std::string> renderArguments(const JsonValue& job) {
    if (job.kind != JsonValue::Kind::kObject) throw UsageError("a job is a JSON object");
    std::vector<std::string> arguments{"tapestop", "render"};
    std::string input, output;
    for (const auto& [field, value] : job.members) {
        if (field == "input") {
            input = scalarText(value, field);
        } else if (field == "output") {
            output = scalarText(value, field);
        } else if (field == "plugin" || field == "tempo" || field == "meter" || field == "block" || field == "format") {
            arguments.insert(arguments.end(), {"--" + field, scalarText(value, field)});
        } else if (field == "set" && value.kind == JsonValue::Kind::kObject) {
            for (const auto& [name, setting] : value.members)
                arguments.insert(arguments.end(), {"--set", name + "=" + scalarText(setting, "set")});
        } else if (field == "at" && value.kind == JsonValue::Kind::kArray) {
            for (const JsonValue& event : value.items) {
                if (event.kind != JsonValue::Kind::kArray || event.items.size() != 2)
                    throw UsageError("each entry of 'at' is a pair [TIME, \"NAME=VALUE\"], e.g. [\"1.5s\", \"Trigger=1\"]");
                arguments.insert(arguments.end(),
                                 {"--at", scalarText(event.items[0], "at"), scalarText(event.items[1], "at")});
            }
        } else if (field == "set" || field == "at") {
            throw UsageError(field == "set" ? "field 'set' is an object of NAME: VALUE"
                                            : "field 'at' is a list of [TIME, \"NAME=VALUE\"] pairs");
        } else {
            throw UsageError("unknown field '" + field + "'; a job has " + kJobFields);
        }
    }
    if (input.empty() || output.empty()) throw UsageError("a job needs an 'input' and an 'output'");
    arguments.insert(arguments.end(), {"--", input, output});
    return arguments;
}

RenderOptions renderOptionsOf(const JsonValue& job, bool force) {
    std::vector<std::string> arguments = renderArguments(job);
    if (force) arguments.insert(arguments.begin() + 2, "--force");
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    const Command command = parseCommandLine(static_cast<int>(argv.size()), argv.data());
    return std::get<RenderOptions>(command);
}

// The frames a file really holds: a compressed file cut short may still
// announce every frame in its header.
std::int64_t framesReadable(AudioReader& reader) {
    constexpr std::int64_t kReadFrames = 65536;
    std::vector<float> samples(static_cast<std::size_t>(kReadFrames * reader.channels()));
    std::int64_t frames = 0;
    for (std::int64_t read; (read = reader.read(samples.data(), kReadFrames)) > 0;) frames += read;
    return frames;
}

// An output is complete when it reads as audio with as many frames as the
// input and is not older than it: renders give an output its name only once
// every frame is written, so a newer output of the right length is done.
bool outputIsComplete(const RenderOptions& options) {
    struct stat inputStatus {}, outputStatus {};
    if (::stat(options.inputPath.c_str(), &inputStatus) != 0 || ::stat(options.outputPath.c_str(), &outputStatus) != 0)
        return false;
    if (outputStatus.st_mtim.tv_sec < inputStatus.st_mtim.tv_sec ||
        (outputStatus.st_mtim.tv_sec == inputStatus.st_mtim.tv_sec &&
         outputStatus.st_mtim.tv_nsec < inputStatus.st_mtim.tv_nsec))
        return false;
    try {
        const AudioReader input(options.inputPath);
        AudioReader output(options.outputPath);
        if (output.sampleRateHz() != input.sampleRateHz()) return false;
        return input.length().frames >= 0 && framesReadable(output) == input.length().frames;
    } catch (const std::exception&) {
        return false;
    }
}

// --- Workers: one forked process per running job; the result comes back
// in shared memory, one slot per worker.

struct WorkerSlot {
    enum class Outcome : int { kNone, kRendered, kFailed };
    Outcome outcome = Outcome::kNone;
    std::int64_t frames = 0;
    float peak = 0.0f;
    char error[2048] = {};
    char warnings[4096] = {};  // one per line
};

void copyText(char* to, std::size_t capacity, const std::string& text) {
    std::snprintf(to, capacity, "%s", text.c_str());
}

[[noreturn]] void workerMain(const RenderOptions& options, WorkerSlot& slot, pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    // Several renders share the terminal: their own progress lines stay off.
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) ::dup2(devNull, STDERR_FILENO);
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        const RenderSummary summary = render(options);
        slot.frames = summary.counts.frames;
        slot.peak = summary.counts.levels.peak;
        std::string warnings;
        for (const std::string& warning : summary.warnings) warnings += warning + "\n";
        copyText(slot.warnings, sizeof slot.warnings, warnings);
        slot.outcome = WorkerSlot::Outcome::kRendered;
    } catch (const std::exception& error) {
        copyText(slot.error, sizeof slot.error, error.what());
        slot.outcome = WorkerSlot::Outcome::kFailed;
    }
    ::_exit(0);
}

std::vector<std::string> linesOf(const char* text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string describeWaitStatus(int status) {
    if (WIFSIGNALED(status)) return "the job's process was ended by " + host::signalName(WTERMSIG(status));
    return "the job's process exited with status " + std::to_string(WEXITSTATUS(status)) + " without a result";
}

// The bar on stderr, drawn only on a terminal.
class BatchProgress {
public:
    BatchProgress(std::size_t total, bool wanted) : total_(total), enabled_(wanted && ::isatty(STDERR_FILENO) == 1) {}

    void update(std::size_t done, std::size_t failed, std::size_t running) {
        if (!enabled_) return;
        constexpr int kBarWidth = 30;
        const int filled = total_ == 0 ? kBarWidth : static_cast<int>(kBarWidth * done / total_);
        std::fprintf(stderr, "\r[%s%s] %zu/%zu jobs, %zu running, %zu failed\033[K", std::string(filled, '#').c_str(),
                     std::string(kBarWidth - filled, '.').c_str(), done, total_, running, failed);
        std::fflush(stderr);
    }
    void finish() {
        if (!enabled_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
    }

private:
    std::size_t total_;
    bool enabled_;
};

struct RunningJob {
    std::size_t job = 0;
    std::size_t slot = 0;
    int processDescriptor = -1;
    Clock::time_point started;
};

class SharedSlots {
public:
    explicit SharedSlots(std::size_t count) : bytes_(std::max<std::size_t>(count, 1) * sizeof(WorkerSlot)) {
        memory_ = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (memory_ == MAP_FAILED) throw std::runtime_error(std::string("cannot share memory: ") + std::strerror(errno));
    }
    ~SharedSlots() { ::munmap(memory_, bytes_); }
    SharedSlots(const SharedSlots&) = delete;
    SharedSlots& operator=(const SharedSlots&) = delete;
    WorkerSlot& operator[](std::size_t i) { return static_cast<WorkerSlot*>(memory_)[i]; }

private:
    std::size_t bytes_;
    void* memory_;
};

// Runs the renders, `workers` at a time. The parent only forks, waits and
// collects; it waits for its own children alone, by their ids, so that a
// caller's other children (Python's subprocesses) are left to it.
class Scheduler {
public:
    Scheduler(std::vector<RenderOptions> options, std::vector<JobResult>& results, std::size_t workers,
              BatchProgress& progress)
        : options_(std::move(options)), results_(results), workers_(workers), slots_(workers), progress_(progress) {
        for (std::size_t s = 0; s < workers; ++s) freeSlots_.push_back(s);
    }

    void run(const std::vector<std::size_t>& toRender) {
        const host::InterruptWatch interrupts;
        std::size_t next = 0;
        while (next < toRender.size() || !running_.empty()) {
            while (next < toRender.size() && running_.size() < workers_) start(toRender[next++]);
            progress_.update(done_, failed_, running_.size());
            waitForAny();
            if (const int signal = host::InterruptWatch::pendingSignal(); signal != 0) {
                stopAll();
                throw Interrupted(signal);
            }
        }
    }

    std::size_t done() const { return done_; }
    std::size_t failed() const { return failed_; }
    void countEarlier(std::size_t done, std::size_t failed) {
        done_ += done;
        failed_ += failed;
    }

private:
    void start(std::size_t job) {
        const std::size_t slot = freeSlots_.back();
        freeSlots_.pop_back();
        slots_[slot] = WorkerSlot{};
        std::fflush(nullptr);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid < 0) {
            freeSlots_.push_back(slot);
            fail(job, std::string("cannot start a process for the job: ") + std::strerror(errno));
            return;
        }
        if (pid == 0) workerMain(options_[job], slots_[slot], parent);
        const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        running_[pid] = RunningJob{job, slot, descriptor, Clock::now()};
    }

    void fail(std::size_t job, const std::string& error) {
        results_[job].status = JobResult::Status::kFailed;
        results_[job].error = error;
        ++failed_;
        ++done_;
    }

    // Reaps every finished worker; waits (on the workers' process
    // descriptors, or briefly where there are none) when none has finished.
    void waitForAny() {
        constexpr int kPollMilliseconds = 20;
        bool reaped = false;
        for (auto it = running_.begin(); it != running_.end();) {
            int status = 0;
            if (::waitpid(it->first, &status, WNOHANG) != it->first) {
                ++it;
                continue;
            }
            collect(it->second, status);
            it = running_.erase(it);
            reaped = true;
        }
        if (reaped || running_.empty()) return;
        std::vector<pollfd> waits{{host::InterruptWatch::descriptor(), POLLIN, 0}};
        bool everyDescriptor = true;
        for (const auto& [pid, job] : running_) {
            if (job.processDescriptor >= 0) waits.push_back({job.processDescriptor, POLLIN, 0});
            else everyDescriptor = false;
        }
        ::poll(waits.data(), waits.size(), everyDescriptor ? -1 : kPollMilliseconds);
    }

    void collect(const RunningJob& running, int status) {
        if (running.processDescriptor >= 0) ::close(running.processDescriptor);
        JobResult& result = results_[running.job];
        const WorkerSlot& slot = slots_[running.slot];
        result.seconds = std::chrono::duration<double>(Clock::now() - running.started).count();
        freeSlots_.push_back(running.slot);
        if (slot.outcome == WorkerSlot::Outcome::kRendered) {
            result.status = JobResult::Status::kRendered;
            result.frames = slot.frames;
            result.peak = slot.peak;
            result.warnings = linesOf(slot.warnings);
            ++done_;
            return;
        }
        fail(running.job, slot.outcome == WorkerSlot::Outcome::kFailed
                              ? std::string(slot.error, ::strnlen(slot.error, sizeof slot.error))
                              : describeWaitStatus(status));
    }

    void stopAll() {
        for (const auto& [pid, job] : running_) ::kill(pid, SIGKILL);
        for (const auto& [pid, job] : running_) {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (job.processDescriptor >= 0) ::close(job.processDescriptor);
        }
        running_.clear();
    }

    std::vector<RenderOptions> options_;
    std::vector<JobResult>& results_;
    std::size_t workers_;
    SharedSlots slots_;
    BatchProgress& progress_;
    std::vector<std::size_t> freeSlots_;
    std::map<pid_t, RunningJob> running_;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
};

std::size_t workerCount(int workers) {
    if (workers > 0) return static_cast<std::size_t>(workers);
    return std::max(1u, std::thread::hardware_concurrency());
}

const char* statusName(JobResult::Status status) {
    switch (status) {
        case JobResult::Status::kRendered: return "rendered";
        case JobResult::Status::kSkipped: return "skipped";
        case JobResult::Status::kFailed: return "failed";
    }
    return "failed";
}

constexpr int kExitFailure = 1;
// Seconds and levels in the report: six digits, more than a reader needs.
constexpr int kReportDigits = 6;

}  // namespace

std::vector<JobResult> runBatch(const std::string& jobsJson, int workers, bool force, bool progress) {
    JsonValue jobs;
    try {
        jobs = parseJson(jobsJson);
    } catch (const JsonError& error) {
        throw UsageError(error.what());
    }
    if (jobs.kind != JsonValue::Kind::kArray) throw UsageError("the jobs are a JSON list of objects");
    std::vector<JobResult> results(jobs.items.size());
    std::vector<RenderOptions> options(jobs.items.size());
    std::vector<std::size_t> toRender;
    std::size_t skipped = 0, failed = 0;
    for (std::size_t i = 0; i < jobs.items.size(); ++i) {
        const JsonValue& job = jobs.items[i];
        if (const JsonValue* input = job.member("input")) results[i].input = input->text;
        if (const JsonValue* output = job.member("output")) results[i].output = output->text;
        try {
            options[i] = renderOptionsOf(job, force);
        } catch (const UsageError& error) {
            results[i].error = std::string(error.what());
            ++failed;
            continue;
        }
        if (!force && outputIsComplete(options[i])) {
            results[i].status = JobResult::Status::kSkipped;
            ++skipped;
            continue;
        }
        toRender.push_back(i);
    }
    BatchProgress shown(jobs.items.size(), progress);
    Scheduler scheduler(std::move(options), results, std::min(workerCount(workers), std::max<std::size_t>(toRender.size(), 1)),
                        shown);
    scheduler.countEarlier(skipped + failed, failed);
    scheduler.run(toRender);
    shown.finish();
    return results;
}

std::string batchReportJson(const std::vector<JobResult>& results, double seconds) {
    std::map<JobResult::Status, std::size_t> counts;
    std::string entries;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const JobResult& result = results[i];
        ++counts[result.status];
        std::string warnings;
        for (const std::string& warning : result.warnings) warnings += (warnings.empty() ? "" : ", ") + jsonString(warning);
        entries += std::string(i == 0 ? "" : ",\n") + "    {\"job\": " + std::to_string(i) +
                   ", \"status\": \"" + statusName(result.status) + "\", \"input\": " + jsonString(result.input) +
                   ", \"output\": " + jsonString(result.output) + ", \"seconds\": " + jsonNumber(result.seconds, kReportDigits) +
                   ", \"frames\": " + std::to_string(result.frames) +
                   ", \"peak\": " + jsonNumber(result.peak, kReportDigits) +
                   ", \"peak_dbfs\": " + jsonNumber(20.0 * std::log10(static_cast<double>(result.peak)), kReportDigits) +
                   ", \"warnings\": [" + warnings + "], \"error\": " +
                   (result.status == JobResult::Status::kFailed ? jsonString(result.error) : "null") + "}";
    }
    return "{\n  \"jobs\": [\n" + entries + "\n  ],\n  \"rendered\": " +
           std::to_string(counts[JobResult::Status::kRendered]) + ",\n  \"skipped\": " +
           std::to_string(counts[JobResult::Status::kSkipped]) + ",\n  \"failed\": " +
           std::to_string(counts[JobResult::Status::kFailed]) + ",\n  \"seconds\": " + jsonNumber(seconds, kReportDigits) + "\n}\n";
}

std::string runBatchJson(const std::string& jobsJson, int workers, bool force, bool progress) {
    const auto started = Clock::now();
    const std::vector<JobResult> results = runBatch(jobsJson, workers, force, progress);
    return batchReportJson(results, std::chrono::duration<double>(Clock::now() - started).count());
}

namespace {

struct BatchCommand {
    std::string jobsPath;
    int workers = 0;
    bool force = false;
    bool help = false;
    std::string reportPath;
};

constexpr int kMaxWorkers = 1024;

BatchCommand parseBatchCommand(int argc, char** argv) {
    BatchCommand command;
    // -j and --jobs are one option: either may be given, once.
    const auto takeJobCount = [&](const std::string& text) {
        if (command.workers != 0) throw UsageError("option -j/--jobs is given twice; give it once");
        const std::optional<long long> count = wholeNumber(text, 1, kMaxWorkers);
        if (!count)
            throw UsageError("bad job count '" + text + "': give a whole number from 1 to " + std::to_string(kMaxWorkers));
        command.workers = static_cast<int>(*count);
    };
    const std::vector<OptionRule> rules{
        {"-j", false, [&](auto value) { takeJobCount(value()); }},
        {"--jobs", false, [&](auto value) { takeJobCount(value()); }},
        {"--force", false, [&](auto) { command.force = true; }},
        {"--report", false, [&](auto value) { command.reportPath = value(); }},
    };
    const ParsedArguments parsed = parseArguments(std::vector<std::string>(argv, argv + argc), rules);
    command.help = parsed.helpAsked;
    if (command.help) return command;
    expectPositional(parsed.positional, 1, "jobs file (a JSON list of render jobs)");
    command.jobsPath = parsed.positional[0];
    return command;
}

constexpr const char* kBatchUsage = R"(Usage: tapestop batch JOBS.json [-j N] [--force] [--report FILE.json]

Renders every job of JOBS.json, a JSON list of objects with the render
command's meaning and value syntax, N at a time (default: one per core):
  {"input": "in.wav", "output": "out.wav", "plugin": "x.so",
   "set": {"Speed": "0.3"}, "at": [["1.5s", "Trigger=1"], ["2s", "note-on=60"]],
   "tempo": 120, "meter": "4/4", "block": 512, "format": "float"}
Only input and output are needed; without plugin, the Tarvo TapeStop renders.
A job whose output exists, is not older than its input and has as many frames
is skipped unless --force (which also replaces read-only outputs). A failing
job does not stop the others; the exit status is 1 when any job failed.
  --report FILE.json   one entry per job: status, seconds, peak, warnings
)";

}  // namespace

int runBatchCommand(int argc, char** argv) {
    const BatchCommand command = parseBatchCommand(argc, argv);
    if (command.help) {
        std::cout << kBatchUsage;
        return 0;
    }
    std::ifstream file(command.jobsPath, std::ios::binary);
    if (!file) throw UsageError("cannot read jobs file '" + command.jobsPath + "': " + std::strerror(errno));
    std::stringstream text;
    text << file.rdbuf();
    std::signal(SIGXFSZ, SIG_IGN);
    const auto started = Clock::now();
    const std::vector<JobResult> results = runBatch(text.str(), command.workers, command.force, true);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::size_t counts[3] = {};
    for (std::size_t i = 0; i < results.size(); ++i) {
        const JobResult& result = results[i];
        ++counts[static_cast<int>(result.status)];
        for (const std::string& warning : result.warnings)
            std::cerr << "tapestop: job " << i << " (" << result.output << "): warning: " << warning << "\n";
        if (result.status == JobResult::Status::kFailed)
            std::cerr << "tapestop: job " << i << " (" << result.input << " -> " << result.output
                      << ") failed: " << result.error << "\n";
    }
    if (!command.reportPath.empty()) {
        std::ofstream report(command.reportPath, std::ios::binary | std::ios::trunc);
        report << batchReportJson(results, seconds);
        if (!report.flush()) throw std::runtime_error("cannot write report '" + command.reportPath + "'");
    }
    char summary[160];
    std::snprintf(summary, sizeof summary, "%zu jobs: %zu rendered, %zu skipped, %zu failed in %.1f s\n", results.size(),
                  counts[0], counts[1], counts[2], seconds);
    std::cout << summary;
    return counts[2] > 0 ? kExitFailure : 0;
}

}  // namespace tapestop
