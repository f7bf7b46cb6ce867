// `tapestop batch JOBS.json [-j N] [--force] [--report FILE.json]`: renders
// a list of jobs, each a JSON object with the render command's meaning
// ({"input": ..., "output": ..., "plugin": ..., "set": {...}, "at": [...],
// "tempo": ..., "meter": ..., "block": ..., "format": ...}), N at a time.
// Every job runs in a process of its own and renders as `tapestop render`
// does (the plug-in isolated in a child of that process), so a failing job
// cannot stop the others. A job whose output exists and is complete is
// skipped unless forced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tapestop {

// What became of one job, for the report.
struct JobResult {
    enum class Status { kRendered, kSkipped, kFailed };
    Status status = Status::kFailed;
    std::string input, output;
    double seconds = 0.0;  // wall time of the job's render
    std::int64_t frames = 0;
    float peak = 0.0f;  // largest finite magnitude put out
    std::vector<std::string> warnings;
    std::string error;
};

// Renders the jobs of a JSON list, `workers` at a time (0: one per core),
// with a progress bar on a terminal when `progress` is set. Throws
// UsageError for text that is no list of jobs; a single bad job fails alone.
std::vector<JobResult> runBatch(const std::string& jobsJson, int workers, bool force, bool progress);

// The report: one entry per job, in the jobs' order, and the counts.
std::string batchReportJson(const std::vector<JobResult>& results, double seconds);

// runBatch, answered as the report's JSON (for the Python module).
std::string runBatchJson(const std::string& jobsJson, int workers, bool force, bool progress);

// The whole command: answers the exit status (0 every job rendered or was
// skipped, 1 some job failed).
int runBatchCommand(int argc, char** argv);

}  // namespace tapestop
