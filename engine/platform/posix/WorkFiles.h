// The POSIX side's work files: named or unnamed new files beside a
// drawing, their names, what killed passes left, and backups.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "engine/IoError.h"
#include "engine/Blocks.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/WorkNames.h"
#include "engine/platform/posix/Descriptors.h"

namespace dxfkonv::posix {

// Work files from this size on are written straight to the disk where it
// takes that.
inline constexpr std::uint64_t kDirectFrom = 4u << 20;

// ---- names a signal may have to remove -------------------------------------------

// A named work file, for RemoveUnfinishedWorkFiles(). A slot is free while
// its directory is -1; it is claimed with -2 while its name is written.
struct PendingName {
    std::atomic<int> dirFd{-1};
    char name[32] = {};
};
// Enough for a pass's work file, backup link and backup copy, and for the
// next drawing's work file while they are being finished.
extern PendingName gPending[8];

class PendingRemoval {
public:
    PendingRemoval() = default;
    PendingRemoval(const PendingRemoval&) = delete;
    PendingRemoval& operator=(const PendingRemoval&) = delete;
    ~PendingRemoval() { clear(); }

    void set(int dirFd, const std::string& name)
    {
        clear();
        if (name.size() >= sizeof(PendingName::name))
            return;
        for (auto& slot : gPending) {
            int free = -1;
            if (slot.dirFd.compare_exchange_strong(free, -2)) {
                std::memcpy(slot.name, name.c_str(), name.size() + 1);
                slot.dirFd.store(dirFd);
                slot_ = &slot;
                return;
            }
        }
    }
    void clear()
    {
        if (slot_)
            slot_->dirFd.store(-1);
        slot_ = nullptr;
    }

private:
    PendingName* slot_ = nullptr;
};



// Writes all n bytes; "Disk full." where the file system takes no more.
void writeAll(FileOps& ops, int fd, const char* data, std::size_t n);

// Whether an error giving a file its owner or permissions says only that
// they cannot be given here.
bool cannotKeep(int err);

// Takes a lock that says a pass is using the file open as `fd`, without
// waiting; false when another holds one.
bool lockFile(FileOps& ops, int fd);

// Removes what passes that were killed left in `dirFd` (those `holds`
// tells from somebody's own), never `keep`.
void removeLeftBehind(FileOps& ops, int dirFd, const std::string& keep, HoldsWorkContent holds);

// Writes the work file. A large one goes to the disk as it is written,
// straight from the pass's buffers, which come whole and aligned: the
// system copies nothing into its cache, and the flush at the end finds
// next to nothing left. The rest of the last buffer, or anything written
// that is not whole disk blocks in aligned memory, goes the ordinary way,
// and so does all after it; so does everything where the file system
// refuses writes of that kind. Written the ordinary way, each few
// megabytes are put on the disk while the pass goes on.
class Writer {
public:
    Writer(FileOps& ops, int fd, std::uint64_t expected) : ops_(ops), fd_(fd)
    {
        direct_ = expected >= kDirectFrom && ops_.writeDirect(fd_, true);
    }

    void write(const char* data, std::size_t n)
    {
        if (direct_) {
            const bool aligned = reinterpret_cast<std::uintptr_t>(data) % kBlockAlign == 0;
            const std::size_t whole = aligned ? n / kBlockAlign * kBlockAlign : 0;
            const std::size_t done = whole != 0 ? writeDirect(data, whole) : 0;
            data += done;
            n -= done;
            if (n == 0)
                return;
            direct_ = false;
            if (!ops_.writeDirect(fd_, false))
                fail();
        }
        writeAll(ops_, fd_, data, n);
        written_ += n;
        if (written_ - started_ >= kWriteBehind) {
            ops_.startWriteBack(fd_, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_));
            started_ = written_;
        }
    }

private:
    static constexpr std::uint64_t kWriteBehind = 8u << 20;

    // How many of the n bytes went straight to the disk: all, or fewer
    // where the file system cut the write short or refused it.
    std::size_t writeDirect(const char* data, std::size_t n)
    {
        ssize_t put;
        do
            put = ops_.write(fd_, data, n);
        while (put < 0 && errno == EINTR);
        if (put < 0 && errno != EINVAL)
            fail();
        return put > 0 ? static_cast<std::size_t>(put) : 0;
    }

    FileOps& ops_;
    int fd_;
    bool direct_;                // writes go straight to the disk
    std::uint64_t written_ = 0;  // the ordinary way
    std::uint64_t started_ = 0;
};


// A new file in an open directory. Where the file system allows, it has no
// name at all until publish() gives it one, so a pass that is killed
// leaves nothing behind; elsewhere it is kWorkFileName, or kWorkFileName.N
// while that name is taken, and before it takes one, what killed passes
// left there is removed when `leftBehind` is given (as it tells them from
// somebody's own), never the drawing `keep`, whatever its name. Either way
// it is locked while the pass uses it. Removed when it goes, unless kept.
class NewFile {
public:
    NewFile(FileOps& ops, int dirFd, HoldsWorkContent leftBehind = nullptr, const std::string& keep = {})
        : ops_(ops), dirFd_(dirFd)
    {
        const IoStep step("making a work file beside it");
        int fd = ops.openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (fd >= 0) {
            fd_ = std::make_unique<Fd>(ops, fd);
            // The name is given through the system's view of the descriptor;
            // without it the file could never be named.
            procPath_ = "/proc/self/fd/" + std::to_string(fd);
            struct stat viaProc{};
            if (ops.fstatat(AT_FDCWD, procPath_, &viaProc, 0) == 0) {
                lockFile(ops, fd);  // a new file nobody else can open yet
                return;
            }
            fd_.reset();
            procPath_.clear();
        } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            fail();
        }
        if (leftBehind)
            removeLeftBehind(ops, dirFd, keep, leftBehind);
        fd = claimName([&](const std::string& name) {
            const int created = ops.openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (created < 0)
                return created;
            // Locked, and still under its name: a pass that took it for
            // one left behind may have removed it in between.
            Fd file(ops, created);
            struct stat mine{};
            struct stat named{};
            if (!lockFile(ops, created) || ops.fstat(created, &mine) != 0
                || ops.fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(mine, named)) {
                errno = EEXIST;
                return -1;
            }
            return file.release();
        });
        fd_ = std::make_unique<Fd>(ops, fd);
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile()
    {
        // Never another program's file that took the name meanwhile.
        const bool elsewhere = !kept_ && !name_.empty() && nameLeadsElsewhere();
        if (fd_)
            fd_.reset();
        if (!kept_ && !name_.empty() && !elsewhere)
            ops_.unlinkat(dirFd_, name_, 0);
        lockHolder_.reset();
    }

    int fd() const { return fd_->get(); }
    // Closes the file, reporting a failed close; named by then. Its lock
    // stays until the work file goes, so that its name is never taken for
    // one a killed pass left.
    void close()
    {
        const int lockHolder = ops_.duplicate(fd());
        if (lockHolder < 0)
            fail();
        lockHolder_ = std::make_unique<Fd>(ops_, lockHolder);
        fd_->close();
    }
    // Fails with "I/O error 32." unless the file's name still leads to
    // this very file, right before it is renamed: a program that took it
    // for one a killed pass left may have removed it and made a file of
    // its own under that name. That file is then neither moved nor
    // removed.
    void requireOwnName();
    void keep()
    {
        kept_ = true;
        pending_.clear();
    }

    // Gives the file the owner, group, permissions and other attributes of
    // the file it stands in for (open as `likeFd`, or only described by
    // `like` when likeFd is -1), as far as allowed.
    MetadataKept adopt(const struct stat& like, int likeFd)
    {
        MetadataKept kept;
        const IoStep step("giving the work file the drawing's owner and permissions");
        if (ops_.fchown(fd(), like.st_uid, like.st_gid) != 0) {
            if (!cannotKeep(errno))
                fail();
            // The caller may still be able to keep the group.
            if (ops_.fchown(fd(), static_cast<uid_t>(-1), like.st_gid) != 0 && !cannotKeep(errno))
                fail();
            struct stat now{};
            if (ops_.fstat(fd(), &now) != 0)
                fail();
            kept.owner = now.st_uid == like.st_uid;
            kept.group = now.st_gid == like.st_gid;
        }
        if (likeFd >= 0 ? ops_.copyAttributes(likeFd, fd()) != 0 : ops_.fchmod(fd(), like.st_mode & 07777) != 0) {
            if (!cannotKeep(errno))
                fail();
            kept.mode = false;
        }
        return kept;
    }

    void flush()
    {
        const IoStep step("putting the work file on the disk");
        if (ops_.fsync(fd()) != 0)
            fail();
    }

    // All its file system's writes at once, where that is worth it; false
    // where not, or where it failed (each file's own flush then says
    // which failed).
    bool flushFileSystem() { return ops_.flushesFileSystemAtOnce(fd()) && ops_.syncfs(fd()) == 0; }

    // Gives the file a name of its own in its directory, for the rename.
    const std::string& publish()
    {
        if (name_.empty())
            claimName([this](const std::string& name) {
                return ops_.linkat(AT_FDCWD, procPath_, dirFd_, name, AT_SYMLINK_FOLLOW);
            });
        return name_;
    }

private:
    // Whether the file's name leads to another file than this one by now
    // (or to none); false where that cannot be told.
    bool nameLeadsElsewhere();
    // The descriptor the file is held by: its own while open, else the one
    // that keeps its lock; -1 with neither.
    int heldFd() const;

    // Tries kWorkFileName, kWorkFileName.1, kWorkFileName.2 ... until `take`
    // gets one (a result of 0 or more), and keeps it; fails at once for any
    // other reason than the name being taken.
    template <typename Take>
    int claimName(Take take)
    {
        for (int i = 0; i < kMaxWorkNames; ++i) {
            std::string name = workName(i);
            const int result = take(name);
            if (result >= 0) {
                name_ = std::move(name);
                pending_.set(dirFd_, name_);
                return result;
            }
            if (errno != EEXIST)
                fail();
        }
        fail();
    }

    FileOps& ops_;
    int dirFd_;
    std::unique_ptr<Fd> fd_;
    std::unique_ptr<Fd> lockHolder_;  // once closed
    std::string procPath_;  // for an unnamed file
    std::string name_;      // once it has one
    PendingRemoval pending_;
    bool kept_ = false;
};


// Reads the file open as `fd` from its start to its end, by positions (the
// file's own position stays where it was), handing each block to `each`
// when given, and says what it read.
Content readFromStart(FileOps& ops, int fd, const std::function<void(const char*, std::size_t)>& each = {});

// Keeps the file open as `fd` (the very file the pass read, as `st`) as
// `backupName` in `dirFd`, replacing an earlier backup in one step once
// `beforeKept` (see FileSystem::backUp()) has let it.
void makeBackup(FileOps& ops, int fd, const struct stat& st, int dirFd, const std::string& backupName,
                const std::function<void(const Content* copied)>& beforeKept);

}  // namespace dxfkonv::posix
