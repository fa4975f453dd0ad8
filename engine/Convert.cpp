#include "engine/Convert.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <utility>

#include "engine/BackgroundIo.h"
#include "engine/IoError.h"

namespace dxfkonv {

namespace {

constexpr std::size_t kCopyChunk = 1 << 20;
constexpr int kMaxWorkNames = 100;

[[noreturn]] void fail() { throw IoError::fromErrno(errno); }

std::string directoryOf(const std::string& path)
{
    const std::size_t sep = path.rfind(kPathSeparator);
    return sep == std::string::npos ? std::string() : path.substr(0, sep + 1);
}

// An open descriptor, closed through the file layer when it goes.
class Fd {
public:
    Fd(FileOps& ops, int fd) : ops_(ops), fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd_ >= 0)
            ops_.close(fd_);
    }

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

    // Closes now and reports a failed close (data not written after all).
    void close()
    {
        const int fd = fd_;
        fd_ = -1;
        if (ops_.close(fd) != 0)
            fail();
    }

private:
    FileOps& ops_;
    int fd_;
};

class FdSource final : public ByteSource {
public:
    FdSource(FileOps& ops, int fd) : ops_(ops), fd_(fd) {}
    std::size_t read(char* buffer, std::size_t n) override
    {
        for (;;) {
            const ssize_t got = ops_.read(fd_, buffer, n);
            if (got >= 0)
                return static_cast<std::size_t>(got);
            if (errno != EINTR)
                fail();
        }
    }

private:
    FileOps& ops_;
    int fd_;
};

void writeAll(FileOps& ops, int fd, const char* data, std::size_t n)
{
    while (n != 0) {
        const ssize_t put = ops.write(fd, data, n);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            fail();
        }
        if (put == 0)
            throw IoError(kDiskFull);
        data += put;
        n -= static_cast<std::size_t>(put);
    }
}

// Writes the work file, and starts putting each few megabytes on the disk
// while the pass goes on, so that the flush at the end has little left.
class FdSink final : public ByteSink {
public:
    FdSink(FileOps& ops, int fd) : ops_(ops), fd_(fd) {}
    void write(const char* data, std::size_t n) override
    {
        writeAll(ops_, fd_, data, n);
        written_ += n;
        if (written_ - started_ >= kWriteBehind) {
            ops_.startWriteBack(fd_, static_cast<off_t>(started_), static_cast<off_t>(written_ - started_));
            started_ = written_;
        }
    }

private:
    static constexpr std::uint64_t kWriteBehind = 8u << 20;
    FileOps& ops_;
    int fd_;
    std::uint64_t written_ = 0;
    std::uint64_t started_ = 0;
};

class NullSink final : public ByteSink {
public:
    void write(const char*, std::size_t) override {}
};

// A new file under a name of its own in `directory`: kWorkFileName, or
// kWorkFileName.N while that name is taken (another pass may be using it).
// Removed when it goes, unless kept.
class WorkFile {
public:
    WorkFile(FileOps& ops, const std::string& directory) : ops_(ops)
    {
        for (int i = 0; i < kMaxWorkNames; ++i) {
            std::string name = directory + kWorkFileName;
            if (i != 0)
                name.append(".").append(std::to_string(i));
            const int fd = ops.open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                fd_ = std::make_unique<Fd>(ops, fd);
                path_ = name;
                // Where the file is, even if its directory is moved away
                // while the pass runs (best effort, only for removing it).
                directoryFd_ = ::open(directory.empty() ? "." : directory.c_str(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                return;
            }
            if (errno != EEXIST)
                fail();
        }
        fail();
    }
    WorkFile(const WorkFile&) = delete;
    WorkFile& operator=(const WorkFile&) = delete;
    ~WorkFile()
    {
        fd_.reset();
        if (!kept_ && ops_.unlink(path_) != 0 && (errno == ENOENT || errno == ENOTDIR) && directoryFd_ >= 0)
            ::unlinkat(directoryFd_, path_.substr(path_.rfind(kPathSeparator) + 1).c_str(), 0);
        if (directoryFd_ >= 0)
            ::close(directoryFd_);
    }

    int fd() const { return fd_->get(); }
    const std::string& path() const { return path_; }
    void close() { fd_->close(); }
    void keep() { kept_ = true; }

    // Gives the file the permission bits and, where allowed, the owner of
    // the file it stands in for, then puts its content on the disk.
    void settle(const struct stat& like)
    {
        if (ops_.fchown(fd(), like.st_uid, like.st_gid) != 0 && errno != EPERM && errno != EINVAL)
            fail();
        if (ops_.fchmod(fd(), like.st_mode & 07777) != 0)
            fail();
        if (ops_.fsync(fd()) != 0)
            fail();
        close();
    }

private:
    FileOps& ops_;
    std::unique_ptr<Fd> fd_;
    std::string path_;
    int directoryFd_ = -1;
    bool kept_ = false;
};

void syncDirectory(FileOps& ops, const std::string& directory)
{
    const int fd = ops.open(directory.empty() ? std::string(".") : directory,
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ops.fsync(fd);  // best effort: the rename itself has happened
    ops.close(fd);
}

// Opens the input, a regular file. A file that has gone since it was
// found reports "file not open".
int openInput(FileOps& ops, const std::string& path, struct stat& st)
{
    const int fd = ops.open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            throw IoError(kFileNotOpen);
        fail();
    }
    Fd guard(ops, fd);
    if (ops.fstat(fd, &st) != 0)
        fail();
    if (!S_ISREG(st.st_mode))
        throw IoError(kFileNotFound);
    // Back to ordinary blocking reads.
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return guard.release();
}

// The path whose content gets replaced: a symbolic link's target.
std::string replacedPath(FileOps& ops, const std::string& path)
{
    struct stat st{};
    if (ops.lstat(path, &st) != 0)
        fail();
    if (!S_ISLNK(st.st_mode))
        return path;
    std::string target = ops.realpath(path);
    if (target.empty())
        fail();
    return target;
}

// A file nobody may write is not replaced, whoever runs the pass; nor is
// one the pass could not rename over (another user's file in a directory
// with the sticky bit, like /tmp). Refused before anything is written.
void requireWritable(FileOps& ops, const std::string& path, const struct stat& st)
{
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        throw IoError(kFileAccessDenied);
    if (ops.access(path, W_OK) != 0)
        fail();
    const uid_t me = ::geteuid();
    struct stat dir{};
    const std::string directory = directoryOf(path);
    if (me != 0 && st.st_uid != me && ops.stat(directory.empty() ? "." : directory, &dir) == 0
        && (dir.st_mode & S_ISVTX) != 0 && dir.st_uid != me)
        throw IoError(kFileAccessDenied);
}

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
    copy.settle(st);
}

// Puts the old content of `target` (open as `fd`) under `backupPath`,
// replacing any earlier backup in one step, so that name never stands
// empty or half-written. A hard link costs nothing and keeps the times;
// where none can be made the bytes are copied.
void makeBackup(FileOps& ops, int fd, const struct stat& st, const std::string& target,
                const std::string& backupPath)
{
    const std::string directory = directoryOf(backupPath);
    if (st.st_nlink == 1) {
        for (int i = 0; i < kMaxWorkNames; ++i) {
            std::string name = directory + kWorkFileName + ".old";
            if (i != 0)
                name.append(std::to_string(i));
            if (ops.link(target, name) == 0) {
                if (ops.rename(name, backupPath) != 0) {
                    const int err = errno;
                    ops.unlink(name);
                    throw IoError::fromErrno(err);
                }
                return;
            }
            if (errno == EEXIST)
                continue;
            if (errno != EXDEV && errno != EPERM && errno != EMLINK && errno != EOPNOTSUPP
                && errno != ENOSYS)
                fail();
            break;
        }
    }
    // The file has other names, or the file system takes no hard link.
    WorkFile copy(ops, directory);
    copyInto(ops, fd, st, copy);
    if (ops.rename(copy.path(), backupPath) != 0)
        fail();
    copy.keep();
}

// Streams `in` through a work file beside `target` and renames it over
// `target`, keeping a backup first when asked.
PassReport writeReplacing(FileOps& ops, int in, std::uint64_t inputSize, const struct stat& like,
                          const std::string& target, const std::string* backupPath,
                          const struct stat& inputStat, const ConversionSwitches& switches,
                          const ProgressSink& progress)
{
    WorkFile work(ops, directoryOf(target));
    FdSource input(ops, in);
    ReadAheadSource source(input);
    FdSink file(ops, work.fd());
    WriteBehindSink sink(file);
    PassReport report = ConvertStream(source, sink, inputSize, switches, progress);
    sink.finish();
    work.settle(like);
    if (backupPath)
        makeBackup(ops, in, inputStat, target, *backupPath);
    if (ops.rename(work.path(), target) != 0)
        fail();
    work.keep();
    syncDirectory(ops, directoryOf(target));
    return report;
}

}  // namespace

std::string BasePrefix(const std::string& directory)
{
    if (directory.empty() || directory.back() == kPathSeparator)
        return directory;  // no directory means the current one
    return directory + kPathSeparator;
}

std::string BackupName(const std::string& fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string::npos)
        return fileName + ".old";
    return fileName.substr(0, dot + 1) + "old";
}

PassReport Convert(const std::string& directory, const std::string& fileName,
                   const ConversionSwitches& switches, const ProgressSink& progress, FileOps& ops)
{
    const std::string base = BasePrefix(directory);
    const std::string path = base + fileName;
    struct stat st{};
    if (ops.stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
        PassReport skipped;
        skipped.found = false;
        return skipped;
    }
    const std::string target = replacedPath(ops, path);
    Fd in(ops, openInput(ops, path, st));
    requireWritable(ops, target, st);
    const std::string backupName = BackupName(fileName);
    const std::string backupPath = base + backupName;
    const bool backup = switches.keepBackup && backupName != fileName;
    return writeReplacing(ops, in.get(), static_cast<std::uint64_t>(st.st_size), st, target,
                          backup ? &backupPath : nullptr, st, switches, progress);
}

PassReport ConvertToFile(const std::string& inputPath, const std::string& outputPath,
                         const ConversionSwitches& switches, const ProgressSink& progress, FileOps& ops)
{
    struct stat inputStat{};
    if (ops.stat(inputPath, &inputStat) != 0)
        fail();  // missing, or in a directory we may not search
    if (!S_ISREG(inputStat.st_mode))
        throw IoError(kFileNotFound);
    Fd in(ops, openInput(ops, inputPath, inputStat));
    struct stat like = inputStat;
    std::string target = outputPath;
    struct stat existing{};
    if (ops.stat(outputPath, &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            throw IoError(kFileAccessDenied);
        target = replacedPath(ops, outputPath);
        requireWritable(ops, target, existing);
        like = existing;
    } else {
        // A new file gets the permissions a new file would get.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        like.st_mode = static_cast<mode_t>((inputStat.st_mode & 0666) & ~mask);
        like.st_uid = ::geteuid();
        like.st_gid = ::getegid();
    }
    return writeReplacing(ops, in.get(), static_cast<std::uint64_t>(inputStat.st_size), like, target,
                          nullptr, inputStat, switches, progress);
}

PassReport InspectFile(const std::string& path, const ConversionSwitches& switches,
                       const ProgressSink& progress, FileOps& ops)
{
    struct stat st{};
    Fd in(ops, openInput(ops, path, st));
    FdSource input(ops, in.get());
    ReadAheadSource source(input);
    NullSink sink;
    return ConvertStream(source, sink, static_cast<std::uint64_t>(st.st_size), switches, progress);
}

}  // namespace dxfkonv
