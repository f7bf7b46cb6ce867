// Where a render's output may go: never onto its input, however spelled;
// over an existing file only as documented (permissions kept, symlinks
// written through, read-only files only with --force, nothing but regular
// files replaced); and the plug-in named as a path, never looked up.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "ToolTestSupport.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSampleRateHz = 44100;
constexpr std::int64_t kFrames = 2000;
constexpr int kExitFailure = 1;
constexpr const char* kKeptContent = "an earlier render\n";

tooltest::RunResult renderInto(const tooltest::TempDir& dir, const std::string& input, const std::string& output,
                               std::vector<std::string> options = {}, const std::string& workingDirectory = "") {
    std::vector<std::string> args{"render", input, output, "--stop", "100"};
    args.insert(args.end(), options.begin(), options.end());
    return tooltest::runProgram(TAPESTOP_CLI, args, "/dev/null",
                                workingDirectory.empty() ? dir.file("") : workingDirectory);
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// Every spelling of the input as the output is refused before anything is
// read or written, and the input stays as it was.
TEST(Output, TheInputItselfIsRefusedHoweverSpelled) {
    struct Row {
        const char* what;
        const char* output;
    };
    const Row rows[] = {
        {"the same path", "in.wav"},
        {"another spelling", "./sub/../in.wav"},
        {"a hard link", "linked.wav"},
        {"a symlink", "symlinked.wav"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        tooltest::TempDir dir;
        tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
        fs::create_directory(dir.file("sub"));
        fs::create_hard_link(dir.file("in.wav"), dir.file("linked.wav"));
        fs::create_symlink("in.wav", dir.file("symlinked.wav"));
        const std::string before = tooltest::slurp(dir.file("in.wav"));
        const tooltest::RunResult run = renderInto(dir, "in.wav", row.output);
        EXPECT_EQ(run.exitCode, kExitFailure);
        EXPECT_NE(run.err.find("is the input file 'in.wav'"), std::string::npos) << run.err;
        EXPECT_EQ(tooltest::slurp(dir.file("in.wav")), before);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", "linked.wav", "sub", "symlinked.wav"}));
    }
}

// One file is one device and inode: two fresh tmpfs mounts (in a user and
// mount namespace of the test's own) number their first files alike, and an
// output there with the input's inode number on another device is replaced
// like any other file.
TEST(Output, TheInputsInodeNumberOnAnotherDeviceIsAnotherFile) {
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
    fs::create_directory(dir.file("a"));
    fs::create_directory(dir.file("b"));
    const std::string script =
        "mount -t tmpfs tmpfs a && mount -t tmpfs tmpfs b || exit 1\n"
        "cp in.wav a/in.wav && printf 'an earlier render\\n' > b/out.wav && stat -c '%d %i' a/in.wav b/out.wav > ids\n"
        "\"$0\" render a/in.wav b/out.wav --stop 100; echo $? > status; cp b/out.wav rendered.wav\n";
    const tooltest::RunResult run = tooltest::runProgram(
        "/usr/bin/unshare", {"--user", "--map-root-user", "--mount", "/bin/sh", "-c", script, TAPESTOP_CLI}, "/dev/null",
        dir.file(""));
    if (!fs::exists(dir.file("ids"))) GTEST_SKIP() << "no mount namespace to make two tmpfs in: " << run.err;
    std::istringstream ids(tooltest::slurp(dir.file("ids")));
    unsigned long long inputDevice = 0, inputInode = 0, outputDevice = 0, outputInode = 0;
    ids >> inputDevice >> inputInode >> outputDevice >> outputInode;
    ASSERT_EQ(inputInode, outputInode) << "the two mounts numbered their files differently";
    ASSERT_NE(inputDevice, outputDevice);
    EXPECT_EQ(tooltest::slurp(dir.file("status")), "0\n") << run.err;
    EXPECT_EQ(tooltest::readAudio(dir.file("rendered.wav")).frames(), kFrames);
}

struct Existing {
    const char* what;
    std::function<void(const tooltest::TempDir&)> prepare;
    std::vector<std::string> options;
    const char* message;  // empty: the render succeeds
};

const Existing kExisting[] = {
    {"a read-only file", [](const auto& dir) { fs::permissions(dir.file("out.wav"), fs::perms(0444)); }, {},
     "output 'out.wav' is read-only; use --force to replace it"},
    {"a directory",
     [](const auto& dir) {
         fs::remove(dir.file("out.wav"));
         fs::create_directory(dir.file("out.wav"));
     },
     {}, "output 'out.wav' is not a regular file"},
    {"a FIFO",
     [](const auto& dir) {
         fs::remove(dir.file("out.wav"));
         ::mkfifo(dir.file("out.wav").c_str(), 0644);
     },
     {}, "output 'out.wav' is not a regular file"},
    {"a symlink to a device",
     [](const auto& dir) {
         // Root's own null device, so that a fault here never replaces /dev/null.
         fs::remove(dir.file("out.wav"));
         const bool own = ::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
         fs::create_symlink(own ? dir.file("null") : "/dev/null", dir.file("out.wav"));
     },
     {}, "output 'out.wav' is not a regular file"},
    {"a dangling symlink",
     [](const auto& dir) {
         fs::remove(dir.file("out.wav"));
         fs::create_symlink("missing.wav", dir.file("out.wav"));
     },
     {}, "output 'out.wav' is a symlink to a missing file"},
};

TEST(Output, WhatCannotBeReplacedIsRefusedAndKept) {
    for (const Existing& row : kExisting) {
        SCOPED_TRACE(row.what);
        tooltest::TempDir dir;
        tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
        std::ofstream(dir.file("out.wav")) << kKeptContent;
        row.prepare(dir);
        const fs::file_status before = fs::symlink_status(dir.file("out.wav"));
        const tooltest::RunResult run = renderInto(dir, "in.wav", "out.wav", row.options);
        EXPECT_EQ(run.exitCode, kExitFailure);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_EQ(fs::symlink_status(dir.file("out.wav")).type(), before.type());
        EXPECT_EQ(fs::symlink_status(dir.file("out.wav")).permissions(), before.permissions());
        if (before.type() == fs::file_type::regular) {
            EXPECT_EQ(tooltest::slurp(dir.file("out.wav")), kKeptContent);
        }
    }
}

// What replacing keeps: the permissions (also of a read-only file replaced
// with --force), under a umask that would narrow them; a symlink (written
// through to its target, also in another folder, where the new file is
// made); and the earlier content under a hard link's other name, with a
// warning.
TEST(Output, ReplacingKeepsPermissionsSymlinksAndOtherNames) {
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
    fs::create_directory(dir.file("sub"));
    for (const char* name : {"private.wav", "readonly.wav", "target.wav", "shared.wav", "sub/target.wav"})
        std::ofstream(dir.file(name)) << kKeptContent;
    fs::permissions(dir.file("private.wav"), fs::perms(0640));
    fs::permissions(dir.file("readonly.wav"), fs::perms(0444));
    fs::create_symlink("target.wav", dir.file("link.wav"));
    fs::create_symlink("sub/target.wav", dir.file("sublink.wav"));
    fs::create_hard_link(dir.file("shared.wav"), dir.file("other-name.wav"));

    const mode_t mask = ::umask(077);  // the renders below inherit it
    ASSERT_EQ(renderInto(dir, "in.wav", "private.wav").exitCode, 0);
    EXPECT_EQ(modeOf(dir.file("private.wav")), 0640u);
    ASSERT_EQ(renderInto(dir, "in.wav", "readonly.wav", {"--force"}).exitCode, 0);
    EXPECT_EQ(modeOf(dir.file("readonly.wav")), 0444u);
    ::umask(mask);
    for (const char* link : {"link.wav", "sublink.wav"}) {
        const fs::path target = fs::read_symlink(dir.file(link));
        ASSERT_EQ(renderInto(dir, "in.wav", link).exitCode, 0);
        EXPECT_TRUE(fs::is_symlink(dir.file(link)));
        EXPECT_EQ(fs::read_symlink(dir.file(link)), target);
    }
    const tooltest::RunResult shared = renderInto(dir, "in.wav", "shared.wav");
    ASSERT_EQ(shared.exitCode, 0);
    EXPECT_NE(shared.err.find("warning: 'shared.wav' had 1 other name(s) (hard links); they keep the earlier content"),
              std::string::npos)
        << shared.err;
    EXPECT_EQ(tooltest::slurp(dir.file("other-name.wav")), kKeptContent);
    for (const char* name : {"private.wav", "readonly.wav", "target.wav", "shared.wav", "sub/target.wav"})
        EXPECT_EQ(tooltest::readAudio(dir.file(name)).frames(), kFrames) << name;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.wav", "link.wav", "other-name.wav", "private.wav",
                                                       "readonly.wav", "shared.wav", "sub", "sublink.wav",
                                                       "target.wav"}));
    EXPECT_EQ(tooltest::TempDir::entriesOf(dir.file("sub")), std::vector<std::string>{"target.wav"});
}

// Replacing keeps the file's owner and group, which only root may give away.
TEST(Output, ReplacingKeepsOwnerAndGroup) {
    constexpr uid_t kOwner = 4321;
    constexpr gid_t kGroup = 4322;
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another owner";
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
    std::ofstream(dir.file("out.wav")) << kKeptContent;
    ASSERT_EQ(::chown(dir.file("out.wav").c_str(), kOwner, kGroup), 0);
    ASSERT_EQ(renderInto(dir, "in.wav", "out.wav").exitCode, 0);
    struct stat status {};
    ASSERT_EQ(::stat(dir.file("out.wav").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, kOwner);
    EXPECT_EQ(status.st_gid, kGroup);
    EXPECT_EQ(tooltest::readAudio(dir.file("out.wav")).frames(), kFrames);
}

// A new output gets the permissions any new file gets under the umask.
TEST(Output, ANewFileFollowsTheUmask) {
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_EQ(renderInto(dir, "in.wav", "new.wav").exitCode, 0);
    EXPECT_EQ(modeOf(dir.file("new.wav")), 0666u & ~mask);
}

// A bare plug-in name is a file in the current folder: found there, and a
// same-named system library elsewhere is never loaded instead.
TEST(Output, APluginNameWithoutASlashIsAPathInTheCurrentFolder) {
    tooltest::TempDir dir;
    tooltest::writeAudio(dir.file("in.wav"), tooltest::testSignal(kFrames, 2, kSampleRateHz));
    fs::copy_file(TAPESTOP_PLUGIN_PATH, dir.file("mine.so"));
    const tooltest::RunResult here = renderInto(dir, "in.wav", "out.wav", {"--plugin", "mine.so"});
    EXPECT_EQ(here.exitCode, 0) << here.err;
    const std::string systemLibrary = fs::path(NON_PLUGIN_LIBRARY).filename();
    const tooltest::RunResult lookedUp = renderInto(dir, "in.wav", "out2.wav", {"--plugin", systemLibrary});
    EXPECT_EQ(lookedUp.exitCode, kExitFailure);
    EXPECT_NE(lookedUp.err.find("cannot open plug-in './" + systemLibrary + "'"), std::string::npos) << lookedUp.err;
}

}  // namespace
