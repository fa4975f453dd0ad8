// Descriptors and the careful lookup of names, for the engine's own file
// handling (not part of its interface): names are looked up one at a time
// relative to an open directory, and symbolic links are followed only
// where nobody else can have steered them.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "engine/platform/posix/Errno.h"
#include "engine/platform/posix/FileOps.h"
#include "engine/IoError.h"

namespace dxfkonv {

// As many symbolic links as the system follows in one name.
inline constexpr int kMaxLinks = 40;

[[noreturn]] inline void fail() { throw IoErrorFromErrno(errno); }

inline bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
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

// Opens the directory `name` in `at` (a single name, or "/"), not through
// a symbolic link; one that may be searched but not read is opened as a
// bare place to start from (then not `syncable`). Null with errno set.
std::unique_ptr<Fd> openDirectoryHere(FileOps& ops, int at, const std::string& name, bool& syncable);

// Whether a symbolic link owned by `linkOwner` may be followed to what is
// owned by `targetOwner`: the caller made it, or whoever made it owns what
// it leads to, or the administrator made it. A link another user planted
// in a directory he may write is not followed to a file he does not own.
bool mayFollow(uid_t linkOwner, uid_t targetOwner);

// Names are looked up one at a time, each relative to the directory open
// before it, and a symbolic link met on the way is read through a
// descriptor of its own (so the link judged is the link read) and followed
// only as mayFollow() allows; in a shared directory with the sticky bit,
// a link neither the caller nor the directory's owner made is not
// followed at all.
class Resolver {
public:
    explicit Resolver(FileOps& ops) : ops_(ops) {}

    // Opens the directory `path` relative to `at`. Null with errno set when
    // a name on the way is missing or no directory; throws IoError where a
    // link may not be followed.
    std::unique_ptr<Fd> directory(int at, const std::string& path, bool& syncable);

    // Reads the link `name` in `dirFd` into `target`, with its own status
    // in `link`. False with errno ENOTDIR when `name` is no link (it may
    // have changed since it was looked at), or with the system's errno.
    bool readLink(int dirFd, const std::string& name, struct stat& link, std::string& target);

private:
    FileOps& ops_;
    int links_ = 0;
};

}  // namespace dxfkonv
