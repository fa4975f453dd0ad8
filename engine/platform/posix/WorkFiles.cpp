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

// Whether `name` in `dirFd` is the file open as `fd`, no link followed:
// false where it leads to another file or to none.
bool namedHere(FileOps& ops, int dirFd, const std::string& name, int fd)
{
    struct stat mine{};
    if (ops.fstat(fd, &mine) != 0)
        fail();
    struct stat named{};
    if (ops.fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT)
            fail();
        return false;
    }
    return sameFile(mine, named);
}

[[noreturn]] void failNamedElsewhere()
{
    throw IoError(kFileInUse, "the work file's name leads to another program's file by now");
}

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

// Whether the open file `fd` holds what a work file holds, as `holds`
// tells by its first bytes.
bool holdsWorkFileContent(FileOps& ops, int fd, HoldsWorkContent holds)
{
    char head[64];
    ssize_t got;
    do
        got = ops.pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got < 0)
        return false;
    return holds(std::string_view(head, static_cast<std::size_t>(got)), sizeof head);
}

// Whether `time` is later than `since`.
bool later(const struct timespec& time, const struct timespec& since)
{
    return time.tv_sec != since.tv_sec ? time.tv_sec > since.tv_sec : time.tv_nsec > since.tv_nsec;
}

// Whether the file `st` was written or its attributes changed after
// `since` (a time in the future counting as now).
bool touchedSince(const struct stat& st, const struct timespec& since)
{
    return later(st.st_mtim, since) || later(st.st_ctim, since);
}

// Whether a program may still be using the file open as `fd` (its own
// descriptor, which holds no lock): another holds a record lock on any
// part of it, or has it open where the system can tell (a write lease
// is refused then). A file system that keeps no record locks, or gives
// no leases (network file systems, a caller who does not own the file),
// tells nothing that way.
bool usedByAnother(FileOps& ops, int fd)
{
    struct flock probe{};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;  // the whole file, however far it grows
    if (ops.getLock(fd, &probe) == 0) {
        if (probe.l_type != F_UNLCK)
            return true;
    } else if (errno != ENOLCK && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) {
        return true;  // cannot tell: kept
    }
    if (ops.setLease(fd, F_WRLCK) == 0) {
        ops.setLease(fd, F_UNLCK);
        return false;
    }
    return errno == EAGAIN || errno == EBUSY;
}

// Removes `name` in `dirFd` when it is what a pass that was killed left
// behind: a regular file, empty or holding a drawing, that no program can
// still be writing: none holds a lock of any kind the system offers on
// it, and it was left alone for kLeftAloneSeconds before `now`; `holds`
// tells its content. Returns whether there was anything of that name.
bool removeIfLeftBehind(FileOps& ops, int dirFd, const std::string& name, const struct timespec& now,
                        HoldsWorkContent holds)
{
    struct timespec since = now;
    since.tv_sec -= kLeftAloneSeconds;
    struct stat st{};
    if (ops.fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno != ENOENT;
    if (!S_ISREG(st.st_mode) || touchedSince(st, since))
        return true;
    const int fd = ops.openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return true;
    Fd file(ops, fd);
    struct stat open{};
    if (ops.fstat(fd, &open) != 0 || !sameFile(open, st) || touchedSince(open, since)
        || ops.flock(fd, LOCK_EX | LOCK_NB) != 0 || usedByAnother(ops, fd) || !holdsWorkFileContent(ops, fd, holds))
        return true;
    struct stat still{};
    if (ops.fstatat(dirFd, name, &still, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(still, open))
        ops.unlinkat(dirFd, name, 0);  // best effort: the name is taken over otherwise
    return true;
}

// Removes what passes that were killed left in `dirFd` (see
// removeIfLeftBehind()), but never the drawing `keep` itself. Numbers are
// claimed from 0 up, so a few missing ones end the search.
void removeLeftBehind(FileOps& ops, int dirFd, const std::string& keep, HoldsWorkContent holds)
{
    constexpr int kGap = 8;
    const struct timespec now = ops.now();
    for (auto* nameOf : {&workName, &backupLinkName}) {
        int missing = 0;
        for (int i = 0; i < kMaxWorkNames && missing < kGap; ++i) {
            const std::string name = (*nameOf)(i);
            missing = name == keep || removeIfLeftBehind(ops, dirFd, name, now, holds) ? 0 : missing + 1;
        }
    }
}

int NewFile::heldFd() const
{
    return fd_ && fd_->get() >= 0 ? fd_->get() : lockHolder_ ? lockHolder_->get() : -1;
}

bool NewFile::nameLeadsElsewhere()
{
    const int fd = heldFd();
    if (fd < 0)
        return false;
    try {
        return !namedHere(ops_, dirFd_, name_, fd);
    } catch (const IoError&) {
        return false;  // cannot be told
    }
}

void NewFile::requireOwnName()
{
    const int fd = heldFd();
    if (fd < 0)
        throw IoError(kFileNotOpen, "the work file is held no more");
    if (!namedHere(ops_, dirFd_, name_, fd)) {
        // Neither removed when the pass goes, nor by a signal.
        pending_.clear();
        name_.clear();
        failNamedElsewhere();
    }
}

Content readFromStart(FileOps& ops, int fd, const std::function<void(const char*, std::size_t)>& each)
{
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
    ContentHash read;
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ops.pread(fd, buffer.get(), kCopyChunk, offset);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail();
        }
        if (got == 0)
            return read.content();
        const auto n = static_cast<std::size_t>(got);
        if (each)
            each(buffer.get(), n);
        read.add(buffer.get(), n);
        offset += got;
    }
}

// Copies the open file `fd` (from its start) into a new file of the same
// permissions and times, for a backup where no hard link can be made, and
// says what it copied.
Content copyInto(FileOps& ops, int fd, const struct stat& st, NewFile& copy)
{
    const Content copied = readFromStart(ops, fd, [&ops, &copy](const char* data, std::size_t n) {
        writeAll(ops, copy.fd(), data, n);
    });
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ops.futimens(copy.fd(), times) != 0)
        fail();
    copy.adopt(st, fd);
    copy.flush();
    return copied;
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
        // A link is the very file: where links are sure to be made, its
        // last checks may as well come first, so that the link has a name
        // of its own only for a moment; elsewhere they come once it is
        // made, not before a copy that needs them again.
        const bool checkedFirst = ops.keepsChangeTimes(fd);
        if (checkedFirst)
            beforeKept(nullptr);
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        // Checked already and no earlier backup: the link can take the
        // backup's name at once.
        if (checkedFirst && ops.linkat(AT_FDCWD, self, dirFd, backupName, AT_SYMLINK_FOLLOW) == 0)
            return;
        int err = checkedFirst ? errno : EEXIST;
        PendingRemoval pending;
        for (int i = 0; err == EEXIST && i < kMaxWorkNames; ++i) {
            const std::string name = backupLinkName(i);
            if (ops.linkat(AT_FDCWD, self, dirFd, name, AT_SYMLINK_FOLLOW) == 0) {
                pending.set(dirFd, name);
                // The last checks where they did not come first, then the
                // link's name, which must still be ours, right before the
                // rename.
                bool here = false;
                try {
                    if (!checkedFirst)
                        beforeKept(nullptr);
                    here = namedHere(ops, dirFd, name, fd);
                } catch (...) {
                    ops.unlinkat(dirFd, name, 0);
                    throw;
                }
                if (!here) {
                    pending.clear();
                    failNamedElsewhere();
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
    copy.requireOwnName();
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
