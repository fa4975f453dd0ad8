// The file-system calls a conversion pass makes. The pass goes through
// this interface only, so a test can make any single call fail the way the
// system would (set errno, return -1) where the system cannot be made to
// fail on demand.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace dxfkonv {

class FileOps {
public:
    virtual ~FileOps() = default;

    // Each call behaves as the POSIX function of the same name.
    virtual int open(const std::string& path, int flags, mode_t mode = 0) = 0;
    virtual ssize_t read(int fd, void* buffer, std::size_t n) = 0;
    virtual ssize_t pread(int fd, void* buffer, std::size_t n, off_t offset) = 0;
    virtual ssize_t write(int fd, const void* data, std::size_t n) = 0;
    virtual int fsync(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int stat(const std::string& path, struct stat* st) = 0;
    virtual int lstat(const std::string& path, struct stat* st) = 0;
    virtual int access(const std::string& path, int mode) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
    virtual int futimens(int fd, const struct timespec times[2]) = 0;
    virtual int link(const std::string& from, const std::string& to) = 0;
    virtual int rename(const std::string& from, const std::string& to) = 0;
    virtual int unlink(const std::string& path) = 0;
    // The resolved path, or an empty string with errno set.
    virtual std::string realpath(const std::string& path) = 0;
    // Asks the system to start writing a range of the file to the disk,
    // without waiting; only a hint, so it reports nothing.
    virtual void startWriteBack(int fd, off_t offset, off_t length);
};

// The operating system's own calls.
FileOps& SystemFileOps();

}  // namespace dxfkonv
