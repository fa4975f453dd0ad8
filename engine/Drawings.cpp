#include "engine/Drawings.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

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

DirectoryListing ListDirectory(const std::string& directory)
{
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.empty() ? "." : directory.c_str()));
    if (!dir)
        throw IoError::fromErrno(errno);
    const int fd = ::dirfd(dir.get());
    DirectoryListing listing;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
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

}  // namespace dxfkonv
