#include "engine/platform/posix/Errno.h"
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
#include "engine/platform/Signals.h"
#include "engine/platform/posix/Descriptors.h"
#include "engine/platform/posix/Lookup.h"
#include "engine/platform/posix/WorkFiles.h"

namespace dxfkonv {

namespace {

using namespace posix;

// Far more than the clock that stamps files moves at a time: a change
// time this old cannot be shared by a save that comes now.
constexpr std::int64_t kClockTickBound = 2'000'000'000;  // nanoseconds

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

// ---- the objects ------------------------------------------------------------------

using SharedFd = std::shared_ptr<Fd>;

SharedFd shared(std::unique_ptr<Fd> fd) { return SharedFd(std::move(fd)); }

// Whether `then` is older than `now` by clearly more than the clock's
// tick; not when it lies ahead (a clock set back).
bool longAgo(const struct timespec& then, const struct timespec& now)
{
    const std::int64_t age = (static_cast<std::int64_t>(now.tv_sec) - then.tv_sec) * 1'000'000'000
                             + (static_cast<std::int64_t>(now.tv_nsec) - then.tv_nsec);
    return age > kClockTickBound;
}

struct stat statOf(FileOps& ops, int fd)
{
    struct stat st{};
    if (ops.fstat(fd, &st) != 0)
        fail();
    return st;
}

// A work file in the directory `dir`, to take the place of `name` there:
// the drawing held as `drawing` (which it does not keep open), or, made
// for no drawing, the file of that name as found.
class PosixWorkFile final : public WorkFile {
public:
    PosixWorkFile(FileOps& ops, SharedFd dir, std::string name, std::weak_ptr<Fd> drawing,
                  std::uint64_t expectedSize, HoldsWorkContent leftBehind)
        : ops_(ops), dir_(std::move(dir)), name_(std::move(name)), drawing_(std::move(drawing)),
          forDrawing_(!drawing_.expired()), file_(std::make_unique<NewFile>(ops, dir_->get(), leftBehind, name_)),
          writer_(ops, file_->fd(), expectedSize)
    {
    }
    ~PosixWorkFile() override { discard(); }

    void write(const char* data, std::size_t n) override
    {
        file();
        writer_.write(data, n);
    }
    FileKey key() override { return keyOf(statOf(ops_, file().fd())); }
    void flush() override { file().flush(); }
    bool flushFileSystem() override { return file().flushFileSystem(); }

    MetadataKept takeMetadata() override
    {
        if (forDrawing_) {
            const SharedFd drawing = drawing_.lock();
            if (!drawing)
                throw IoError(kFileNotOpen, "the drawing is held no more");
            return file().adopt(statOf(ops_, drawing->get()), drawing->get());
        }
        // The file as found; read through a descriptor of its own where it
        // may be read, for its access control lists and other attributes.
        struct stat st{};
        if (ops_.fstatat(dir_->get(), name_, &st, AT_SYMLINK_NOFOLLOW) != 0)
            fail();
        const int fd = ops_.openat(dir_->get(), name_, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
        if (fd < 0 && errno != EACCES)
            fail();
        const Fd existing(ops_, fd);
        return file().adopt(st, existing.get());
    }
    MetadataKept takeNewFileMetadata() override
    {
        // What a new file of the caller's would get.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat like{};
        like.st_mode = static_cast<mode_t>(0666 & ~mask);
        like.st_uid = ::geteuid();
        like.st_gid = ::getegid();
        return file().adopt(like, -1);
    }

    void keep() override
    {
        const IoStep step("replacing", name_);
        NewFile& file = this->file();
        const std::string& own = file.publish();
        file.close();
        file.requireOwnName();
        if (ops_.renameat(dir_->get(), own, dir_->get(), name_) != 0)
            fail();
        file.keep();  // its lock stays until it goes
    }
    // A work file kept is not removed.
    void discard() noexcept override { file_.reset(); }

private:
    NewFile& file()
    {
        if (!file_)
            throw IoError(kFileNotOpen, "the work file is gone");
        return *file_;
    }

    FileOps& ops_;
    SharedFd dir_;
    std::string name_;
    std::weak_ptr<Fd> drawing_;
    bool forDrawing_;
    std::unique_ptr<NewFile> file_;  // until discarded
    Writer writer_;
};

// The drawing `name` held open in the directory `dir`; its backup goes to
// `backups`.
class PosixDrawing final : public HeldDrawing {
public:
    PosixDrawing(FileOps& ops, SharedFd fd, SharedFd dir, std::string name, SharedFd backups)
        : ops_(ops), fd_(std::move(fd)), dir_(std::move(dir)), name_(std::move(name)), backups_(std::move(backups))
    {
    }
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
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
    {
        for (;;) {
            const ssize_t got = ops_.pread(fd_->get(), buffer, n, static_cast<off_t>(offset));
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR) {
                const IoStep step("reading the drawing ahead");
                fail();
            }
        }
    }
    FileState state() override
    {
        const struct stat st = statOf(ops_, fd_->get());
        FileState state = stateOf(st);
        state.changesShow = ops_.keepsChangeTimes(fd_->get()) && longAgo(st.st_ctim, ops_.now());
        return state;
    }
    Content contentOf() override
    {
        const IoStep step("reading the drawing again");
        return readFromStart(ops_, fd_->get());
    }
    void backUp(const std::string& backupName, const std::function<void(const Content* copied)>& beforeKept) override
    {
        makeBackup(ops_, fd_->get(), statOf(ops_, fd_->get()), backups_->get(), backupName, beforeKept);
    }
    std::unique_ptr<WorkFile> createWorkFile(std::uint64_t expectedSize, HoldsWorkContent leftBehind) override
    {
        return std::make_unique<PosixWorkFile>(ops_, dir_, name_, fd_, expectedSize, leftBehind);
    }

private:
    FileOps& ops_;
    SharedFd fd_;
    SharedFd dir_;
    std::string name_;
    SharedFd backups_;
};

class PosixDirectory final : public Directory {
public:
    // `syncable`: opened for reading, so it can be flushed. `backups`: where
    // the backups of drawings held here go, when not here (the directory of
    // a link that led here).
    PosixDirectory(FileOps& ops, SharedFd fd, bool syncable, SharedFd backups = nullptr)
        : ops_(ops), fd_(std::move(fd)), syncable_(syncable), backups_(std::move(backups))
    {
    }
    FileKey key() const override { return keyOf(statOf(ops_, fd_->get())); }

    DirectoryListing list() override
    {
        const IoStep step("reading the directory");
        // The listing reads through a descriptor of its own, closed with it.
        const int copy = ops_.openat(fd_->get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (copy < 0)
            fail();
        std::unique_ptr<DIR, DirCloser> stream(::fdopendir(copy));
        if (!stream) {
            const int err = errno;
            ops_.close(copy);
            throw IoErrorFromErrno(err);
        }
        return listOpen(stream.get());
    }
    std::optional<FileState> lookUp(const std::string& name) override
    {
        struct stat now{};
        if (ops_.fstatat(fd_->get(), name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                return std::nullopt;
            fail();
        }
        return stateOf(now);
    }
    Found find(const std::string& name) override { return foundAt(ops_, locate(ops_, fd_->get(), "", name)); }
    std::unique_ptr<Directory> openSubdirectory(const std::string& name) override
    {
        const IoStep step("opening the directory", name);
        const int fd = ops_.openat(fd_->get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            // A link, or no directory, by now: not followed.
            if (errno == ELOOP || errno == ENOTDIR || errno == ENOENT)
                return nullptr;
            fail();
        }
        return std::make_unique<PosixDirectory>(ops_, std::make_shared<Fd>(ops_, fd), true);
    }
    std::unique_ptr<Directory> reopen() override
    {
        const int fd = ops_.openat(fd_->get(), ".", (syncable_ ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            fail();
        return std::make_unique<PosixDirectory>(ops_, std::make_shared<Fd>(ops_, fd), syncable_, backups_);
    }

    std::unique_ptr<HeldDrawing> open(const std::string& name, bool exclusive) override
    {
        const IoStep step("opening", name);
        struct stat st{};
        auto fd = std::make_shared<Fd>(ops_, openFound(ops_, fd_->get(), name, st));
        auto drawing = std::make_unique<PosixDrawing>(ops_, fd, fd_, name, backups_ ? backups_ : fd_);
        if (exclusive && !lockFile(ops_, fd->get()))
            throw IoError(kFileInUse, "another program holds it");
        return drawing;
    }
    void requireReplaceable(const std::string& name) override { requireWritable(ops_, fd_->get(), name); }

    std::unique_ptr<WorkFile> createWorkFile(const std::string& name, std::uint64_t expectedSize,
                                             HoldsWorkContent leftBehind) override
    {
        return std::make_unique<PosixWorkFile>(ops_, fd_, name, std::weak_ptr<Fd>(), expectedSize, leftBehind);
    }
    void flush() override
    {
        if (syncable_)
            ops_.fsync(fd_->get());  // best effort: the renames in it have happened
    }

    // What `place` found, as the objects of the seam.
    static Found foundAt(FileOps& ops, Place place)
    {
        Found found;
        const SharedFd namedIn = place.namedIn ? shared(std::move(place.namedIn)) : nullptr;
        if (place.dir)
            found.directory = std::make_unique<PosixDirectory>(ops, shared(std::move(place.dir)), place.dirSyncable,
                                                               namedIn);
        if (namedIn)
            found.namedIn = std::make_unique<PosixDirectory>(ops, namedIn, false);
        found.name = std::move(place.name);
        if (place.st.st_mode != 0)
            found.state = stateOf(place.st);
        return found;
    }

private:
    FileOps& ops_;
    SharedFd fd_;
    bool syncable_;
    SharedFd backups_;
};

}  // namespace

// ---- the file system ------------------------------------------------------------------

PathKind PosixFileSystem::kindOf(const std::string& path)
{
    const IoStep step("looking it up");
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
    return std::make_unique<PosixDirectory>(ops_, shared(std::move(fd)), syncable);
}

Found PosixFileSystem::find(const std::string& path, const std::string& name)
{
    return PosixDirectory::foundAt(ops_, locate(ops_, -1, path, name));
}

FileSystem& SystemFileSystem()
{
    static PosixFileSystem system(SystemFileOps());
    return system;
}

}  // namespace dxfkonv
