#include "engine/replace/Convert.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "engine/pass/BackgroundIo.h"
#include "engine/platform/posix/Descriptors.h"
#include "engine/IoError.h"

namespace dxfkonv {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
// Names to try for a work file while earlier ones are taken (by another
// pass, or left by a crash of an older version).
constexpr int kMaxWorkNames = 1000;
// Inputs smaller than this are read and written by the pass itself: a
// thread would cost more to start than it saves.
constexpr std::uint64_t kBackgroundIoFrom = 4u << 20;
// The number the message table gives a file another program holds.
constexpr int kFileInUse = 32;

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

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

class FdSource final : public ByteSource {
public:
    FdSource(FileOps& ops, int fd) : ops_(ops), fd_(fd) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        // Every pass reads its drawing block by block, and nothing else
        // reads through here: where a signal stops a pass.
        if (const int signal = StopSignal())
            throw Interrupted(signal);
        for (;;) {
            const ssize_t got = ops_.read(fd_, buffer, n);
            if (got >= 0) {
                total_ += static_cast<std::uint64_t>(got);
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                const IoStep step("reading the drawing");
                fail();
            }
        }
    }

    // Reads on to the end (where the pass stopped at an end-of-file mark)
    // and says how many bytes the file gave in all.
    std::uint64_t total()
    {
        std::unique_ptr<char[]> rest;
        for (;;) {
            if (!rest)
                rest.reset(new char[kCopyChunk]);
            if (read(rest.get(), kCopyChunk) == 0)
                return total_;
        }
    }

private:
    FileOps& ops_;
    int fd_;
    std::uint64_t total_ = 0;
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
class FdSink final : public ByteSink {
public:
    FdSink(FileOps& ops, int fd, std::uint64_t expected) : ops_(ops), fd_(fd)
    {
        direct_ = expected >= kBackgroundIoFrom && ops_.writeDirect(fd_, true);
    }

    void write(const char* data, std::size_t n) override
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

class NullSink final : public ByteSink {
public:
    void write(const char*, std::size_t) override {}
    bool discards() const override { return true; }
};

// Runs the pass from `in` into `out`, on threads of their own for reading
// and writing when the input is large enough to gain from them. `read`,
// when given, is told how many bytes the input gave in all.
PassReport runPass(FileOps& ops, int in, std::uint64_t inputSize, ByteSink& out,
                   const ConversionSwitches& switches, const ProgressSink& progress, std::uint64_t* read = nullptr)
{
    FdSource input(ops, in);
    PassReport report;
    if (inputSize < kBackgroundIoFrom) {
        report = ConvertStream(input, out, inputSize, switches, progress);
    } else {
        ReadAheadSource source(input);
        WriteBehindSink sink(out);
        report = ConvertStream(source, sink, inputSize, switches, progress);
        sink.finish();
    }
    if (read)
        *read = input.total();
    return report;
}

FileKey keyOf(const struct stat& st)
{
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool sameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Refuses to go on when the file read (open as `fd`, as `before` when the
// pass began) was changed by another program while the pass read it: cut
// short, written to or grown, or when the pass did not read exactly its
// size. Its content is then neither what the pass converted nor a fit
// backup.
void requireUnchanged(FileOps& ops, int fd, const struct stat& before, std::uint64_t read)
{
    struct stat now{};
    if (ops.fstat(fd, &now) != 0)
        fail();
    if (now.st_size != before.st_size || !sameTime(now.st_mtim, before.st_mtim)
        || !sameTime(now.st_ctim, before.st_ctim) || read != static_cast<std::uint64_t>(before.st_size))
        throw IoError(kChangedMeanwhile, "its size or times changed while it was read");
}

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
Place locate(FileOps& ops, const Drawing& drawing)
{
    const IoStep step("looking up", drawing.Path());
    Resolver resolver(ops);
    Place place;
    if (drawing.opened) {
        const int fd = ops.openat(drawing.opened->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            fail();
        place.dir = std::make_unique<Fd>(ops, fd);
        place.dirSyncable = true;
    } else {
        place.dir = resolver.directory(AT_FDCWD, drawing.directory.empty() ? "." : drawing.directory,
                                       place.dirSyncable);
    }
    std::string next = drawing.name;
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
int openFound(FileOps& ops, const Place& place, struct stat& st)
{
    const IoStep step("opening", place.name);
    const int fd = ops.openat(place.dir->get(), place.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
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

// Refuses to go on unless the name still leads to the file open as `st`:
// another program has put something else there.
void requireStillThere(FileOps& ops, const Place& place, const struct stat& st)
{
    struct stat now{};
    if (ops.fstatat(place.dir->get(), place.name, &now, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
        fail();
    if (!sameFile(now, st))
        throw IoError(kFileInUse, "the name leads to another file than the one read");
}

// A file nobody may write is not replaced, whoever runs the pass; nor is
// one the pass could not rename over (another user's file in a directory
// with the sticky bit, like /tmp). Refused before anything is written.
void requireWritable(FileOps& ops, const Place& place, const struct stat& st)
{
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw IoError(kFileAccessDenied, "nobody may write it");
    if (ops.faccessat(place.dir->get(), place.name, W_OK, 0) != 0)
        fail();
    const uid_t me = ::geteuid();
    struct stat dir{};
    if (me != 0 && st.st_uid != me && ops.fstat(place.dir->get(), &dir) == 0 && (dir.st_mode & S_ISVTX) != 0
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
class WorkFile {
public:
    WorkFile(FileOps& ops, int dirFd, const std::string* cleanUp = nullptr) : ops_(ops), dirFd_(dirFd)
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
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;
    ~WorkFile()
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
    // `like` when likeFd is -1), where allowed, then puts it on the disk.
    void settle(const struct stat& like, int likeFd, PassReport* report = nullptr)
    {
        adopt(like, likeFd, report);
        flush();
    }

    void adopt(const struct stat& like, int likeFd, PassReport* report)
    {
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
            if (report) {
                report->ownerKept = now.st_uid == like.st_uid;
                report->groupKept = now.st_gid == like.st_gid;
            }
        }
        if (likeFd >= 0 ? ops_.copyAttributes(likeFd, fd()) != 0 : ops_.fchmod(fd(), like.st_mode & 07777) != 0) {
            if (!cannotKeep(errno))
                fail();
            if (report)
                report->modeKept = false;
        }
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
void copyInto(FileOps& ops, int fd, const struct stat& st, WorkFile& copy)
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
    copy.settle(st, fd);
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
    WorkFile copy(ops, dirFd);
    copyInto(ops, fd, st, copy);
    const std::string& name = copy.publish();
    copy.close();
    if (ops.renameat(dirFd, name, dirFd, backupName) != 0)
        fail();
    copy.keep();
}

// A drawing on its way to being replaced: the pass streams the input
// through a work file beside the name `place` found, then the last steps
// put the work file on the disk, keep the backup when asked, and rename it
// over that name. It owns all they need, so the last steps can also run
// later, on a batch's own thread.
class Replace {
public:
    // `input` is the file read, open (and locked, when converted in place);
    // the backup, when asked for, goes beside the name the caller gave.
    Replace(FileOps& ops, Place place, std::unique_ptr<Fd> input, const struct stat& inputStat,
            const std::optional<std::string>& backupName)
        : ops_(ops), place_(std::move(place)), input_(std::move(input)), inputStat_(inputStat), backupName_(backupName)
    {
    }

    // Runs the pass into the work file and gives it the owner and
    // attributes of `like` (open as likeFd, or -1). `expected`, when given,
    // is the file the name must still lead to at the moment of the replace.
    void convert(const ConversionSwitches& switches, const ProgressSink& progress, const struct stat& like,
                 int likeFd, const struct stat* expected, bool cleanUp = true)
    {
        if (expected)
            expected_ = *expected;
        work_ = std::make_unique<WorkFile>(ops_, place_.dir->get(), cleanUp ? &place_.name : nullptr);
        const auto inputSize = static_cast<std::uint64_t>(inputStat_.st_size);
        FdSink file(ops_, work_->fd(), inputSize);
        const IoStep step("converting");
        report_ = runPass(ops_, input_->get(), inputSize, file, switches, progress, &read_);
        work_->adopt(like, likeFd, &report_);
    }

    const PassReport& report() const { return report_; }
    // The file the name will lead to once replaced.
    struct stat result() const
    {
        struct stat written{};
        if (ops_.fstat(work_->fd(), &written) != 0)
            fail();
        return written;
    }

    // The last steps. Directories are flushed through `batch` when given.
    PassReport finish(Batch* batch)
    {
        const int dirFd = place_.dir->get();
        work_->flush();
        if (expected_)
            requireStillThere(ops_, place_, *expected_);
        requireUnchanged(ops_, input_->get(), inputStat_, read_);
        if (backupName_)
            makeBackup(ops_, input_->get(), inputStat_, place_.namedIn ? place_.namedIn->get() : dirFd, *backupName_);
        const IoStep step("replacing", place_.name);
        const std::string& name = work_->publish();
        work_->close();
        if (ops_.renameat(dirFd, name, dirFd, place_.name) != 0)
            fail();
        work_->keep();
        if (place_.dirSyncable) {
            if (batch)
                batch->flushLater(ops_, dirFd);
            else
                ops_.fsync(dirFd);  // best effort: the rename itself has happened
        }
        return report_;
    }

private:
    FileOps& ops_;
    Place place_;
    std::unique_ptr<Fd> input_;
    struct stat inputStat_;
    std::optional<std::string> backupName_;
    std::optional<struct stat> expected_;
    std::unique_ptr<WorkFile> work_;
    std::uint64_t read_ = 0;  // bytes the input gave
    PassReport report_;
};

}  // namespace

std::string BackupName(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return fileName + ".old";
    return fileName.substr(0, dot + 1) + "old";
}

PassReport Convert(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                   FileOps& ops, Batch* batch)
{
    // Whatever becomes of this drawing, the one before it is reported first.
    Batch::InOrder inOrder(batch);
    Place place = locate(ops, drawing);
    if (!place.found) {
        PassReport skipped;
        skipped.found = false;
        return skipped;
    }
    if (batch && batch->finishing(keyOf(place.st))) {
        // Another name of the drawing whose last steps are under way: once
        // they are done the name leads to the file written, or, as another
        // hard link, still to the file read.
        batch->finish();
        place = locate(ops, drawing);
        if (!place.found) {
            PassReport skipped;
            skipped.found = false;
            return skipped;
        }
    }
    if (batch && batch->met(keyOf(place.st))) {
        PassReport skipped;
        skipped.repeated = true;
        return skipped;
    }
    struct stat st{};
    auto in = std::make_unique<Fd>(ops, openFound(ops, place, st));
    // One pass at a time; and the name must still lead to the file locked.
    if (!lockFile(ops, in->get()))
        throw IoError(kFileInUse, "another program holds it");
    requireStillThere(ops, place, st);
    requireWritable(ops, place, st);
    // The file as it is from here on: the pass checks at its end that
    // nobody changed it meanwhile.
    if (ops.fstat(in->get(), &st) != 0)
        fail();
    // The backup goes beside the name given, a link's as well.
    std::optional<std::string> backupName = BackupName(drawing.name);
    if (!switches.keepBackup || *backupName == drawing.name)
        backupName.reset();
    const int inFd = in->get();
    // A batch looks for what killed passes left in each directory once.
    struct stat dir{};
    const bool cleanUp = !batch || (ops.fstat(place.dir->get(), &dir) == 0 && batch->firstTimeIn(keyOf(dir)));
    auto replace = std::make_shared<Replace>(ops, std::move(place), std::move(in), st, backupName);
    replace->convert(switches, progress, st, inFd, &st, cleanUp);
    if (!batch)
        return replace->finish(nullptr);
    // Whatever becomes of it, the batch does not convert the file it
    // writes once more.
    batch->remember(keyOf(replace->result()));
    return batch->finishLater([replace, batch] { return replace->finish(batch); }, replace->report(), inOrder,
                              keyOf(st));
}

PassReport ConvertToFile(const Drawing& input, const Drawing& output, const ConversionSwitches& switches,
                         const ProgressSink& progress, FileOps& ops)
{
    const Place source = locate(ops, input);
    if (!source.found)
        throw IoError(kFileNotFound, "no regular file");
    struct stat inputStat{};
    auto in = std::make_unique<Fd>(ops, openFound(ops, source, inputStat));

    Place target = locate(ops, output);
    if (!target.dir)
        throw IoError(kFileNotFound, "no such directory");  // no such directory
    if (target.st.st_mode == 0) {
        // Nothing there yet: a new file gets the permissions a new file
        // would get.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat like = inputStat;
        like.st_mode = static_cast<mode_t>((inputStat.st_mode & 0666) & ~mask);
        like.st_uid = ::geteuid();
        like.st_gid = ::getegid();
        Replace replace(ops, std::move(target), std::move(in), inputStat, std::nullopt);
        replace.convert(switches, progress, like, -1, nullptr);
        return replace.finish(nullptr);
    }
    if (!target.found)
        throw IoError(kFileAccessDenied, "the output is no regular file");  // a directory, a device ...
    if (sameFile(target.st, inputStat))
        throw IoError(kFileAccessDenied, "the output is the input itself");  // the input must stay as it is
    requireWritable(ops, target, target.st);
    const int fd = ops.openat(target.dir->get(), target.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0 && errno != EACCES)
        fail();
    Fd existing(ops, fd);
    const struct stat existingStat = target.st;
    Replace replace(ops, std::move(target), std::move(in), inputStat, std::nullopt);
    replace.convert(switches, progress, existingStat, existing.get(), &existingStat);
    return replace.finish(nullptr);
}

PassReport InspectFile(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                       FileOps& ops, Batch* batch)
{
    const Place place = locate(ops, drawing);
    if (!place.found) {
        PassReport skipped;
        skipped.found = false;
        return skipped;
    }
    struct stat st{};
    Fd in(ops, openFound(ops, place, st));
    if (batch) {
        struct stat dir{};
        if (ops.fstat(place.dir->get(), &dir) != 0)
            fail();
        if (batch->checked(keyOf(dir), place.name)) {
            PassReport skipped;
            skipped.repeated = true;
            return skipped;
        }
        batch->rememberChecked(keyOf(dir), place.name);
    }
    NullSink sink;
    return runPass(ops, in.get(), static_cast<std::uint64_t>(st.st_size), sink, switches, progress);
}

namespace {

// Runs a drawing's last steps, keeping what they throw for later.
std::pair<PassReport, std::exception_ptr> attempt(const std::function<PassReport()>& steps)
{
    try {
        return {steps(), nullptr};
    } catch (...) {
        return {PassReport{}, std::current_exception()};
    }
}

}  // namespace

// The batch's thread for the last steps of one drawing at a time.
struct Batch::Worker {
    std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> job;
    bool busy = false;
    bool stopping = false;
    std::thread thread;

    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        if (thread.joinable())
            thread.join();
    }

    // False when the system gives no thread.
    bool start() { return StartThread(thread, [this] { loop(); }); }

    void loop()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return busy || stopping; });
            if (!busy)
                return;
            lock.unlock();
            job();
            job = nullptr;  // what the steps owned goes with them
            lock.lock();
            busy = false;
            changed.notify_all();
        }
    }

    void run(std::function<void()> next)
    {
        {
            std::lock_guard lock(mutex);
            job = std::move(next);
            busy = true;
        }
        changed.notify_all();
    }

    void wait()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return !busy; });
    }
};

Batch::Batch() = default;

Batch::Batch(Finished finished) : finished_(std::move(finished)) {}

Batch::Batch(Batch&& other) noexcept { *this = std::move(other); }

Batch& Batch::operator=(Batch&& other) noexcept
{
    if (this != &other) {
        flush();
        other.finish();
        finished_ = std::move(other.finished_);
        worker_ = std::move(other.worker_);
        noThread_ = other.noThread_;
        files_ = std::move(other.files_);
        entries_ = std::move(other.entries_);
        cleaned_ = std::move(other.cleaned_);
        directories_ = std::exchange(other.directories_, {});
    }
    return *this;
}

Batch::~Batch() { flush(); }

PassReport Batch::finishLater(std::function<PassReport()> lastSteps, PassReport prepared, InOrder& inOrder,
                              const FileKey& input)
{
    if (!finished_)
        return lastSteps();
    // The drawing before ran its last steps alongside this one's pass.
    finish();
    inOrder.batch_ = nullptr;
    prepared.pending = true;
    auto stepsAndOutcome = [steps = std::move(lastSteps), finished = finished_] {
        const auto [done, failed] = attempt(steps);
        finished(done, failed);
    };
    if (!worker_ && !noThread_) {
        worker_ = std::make_unique<Worker>();
        if (!worker_->start()) {
            worker_.reset();
            noThread_ = true;
        }
    }
    if (noThread_) {
        stepsAndOutcome();
    } else {
        pendingInput_ = input;
        worker_->run(std::move(stepsAndOutcome));
    }
    return prepared;
}

void Batch::finish()
{
    if (worker_)
        worker_->wait();
    pendingInput_ = {};
}

void Batch::flushLater(FileOps& ops, int dirFd)
{
    struct stat st{};
    if (ops.fstat(dirFd, &st) != 0)
        return;
    const FileKey key = keyOf(st);
    for (const auto& waiting : directories_)
        if (waiting.key == key)
            return;
    const int copy = ops.openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0) {
        ops.fsync(dirFd);  // no copy to keep: flush it now
        return;
    }
    if (directories_.size() == kMaxWaitingDirectories) {
        const Waiting oldest = directories_.front();
        directories_.pop_front();
        oldest.ops->fsync(oldest.fd);
        oldest.ops->close(oldest.fd);
    }
    directories_.push_back({key, &ops, copy});
}

void Batch::flush()
{
    finish();
    for (const auto& directory : directories_) {
        directory.ops->fsync(directory.fd);
        directory.ops->close(directory.fd);
    }
    directories_.clear();
}

void RemoveUnfinishedWorkFiles() noexcept
{
    for (auto& slot : gPending) {
        const int dirFd = slot.dirFd.load();
        if (dirFd >= 0)
            ::unlinkat(dirFd, slot.name, 0);
    }
}

namespace {

// The signal that asked the passes to stop, 0 while none has.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void endOnSignal(int signal)
{
    RemoveUnfinishedWorkFiles();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// The first signal asks the passes to stop; the next one does not wait.
extern "C" void stopOnSignal(int signal)
{
    if (gStopSignal.exchange(signal) != 0)
        endOnSignal(signal);
}

void handleEndingSignals(void (*handler)(int))
{
    struct sigaction action{};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;  // what the program waits for goes on
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals)
        sigaddset(&action.sa_mask, signal);
    for (const int signal : kEndingSignals) {
        struct sigaction before{};
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void RemoveWorkFilesOnSignals() { handleEndingSignals(endOnSignal); }

void StopPassesOnSignals() { handleEndingSignals(stopOnSignal); }

int StopSignal() noexcept { return gStopSignal.load(); }

void EndBySignal(int signal)
{
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // not reached: these signals end a program
}

void IgnoreSignalsOfFailedWrites()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace dxfkonv
