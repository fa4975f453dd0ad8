#include "engine/replace/Drawings.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "engine/platform/posix/Descriptors.h"
#include "engine/IoError.h"

namespace dxfkonv {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

Drawing Drawing::FromPath(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1)};
}

std::string Drawing::Path() const
{
    if (directory.empty() || directory.back() == '/')
        return directory + name;
    return directory + '/' + name;
}

bool IsDrawingName(const std::string& name)
{
    static constexpr char kExtension[] = ".dxf";
    constexpr std::size_t n = sizeof kExtension - 1;
    if (name.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (lowerAscii(name[name.size() - n + i]) != kExtension[i])
            return false;
    return true;
}

namespace {

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

// The drawings of the open directory `dir` (at `path`), then, with
// `recursive`, those of its subdirectories. Holds one descriptor for each
// level of the tree it is in, and none for a directory it is done with.
void walk(FileOps& ops, const std::shared_ptr<OpenedDirectory>& dir, const std::string& path, bool recursive,
          const std::function<bool(const std::string&, const std::string&)>& before,
          const std::function<void(const Drawing&)>& each,
          const std::function<void(const std::string&, const IoError&)>& failed)
{
    DirectoryListing listing;
    try {
        // The listing reads through a descriptor of its own, closed with it.
        const int copy = ops.openat(dir->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (copy < 0)
            fail();
        std::unique_ptr<DIR, DirCloser> stream(::fdopendir(copy));
        if (!stream) {
            const int err = errno;
            ops.close(copy);
            throw IoError::fromErrno(err);
        }
        listing = listOpen(stream.get());
    } catch (const IoError& e) {
        failed(path, e);
        return;
    }
    std::sort(listing.drawings.begin(), listing.drawings.end(), before);
    for (auto& name : listing.drawings) {
        Drawing drawing{path, std::move(name), dir};
        each(drawing);
    }
    if (!recursive)
        return;
    std::vector<std::string> subdirectories;
    for (const auto& sub : listing.subdirectories)
        if (!sub.link)
            subdirectories.push_back(sub.name);
    std::sort(subdirectories.begin(), subdirectories.end(), before);
    for (const auto& name : subdirectories) {
        const std::string subPath = Drawing{path, name}.Path();
        const int fd = ops.openat(dir->fd(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            // A link, or no directory, by now: not followed.
            if (errno != ELOOP && errno != ENOTDIR && errno != ENOENT)
                failed(subPath, IoError::fromErrno(errno));
            continue;
        }
        walk(ops, std::make_shared<OpenedDirectory>(ops, fd), subPath, recursive, before, each, failed);
    }
}

}  // namespace

DirectoryListing ListDirectory(const std::string& directory)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.empty() ? "." : directory.c_str()));
    if (!dir)
        throw IoError::fromErrno(errno);
    return listOpen(dir.get());
}

void WalkDrawings(const std::string& directory, bool recursive,
                  const std::function<bool(const std::string&, const std::string&)>& before,
                  const std::function<void(const Drawing&)>& each,
                  const std::function<void(const std::string&, const IoError&)>& failed, FileOps& ops)
{
    std::shared_ptr<OpenedDirectory> top;
    try {
        Resolver resolver(ops);
        bool syncable = false;
        auto fd = resolver.directory(AT_FDCWD, directory.empty() ? "." : directory, syncable);
        if (!fd)
            fail();
        if (!syncable)
            throw IoError(kFileAccessDenied, "it may be entered but not read");
        top = std::make_shared<OpenedDirectory>(ops, fd->release());
    } catch (const IoError& e) {
        failed(directory, e);
        return;
    }
    walk(ops, top, directory, recursive, before, each, failed);
}

}  // namespace dxfkonv
