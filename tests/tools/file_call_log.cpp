// Put in front of `tapestop` (LD_PRELOAD) by the tool tests, to see what the
// bytes of a finished file cannot show: the order in which the output is
// flushed and named. Each call below appends one line to the file named by
// TAPESTOP_CALL_LOG:
//   sync file DEV:INO | sync folder DEV:INO   fsync or fdatasync
//   link NEW | rename OLD NEW                 names, without their folders
//   create NAME                               a file opened with O_CREAT
// With TAPESTOP_REFUSE_TMPFILE set, a nameless file (O_TMPFILE) is refused
// with EOPNOTSUPP, as on a filesystem that has none.
// The wrappers replace the C library's own functions, so its inline
// checking versions of them must stay out of the way.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash == nullptr ? path : slash + 1;
}

// Raw system calls, so that logging never comes back through the wrappers.
void logLine(const char* line) {
    const char* path = std::getenv("TAPESTOP_CALL_LOG");
    if (path == nullptr) return;
    const int saved = errno;
    const int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    const auto fd = static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, flags, 0644));
    if (fd >= 0) {
        ::syscall(SYS_write, fd, line, std::strlen(line));
        ::syscall(SYS_close, fd);
    }
    errno = saved;
}

void logSync(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0) return;
    char line[128];
    std::snprintf(line, sizeof line, "sync %s %llu:%llu\n", S_ISDIR(status.st_mode) ? "folder" : "file",
                  static_cast<unsigned long long>(status.st_dev), static_cast<unsigned long long>(status.st_ino));
    logLine(line);
}

void logNames(const char* what, const char* from, const char* to) {
    char line[1024];
    if (from == nullptr)
        std::snprintf(line, sizeof line, "%s %s\n", what, baseName(to));
    else
        std::snprintf(line, sizeof line, "%s %s %s\n", what, baseName(from), baseName(to));
    logLine(line);
}

// O_TMPFILE includes O_DIRECTORY's bit, so both bits are compared.
bool refused(int flags) {
    if ((flags & O_TMPFILE) != O_TMPFILE || std::getenv("TAPESTOP_REFUSE_TMPFILE") == nullptr) return false;
    errno = EOPNOTSUPP;
    return true;
}

mode_t modeArgument(int flags, va_list arguments) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

int opened(int fd, int flags, const char* path) {
    if (fd >= 0 && (flags & O_CREAT) != 0) logNames("create", nullptr, path);
    return fd;
}

using OpenAtFunction = int (*)(int, const char*, int, ...);
using OpenFunction = int (*)(const char*, int, ...);

}  // namespace

extern "C" {

int fsync(int fd) {
    logSync(fd);
    return next<int (*)(int)>("fsync")(fd);
}

int fdatasync(int fd) {
    logSync(fd);
    return next<int (*)(int)>("fdatasync")(fd);
}

int rename(const char* from, const char* to) {
    logNames("rename", from, to);
    return next<int (*)(const char*, const char*)>("rename")(from, to);
}

int renameat(int fromDirectory, const char* from, int toDirectory, const char* to) {
    logNames("rename", from, to);
    return next<int (*)(int, const char*, int, const char*)>("renameat")(fromDirectory, from, toDirectory, to);
}

int renameat2(int fromDirectory, const char* from, int toDirectory, const char* to, unsigned flags) {
    logNames("rename", from, to);
    return next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(fromDirectory, from, toDirectory,
                                                                                   to, flags);
}

int link(const char* from, const char* to) {
    const int result = next<int (*)(const char*, const char*)>("link")(from, to);
    if (result == 0) logNames("link", nullptr, to);
    return result;
}

int linkat(int fromDirectory, const char* from, int toDirectory, const char* to, int flags) {
    const int result =
        next<int (*)(int, const char*, int, const char*, int)>("linkat")(fromDirectory, from, toDirectory, to, flags);
    if (result == 0) logNames("link", nullptr, to);
    return result;
}

int openat(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return refused(flags) ? -1 : opened(next<OpenAtFunction>("openat")(directory, path, flags, mode), flags, path);
}

int openat64(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return refused(flags) ? -1 : opened(next<OpenAtFunction>("openat64")(directory, path, flags, mode), flags, path);
}

int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return refused(flags) ? -1 : opened(next<OpenFunction>("open")(path, flags, mode), flags, path);
}

int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return refused(flags) ? -1 : opened(next<OpenFunction>("open64")(path, flags, mode), flags, path);
}

}  // extern "C"
