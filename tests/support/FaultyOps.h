// A file layer for tests: passes every call to the system, counting the
// calls of each kind; fails the ones a test picks, the way the system
// would, or lets the test change the file system just before one.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "engine/platform/posix/FileOps.h"
#include "engine/platform/posix/PosixFileSystem.h"

namespace dxfkonv::test {

enum class Op : int {
    kOpen, kRead, kPread, kWrite, kFsync, kClose, kFstat, kStat, kAccess, kFlock,
    kFchmod, kFchown, kFutimens, kLink, kRename, kUnlink, kReadlink, kCopyAttributes, kGetLock, kLease, kSyncfs, kCount
};
const char* opName(Op op);

class FaultyOps final : public FileOps {
public:
    FaultyOps() = default;
    FaultyOps(const FaultyOps&) = delete;
    FaultyOps& operator=(const FaultyOps&) = delete;

    // The file system a conversion sees: the system's own, through these
    // calls.
    operator FileSystem&() { return fs_; }

    // Picks the calls that fail: the errno to fail with, 0 for none. nth
    // counts from 1 per operation.
    std::function<int(Op op, int nth)> fault;
    std::function<void(Op op, int nth)> before;  // runs ahead of each call
    // Runs ahead of each call too, before `before`, but outside the layer's
    // own lock: it may hold its call until another thread's calls are done.
    std::function<void(Op op, int nth)> hold;
    // While `fault` or `before` runs: the name the call looks up (the new
    // name of a link or rename), empty for calls on a descriptor.
    std::string lookedUp;
    std::size_t maxRead = 0;   // 0: no limit
    std::size_t maxWrite = 0;  // 0: no limit
    bool interruptEveryOther = false;  // every other read/write fails with EINTR first
    long clockAhead = 0;  // seconds the clock the layer tells is put forward
    // Whether a file system's writes are put on the disk at once; as the
    // system's own calls decide when empty.
    std::optional<bool> flushesAtOnce;

    int calls(Op op) const
    {
        std::lock_guard lock(mutex_);
        return counts_[static_cast<int>(op)];
    }

    int openat(int dirFd, const std::string& path, int flags, mode_t mode) override;
    bool flushesFileSystemAtOnce(int fd) override;
    int syncfs(int fd) override;
    ssize_t read(int fd, void* buffer, std::size_t n) override;
    ssize_t pread(int fd, void* buffer, std::size_t n, off_t offset) override;
    ssize_t write(int fd, const void* data, std::size_t n) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int fstat(int fd, struct stat* st) override;
    int fstatat(int dirFd, const std::string& path, struct stat* st, int flags) override;
    int faccessat(int dirFd, const std::string& path, int mode, int flags) override;
    int flock(int fd, int operation) override;
    int fchmod(int fd, mode_t mode) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int futimens(int fd, const struct timespec times[2]) override;
    int linkat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to, int flags) override;
    int renameat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to) override;
    int unlinkat(int dirFd, const std::string& path, int flags) override;
    int readlinkat(int dirFd, const std::string& path, std::string& target) override;
    int copyAttributes(int from, int to) override;
    int getLock(int fd, struct flock* lock) override;
    int setLease(int fd, int type) override;
    struct timespec now() override;

private:
    // Counts the call; true (errno set) when it is to fail.
    bool failing(Op op, const std::string& name = {});
    // True (errno EINTR) for every other read or write, when asked for.
    bool interrupting();

    FileOps& real_ = SystemFileOps();
    PosixFileSystem fs_{*this};
    mutable std::mutex mutex_;
    std::array<int, static_cast<int>(Op::kCount)> counts_{};
    std::atomic<int> ioCalls_ = 0;
};

}  // namespace dxfkonv::test
