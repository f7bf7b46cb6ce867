// The output takes its name only complete and on disk: seen in the calls the
// renderer makes (logged by a library put in front of it), which no file's
// bytes can show. And on a filesystem without nameless files, the hidden
// stand-in is gone after every failure.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "ToolTestSupport.h"

namespace {

constexpr int kSampleRateHz = 48000;
constexpr std::int64_t kFrames = 30000;  // the faulty plug-ins fail at frame 10,000
constexpr int kExitFailure = 1;
constexpr const char* kKeptContent = "an earlier render\n";
constexpr const char* kHiddenPrefix = ".out.wav.tapestop-";

// Runs tapestop with the call log in front of it; answers the log's lines.
struct LoggedRun {
    tooltest::RunResult run;
    std::vector<std::string> calls;
};

LoggedRun renderLogged(const tooltest::TempDir& dir, const std::string& logDir, std::vector<std::string> options,
                       bool refuseTmpfile = false) {
    const std::string log = logDir + "/calls";
    // A sanitizer runtime otherwise insists on coming first, and would turn
    // the faulty plug-ins' ends into its own reports.
    const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> args{"LD_PRELOAD=" + std::string(FILE_CALL_LOG), "TAPESTOP_CALL_LOG=" + log,
                                  "ASAN_OPTIONS=" + std::string(sanitizerOptions == nullptr ? "" : sanitizerOptions) +
                                      ":verify_asan_link_order=0:handle_segv=0:detect_leaks=0"};
    if (refuseTmpfile) args.push_back("TAPESTOP_REFUSE_TMPFILE=1");
    args.insert(args.end(), {TAPESTOP_CLI, "render", dir.file("in.wav"), dir.file("out.wav")});
    args.insert(args.end(), options.begin(), options.end());
    LoggedRun logged{tooltest::runProgram("/usr/bin/env", args), {}};
    std::istringstream lines(tooltest::slurp(log));
    for (std::string line; std::getline(lines, line);) logged.calls.push_back(line);
    return logged;
}

std::string identity(const std::string& kind, const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return "sync " + kind + " " + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

std::ptrdiff_t indexOf(const std::vector<std::string>& calls, const std::string& call) {
    const auto found = std::find(calls.begin(), calls.end(), call);
    return found == calls.end() ? -1 : found - calls.begin();
}

std::string joined(const std::vector<std::string>& calls) {
    std::string text;
    for (const std::string& call : calls) text += call + "\n";
    return text;
}

// The file is flushed before it has any name, it gets the output's name in
// one rename, and the folder is flushed after that, so that a power loss
// leaves either the earlier file or the complete new one. Both with nameless
// files and without (a hidden name stands in).
TEST(Durability, TheFileIsFlushedThenNamedThenItsFolderFlushed) {
    for (const bool refuseTmpfile : {false, true}) {
        SCOPED_TRACE(refuseTmpfile ? "without nameless files" : "with nameless files");
        tooltest::TempDir dir, logDir;
        tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
        std::ofstream(dir.file("out.wav")) << kKeptContent;
        const LoggedRun logged = renderLogged(dir, logDir.file(""), {"--stop", "100"}, refuseTmpfile);
        ASSERT_EQ(logged.run.exitCode, 0) << logged.run.err;
        const std::vector<std::string>& calls = logged.calls;
        const auto fileSync = indexOf(calls, identity("file", dir.file("out.wav")));
        const auto folderSync = indexOf(calls, identity("folder", dir.file("")));
        const auto rename = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
            return call.rfind("rename ", 0) == 0 && call.size() > 8 && call.substr(call.size() - 8) == " out.wav";
        });
        const auto firstName = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
            return call.rfind("link ", 0) == 0 || call.rfind("rename ", 0) == 0 ||
                   call.rfind(std::string("create ") + kHiddenPrefix, 0) == 0;
        });
        ASSERT_NE(fileSync, -1) << joined(calls);
        ASSERT_NE(rename, calls.end()) << joined(calls);
        ASSERT_NE(folderSync, -1) << joined(calls);
        if (refuseTmpfile) {
            // The stand-in has a name from the start; it is flushed before it gets the output's.
            EXPECT_EQ(firstName->rfind(std::string("create ") + kHiddenPrefix, 0), 0u) << joined(calls);
            EXPECT_LT(fileSync, rename - calls.begin()) << joined(calls);
        } else {
            EXPECT_LT(fileSync, firstName - calls.begin()) << joined(calls);
        }
        EXPECT_LT(rename - calls.begin(), folderSync) << joined(calls);
        EXPECT_EQ(tooltest::readAudio(dir.file("out.wav")).frames(), kFrames);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", "out.wav"}));
    }
}

// Without nameless files, a render that fails after the hidden stand-in was
// made removes it and leaves an existing output as it was.
TEST(Durability, WithoutNamelessFilesAFailureLeavesNoHiddenFile) {
    const std::string plugins[] = {FAULTY_CRASH_PLUGIN, FAULTY_EXIT_PLUGIN};
    for (const std::string& plugin : plugins) {
        for (const bool outputExists : {false, true}) {
            SCOPED_TRACE(plugin + (outputExists ? " over an existing output" : ""));
            tooltest::TempDir dir, logDir;
            tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
            if (outputExists) std::ofstream(dir.file("out.wav")) << kKeptContent;
            const LoggedRun logged = renderLogged(dir, logDir.file(""), {"--plugin", plugin}, true);
            EXPECT_EQ(logged.run.exitCode, kExitFailure) << logged.run.err;
            const bool madeHidden = std::any_of(logged.calls.begin(), logged.calls.end(), [](const std::string& call) {
                return call.rfind(std::string("create ") + kHiddenPrefix, 0) == 0;
            });
            EXPECT_TRUE(madeHidden) << "the stand-in was never made:\n" << joined(logged.calls);
            const std::vector<std::string> expected =
                outputExists ? std::vector<std::string>{"in.wav", "out.wav"} : std::vector<std::string>{"in.wav"};
            EXPECT_EQ(dir.entries(), expected);
            if (outputExists) {
                EXPECT_EQ(tooltest::slurp(dir.file("out.wav")), kKeptContent);
            }
        }
    }
}

}  // namespace
