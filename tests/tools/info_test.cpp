// tapestop info, --help and --version, run as a user runs them; the JSON is
// read back by Python's parser.
#include <gtest/gtest.h>

#include "ToolTestSupport.h"

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kThirdPartyPlugin = "/usr/lib/vst/3BandEQ-vst.so";

// Prints the fields a host-side user looks at, one per line.
constexpr const char* kSummarizeJson = R"(
import json, sys
d = json.load(sys.stdin)
print(d["name"], "|", d["vendor"], "|", d["product"])
print(d["uniqueId"], d["uniqueIdText"], d["version"], d["vstVersion"])
print(d["inputs"], d["outputs"], d["flags"], d["flagNames"], d["category"])
for p in d["parameters"]:
    print(p["index"], p["name"], repr(p["label"]), p["value"], p["display"])
)";

tooltest::RunResult summarizeJsonOf(const std::vector<std::string>& infoArgs) {
    tooltest::TempDir dir;
    const tooltest::RunResult info = tooltest::runTool(infoArgs);
    EXPECT_EQ(info.exitCode, 0) << info.err;
    std::ofstream(dir.file("info.json")) << info.out;
    return tooltest::runProgram(kPython, {"-c", kSummarizeJson}, dir.file("info.json"));
}

TEST(Info, JsonOfTheBuiltPluginHoldsItsIdentityAndParameters) {
    const tooltest::RunResult summary = summarizeJsonOf({"info", "--json"});
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_EQ(summary.out,
              "Tarvo TapeStop | Tarvo Pellwick | Tarvo TapeStop\n"
              "1953198458 tkqz 1 2400\n"
              "2 2 16 ['CanReplacing'] 0\n"
              "0 Trigger '' 0 0\n"
              "1 Speed '' 0.100000001 10\n"
              "2 Mix '%' 1 100\n");
}

TEST(Info, JsonOfAThirdPartyPluginIsValid) {
    const tooltest::RunResult summary = summarizeJsonOf({"info", "--plugin", kThirdPartyPlugin, "--json"});
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_EQ(summary.out.rfind("3 Band EQ | DISTRHO", 0), 0u) << summary.out;
    EXPECT_NE(summary.out.find("\n0 Low "), std::string::npos) << summary.out;
    EXPECT_NE(summary.out.find("\n5 "), std::string::npos) << summary.out;
}

TEST(Info, TextNamesTheUniqueIdInBothFormsAndEveryParameter) {
    const tooltest::RunResult info = tooltest::runTool({"info"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    for (const char* expected : {"Tarvo TapeStop", "1953198458", "'tkqz'", "Trigger", "Speed", "Mix", "CanReplacing"})
        EXPECT_NE(info.out.find(expected), std::string::npos) << expected << " in\n" << info.out;
}

TEST(Info, HelpAndVersion) {
    const tooltest::RunResult help = tooltest::runTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("tapestop render [options] INPUT OUTPUT"), std::string::npos);
    EXPECT_EQ(tooltest::runTool({"render", "--help"}).out, help.out);
    const tooltest::RunResult version = tooltest::runTool({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("tapestop ", 0), 0u) << version.out;
    const tooltest::RunResult none = tooltest::runTool({});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find("missing command"), std::string::npos);
}

// A path that is not UTF-8 comes out as surrogate escapes, which Python
// reads back into exactly the bytes of the path.
TEST(Info, JsonKeepsANonUtf8PathByteForByte) {
    tooltest::TempDir dir;
    const std::string path = dir.file("caf\xe9-\xff.so");
    std::filesystem::copy_file(TAPESTOP_PLUGIN_PATH, path);
    const tooltest::RunResult info = tooltest::runTool({"info", "--plugin", path, "--json"});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    std::ofstream(dir.file("info.json")) << info.out;
    const tooltest::RunResult decoded = tooltest::runProgram(
        kPython, {"-c", "import json, os, sys; sys.stdout.buffer.write(os.fsencode(json.load(sys.stdin)['path']))"},
        dir.file("info.json"));
    ASSERT_EQ(decoded.exitCode, 0) << decoded.err;
    EXPECT_EQ(decoded.out, path);
    EXPECT_NE(info.out.find("caf\\udce9-\\udcff.so"), std::string::npos) << info.out;
}

}  // namespace
