#include "engine/platform/posix/Errno.h"
#include "engine/platform/posix/WorkFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "engine/IoError.h"

namespace dxfkonv::posix {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

}  // namespace

PendingName gPending[8];

void writeAll(FileOps& ops, int fd, const char* data, std::size_t n)
{
    while (n != 0) {
        const ssize_t put = ops.write(fd, data, n);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            const IoStep step("writing the work file");
            fail();
        }
        if (put == 0)
            throw IoError(kDiskFull, "the file system took no more bytes");
        data += put;
        n -= static_cast<std::size_t>(put);
    }
}


// Whether an error giving a file its owner or permissions says only that
// they cannot be given here: not by this caller, or not on this file
// system (many that come from other systems keep none).
bool cannotKeep(int err)
{
    return err == EPERM || err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}


// ---- the work file -------------------------------------------------------------------

// Takes a lock that says a pass is using the file open as `fd`, without
// waiting; false when another holds one. A file system that keeps no
// locks lets everybody have one.
bool lockFile(FileOps& ops, int fd)
{
    if (ops.flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno == EWOULDBLOCK)
        return false;
    if (errno == ENOLCK || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)
        return true;
    fail();
}

// Whether the open file `fd` holds what a work file holds (see
// holdsWorkFileContent()).
bool holdsWorkFileContent(FileOps& ops, int fd)
{
    char head[64];
    ssize_t got;
    do
        got = ops.pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return false;
    return dxfkonv::holdsWorkFileContent(std::string_view(head, static_cast<std::size_t>(got)), sizeof head);
}

// Removes `name` in `dirFd` when it is what a pass that was killed left
// behind: a regular file that no pass holds, empty or holding a drawing.
// Returns whether there was anything of that name.
bool removeIfLeftBehind(FileOps& ops, int dirFd, const std::string& name)
{
    struct stat st{};
    if (ops.fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno != ENOENT;
    if (!S_ISREG(st.st_mode))
        return true;
    const int fd = ops.openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return true;
    Fd file(ops, fd);
    struct stat open{};
    if (ops.fstat(fd, &open) != 0 || !sameFile(open, st) || ops.flock(fd, LOCK_EX | LOCK_NB) != 0
        || !holdsWorkFileContent(ops, fd))
        return true;
    struct stat still{};
    if (ops.fstatat(dirFd, name, &still, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(still, open))
        ops.unlinkat(dirFd, name, 0);  // best effort: the name is taken over otherwise
    return true;
}

// Removes what passes that were killed left in `dirFd` (see
// removeIfLeftBehind()), but never the drawing `keep` itself. Numbers are
// claimed from 0 up, so a few missing ones end the search.
void removeLeftBehind(FileOps& ops, int dirFd, const std::string& keep)
{
    constexpr int kGap = 8;
    for (auto* nameOf : {&workName, &backupLinkName}) {
        int missing = 0;
        for (int i = 0; i < kMaxWorkNames && missing < kGap; ++i) {
            const std::string name = (*nameOf)(i);
            missing = name == keep || removeIfLeftBehind(ops, dirFd, name) ? 0 : missing + 1;
        }
    }
}

// Copies the open file `fd` (from its start) into a new file of the same
// permissions and times, for a backup where no hard link can be made, and
// says what it copied.
Content copyInto(FileOps& ops, int fd, const struct stat& st, NewFile& copy)
{
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
    ContentHash copied;
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ops.pread(fd, buffer.get(), kCopyChunk, offset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail();
        }
        if (got == 0)
            break;
        writeAll(ops, copy.fd(), buffer.get(), static_cast<std::size_t>(got));
        copied.add(buffer.get(), static_cast<std::size_t>(got));
        offset += got;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ops.futimens(copy.fd(), times) != 0)
        fail();
    copy.adopt(st, fd);
    copy.flush();
    return copied.content();
}

// Puts the old content (the file open as `fd`, the very file the pass
// read) under `backupName` in the directory `dirFd`, replacing any earlier
// backup in one step, so that name never stands empty or half-written. A
// hard link costs nothing and keeps the times; where none can be made the
// bytes are copied. Either is made under a name of its own first, and
// takes the backup's name only when `beforeKept` returns.
void makeBackup(FileOps& ops, int fd, const struct stat& st, int dirFd, const std::string& backupName,
                const std::function<void(const Content* copied)>& beforeKept)
{
    const IoStep step("keeping the backup", backupName);
    if (st.st_nlink == 1) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        int err = EEXIST;
        PendingRemoval pending;
        for (int i = 0; err == EEXIST && i < kMaxWorkNames; ++i) {
            const std::string name = backupLinkName(i);
            if (ops.linkat(AT_FDCWD, self, dirFd, name, AT_SYMLINK_FOLLOW) == 0) {
                pending.set(dirFd, name);
                try {
                    beforeKept(nullptr);
                } catch (...) {
                    ops.unlinkat(dirFd, name, 0);
                    throw;
                }
                if (ops.renameat(dirFd, name, dirFd, backupName) != 0) {
                    err = errno;
                    ops.unlinkat(dirFd, name, 0);
                    throw IoErrorFromErrno(err);
                }
                return;
            }
            err = errno;
        }
        // Where no link can be made the bytes are copied; "no such file"
        // means the system shows no descriptors by name.
        if (err != EXDEV && err != EPERM && err != EMLINK && err != EOPNOTSUPP && err != ENOSYS && err != ENOENT)
            throw IoErrorFromErrno(err);
    }
    // The file has other names, or the file system takes no hard link.
    NewFile copy(ops, dirFd);
    const Content copied = copyInto(ops, fd, st, copy);
    beforeKept(&copied);
    const std::string& name = copy.publish();
    copy.close();
    if (ops.renameat(dirFd, name, dirFd, backupName) != 0)
        fail();
    copy.keep();
}


}  // namespace dxfkonv::posix

namespace dxfkonv {

void RemoveUnfinishedWorkFiles() noexcept
{
    for (auto& slot : posix::gPending) {
        const int dirFd = slot.dirFd.load();
        if (dirFd >= 0)
            ::unlinkat(dirFd, slot.name, 0);
    }
}

}  // namespace dxfkonv
