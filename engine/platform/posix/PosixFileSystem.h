// The file system of a POSIX system (Linux first): descriptors for
// everything once a name is found, O_TMPFILE for unnamed work files,
// flock() for the one pass at a time, hard links for backups, and the
// access control lists and extended attributes carried over with the
// permissions. Every system call goes through a FileOps, so that a test
// can fail or precede any one of them.
//
// The directories, drawings and work files it hands out share the
// descriptors they need: a directory's descriptor stays open as long as
// anything opened or made through it.
#pragma once

#include <memory>
#include <string>

#include "engine/platform/FileSystem.h"
#include "engine/platform/posix/FileOps.h"

namespace dxfkonv {

class PosixFileSystem final : public FileSystem {
public:
    explicit PosixFileSystem(FileOps& ops) : ops_(ops) {}

    PathKind kindOf(const std::string& path) override;
    std::unique_ptr<Directory> openDirectory(const std::string& path) override;
    Found find(const std::string& path, const std::string& name) override;

private:
    FileOps& ops_;
};

}  // namespace dxfkonv
