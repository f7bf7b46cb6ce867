#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

namespace tapestop {

namespace {

constexpr mode_t kNewFileMode = 0666;  // before the umask, as for any new file
constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr int kNameAttempts = 16;

std::string quoted(const std::string& path) { return "'" + path + "'"; }

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw OutputError(what + " " + quoted(path) + ": " + std::strerror(error));
}

// A symlink is written through to the file it names, wherever that is.
// Guarded by Output.ReplacingKeepsPermissionsSymlinksAndOtherNames (dangling: WhatCannotBeReplacedIsRefusedAndKept).
std::string resolveSymlink(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        throw OutputError("output " + quoted(path) + " is a symlink to a missing file; write to the target itself");
    return resolved;
}

// Guarded by Output.TheInputItselfIsRefusedHoweverSpelled and TheInputsInodeNumberOnAnotherDeviceIsAnotherFile.
bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Guarded by Output.WhatCannotBeReplacedIsRefusedAndKept.
void checkExisting(const OutputTarget& target, const struct stat& status, bool force) {
    if (!S_ISREG(status.st_mode))
        throw OutputError("output " + quoted(target.path) + " is not a regular file; only files are replaced");
    const bool readOnly = (status.st_mode & kWriteBits) == 0 || ::access(target.finalPath.c_str(), W_OK) != 0;
    if (readOnly && !force)
        throw OutputError("output " + quoted(target.path) + " is read-only; use --force to replace it");
}

// The umask in force, read without changing it for long.
mode_t currentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

std::string randomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix;
    for (int i = 0; i < 8; ++i) suffix += kDigits[generator() % (sizeof kDigits - 1)];
    return suffix;
}

// The longest name the folder takes; 255 where it does not say.
std::size_t longestName(const std::string& directory) {
    constexpr long kUsualNameMaxBytes = 255;
    const long limit = ::pathconf(directory.c_str(), _PC_NAME_MAX);
    return static_cast<std::size_t>(limit > 0 ? limit : kUsualNameMaxBytes);
}

// A name the output is written under before it is complete:
// ".NAME.tapestop-XXXXXXXX", NAME shortened so that the whole fits the folder.
std::string temporaryNameFor(const std::string& finalName, std::size_t longest) {
    const std::string suffix = ".tapestop-" + randomSuffix();
    const std::size_t room = longest - suffix.size() - 1;
    return "." + finalName.substr(0, room) + suffix;
}

}  // namespace

OutputTarget checkOutputTarget(const std::string& path, const std::string& inputPath, bool force) {
    OutputTarget target{path, path};
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        // A name longer than the folder takes (ENAMETOOLONG) fails here.
        if (errno != ENOENT) fail("cannot write output", path, errno);
        return target;
    }
    if (S_ISLNK(status.st_mode)) {
        target.finalPath = resolveSymlink(path);
        if (::stat(target.finalPath.c_str(), &status) != 0) fail("cannot write output", path, errno);
    }
    struct stat input {};
    if (::stat(inputPath.c_str(), &input) == 0 && sameFile(input, status))
        throw OutputError("output " + quoted(path) + " is the input file " + quoted(inputPath) +
                          "; rendering onto it would destroy it, so choose another output");
    checkExisting(target, status, force);
    target.exists = true;
    target.mode = status.st_mode & 07777;
    target.owner = status.st_uid;
    target.group = status.st_gid;
    target.otherLinks = status.st_nlink - 1;
    return target;
}

OutputFile::OutputFile(OutputTarget target) : target_(std::move(target)) {
    // Guarded by Output.ReplacingKeepsPermissionsSymlinksAndOtherNames.
    const std::string directory = directoryOf(target_.finalPath);
    directoryFd_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryFd_ < 0) fail("cannot write output", target_.path, errno);
    // Guarded by Output.ANewFileFollowsTheUmask.
    const mode_t mode = target_.exists ? target_.mode : kNewFileMode & ~currentUmask();
    // Guarded by Isolation.SigkillLeavesNothingBehind.
    fd_ = ::openat(directoryFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOENT))
        createNamed(mode);
    if (fd_ < 0) fail("cannot write output", target_.path, errno);
    // The umask may have narrowed an existing file's bits; its owner is kept
    // where we may set it (as root), its group where we belong to it.
    // Guarded by Output.ReplacingKeepsPermissionsSymlinksAndOtherNames.
    ::fchmod(fd_, mode);
    // Guarded by Output.ReplacingKeepsOwnerAndGroup (run as root).
    if (target_.exists && ::fchown(fd_, target_.owner, target_.group) != 0 &&
        ::fchown(fd_, static_cast<uid_t>(-1), target_.group) != 0) {
        // Neither is ours to give: the new file keeps our own.
    }
}

// For filesystems without nameless files: a hidden name beside the target,
// removed on any failure this process lives to see.
void OutputFile::createNamed(mode_t mode) {
    for (int attempt = 0; attempt < kNameAttempts && fd_ < 0; ++attempt) {
        temporaryName_ = temporaryNameFor(baseNameOf(target_.finalPath), longestName(directoryOf(target_.finalPath)));
        fd_ = ::openat(directoryFd_, temporaryName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) temporaryName_.clear();
}

OutputFile::~OutputFile() {
    // Guarded by Durability.WithoutNamelessFilesAFailureLeavesNoHiddenFile.
    if (!committed_ && !temporaryName_.empty()) ::unlinkat(directoryFd_, temporaryName_.c_str(), 0);
    if (fd_ >= 0) ::close(fd_);
    if (directoryFd_ >= 0) ::close(directoryFd_);
}

// Linking by descriptor needs a privilege; the /proc path works for anyone.
void OutputFile::giveTemporaryName() {
    const std::string viaProc = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string name =
            temporaryNameFor(baseNameOf(target_.finalPath), longestName(directoryOf(target_.finalPath)));
        if (::linkat(fd_, "", directoryFd_, name.c_str(), AT_EMPTY_PATH) == 0 ||
            ::linkat(AT_FDCWD, viaProc.c_str(), directoryFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temporaryName_ = name;
            return;
        }
        if (errno != EEXIST) fail("cannot give the finished output its name", target_.path, errno);
    }
    fail("cannot give the finished output its name", target_.path, EEXIST);
}

void OutputFile::commit() {
    // Guarded by Durability.TheFileIsFlushedThenNamedThenItsFolderFlushed (the order of these calls).
    if (::fsync(fd_) != 0) fail("cannot write output", target_.path, errno);
    if (temporaryName_.empty()) giveTemporaryName();
    const std::string finalName = baseNameOf(target_.finalPath);
    if (::renameat(directoryFd_, temporaryName_.c_str(), directoryFd_, finalName.c_str()) != 0)
        fail("cannot move the finished output onto", target_.path, errno);
    committed_ = true;
    if (::fsync(directoryFd_) != 0) fail("cannot write output", target_.path, errno);
}

}  // namespace tapestop
