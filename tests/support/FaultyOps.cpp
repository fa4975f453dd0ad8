#include "FaultyOps.h"

#include <algorithm>
#include <cerrno>

namespace dxfkonv::test {

const char* opName(Op op)
{
    static const char* const names[] = {"open",     "read",   "pread",    "write",  "fsync",
                                        "close",    "fstat",  "fstatat",  "access", "flock",
                                        "fchmod",   "fchown", "futimens", "link",   "rename",
                                        "unlink",   "readlink", "copyAttributes", "getLock", "lease", "syncfs"};
    static_assert(sizeof names / sizeof names[0] == static_cast<int>(Op::kCount));
    return names[static_cast<int>(op)];
}

bool FaultyOps::failing(Op op, const std::string& name)
{
    // Reads and writes come from threads of their own.
    std::unique_lock lock(mutex_);
    const int nth = ++counts_[static_cast<int>(op)];
    if (hold) {
        lock.unlock();
        hold(op, nth);
        lock.lock();
    }
    lookedUp = name;
    if (before)
        before(op, nth);
    const int err = fault ? fault(op, nth) : 0;
    if (err == 0)
        return false;
    errno = err;
    return true;
}

int FaultyOps::openat(int dirFd, const std::string& path, int flags, mode_t mode)
{
    return failing(Op::kOpen, path) ? -1 : real_.openat(dirFd, path, flags, mode);
}

bool FaultyOps::interrupting()
{
    if (!interruptEveryOther || (++ioCalls_ % 2) == 0)
        return false;
    errno = EINTR;
    return true;
}

ssize_t FaultyOps::read(int fd, void* buffer, std::size_t n)
{
    if (failing(Op::kRead) || interrupting())
        return -1;
    return real_.read(fd, buffer, maxRead ? std::min(n, maxRead) : n);
}

ssize_t FaultyOps::pread(int fd, void* buffer, std::size_t n, off_t offset)
{
    if (failing(Op::kPread))
        return -1;
    return real_.pread(fd, buffer, maxRead ? std::min(n, maxRead) : n, offset);
}

ssize_t FaultyOps::write(int fd, const void* data, std::size_t n)
{
    if (failing(Op::kWrite) || interrupting())
        return -1;
    return real_.write(fd, data, maxWrite ? std::min(n, maxWrite) : n);
}

int FaultyOps::fsync(int fd) { return failing(Op::kFsync) ? -1 : real_.fsync(fd); }

int FaultyOps::close(int fd)
{
    if (failing(Op::kClose)) {
        // A failed close still releases the descriptor, as on Linux.
        const int err = errno;
        real_.close(fd);
        errno = err;
        return -1;
    }
    return real_.close(fd);
}

int FaultyOps::fstat(int fd, struct stat* st) { return failing(Op::kFstat) ? -1 : real_.fstat(fd, st); }
int FaultyOps::fstatat(int dirFd, const std::string& path, struct stat* st, int flags)
{
    return failing(Op::kStat, path) ? -1 : real_.fstatat(dirFd, path, st, flags);
}
int FaultyOps::faccessat(int dirFd, const std::string& path, int mode, int flags)
{
    return failing(Op::kAccess, path) ? -1 : real_.faccessat(dirFd, path, mode, flags);
}
int FaultyOps::flock(int fd, int operation) { return failing(Op::kFlock) ? -1 : real_.flock(fd, operation); }
int FaultyOps::fchmod(int fd, mode_t mode) { return failing(Op::kFchmod) ? -1 : real_.fchmod(fd, mode); }
int FaultyOps::fchown(int fd, uid_t owner, gid_t group)
{
    return failing(Op::kFchown) ? -1 : real_.fchown(fd, owner, group);
}
int FaultyOps::futimens(int fd, const struct timespec times[2])
{
    return failing(Op::kFutimens) ? -1 : real_.futimens(fd, times);
}
int FaultyOps::linkat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to, int flags)
{
    return failing(Op::kLink, to) ? -1 : real_.linkat(fromDirFd, from, toDirFd, to, flags);
}
int FaultyOps::renameat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to)
{
    return failing(Op::kRename, to) ? -1 : real_.renameat(fromDirFd, from, toDirFd, to);
}
int FaultyOps::unlinkat(int dirFd, const std::string& path, int flags)
{
    return failing(Op::kUnlink, path) ? -1 : real_.unlinkat(dirFd, path, flags);
}
int FaultyOps::readlinkat(int dirFd, const std::string& path, std::string& target)
{
    return failing(Op::kReadlink, path) ? -1 : real_.readlinkat(dirFd, path, target);
}
int FaultyOps::copyAttributes(int from, int to)
{
    return failing(Op::kCopyAttributes) ? -1 : real_.copyAttributes(from, to);
}

int FaultyOps::getLock(int fd, struct flock* lock)
{
    return failing(Op::kGetLock) ? -1 : real_.getLock(fd, lock);
}
bool FaultyOps::flushesFileSystemAtOnce(int fd)
{
    return flushesAtOnce ? *flushesAtOnce : real_.flushesFileSystemAtOnce(fd);
}
int FaultyOps::syncfs(int fd) { return failing(Op::kSyncfs) ? -1 : real_.syncfs(fd); }
int FaultyOps::setLease(int fd, int type) { return failing(Op::kLease) ? -1 : real_.setLease(fd, type); }
struct timespec FaultyOps::now()
{
    struct timespec time = real_.now();
    time.tv_sec += clockAhead;
    return time;
}

}  // namespace dxfkonv::test
