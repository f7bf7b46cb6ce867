// Where a render's output goes and how it gets there. The target is checked
// before anything is read: never the input itself, never something other
// than a regular file, never a read-only file unless forced. The audio is
// written into a file that has no name, which takes the target's name only
// once it is complete and on disk, so that no crash, kill or power loss can
// leave a partial file or damage an existing one.
#pragma once

#include <sys/types.h>

#include <stdexcept>
#include <string>

namespace tapestop {

class OutputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What replacing the target means, decided before the render starts.
struct OutputTarget {
    std::string path;       // as the user wrote it, for messages
    std::string finalPath;  // where the file lands: a symlink's target, resolved
    bool exists = false;
    mode_t mode = 0;  // an existing file's permission bits, kept
    uid_t owner = 0;
    gid_t group = 0;
    nlink_t otherLinks = 0;  // further names of an existing file, which keep its old content
};

// Checks `path` as the output of a render of `inputPath`; throws OutputError.
OutputTarget checkOutputTarget(const std::string& path, const std::string& inputPath, bool force);

class OutputFile {
public:
    // Creates the nameless file in the target's folder; throws OutputError.
    explicit OutputFile(OutputTarget target);
    // Leaves nothing behind unless commit() succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int descriptor() const { return fd_; }
    const OutputTarget& target() const { return target_; }

    // Flushes the file to disk, gives it the target's name (replacing what
    // was there in one step) and flushes the folder; throws OutputError.
    void commit();

private:
    void createNamed(mode_t mode);
    void giveTemporaryName();

    OutputTarget target_;
    int fd_ = -1;
    int directoryFd_ = -1;
    std::string temporaryName_;  // set while a not yet complete file has a name
    bool committed_ = false;
};

}  // namespace tapestop
