// The POSIX calls the POSIX file system (PosixFileSystem) makes. It goes
// through this interface only, so a test can make any single call fail the
// way the system would (set errno, return -1), or change the file system
// between two calls, where the system cannot be made to do so on demand.
//
// Names are looked up relative to an open directory (AT_FDCWD for the
// current one): a pass resolves a drawing's directory once and then works
// through descriptors, so that nobody can swap a name under it.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string>

namespace dxfkonv {

class FileOps {
public:
    virtual ~FileOps() = default;

    // Each call behaves as the POSIX function of the same name.
    virtual int openat(int dirFd, const std::string& path, int flags, mode_t mode = 0) = 0;
    virtual ssize_t read(int fd, void* buffer, std::size_t n) = 0;
    virtual ssize_t pread(int fd, void* buffer, std::size_t n, off_t offset) = 0;
    virtual ssize_t write(int fd, const void* data, std::size_t n) = 0;
    virtual int fsync(int fd) = 0;
    virtual int close(int fd) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int fstatat(int dirFd, const std::string& path, struct stat* st, int flags) = 0;
    virtual int faccessat(int dirFd, const std::string& path, int mode, int flags) = 0;
    virtual int flock(int fd, int operation) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
    virtual int futimens(int fd, const struct timespec times[2]) = 0;
    virtual int linkat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to, int flags) = 0;
    virtual int renameat(int fromDirFd, const std::string& from, int toDirFd, const std::string& to) = 0;
    virtual int unlinkat(int dirFd, const std::string& path, int flags) = 0;
    // The target of a symbolic link, or -1 with errno set.
    virtual int readlinkat(int dirFd, const std::string& path, std::string& target) = 0;
    // Gives file `to` the permission bits, the access control lists and the
    // other extended attributes of file `from`. A file system that keeps no
    // such attributes is no failure; -1 with errno set for any other.
    virtual int copyAttributes(int from, int to) = 0;
    // Another descriptor of the same open file (sharing its lock), or -1
    // with errno set.
    virtual int duplicate(int fd);
    // Asks the system to start writing a range of the file to the disk,
    // without waiting; only a hint, so it reports nothing.
    virtual void startWriteBack(int fd, off_t offset, off_t length);
    // Has the writes to the file go to the disk straight from the caller's
    // memory (O_DIRECT), or not; false where that cannot be done, or is
    // not worth it: anywhere but on a local disk.
    virtual bool writeDirect(int fd, bool on);
    // Whether a record lock such as `lock` could be taken on the file open
    // as `fd`: `lock` then says the lock in the way, or its type becomes
    // F_UNLCK. Locks of every other open file count, this process's own
    // too where the system tells them apart (F_OFD_GETLK), else those of
    // other processes (F_GETLK). 0, or -1 with errno set.
    virtual int getLock(int fd, struct flock* lock);
    // Takes (F_RDLCK, F_WRLCK) or gives back (F_UNLCK) a lease on the file
    // open as `fd`, as fcntl(F_SETLEASE) does: a write lease only while
    // nobody else has the file open. 0, or -1 with errno set.
    virtual int setLease(int fd, int type);
    // The time of day, as files' times are kept.
    virtual struct timespec now();
    // Whether syncfs() on the file system of `fd` puts many files' writes
    // on the disk as surely as an fsync() of each, and likely sooner: a
    // Linux that reports what failed in it (5.8 on), a local disk's file
    // system that takes it in one commit of its journal, and little else
    // of the system's waiting to be written, whose writing it would wait
    // for as well.
    virtual bool flushesFileSystemAtOnce(int fd);
    // syncfs(): 0, or -1 with errno set.
    virtual int syncfs(int fd);
    // Whether the file system of `fd` keeps for each file a change time
    // that follows every write and that nobody can set back (utimensat
    // sets the modification time only). False where unsure: file systems
    // of other systems, user space and network file systems.
    virtual bool keepsChangeTimes(int fd);
};

// The operating system's own calls.
FileOps& SystemFileOps();

}  // namespace dxfkonv
