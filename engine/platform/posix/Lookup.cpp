#include "engine/platform/posix/Errno.h"
#include "engine/platform/posix/Lookup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "engine/IoError.h"

namespace dxfkonv::posix {

namespace {

// Splits `path` (a name, or a link's target) into its directory part,
// opened relative to place.dir and taking its place, and its last name.
// False with errno set when the directory cannot be opened.
bool enter(Resolver& resolver, Place& place, const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    // A name ending in "/" is a directory, never a drawing: "." stands for it.
    std::string name = slash == std::string::npos ? path : slash + 1 == path.size() ? std::string(1, '.')
                                                                                   : path.substr(slash + 1);
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

}  // namespace

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
// with the sticky bit, like /tmp), nor one in a directory where no work
// file can be made. Refused before anything is written.
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
    // The work file is made in the directory and renamed there.
    const IoStep step("making a work file beside it");
    if (ops.faccessat(dirFd, ".", W_OK | X_OK, 0) != 0)
        fail();
}


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
                throw IoErrorFromErrno(errno);
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


}  // namespace dxfkonv::posix
