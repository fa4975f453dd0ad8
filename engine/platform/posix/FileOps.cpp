#include "engine/platform/posix/FileOps.h"

#include <acl/libacl.h>
#include <attr/libattr.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/utsname.h>
#include <sys/vfs.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace dxfkonv {

namespace {

class SystemOps final : public FileOps {
public:
    int openat(int dirFd, const std::string& path, int flags, mode_t mode) override
    {
        return ::openat(dirFd, path.c_str(), flags, mode);
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
    int fstatat(int dirFd, const std::string& path, struct stat* st, int flags) override
    {
        return ::fstatat(dirFd, path.c_str(), st, flags);
    }
    int faccessat(int dirFd, const std::string& path, int mode, int flags) override
    {
        return ::faccessat(dirFd, path.c_str(), mode, flags);
    }
    int flock(int fd, int operation) override { return ::flock(fd, operation); }
    int fchmod(int fd, mode_t mode) override { return ::fchmod(fd, mode); }
    int fchown(int fd, uid_t owner, gid_t group) override { return ::fchown(fd, owner, group); }
    int futimens(int fd, const struct timespec times[2]) override { return ::futimens(fd, times); }
    int linkat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to, int flags) override
    {
        return ::linkat(fromDirFd, from.c_str(), toDirFd, to.c_str(), flags);
    }
    int renameat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to) override
    {
        return ::renameat(fromDirFd, from.c_str(), toDirFd, to.c_str());
    }
    int unlinkat(int dirFd, const std::string& path, int flags) override
    {
        return ::unlinkat(dirFd, path.c_str(), flags);
    }
    int readlinkat(int dirFd, const std::string& path, std::string& target) override
    {
        // The system keeps no link longer than a path may be.
        char buffer[PATH_MAX];
        const ssize_t n = ::readlinkat(dirFd, path.c_str(), buffer, sizeof buffer);
        if (n < 0)
            return -1;
        if (static_cast<std::size_t>(n) == sizeof buffer) {
            errno = ENAMETOOLONG;
            return -1;
        }
        target.assign(buffer, static_cast<std::size_t>(n));
        return 0;
    }
    int copyAttributes(int from, int to) override
    {
        // The extended attributes first, leaving out the access control
        // lists, which go with the permission bits.
        if (attr_copy_fd(nullptr, from, nullptr, to, nullptr, nullptr) != 0 && errno != ENOTSUP
            && errno != ENOSYS)
            return -1;
        return perm_copy_fd(nullptr, from, nullptr, to, nullptr);
    }
};

}  // namespace

int FileOps::duplicate(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

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

#if defined(__linux__)
namespace {

// The kind of file system `fd` is on, as far as a pass needs to know it:
// a Linux file system of a local disk (ext2/3/4, XFS, Btrfs, F2FS), which
// takes writes straight from memory as fast as through the cache and
// keeps a change time nobody can set back; the system's memory (tmpfs),
// which keeps such a change time too; or anything else (FUSE, as exFAT
// and NTFS-3G are mounted, vfat, exfat, ntfs3, NFS, SMB, ...).
enum class FileSystemKind { kLocalDisk, kMemory, kOther };

FileSystemKind kindOfFileSystem(int fd)
{
    struct statfs fs{};
    if (::fstatfs(fd, &fs) != 0)
        return FileSystemKind::kOther;
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // XFS
    case 0x9123683E:  // Btrfs
    case 0xF2F52010:  // F2FS
        return FileSystemKind::kLocalDisk;
    case 0x01021994:  // tmpfs
        return FileSystemKind::kMemory;
    default:
        return FileSystemKind::kOther;
    }
}

}  // namespace
#endif

bool FileOps::writeDirect(int fd, bool on)
{
#if defined(__linux__) && defined(O_DIRECT)
    // On a network share or in memory every such write would wait on its own.
    if (on && kindOfFileSystem(fd) != FileSystemKind::kLocalDisk)
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, on ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
#else
    (void)fd;
    return !on;
#endif
}

int FileOps::getLock(int fd, struct flock* lock)
{
#if defined(F_OFD_GETLK)
    if (::fcntl(fd, F_OFD_GETLK, lock) == 0)
        return 0;
    if (errno != EINVAL)
        return -1;
    lock->l_pid = 0;  // a system older than locks of open files
#endif
    return ::fcntl(fd, F_GETLK, lock);
}

int FileOps::setLease(int fd, int type)
{
#if defined(F_SETLEASE)
    return ::fcntl(fd, F_SETLEASE, type);
#else
    (void)fd;
    (void)type;
    errno = EINVAL;
    return -1;
#endif
}

struct timespec FileOps::now()
{
    struct timespec time{};
    ::clock_gettime(CLOCK_REALTIME, &time);
    return time;
}

namespace {

#if defined(__linux__)
// Whether the kernel's syncfs() reports the writes that failed in it,
// which it does from 5.8 on.
bool syncfsReportsFailures()
{
    static const bool reports = [] {
        struct utsname name{};
        unsigned major = 0;
        unsigned minor = 0;
        return ::uname(&name) == 0 && std::sscanf(name.release, "%u.%u", &major, &minor) == 2
               && (major > 5 || (major == 5 && minor >= 8));
    }();
    return reports;
}

// How many bytes of the system's files wait to be written or are being
// written, as /proc/meminfo says; unknown counts as many.
std::uint64_t bytesWaitingToBeWritten()
{
    const int fd = ::open("/proc/meminfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return UINT64_MAX;
    char text[4096];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return UINT64_MAX;
    text[n] = '\0';
    std::uint64_t total = 0;
    for (const char* field : {"\nDirty:", "\nWriteback:"}) {
        const char* at = std::strstr(text, field);
        unsigned long long kib = 0;
        if (!at || std::sscanf(at + std::strlen(field), "%llu", &kib) != 1)
            return UINT64_MAX;
        total += kib * 1024;
    }
    return total;
}
#endif

}  // namespace

bool FileOps::flushesFileSystemAtOnce(int fd)
{
#if defined(__linux__)
    // Beyond this much of others' writing, flushing each file costs less.
    constexpr std::uint64_t kMostWaiting = 64u << 20;
    return syncfsReportsFailures() && kindOfFileSystem(fd) == FileSystemKind::kLocalDisk
           && bytesWaitingToBeWritten() <= kMostWaiting;
#else
    (void)fd;
    return false;
#endif
}

int FileOps::syncfs(int fd)
{
#if defined(__linux__)
    return ::syncfs(fd);
#else
    (void)fd;
    errno = ENOSYS;
    return -1;
#endif
}

bool FileOps::keepsChangeTimes(int fd)
{
#if defined(__linux__)
    return kindOfFileSystem(fd) != FileSystemKind::kOther;
#else
    (void)fd;
    return false;
#endif
}

FileOps& SystemFileOps()
{
    static SystemOps ops;
    return ops;
}

}  // namespace dxfkonv
