// One check of `tapestop validate`: its name, the strictness from which it
// runs, and the function that runs it in a child process of its own. A check
// reports what it saw through its CheckContext: notes (information), warnings
// and failures; its result is the worst of them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace tapestop::validate {

enum class Result { kPass, kWarn, kFail, kSkip };

const char* resultName(Result result);

struct Settings {
    std::string pluginPath;
    int strictness = 5;
    std::uint32_t seed = 1;
    double timeLimitSeconds = 60.0;  // per check
    bool keepGoing = false;          // run the checks that process even after the plug-in hung in processing
};

constexpr int kMinStrictness = 1;
constexpr int kMaxStrictness = 10;

// What a check writes while it runs. Lives in memory shared with the parent,
// so the parent reads it even when the child dies; plain characters only.
struct CheckRecord {
    static constexpr std::size_t kDetailChars = 3000;
    Result result;
    std::atomic<int> processingCalls;  // calls of processReplacing under way
    char detail[kDetailChars];
};

class CheckContext {
public:
    CheckContext(const Settings& settings, CheckRecord& record, host::ChildProgress& progress)
        : settings_(settings), record_(record), progress_(progress) {}

    const Settings& settings() const { return settings_; }
    int strictness() const { return settings_.strictness; }
    // Picks the amount of work for this run: `low` at strictness 1 up to
    // `high` at 10, in between proportionally.
    int scaled(int low, int high) const;

    // Where the check is; a crash or hang is reported with the last step.
    void step(const std::string& what) { progress_.step(what.c_str()); }
    void note(const std::string& text);
    void warn(const std::string& text);
    void fail(const std::string& text);
    // A failure from `strictness` on, a warning below it.
    void failFrom(int strictness, const std::string& text);

    Result result() const { return record_.result; }

private:
    void add(Result level, const std::string& text);

    const Settings& settings_;
    CheckRecord& record_;
    host::ChildProgress& progress_;
};

using CheckFunction = void (*)(CheckContext&);

struct Check {
    const char* name;
    int strictness;  // the lowest strictness that runs it
    bool processes;  // it runs audio through the plug-in
    CheckFunction run;
};

// Every check, in the order they run.
const std::vector<Check>& allChecks();

}  // namespace tapestop::validate
