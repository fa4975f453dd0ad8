// The file system of Windows: handles for everything once a name is
// found, names opened relative to their directory's handle, share modes
// and a lock for the one pass at a time, work files the system deletes
// when their last handle closes (so a killed pass leaves none), hard
// links for backups, and renames that replace a name in one step. The
// drawing keeps its security descriptor, attributes and creation time, as
// a save by a Windows program does.
//
// Reparse points (symbolic links, junctions, mount points) are followed
// in the path of a directory the user names, as every Windows program
// follows them, and nowhere else: a drawing's name, or a subdirectory's in
// a walk, that is one is not followed (a drawing that is a link is no
// regular file to a pass, and is left out of listings).
//
// The directory, the drawing held and the work file are in
// FileObjects.h; each gets the handles it needs from the one that makes
// it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/platform/FileSystem.h"

namespace dxfkonv {

class Win32FileSystem final : public FileSystem {
public:
    // The time of day as the system keeps files' times (100 ns steps
    // since 1601), against which a work file counts as left alone long
    // enough: the system's clock unless another is given. The directories
    // it opens, and what is opened or made in them, keep it.
    using Clock = std::uint64_t (*)();
    Win32FileSystem() = default;
    explicit Win32FileSystem(Clock clock) : clock_(clock) {}

    PathKind kindOf(const std::string& path) override;
    std::unique_ptr<Directory> openDirectory(const std::string& path) override;
    Found find(const std::string& path, const std::string& name) override;

private:
    Clock clock_ = nullptr;
};

}  // namespace dxfkonv
