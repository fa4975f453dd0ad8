#include "engine/platform/posix/Descriptors.h"

#include <fcntl.h>
#include <unistd.h>

namespace dxfkonv {

namespace {

// In a world-writable directory with the sticky bit, a link that neither
// the caller nor the directory's owner made may lead anywhere its maker
// chose: it is not followed, as the system's own protection has it.
void refuseForeignLink(FileOps& ops, int dirFd, const struct stat& link)
{
    struct stat dir{};
    if (ops.fstat(dirFd, &dir) != 0)
        fail();
    if ((dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0 && link.st_uid != ::geteuid()
        && link.st_uid != dir.st_uid)
        throw IoError(kFileAccessDenied, "another user's link in a shared directory");
}

}  // namespace

std::unique_ptr<Fd> openDirectoryHere(FileOps& ops, int at, const std::string& name, bool& syncable)
{
    int fd = ops.openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    syncable = fd >= 0;
    if (fd < 0 && errno == EACCES)
        fd = ops.openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::make_unique<Fd>(ops, fd);
}

bool mayFollow(uid_t linkOwner, uid_t targetOwner)
{
    return linkOwner == ::geteuid() || linkOwner == targetOwner || linkOwner == 0;
}

std::unique_ptr<Fd> Resolver::directory(int at, const std::string& path, bool& syncable)
{
    std::unique_ptr<Fd> current;
    std::size_t i = 0;
    syncable = false;
    if (!path.empty() && path[0] == '/') {
        current = openDirectoryHere(ops_, at, "/", syncable);
        if (!current)
            return nullptr;
        i = path.find_first_not_of('/');
    } else {
        current = openDirectoryHere(ops_, at, ".", syncable);
        if (!current)
            return nullptr;
    }
    while (i != std::string::npos && i < path.size()) {
        const std::size_t slash = path.find('/', i);
        const std::string name = path.substr(i, slash == std::string::npos ? std::string::npos : slash - i);
        i = slash == std::string::npos ? slash : path.find_first_not_of('/', slash);
        if (name == ".")
            continue;
        auto next = openDirectoryHere(ops_, current->get(), name, syncable);
        if (!next) {
            if (errno != ELOOP && errno != ENOTDIR)
                return nullptr;
            struct stat link{};
            std::string target;
            if (!readLink(current->get(), name, link, target))
                return nullptr;
            next = directory(current->get(), target, syncable);
            if (!next)
                return nullptr;
            struct stat reached{};
            if (ops_.fstat(next->get(), &reached) != 0)
                fail();
            if (!mayFollow(link.st_uid, reached.st_uid))
                throw IoError(kFileAccessDenied, "a link whose maker does not own the directory it leads to");
        }
        current = std::move(next);
    }
    return current;
}

bool Resolver::readLink(int dirFd, const std::string& name, struct stat& link, std::string& target)
{
    if (++links_ > kMaxLinks) {
        errno = ELOOP;
        fail();
    }
    const int fd = ops_.openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    Fd guard(ops_, fd);
    if (ops_.fstat(fd, &link) != 0)
        fail();
    if (!S_ISLNK(link.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    refuseForeignLink(ops_, dirFd, link);
    if (ops_.readlinkat(fd, "", target) != 0)
        fail();
    return true;
}

}  // namespace dxfkonv
