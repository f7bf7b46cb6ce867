#include "Validate.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <sstream>

#include "ChildProcess.h"
#include "Checks.h"
#include "Info.h"
#include "JsonWriter.h"
#include "Options.h"
#include "PluginHost.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

constexpr int kDefaultStrictness = 5;
constexpr int kExitSignalBase = 128;  // as a shell reports a command ended by a signal

// The check names of --only NAME,...; an empty name (",,") is a mistake.
std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text + ",");
    for (std::string name; std::getline(in, name, ',');) {
        if (name.empty()) throw UsageError("bad value '" + text + "' for --only: give check names separated by commas");
        names.push_back(name);
    }
    return names;
}

bool known(const std::string& name) {
    const auto& checks = allChecks();
    return std::any_of(checks.begin(), checks.end(), [&](const Check& check) { return name == check.name; });
}

bool selected(const Options& options, const Check& check) {
    if (options.only.empty()) return check.strictness <= options.settings.strictness;
    return std::find(options.only.begin(), options.only.end(), check.name) != options.only.end();
}

// Fixed-size texts a child fills in for the parent.
struct IdentityRecord {
    bool known;
    char name[128], vendor[128], product[128], uniqueId[8];
    int version, inputs, outputs, parameters, programs;
};

void copyInto(char* target, std::size_t size, const std::string& text) {
    std::snprintf(target, size, "%s", text.c_str());
}

void readIdentity(const Settings& settings, IdentityRecord& record) {
    host::PluginLibrary library(settings.pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    const PluginIdentity identity = tapestop::readIdentity(instance.effect());
    copyInto(record.name, sizeof record.name, identity.name);
    copyInto(record.vendor, sizeof record.vendor, identity.vendor);
    copyInto(record.product, sizeof record.product, identity.product);
    copyInto(record.uniqueId, sizeof record.uniqueId, host::fourCharText(identity.uniqueId));
    record.version = identity.version;
    record.inputs = identity.inputs;
    record.outputs = identity.outputs;
    record.parameters = identity.parameters;
    record.programs = identity.programs;
    record.known = true;
}

Identity identify(const Settings& settings) {
    host::ChildProcess child(
        [&](host::ChildContext& context) {
            host::sendStdoutToStderr();
            auto& record = *static_cast<IdentityRecord*>(context.shared());
            try {
                readIdentity(settings, record);
            } catch (const std::exception&) {
                return 1;  // the load check reports why
            }
            return 0;
        },
        sizeof(IdentityRecord));
    child.finish(settings.timeLimitSeconds);
    const auto& record = *static_cast<const IdentityRecord*>(child.shared());
    if (!record.known) return Identity{};
    const auto text = [](const auto& field) { return std::string(field, strnlen(field, sizeof field)); };
    return Identity{true, text(record.name), text(record.vendor), text(record.product), text(record.uniqueId),
                    record.version, record.inputs, record.outputs, record.parameters, record.programs};
}

// One check in its own child: a crash, an exit or a hang is this check's
// failure; an interrupt is not, and leaves the check not run to its end.
CheckReport runIsolated(const Settings& settings, const Check& check) {
    const auto started = std::chrono::steady_clock::now();
    host::ChildProcess child(
        [&](host::ChildContext& context) {
            host::sendStdoutToStderr();
            auto& record = *static_cast<CheckRecord*>(context.shared());
            countProcessingIn(&record.processingCalls);
            CheckContext checkContext(settings, record, context.progress());
            try {
                check.run(checkContext);
            } catch (const std::exception& error) {
                checkContext.fail(error.what());
            }
            return 0;
        },
        sizeof(CheckRecord));
    const host::ChildOutcome outcome = child.finish(settings.timeLimitSeconds);
    // The record lies in memory the plug-in could have scribbled on: read it
    // within its bounds, and take an impossible result for a failure.
    const auto& record = *static_cast<const CheckRecord*>(child.shared());
    const Result result = record.result <= Result::kFail ? record.result : Result::kFail;
    CheckReport report{check.name, check.strictness, result,
                       std::string(record.detail, strnlen(record.detail, CheckRecord::kDetailChars)),
                       std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()};
    if (outcome.ending == host::ChildOutcome::Ending::kInterrupted) {
        report.result = Result::kSkip;
        const std::string ending = "not run to its end: interrupted (" + host::signalName(outcome.signal) + ")";
        report.detail = report.detail.empty() ? ending : ending + "; before that: " + report.detail;
    } else if (!outcome.succeeded()) {
        report.result = Result::kFail;
        report.hungInProcessing =
            outcome.ending == host::ChildOutcome::Ending::kTimedOut && record.processingCalls.load() > 0;
        const std::string ending = "the plug-in " + outcome.describe();
        report.detail = report.detail.empty() ? ending : ending + "; before that: " + report.detail;
    }
    return report;
}

// Why a selected check is not run, or empty when it runs.
std::string reasonNotToRun(const Options& options, const Check& check, bool loads, const std::string& hungIn) {
    if (const int signal = host::InterruptWatch::pendingSignal())
        return "not run: interrupted (" + host::signalName(signal) + ")";
    // Every other check would fail the same way; the load check says why.
    if (!loads) return "not run: the plug-in does not load";
    // It would most likely hang again, and cost another time limit.
    if (check.processes && !hungIn.empty() && !options.settings.keepGoing)
        return "not run: the plug-in hung in " + hungIn;
    return "";
}

const char* kUsage =
    "tapestop validate PLUGIN.so [--strictness N] [--json] [--only NAME,...] [--seed S] [--time-limit SECONDS] "
    "[--keep-going]";

}  // namespace

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    options.settings.strictness = kDefaultStrictness;
    const auto number = [](const std::string& option, const std::string& text, long long low, long long high) {
        return static_cast<int>(parseWholeNumber(option, text, low, high));
    };
    const std::vector<OptionRule> rules{
        {"--strictness", false,
         [&](auto value) { options.settings.strictness = number("--strictness", value(), kMinStrictness, kMaxStrictness); }},
        {"--json", false, [&](auto) { options.json = true; }},
        {"--keep-going", false, [&](auto) { options.settings.keepGoing = true; }},
        {"--seed", false,
         [&](auto value) { options.settings.seed = static_cast<std::uint32_t>(number("--seed", value(), 0, 2147483647)); }},
        {"--time-limit", false,
         [&](auto value) { options.settings.timeLimitSeconds = number("--time-limit", value(), 1, 3600); }},
        {"--only", true,
         [&](auto value) {
             for (const std::string& name : splitNames(value())) {
                 if (!known(name)) throw UsageError("unknown check '" + name + "' for --only");
                 options.only.push_back(name);
             }
         }},
    };
    const ParsedArguments parsed = parseArguments(std::vector<std::string>(argv, argv + argc), rules);
    if (parsed.helpAsked) return std::nullopt;
    if (parsed.positional.size() > 1) throw UsageError("more than one plug-in; usage: " + std::string(kUsage));
    expectPositional(parsed.positional, 1, "PLUGIN.so; usage: " + std::string(kUsage));
    options.settings.pluginPath = parsed.positional.front();
    return options;
}

int Report::count(Result result) const {
    return static_cast<int>(std::count_if(checks.begin(), checks.end(), [&](const CheckReport& c) { return c.result == result; }));
}

Report validate(const Options& options) {
    Report report{options.settings, identify(options.settings), {}, 0};
    bool loads = true;
    std::string hungIn;  // the check in which the plug-in hung while processing
    for (const Check& check : allChecks()) {
        CheckReport skipped{check.name, check.strictness, Result::kSkip, "", 0.0};
        if (!selected(options, check)) {
            report.checks.push_back(skipped);
            continue;
        }
        skipped.detail = reasonNotToRun(options, check, loads, hungIn);
        report.checks.push_back(skipped.detail.empty() ? runIsolated(options.settings, check) : skipped);
        const CheckReport& done = report.checks.back();
        loads = loads && !(check.run == checkLoad && done.result == Result::kFail);
        if (done.hungInProcessing && hungIn.empty()) hungIn = check.name;
    }
    report.interruptedBy = host::InterruptWatch::pendingSignal();
    return report;
}

std::string formatText(const Report& report) {
    std::ostringstream out;
    const Identity& id = report.identity;
    out << "validating " << report.settings.pluginPath << "\n";
    if (id.known)
        out << "  " << id.name << " by " << id.vendor << " (" << id.product << "), ID '" << id.uniqueId << "', version "
            << id.version << ", " << id.inputs << " in, " << id.outputs << " out, " << id.parameters
            << " parameters, " << id.programs << " programs\n";
    out << "  strictness " << report.settings.strictness << ", seed " << report.settings.seed << "\n\n";
    double seconds = 0.0;
    for (const CheckReport& check : report.checks) {
        seconds += check.seconds;
        if (check.result == Result::kSkip && check.detail.empty()) continue;  // not selected
        char head[64];
        std::snprintf(head, sizeof head, "%-4s  %-20s %6.2f s  ", resultName(check.result), check.name.c_str(),
                      check.seconds);
        out << head << check.detail << "\n";
    }
    const std::string interrupted =
        report.interruptedBy != 0 ? "interrupted (" + host::signalName(report.interruptedBy) + "): " : "";
    char summary[200];
    std::snprintf(summary, sizeof summary, "\n%s%d passed, %d warned, %d failed, %d not run at strictness %d (%.1f s)\n",
                  interrupted.c_str(), report.count(Result::kPass), report.count(Result::kWarn), report.count(Result::kFail),
                  report.count(Result::kSkip), report.settings.strictness, seconds);
    out << summary;
    return out.str();
}

std::string formatJson(const Report& report) {
    std::ostringstream out;
    const Identity& id = report.identity;
    out << "{\n  \"plugin\": {\"path\": " << jsonString(report.settings.pluginPath);
    if (id.known)
        out << ", \"name\": " << jsonString(id.name) << ", \"vendor\": " << jsonString(id.vendor)
            << ", \"product\": " << jsonString(id.product) << ", \"uniqueId\": " << jsonString(id.uniqueId)
            << ", \"version\": " << id.version << ", \"inputs\": " << id.inputs << ", \"outputs\": " << id.outputs
            << ", \"parameters\": " << id.parameters << ", \"programs\": " << id.programs;
    out << "},\n  \"strictness\": " << report.settings.strictness << ",\n  \"seed\": " << report.settings.seed
        << ",\n  \"checks\": [";
    for (std::size_t i = 0; i < report.checks.size(); ++i) {
        const CheckReport& check = report.checks[i];
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", check.seconds);
        out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << jsonString(check.name) << ", \"level\": "
            << check.strictness << ", \"result\": \"" << resultName(check.result) << "\", \"detail\": "
            << jsonString(check.detail) << ", \"durationSeconds\": " << seconds << "}";
    }
    out << "\n  ],\n  \"counts\": {\"pass\": " << report.count(Result::kPass) << ", \"warn\": "
        << report.count(Result::kWarn) << ", \"fail\": " << report.count(Result::kFail) << ", \"skip\": "
        << report.count(Result::kSkip) << "},\n  \"interrupted\": " << (report.interruptedBy != 0 ? "true" : "false")
        << ",\n  \"passed\": " << (report.failed() || report.interruptedBy != 0 ? "false" : "true") << "\n}\n";
    return out.str();
}

int runCommand(int argc, char** argv) {
    const std::optional<Options> parsed = parseOptions(argc, argv);
    if (!parsed) {
        std::cout << usageText();
        return 0;
    }
    const Options& options = *parsed;
    host::InterruptWatch watch;
    const Report report = validate(options);
    std::cout << (options.json ? formatJson(report) : formatText(report)) << std::flush;
    if (report.interruptedBy != 0) {
        std::cerr << "tapestop: validation interrupted (" << host::signalName(report.interruptedBy) << ")\n";
        return kExitSignalBase + report.interruptedBy;
    }
    return report.failed() ? 1 : 0;
}

}  // namespace tapestop::validate
