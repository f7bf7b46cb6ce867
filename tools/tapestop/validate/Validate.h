// `tapestop validate PLUGIN.so [--strictness N] [--json] [--only NAME,...]
// [--seed S] [--time-limit SECONDS] [--keep-going]`: runs the checks of allChecks() on any
// VST 2.4 plug-in, each in a child process of its own, and reports them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Check.h"

namespace tapestop::validate {

struct Options {
    Settings settings;
    bool json = false;
    std::vector<std::string> only;  // empty: every check up to the strictness
};

// Nothing when --help was asked for; throws tapestop::UsageError for a
// command line that cannot be carried out.
std::optional<Options> parseOptions(int argc, char** argv);

// What the plug-in says it is, read in a child process of its own.
struct Identity {
    bool known = false;
    std::string name, vendor, product, uniqueId;
    int version = 0, inputs = 0, outputs = 0, parameters = 0, programs = 0;
};

struct CheckReport {
    std::string name;
    int strictness = 0;
    Result result = Result::kSkip;
    std::string detail;
    double seconds = 0.0;
    bool hungInProcessing = false;  // timed out while the plug-in was processing
};

struct Report {
    Settings settings;
    Identity identity;
    std::vector<CheckReport> checks;  // every check, skipped ones included
    int interruptedBy = 0;            // the signal that interrupted the run, or 0
    int count(Result result) const;
    bool failed() const { return count(Result::kFail) > 0; }
};

Report validate(const Options& options);
std::string formatText(const Report& report);
std::string formatJson(const Report& report);

// The whole command: answers the exit status (0 nothing failed, 1 something
// did, 128 + N when signal N interrupted it).
int runCommand(int argc, char** argv);

}  // namespace tapestop::validate
