// The POSIX side's lookup of a drawing: its directory opened, its name
// followed through links as the rules allow, and the file opened.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "engine/platform/FileSystem.h"
#include "engine/platform/posix/Descriptors.h"

namespace dxfkonv::posix {

// A file found: the directory that really holds it (open) and its name
// there, which is no symbolic link.
struct Place {
    std::unique_ptr<Fd> dir;
    std::unique_ptr<Fd> namedIn;  // where the name given was, when that was a link
    bool dirSyncable = false;     // opened for reading, so it can be flushed
    std::string name;
    struct stat st{};  // of the name, as found
    bool found = false;
};

// Finds the name `given` in the directory open as `in`, or (when `in` is
// -1) in the directory `path`, following links as the rules allow.
Place locate(FileOps& ops, int in, const std::string& path, const std::string& given);

// Opens the regular file `name` in `dirFd`, not through a link that may
// have taken its name since; `st` is its status.
int openFound(FileOps& ops, int dirFd, const std::string& name, struct stat& st);

// Refuses a file the caller may not replace.
void requireWritable(FileOps& ops, int dirFd, const std::string& name);

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// What the open directory `dir` holds (see DirectoryListing).
DirectoryListing listOpen(DIR* dir);

}  // namespace dxfkonv::posix
