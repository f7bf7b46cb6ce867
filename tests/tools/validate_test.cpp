// `tapestop validate` run as a user runs it, on effects with one planted
// fault each: at strictness 10 each fails, and the check named for its fault
// is among the failures; the clean control passes at every strictness; the
// JSON report parses and carries every check; a crash or hang inside the
// plug-in never ends the validator.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "tools/ToolTestSupport.h"

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kTimeLimitSeconds = "5";
constexpr int kChecks = 21;

// Prints one "name result level" line per check, then "passed true|false 0".
constexpr const char* kSummarizeJson = R"(
import json, sys
d = json.load(sys.stdin)
for c in d["checks"]:
    assert set(c) == {"name", "level", "result", "detail", "durationSeconds"}, c
    print(c["name"], c["result"], c["level"])
for result, count in d["counts"].items():
    assert count == sum(c["result"] == result for c in d["checks"]), (result, count)
assert d["passed"] == (d["counts"]["fail"] == 0)
assert d["plugin"]["path"] and d["strictness"] in range(1, 11), d
print("passed", "true" if d["passed"] else "false", 0)
)";

// Prints "name<TAB>result<TAB>detail" per check, then "interrupted<TAB>true|false".
constexpr const char* kDetailsJson = R"(
import json, sys
d = json.load(sys.stdin)
for c in d["checks"]:
    print(c["name"], c["result"], c["detail"], sep="\t")
print("interrupted", "true" if d["interrupted"] else "false", "", sep="\t")
)";

struct CheckLine {
    std::string result, detail;
};

// The checks of a JSON report by name; "interrupted" holds the flag as its result.
std::map<std::string, CheckLine> checksIn(const std::string& json) {
    tooltest::TempDir dir;
    std::ofstream(dir.file("report.json")) << json;
    const tooltest::RunResult run = tooltest::runProgram(kPython, {"-c", kDetailsJson}, dir.file("report.json"));
    EXPECT_EQ(run.exitCode, 0) << "the report does not parse:\n" << json << run.err;
    std::map<std::string, CheckLine> checks;
    std::istringstream lines(run.out);
    for (std::string name, result, detail;
         std::getline(lines, name, '\t') && std::getline(lines, result, '\t') && std::getline(lines, detail);)
        checks[name] = CheckLine{result, detail};
    return checks;
}

// The checks that run audio through the plug-in, as the README lists them,
// in the order they run.
const std::vector<std::string> kProcessingChecks = {
    "fpu-and-locale", "block-sizes", "buffer-bounds", "realtime",    "sample-rates", "suspend-resume",
    "instances",      "in-place",    "chunks",        "threads",     "long-run",     "determinism",
    "speed",          "create-close-cycles", "parameter-fuzz"};

std::string pluginPath(const std::string& fault) { return std::string(PLANTED_PLUGIN_DIR) + "/planted_" + fault + ".so"; }

struct Validation {
    int exitCode = -1;
    std::map<std::string, std::string> results;  // check name -> pass, warn, fail, skip
    std::map<std::string, int> levels;            // check name -> lowest strictness that runs it
    bool passed = false;
    std::string report;
};

// Faulty plug-ins run with a short time limit per check, so that a hang costs
// little; clean ones with the default, so that a slow (sanitizer) build on a
// busy machine never times out.
Validation validate(const std::string& plugin, int strictness, bool shortTimeLimit = false) {
    std::vector<std::string> arguments = {"validate", plugin, "--strictness", std::to_string(strictness), "--json"};
    if (shortTimeLimit) arguments.insert(arguments.end(), {"--time-limit", kTimeLimitSeconds, "--keep-going"});
    const tooltest::RunResult run = tooltest::runTool(arguments);
    tooltest::TempDir dir;
    std::ofstream(dir.file("report.json")) << run.out;
    const tooltest::RunResult summary = tooltest::runProgram(kPython, {"-c", kSummarizeJson}, dir.file("report.json"));
    EXPECT_EQ(summary.exitCode, 0) << "the report does not parse:\n" << run.out << run.err << summary.err;
    Validation validation{run.exitCode, {}, {}, false, run.out};
    std::istringstream lines(summary.out);
    int level = 0;
    for (std::string name, result; lines >> name >> result >> level;) {
        if (name == "passed") {
            validation.passed = result == "true";
        } else {
            validation.results[name] = result;
            validation.levels[name] = level;
        }
    }
    return validation;
}

struct Fault {
    const char* name;
    const char* caughtBy;
};

// Each planted fault and the check that is there to catch its kind.
constexpr Fault kFaults[] = {
    {"heap_in_process", "realtime"},
    {"lock_in_process", "realtime"},
    {"long_parameter_name", "texts"},
    {"nan_after_100k_frames", "long-run"},
    {"crash_at_block_1", "block-sizes"},
    {"random_output", "determinism"},
    {"leak_4mb_per_instance", "create-close-cycles"},
    {"ftz_left_by_resume", "fpu-and-locale"},
    {"locale_at_creation", "fpu-and-locale"},
    {"hang_in_display", "texts"},
    {"parameter_outside_range", "parameters"},
    {"parameter_race", "threads"},
    {"double_free_on_second_close", "create-close-cycles"},
    {"subnormal_output", "long-run"},
    {"slower_than_real_time", "speed"},
    {"undefined_symbol", "load"},
    {"null_process_replacing", "creation"},
    {"shared_state", "instances"},
    {"out_of_bounds_write", "buffer-bounds"},
    {"unwritten_output", "block-sizes"},
    {"not_in_place_safe", "in-place"},
    {"unstable_at_low_sample_rates", "sample-rates"},
    {"suspend_loses_state", "suspend-resume"},
    {"infinite_at_full_tone", "parameter-fuzz"},
    {"program_not_selectable", "programs"},
    {"chunk_loses_state", "chunks"},
    {"last_bit_differs", "determinism"},
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class PlantedFault : public testing::TestWithParam<Fault> {};

TEST_P(PlantedFault, FailsAtStrictness10InTheCheckForItsKind) {
    const Fault fault = GetParam();
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (std::string(fault.caughtBy) == "realtime") GTEST_SKIP() << "the sanitizer owns the heap and lock functions";
#endif
    const Validation validation = validate(pluginPath(fault.name), 10, true);
    EXPECT_EQ(validation.exitCode, 1) << validation.report;
    EXPECT_FALSE(validation.passed);
    EXPECT_EQ(validation.results.size(), static_cast<std::size_t>(kChecks)) << "every check runs to its end";
    EXPECT_EQ(validation.results.count(fault.caughtBy), 1u);
    EXPECT_EQ(validation.results.at(fault.caughtBy), "fail") << validation.report;
}

INSTANTIATE_TEST_SUITE_P(Validator, PlantedFault, testing::ValuesIn(kFaults),
                         [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST(Validator, TheCleanControlPassesAtEveryStrictness) {
    for (int strictness = 1; strictness <= 10; ++strictness) {
        const Validation validation = validate(pluginPath("clean"), strictness);
        EXPECT_EQ(validation.exitCode, 0) << "strictness " << strictness << "\n" << validation.report;
        EXPECT_TRUE(validation.passed);
        EXPECT_EQ(validation.results.size(), static_cast<std::size_t>(kChecks));
        for (const auto& [name, result] : validation.results) {
            EXPECT_NE(result, "fail") << name << " at strictness " << strictness;
            EXPECT_EQ(result == "skip", validation.levels.at(name) > strictness) << name << " at strictness " << strictness;
        }
    }
}

TEST(Validator, WhatAPlugInPrintsOnStdoutStaysOutOfTheReport) {
    const Validation validation = validate(pluginPath("chatty"), 3);
    EXPECT_EQ(validation.exitCode, 0) << validation.report;
    EXPECT_EQ(validation.report.find("talks on stdout"), std::string::npos);
}

TEST(Validator, AnInterruptIsReportedAsSuchAndNotAsAFailure) {
    // A hang in the texts check with a long time limit, interrupted after a
    // moment: the validator ends at once, exits 130, reports the run as
    // interrupted with the checks not run, and leaves no child behind.
    tooltest::TempDir dir;
    const std::string command = std::string(TAPESTOP_CLI) + " validate " + pluginPath("hang_in_display") +
                                " --strictness 1 --json --time-limit 600 > " + dir.file("out") + " 2> " +
                                dir.file("err") + " & pid=$!; sleep 1; kill -INT $pid; wait $pid; echo $? > " +
                                dir.file("status");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(tooltest::slurp(dir.file("status")), "130\n");
    EXPECT_EQ(tooltest::slurp(dir.file("err")), "tapestop: validation interrupted (SIGINT)\n");
    EXPECT_NE(std::system("pgrep -f '[v]alidate .*planted_hang_in_display.so --strictness 1 --json --time-limit 600' > /dev/null"), 0)
        << "a child still runs";
    const std::map<std::string, CheckLine> checks = checksIn(tooltest::slurp(dir.file("out")));
    EXPECT_EQ(checks.at("interrupted").result, "true");
    // The hang holds the run in texts until the interrupt: texts and every
    // check after it did not run to its end, and none of that is a failure.
    EXPECT_EQ(checks.at("texts").result, "skip");
    EXPECT_EQ(checks.at("texts").detail.rfind("not run", 0), 0u) << checks.at("texts").detail;
    EXPECT_NE(checks.at("texts").detail.find("interrupted (SIGINT)"), std::string::npos);
    for (const char* later : {"parameters", "block-sizes", "buffer-bounds", "realtime", "host-info"}) {
        EXPECT_EQ(checks.at(later).result, "skip") << later;
        EXPECT_EQ(checks.at(later).detail, "not run: interrupted (SIGINT)") << later;
    }
    for (const auto& [name, check] : checks) EXPECT_NE(check.result, "fail") << name << ": " << check.detail;
}

// A plug-in that hangs in processing costs one time limit: the checks that
// would process again are not run, unless --keep-going asks for them.
TEST(Validator, AfterAHangInProcessingTheChecksThatProcessAreNotRun) {
    const tooltest::RunResult run =
        tooltest::runTool({"validate", FAULTY_HANG_PLUGIN, "--strictness", "10", "--time-limit", "2", "--json"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::map<std::string, CheckLine> checks = checksIn(run.out);
    // The plug-in hangs at its 10,000th frame: the first check to process
    // that much is block-sizes.
    EXPECT_EQ(checks.at("block-sizes").result, "fail");
    EXPECT_NE(checks.at("block-sizes").detail.find("timed out after 2 s"), std::string::npos)
        << checks.at("block-sizes").detail;
    const auto hung = std::find(kProcessingChecks.begin(), kProcessingChecks.end(), "block-sizes");
    for (auto later = hung + 1; later != kProcessingChecks.end(); ++later) {
        EXPECT_EQ(checks.at(*later).result, "skip") << *later;
        EXPECT_EQ(checks.at(*later).detail, "not run: the plug-in hung in block-sizes") << *later;
    }
    for (const char* unaffected : {"texts", "parameters", "host-info", "programs"})
        EXPECT_NE(checks.at(unaffected).result, "skip") << unaffected << ": " << checks.at(unaffected).detail;
    int timeouts = 0;
    for (const auto& [name, check] : checks) timeouts += check.detail.find("timed out") != std::string::npos ? 1 : 0;
    EXPECT_EQ(timeouts, 1) << run.out;

    const tooltest::RunResult keptGoing = tooltest::runTool({"validate", FAULTY_HANG_PLUGIN, "--only",
                                                             "block-sizes,long-run", "--time-limit", "2", "--json",
                                                             "--keep-going"});
    const std::map<std::string, CheckLine> both = checksIn(keptGoing.out);
    for (const char* name : {"block-sizes", "long-run"}) {
        EXPECT_EQ(both.at(name).result, "fail") << name;
        EXPECT_NE(both.at(name).detail.find("timed out after 2 s"), std::string::npos) << both.at(name).detail;
    }
}

// A restore is judged by its output and by parameters within the 0.01 the
// parameters check allows; a parameter beyond it is named.
TEST(Validator, ChunksJudgeARestoreByItsOutputAndItsParameters) {
    struct Row {
        const char* plugin;
        const char* result;
        const char* detail;  // the start of the finding
    };
    const Row rows[] = {
        {"chunk_quantized_on_restore", "pass", "bank chunk of 8 bytes round trip: same parameters and output"},
        {"chunk_loses_state", "fail",
         "the bank chunk restored on a fresh instance changes a parameter: parameter 0 (Gain) reads 0.5 ('"},
    };
    for (const Row& row : rows) {
        const tooltest::RunResult run = tooltest::runTool({"validate", pluginPath(row.plugin), "--only", "chunks", "--json"});
        const CheckLine chunks = checksIn(run.out).at("chunks");
        EXPECT_EQ(chunks.result, row.result) << row.plugin << ": " << chunks.detail;
        EXPECT_EQ(chunks.detail.rfind(row.detail, 0), 0u) << row.plugin << ": " << chunks.detail;
    }
}

// Debian's LSP plug-ins quantize some values on a restore, and sound the
// same: their chunks pass.
TEST(Validator, ChunksOfDebiansLspPluginsPass) {
    const std::vector<std::string> plugins = {
        "/usr/lib/vst/lsp-plugins/compressor-stereo.so",
        "/usr/lib/vst/lsp-plugins/graph-equalizer-x16-stereo.so",
    };
    for (const std::string& plugin : plugins) {
        ASSERT_TRUE(std::filesystem::exists(plugin)) << plugin << ": scripts/install-deps.sh installs lsp-plugins-vst";
        const tooltest::RunResult run = tooltest::runTool({"validate", plugin, "--only", "chunks", "--json"});
        const CheckLine chunks = checksIn(run.out).at("chunks");
        EXPECT_EQ(chunks.result, "pass") << plugin << ": " << chunks.detail;
    }
}

// A difference in the last bit shows in the numbers the message prints.
TEST(Validator, MessagesShowTheDifferenceTheyReport) {
    const tooltest::RunResult run =
        tooltest::runTool({"validate", pluginPath("last_bit_differs"), "--only", "determinism", "--strictness", "10", "--json"});
    const CheckLine determinism = checksIn(run.out).at("determinism");
    ASSERT_EQ(determinism.result, "fail") << determinism.detail;
    const std::size_t open = determinism.detail.rfind('('), against = determinism.detail.find(" against ", open);
    ASSERT_NE(against, std::string::npos) << determinism.detail;
    const std::string first = determinism.detail.substr(open + 1, against - open - 1);
    const std::string second = determinism.detail.substr(against + 9, determinism.detail.find(')', against) - against - 9);
    EXPECT_NE(first, second) << determinism.detail;
    EXPECT_NE(std::strtof(first.c_str(), nullptr), std::strtof(second.c_str(), nullptr)) << determinism.detail;
}

TEST(Validator, OurPluginsPassAtStrictness10) {
    for (const std::string& plugin : {std::string(TAPESTOP_PLUGIN_PATH), std::string(TAPESTOP_BUILD_DIR) + "/stereogain.so",
                                      std::string(TAPESTOP_BUILD_DIR) + "/tapemotor.so"}) {
        const Validation validation = validate(plugin, 10);
        EXPECT_EQ(validation.exitCode, 0) << validation.report;
        EXPECT_TRUE(validation.passed) << plugin;
    }
}

TEST(Validator, OnlyRunsTheNamedChecksAndTheRestAreSkipped) {
    const tooltest::RunResult run =
        tooltest::runTool({"validate", pluginPath("hang_in_display"), "--only", "load,creation", "--time-limit", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("pass  load"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("pass  creation"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("texts"), std::string::npos) << "the hanging check was not run:\n" << run.out;
}

TEST(Validator, AHangIsReportedWithTheTimeLimitAndTheLastStep) {
    const tooltest::RunResult run =
        tooltest::runTool({"validate", pluginPath("hang_in_display"), "--only", "texts", "--time-limit", "2"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("timed out after 2 s"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("display text"), std::string::npos) << run.out;
}

TEST(Validator, ACrashIsReportedWithItsSignal) {
    const tooltest::RunResult run =
        tooltest::runTool({"validate", pluginPath("crash_at_block_1"), "--only", "block-sizes"});
    EXPECT_EQ(run.exitCode, 1);
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's own handler reports the crash and ends the child.
    EXPECT_NE(run.out.find("exited with status 1 without finishing"), std::string::npos) << run.out;
#else
    EXPECT_NE(run.out.find("SIGSEGV"), std::string::npos) << run.out;
#endif
    EXPECT_NE(run.out.find("block size 1"), std::string::npos) << run.out;
}

// A write one sample past the block that lands short of the guard page
// cannot crash; the sentinel around the block shows it.
TEST(Validator, AStrayWriteShortOfTheGuardPageIsReportedAsOne) {
    const tooltest::RunResult run =
        tooltest::runTool({"validate", pluginPath("stray_write_before_guard"), "--only", "buffer-bounds"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("fail  buffer-bounds"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("wrote outside the host's buffers"), std::string::npos) << run.out;
}

TEST(Validator, ABadCommandLineExitsWith2) {
    const std::vector<std::vector<std::string>> commandLines = {
        {"validate"},
        {"validate", pluginPath("clean"), "--strictness", "0"},
        {"validate", pluginPath("clean"), "--strictness", "11"},
        {"validate", pluginPath("clean"), "--strictness"},
        {"validate", pluginPath("clean"), "--only", "no-such-check"},
        {"validate", pluginPath("clean"), "--seed", "x"},
        {"validate", pluginPath("clean"), "--colour"},
        {"validate", pluginPath("clean"), pluginPath("clean")},
    };
    for (const auto& arguments : commandLines) {
        const tooltest::RunResult run = tooltest::runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.back();
        EXPECT_NE(run.err.find("tapestop: "), std::string::npos) << run.err;
    }
}

}  // namespace
