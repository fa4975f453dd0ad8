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

PosixDirectory& own(Directory& directory) { return static_cast<PosixDirectory&>(directory); }

std::unique_ptr<Directory> wrap(FileOps& ops, std::unique_ptr<Fd> fd, bool syncable)
{
    if (!fd)
        return nullptr;
    return std::make_unique<PosixDirectory>(ops, std::move(fd), syncable);
}

// Whether `then` is older than `now` by clearly more than the clock's
// tick; not when it lies ahead (a clock set back).
bool longAgo(const struct timespec& then, const struct timespec& now)
{
    const std::int64_t age = (static_cast<std::int64_t>(now.tv_sec) - then.tv_sec) * 1'000'000'000
                             + (static_cast<std::int64_t>(now.tv_nsec) - then.tv_nsec);
    return age > kClockTickBound;
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
        const struct stat st = stat();
        FileState state = stateOf(st);
        state.changesShow = ops_.keepsChangeTimes(fd_->get()) && longAgo(st.st_ctim, ops_.now());
        return state;
    }
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

PosixWorkFile& own(WorkFile& work) { return static_cast<PosixWorkFile&>(work); }
PosixInput& own(InputFile& input) { return static_cast<PosixInput&>(input); }

}  // namespace

// ---- the seam ------------------------------------------------------------------------

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
    return wrap(ops_, std::move(fd), syncable);
}

std::unique_ptr<Directory> PosixFileSystem::openSubdirectory(Directory& parent, const std::string& name)
{
    const IoStep step("opening the directory", name);
    const int fd = ops_.openat(own(parent).fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
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
    PosixDirectory& dir = own(directory);
    const int fd = ops_.openat(dir.fd(), ".", (dir.syncable() ? O_RDONLY : O_PATH) | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        fail();
    return wrap(ops_, std::make_unique<Fd>(ops_, fd), dir.syncable());
}

DirectoryListing PosixFileSystem::list(Directory& directory)
{
    const IoStep step("reading the directory");
    // The listing reads through a descriptor of its own, closed with it.
    const int copy = ops_.openat(own(directory).fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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

Found PosixFileSystem::find(Directory* in, const std::string& path, const std::string& name)
{
    Place place = locate(ops_, in ? own(*in).fd() : -1, path, name);
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
    if (ops_.fstatat(own(directory).fd(), name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
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
    const int fd = openFound(ops_, own(*found.directory).fd(), found.name, st);
    auto input = std::make_unique<PosixInput>(ops_, std::make_unique<Fd>(ops_, fd));
    if (exclusive && !lockFile(ops_, fd))
        throw IoError(kFileInUse, "another program holds it");
    return input;
}

void PosixFileSystem::requireReplaceable(const Found& found)
{
    requireWritable(ops_, own(*found.directory).fd(), found.name);
}

std::unique_ptr<WorkFile> PosixFileSystem::createWorkFile(Directory& directory, std::uint64_t expectedSize,
                                                          const std::string* leftBehind)
{
    return std::make_unique<PosixWorkFile>(ops_, own(directory).fd(), expectedSize, leftBehind);
}

MetadataKept PosixFileSystem::giveMetadata(WorkFile& work, InputFile& like)
{
    PosixInput& input = own(like);
    return own(work).file().adopt(input.stat(), input.fd());
}

MetadataKept PosixFileSystem::giveMetadata(WorkFile& work, const Found& like)
{
    // The file as found; read through a descriptor of its own where it
    // may be read, for its access control lists and other attributes.
    const int dirFd = own(*like.directory).fd();
    struct stat st{};
    if (ops_.fstatat(dirFd, like.name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        fail();
    const int fd = ops_.openat(dirFd, like.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0 && errno != EACCES)
        fail();
    const Fd existing(ops_, fd);
    return own(work).file().adopt(st, existing.get());
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
    return own(work).file().adopt(like, -1);
}

void PosixFileSystem::flush(WorkFile& work) { own(work).file().flush(); }

Content PosixFileSystem::contentOf(InputFile& file)
{
    const IoStep step("reading the drawing again");
    return readFromStart(ops_, own(file).fd());
}

void PosixFileSystem::backUp(InputFile& original, Directory& directory, const std::string& backupName,
                             const std::function<void(const Content* copied)>& beforeKept)
{
    PosixInput& input = own(original);
    makeBackup(ops_, input.fd(), input.stat(), own(directory).fd(), backupName, beforeKept);
}

void PosixFileSystem::replace(WorkFile& work, Directory& directory, const std::string& name)
{
    const IoStep step("replacing", name);
    NewFile& file = own(work).file();
    const int dirFd = own(directory).fd();
    const std::string& own = file.publish();
    file.close();
    file.requireOwnName();
    if (ops_.renameat(dirFd, own, dirFd, name) != 0)
        fail();
    file.keep();
}

void PosixFileSystem::flush(Directory& directory)
{
    PosixDirectory& dir = own(directory);
    if (dir.syncable())
        ops_.fsync(dir.fd());  // best effort: the renames in it have happened
}

FileSystem& SystemFileSystem()
{
    static PosixFileSystem system(SystemFileOps());
    return system;
}

}  // namespace dxfkonv
