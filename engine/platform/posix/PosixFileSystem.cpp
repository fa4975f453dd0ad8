#include "engine/platform/posix/PosixFileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/IoError.h"
#include "engine/pass/LinePass.h"
#include "engine/platform/Signals.h"
#include "engine/platform/posix/Descriptors.h"
#include "engine/replace/Drawings.h"

namespace dxfkonv {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
// Names to try for a work file while earlier ones are taken (by another
// pass, or left by a crash of an older version).
constexpr int kMaxWorkNames = 1000;
// Work files from this size on are written straight to the disk where it
// takes that.
constexpr std::uint64_t kDirectFrom = 4u << 20;
// The number the message table gives a file another program holds.
constexpr int kFileInUse = 32;

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

FileKey keyOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

FileState stateOf(const struct stat& st)
{
    FileState state;
    state.key = keyOf(st);
    state.size = static_cast<std::uint64_t>(st.st_size);
    state.modified = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    state.changed = {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
    state.names = static_cast<std::uint64_t>(st.st_nlink);
    state.regular = S_ISREG(st.st_mode);
    return state;
}

// ---- names a signal may have to remove -------------------------------------------

// A named work file, for RemoveUnfinishedWorkFiles(). A slot is free while
// its directory is -1; it is claimed with -2 while its name is written.
struct PendingName {
    std::atomic<int> dirFd{-1};
    char name[32] = {};
};
// Enough for a pass's work file, backup link and backup copy, and for the
// next drawing's work file while they are being finished.
PendingName gPending[8];

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


// ---- finding a drawing -------------------------------------------------------------

// A file found: the directory that really holds it (open) and its name
// there, which is no symbolic link.
struct Place {
    std::unique_ptr<Fd> dir;
    std::unique_ptr<Fd> namedIn;  // where the name given was, when that was a link
    bool dirSyncable = false;  // opened for reading, so it can be flushed
    std::string name;
    struct stat st{};  // of the name, as found
    bool found = false;
};

// Splits `path` (a name, or a link's target) into its directory part,
// opened relative to place.dir and taking its place, and its last name.
// False with errno set when the directory cannot be opened.
bool enter(Resolver& resolver, Place& place, const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty())
        name = ".";  // a directory, never a drawing
    if (slash != std::string::npos) {
        const std::string directory = slash == 0 ? std::string("/") : path.substr(0, slash);
        bool syncable = false;
        auto dir = resolver.directory(place.dir->get(), directory, syncable);
        if (!dir)
            return false;
        if (!place.namedIn)
            place.namedIn = std::move(place.dir);
        place.dir = std::move(dir);
        place.dirSyncable = syncable;
    }
    place.name = std::move(name);
    return true;
}

// Finds a drawing: opens its directory, looks its name up there and
// follows it through symbolic links, each read relative to the directory
// that holds it. Missing names come back not found; names that cannot be
// reached, or links that may not be followed, throw.
Place locate(FileOps& ops, int in, const std::string& path, const std::string& given)
{
    const IoStep step("looking up", given);
    Resolver resolver(ops);
    Place place;
    if (in >= 0) {
        const int fd = ops.openat(in, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            fail();
        place.dir = std::make_unique<Fd>(ops, fd);
        place.dirSyncable = true;
    } else {
        place.dir = resolver.directory(AT_FDCWD, path.empty() ? "." : path, place.dirSyncable);
    }
    std::string next = given;
    std::vector<uid_t> linkOwners;  // of the links followed to the drawing
    for (;;) {
        if (!place.dir || !enter(resolver, place, next)) {
            if (errno == ENOENT || errno == ENOTDIR)
                return place;
            fail();
        }
        if (ops.fstatat(place.dir->get(), place.name, &place.st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                fail();
            // Nothing there yet: a new file would be made in this
            // directory, so a link must be one its owner may lead there.
            place.st = {};
            if (!linkOwners.empty()) {
                struct stat dir{};
                if (ops.fstat(place.dir->get(), &dir) != 0)
                    fail();
                for (const uid_t owner : linkOwners)
                    if (!mayFollow(owner, dir.st_uid))
                        throw IoError(kFileAccessDenied, "a link whose maker does not own the directory it leads to");
            }
            return place;
        }
        if (!S_ISLNK(place.st.st_mode))
            break;
        struct stat link{};
        if (!resolver.readLink(place.dir->get(), place.name, link, next)) {
            if (errno == ENOTDIR)
                throw IoError(kFileInUse, "its name changed while it was looked up");  // the name changed while it was looked at
            fail();
        }
        linkOwners.push_back(link.st_uid);
    }
    for (const uid_t owner : linkOwners)
        if (!mayFollow(owner, place.st.st_uid))
            throw IoError(kFileAccessDenied, "a link whose maker does not own the file it leads to");
    place.found = S_ISREG(place.st.st_mode);
    return place;
}

// Opens the file found, a regular file, without following a link that
// may have taken its name since.
int openFound(FileOps& ops, int dirFd, const std::string& name, struct stat& st)
{
    const int fd = ops.openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            throw IoError(kFileNotOpen, "it was gone when it was to be opened");  // gone since it was found
        if (errno == ELOOP)
            throw IoError(kFileAccessDenied, "a link took its name");  // a link took its place
        fail();
    }
    Fd guard(ops, fd);
    if (ops.fstat(fd, &st) != 0)
        fail();
    // A regular file: reads ignore O_NONBLOCK, which kept a FIFO that took
    // the name from stopping the open.
    if (!S_ISREG(st.st_mode))
        throw IoError(kFileNotFound, "no regular file by now");
    return guard.release();
}

// A file nobody may write is not replaced, whoever runs the pass; nor is
// one the pass could not rename over (another user's file in a directory
// with the sticky bit, like /tmp). Refused before anything is written.
void requireWritable(FileOps& ops, int dirFd, const std::string& name)
{
    struct stat st{};
    if (ops.fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        fail();
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw IoError(kFileAccessDenied, "nobody may write it");
    if (ops.faccessat(dirFd, name, W_OK, 0) != 0)
        fail();
    const uid_t me = ::geteuid();
    struct stat dir{};
    if (me != 0 && st.st_uid != me && ops.fstat(dirFd, &dir) == 0 && (dir.st_mode & S_ISVTX) != 0
        && dir.st_uid != me)
        throw IoError(kFileAccessDenied, "another user's file in a shared directory, which only he may replace");
}

// Whether an error giving a file its owner or permissions says only that
// they cannot be given here: not by this caller, or not on this file
// system (many that come from other systems keep none).
bool cannotKeep(int err)
{
    return err == EPERM || err == EINVAL || err == ENOSYS || err == ENOTSUP || err == EOPNOTSUPP;
}


// ---- the work file -------------------------------------------------------------------

// The names a pass may give its files beside a drawing: the work file
// (kWorkFileName, kWorkFileName.1 ...) and the temporary name of a backup
// link (kWorkFileName.old, kWorkFileName.old1 ...); the first is number 0.
std::string workName(int i)
{
    return i == 0 ? std::string(kWorkFileName) : std::string(kWorkFileName).append(".").append(std::to_string(i));
}
std::string backupLinkName(int i)
{
    const std::string name = std::string(kWorkFileName) + ".old";
    return i == 0 ? name : name + std::to_string(i);
}

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

// Whether the open file `fd` holds what a work file holds: nothing yet,
// or a drawing (its first line a group code). Anything else of that name
// is somebody's own file.
bool holdsWorkFileContent(FileOps& ops, int fd)
{
    char head[64];
    ssize_t got;
    do
        got = ops.pread(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got <= 0)
        return got == 0;
    std::string_view line(head, static_cast<std::size_t>(got));
    const std::size_t lf = line.find('\n');
    if (lf == std::string_view::npos && line.size() == sizeof head)
        return false;
    line = line.substr(0, lf);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.remove_suffix(1);
    while (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    if (!line.empty() && line.front() == '-')
        line.remove_prefix(1);
    return !line.empty() && line.find_first_not_of("0123456789") == std::string_view::npos;
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

// A new file in an open directory. Where the file system allows, it has no
// name at all until publish() gives it one, so a pass that is killed
// leaves nothing behind; elsewhere it is kWorkFileName, or kWorkFileName.N
// while that name is taken, and before it takes one, what killed passes
// left there is removed when `cleanUp` is given (the name of the drawing,
// which stays whatever its name). Either way it is locked while the pass
// uses it. Removed when it goes, unless kept.
class NewFile {
public:
    NewFile(FileOps& ops, int dirFd, const std::string* cleanUp = nullptr) : ops_(ops), dirFd_(dirFd)
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
        if (cleanUp)
            removeLeftBehind(ops, dirFd, *cleanUp);
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
        if (fd_)
            fd_.reset();
        if (!kept_ && !name_.empty())
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
        if (lockHolder >= 0)
            lockHolder_ = std::make_unique<Fd>(ops_, lockHolder);
        fd_->close();
    }
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


// Copies the open file `fd` (from its start) into a new file of the same
// permissions and times, for a backup where no hard link can be made.
void copyInto(FileOps& ops, int fd, const struct stat& st, NewFile& copy)
{
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
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
        offset += got;
    }
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ops.futimens(copy.fd(), times) != 0)
        fail();
    copy.adopt(st, fd);
    copy.flush();
}

// Puts the old content (the file open as `fd`, the very file the pass
// read) under `backupName` in the directory `dirFd`, replacing any earlier
// backup in one step, so that name never stands empty or half-written. A
// hard link costs nothing and keeps the times; where none can be made the
// bytes are copied.
void makeBackup(FileOps& ops, int fd, const struct stat& st, int dirFd, const std::string& backupName)
{
    const IoStep step("keeping the backup", backupName);
    if (st.st_nlink == 1) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        // No earlier backup: the link can take the name at once.
        if (ops.linkat(AT_FDCWD, self, dirFd, backupName, AT_SYMLINK_FOLLOW) == 0)
            return;
        int err = errno;
        PendingRemoval pending;
        for (int i = 0; err == EEXIST && i < kMaxWorkNames; ++i) {
            const std::string name = backupLinkName(i);
            if (ops.linkat(AT_FDCWD, self, dirFd, name, AT_SYMLINK_FOLLOW) == 0) {
                pending.set(dirFd, name);
                if (ops.renameat(dirFd, name, dirFd, backupName) != 0) {
                    err = errno;
                    ops.unlinkat(dirFd, name, 0);
                    throw IoError::fromErrno(err);
                }
                return;
            }
            err = errno;
        }
        // Where no link can be made the bytes are copied; "no such file"
        // means the system shows no descriptors by name.
        if (err != EXDEV && err != EPERM && err != EMLINK && err != EOPNOTSUPP && err != ENOSYS && err != ENOENT)
            throw IoError::fromErrno(err);
    }
    // The file has other names, or the file system takes no hard link.
    NewFile copy(ops, dirFd);
    copyInto(ops, fd, st, copy);
    const std::string& name = copy.publish();
    copy.close();
    if (ops.renameat(dirFd, name, dirFd, backupName) != 0)
        fail();
    copy.keep();
}


struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// What the open directory `dir` holds (see DirectoryListing).
DirectoryListing listOpen(DIR* dir)
{
    const int fd = ::dirfd(dir);
    DirectoryListing listing;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                throw IoError::fromErrno(errno);
            return listing;
        }
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue;  // hidden, and "." and ".."
        struct stat st{};
        if (::fstatat(fd, entry->d_name, &st, 0) != 0)
            continue;  // a link that leads nowhere, or a name gone since
        if (S_ISREG(st.st_mode) && IsDrawingName(name)) {
            listing.drawings.push_back(name);
        } else if (S_ISDIR(st.st_mode)) {
            struct stat own{};
            const bool link = ::fstatat(fd, entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
            listing.subdirectories.push_back({name, link});
        }
    }
}


// ---- the handles -----------------------------------------------------------------

class PosixDirectory final : public Directory {
public:
    PosixDirectory(FileOps& ops, std::unique_ptr<Fd> fd, bool syncable)
        : ops_(ops), fd_(std::move(fd)), syncable_(syncable)
    {
    }
    FileKey key() const override
    {
        struct stat st{};
        if (ops_.fstat(fd_->get(), &st) != 0)
            fail();
        return keyOf(st);
    }
    int fd() const { return fd_->get(); }
    bool syncable() const { return syncable_; }

private:
    FileOps& ops_;
    std::unique_ptr<Fd> fd_;
    bool syncable_;  // opened for reading, so it can be flushed
};

PosixDirectory& posix(Directory& directory) { return static_cast<PosixDirectory&>(directory); }

std::unique_ptr<Directory> wrap(FileOps& ops, std::unique_ptr<Fd> fd, bool syncable)
{
    if (!fd)
        return nullptr;
    return std::make_unique<PosixDirectory>(ops, std::move(fd), syncable);
}

class PosixInput final : public InputFile {
public:
    PosixInput(FileOps& ops, std::unique_ptr<Fd> fd) : ops_(ops), fd_(std::move(fd)) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        for (;;) {
            const ssize_t got = ops_.read(fd_->get(), buffer, n);
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR) {
                const IoStep step("reading the drawing");
                fail();
            }
        }
    }
    FileState state() override { return stateOf(stat()); }
    struct stat stat()
    {
        struct stat st{};
        if (ops_.fstat(fd_->get(), &st) != 0)
            fail();
        return st;
    }
    int fd() const { return fd_->get(); }

private:
    FileOps& ops_;
    std::unique_ptr<Fd> fd_;
};

class PosixWorkFile final : public WorkFile {
public:
    PosixWorkFile(FileOps& ops, int dirFd, std::uint64_t expectedSize, const std::string* leftBehind)
        : ops_(ops), file_(ops, dirFd, leftBehind), writer_(ops, file_.fd(), expectedSize)
    {
    }
    void write(const char* data, std::size_t n) override { writer_.write(data, n); }
    FileKey key() override
    {
        struct stat st{};
        if (ops_.fstat(file_.fd(), &st) != 0)
            fail();
        return keyOf(st);
    }
    NewFile& file() { return file_; }

private:
    FileOps& ops_;
    NewFile file_;
    Writer writer_;
};

PosixWorkFile& posix(WorkFile& work) { return static_cast<PosixWorkFile&>(work); }
PosixInput& posix(InputFile& input) { return static_cast<PosixInput&>(input); }

}  // namespace

void RemoveUnfinishedWorkFiles() noexcept
{
    for (auto& slot : gPending) {
        const int dirFd = slot.dirFd.load();
        if (dirFd >= 0)
            ::unlinkat(dirFd, slot.name, 0);
    }
}

// ---- the seam ------------------------------------------------------------------------

PathKind PosixFileSystem::kindOf(const std::string& path)
{
    const IoStep step("looking up", path);
    struct stat st{};
    if (ops_.fstatat(AT_FDCWD, path, &st, 0) != 0) {
        if (errno == ENOENT)
            return PathKind::kMissing;
        fail();
    }
    return S_ISDIR(st.st_mode) ? PathKind::kDirectory : S_ISREG(st.st_mode) ? PathKind::kRegular : PathKind::kOther;
}

std::unique_ptr<Directory> PosixFileSystem::openDirectory(const std::string& path)
{
    const IoStep step("opening the directory", path);
    Resolver resolver(ops_);
    bool syncable = false;
    auto fd = resolver.directory(AT_FDCWD, path.empty() ? "." : path, syncable);
    if (!fd) {
        if (errno == ENOENT || errno == ENOTDIR)
            return nullptr;
        fail();
    }
    return wrap(ops_, std::move(fd), syncable);
}

std::unique_ptr<Directory> PosixFileSystem::openSubdirectory(Directory& parent, const std::string& name)
{
    const IoStep step("opening the directory", name);
    const int fd = ops_.openat(posix(parent).fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A link, or no directory, by now: not followed.
        if (errno == ELOOP || errno == ENOTDIR || errno == ENOENT)
            return nullptr;
        fail();
    }
    return wrap(ops_, std::make_unique<Fd>(ops_, fd), true);
}

std::unique_ptr<Directory> PosixFileSystem::reopen(Directory& directory)
{
    PosixDirectory& dir = posix(directory);
    const int fd = ops_.openat(dir.fd(), ".", (dir.syncable() ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail();
    return wrap(ops_, std::make_unique<Fd>(ops_, fd), dir.syncable());
}

DirectoryListing PosixFileSystem::list(Directory& directory)
{
    const IoStep step("reading the directory");
    // The listing reads through a descriptor of its own, closed with it.
    const int copy = ops_.openat(posix(directory).fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        fail();
    std::unique_ptr<DIR, DirCloser> stream(::fdopendir(copy));
    if (!stream) {
        const int err = errno;
        ops_.close(copy);
        throw IoError::fromErrno(err);
    }
    return listOpen(stream.get());
}

Found PosixFileSystem::find(Directory* in, const std::string& path, const std::string& name)
{
    Place place = locate(ops_, in ? posix(*in).fd() : -1, path, name);
    Found found;
    if (place.dir)
        found.directory = wrap(ops_, std::move(place.dir), place.dirSyncable);
    if (place.namedIn)
        found.namedIn = wrap(ops_, std::move(place.namedIn), false);
    found.name = std::move(place.name);
    if (place.st.st_mode != 0)
        found.state = stateOf(place.st);
    return found;
}

std::optional<FileState> PosixFileSystem::lookUp(Directory& directory, const std::string& name)
{
    struct stat now{};
    if (ops_.fstatat(posix(directory).fd(), name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return std::nullopt;
        fail();
    }
    return stateOf(now);
}

std::unique_ptr<InputFile> PosixFileSystem::open(const Found& found, bool exclusive)
{
    const IoStep step("opening", found.name);
    struct stat st{};
    const int fd = openFound(ops_, posix(*found.directory).fd(), found.name, st);
    auto input = std::make_unique<PosixInput>(ops_, std::make_unique<Fd>(ops_, fd));
    if (exclusive && !lockFile(ops_, fd))
        throw IoError(kFileInUse, "another program holds it");
    return input;
}

void PosixFileSystem::requireReplaceable(const Found& found)
{
    requireWritable(ops_, posix(*found.directory).fd(), found.name);
}

std::unique_ptr<WorkFile> PosixFileSystem::createWorkFile(Directory& directory, std::uint64_t expectedSize,
                                                          const std::string* leftBehind)
{
    return std::make_unique<PosixWorkFile>(ops_, posix(directory).fd(), expectedSize, leftBehind);
}

MetadataKept PosixFileSystem::giveMetadata(WorkFile& work, InputFile& like)
{
    PosixInput& input = posix(like);
    return posix(work).file().adopt(input.stat(), input.fd());
}

MetadataKept PosixFileSystem::giveMetadata(WorkFile& work, const Found& like)
{
    // The file as found; read through a descriptor of its own where it
    // may be read, for its access control lists and other attributes.
    const int dirFd = posix(*like.directory).fd();
    struct stat st{};
    if (ops_.fstatat(dirFd, like.name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        fail();
    const int fd = ops_.openat(dirFd, like.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0 && errno != EACCES)
        fail();
    const Fd existing(ops_, fd);
    return posix(work).file().adopt(st, existing.get());
}

MetadataKept PosixFileSystem::giveNewFileMetadata(WorkFile& work)
{
    // What a new file of the caller's would get.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat like{};
    like.st_mode = static_cast<mode_t>(0666 & ~mask);
    like.st_uid = ::geteuid();
    like.st_gid = ::getegid();
    return posix(work).file().adopt(like, -1);
}

void PosixFileSystem::flush(WorkFile& work) { posix(work).file().flush(); }

void PosixFileSystem::backUp(InputFile& original, Directory& directory, const std::string& backupName)
{
    PosixInput& input = posix(original);
    makeBackup(ops_, input.fd(), input.stat(), posix(directory).fd(), backupName);
}

void PosixFileSystem::replace(WorkFile& work, Directory& directory, const std::string& name)
{
    const IoStep step("replacing", name);
    NewFile& file = posix(work).file();
    const int dirFd = posix(directory).fd();
    const std::string& own = file.publish();
    file.close();
    if (ops_.renameat(dirFd, own, dirFd, name) != 0)
        fail();
    file.keep();
}

void PosixFileSystem::flush(Directory& directory)
{
    PosixDirectory& dir = posix(directory);
    if (dir.syncable())
        ops_.fsync(dir.fd());  // best effort: the renames in it have happened
}

FileSystem& SystemFileSystem()
{
    static PosixFileSystem system(SystemFileOps());
    return system;
}

}  // namespace dxfkonv
