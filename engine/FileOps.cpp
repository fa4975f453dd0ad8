#include "engine/FileOps.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>

namespace dxfkonv {

namespace {

class SystemOps final : public FileOps {
public:
    int open(const std::string& path, int flags, mode_t mode) override
    {
        return ::open(path.c_str(), flags, mode);
    }
    ssize_t read(int fd, void* buffer, std::size_t n) override { return ::read(fd, buffer, n); }
    ssize_t pread(int fd, void* buffer, std::size_t n, off_t offset) override
    {
        return ::pread(fd, buffer, n, offset);
    }
    ssize_t write(int fd, const void* data, std::size_t n) override { return ::write(fd, data, n); }
    int fsync(int fd) override { return ::fsync(fd); }
    int close(int fd) override { return ::close(fd); }
    int fstat(int fd, struct stat* st) override { return ::fstat(fd, st); }
    int stat(const std::string& path, struct stat* st) override { return ::stat(path.c_str(), st); }
    int lstat(const std::string& path, struct stat* st) override { return ::lstat(path.c_str(), st); }
    int access(const std::string& path, int mode) override { return ::access(path.c_str(), mode); }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int fchown(int fd, uid_t owner, gid_t group) override { return ::fchown(fd, owner, group); }
    int futimens(int fd, const struct timespec times[2]) override { return ::futimens(fd, times); }
    int link(const std::string& from, const std::string& to) override
    {
        return ::link(from.c_str(), to.c_str());
    }
    int rename(const std::string& from, const std::string& to) override
    {
        return ::rename(from.c_str(), to.c_str());
    }
    int unlink(const std::string& path) override { return ::unlink(path.c_str()); }
    std::string realpath(const std::string& path) override
    {
        std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
        return resolved ? std::string(resolved.get()) : std::string();
    }
};

}  // namespace

void FileOps::startWriteBack(int fd, off_t offset, off_t length)
{
#if defined(__linux__)
    ::sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
#else
    (void)fd;
    (void)offset;
    (void)length;
#endif
}

FileOps& SystemFileOps()
{
    static SystemOps ops;
    return ops;
}

}  // namespace dxfkonv
