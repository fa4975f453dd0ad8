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
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/platform/FileSystem.h"

namespace dxfkonv {

class Win32FileSystem final : public FileSystem {
public:
    // The time of day as the system keeps files' times (100 ns steps
    // since 1601), against which a work file counts as left alone long
    // enough: the system's clock unless another is given.
    using Clock = std::uint64_t (*)();
    Win32FileSystem() = default;
    explicit Win32FileSystem(Clock clock) : clock_(clock) {}

    PathKind kindOf(const std::string& path) override;
    std::unique_ptr<Directory> openDirectory(const std::string& path) override;
    std::unique_ptr<Directory> openSubdirectory(Directory& parent, const std::string& name) override;
    std::unique_ptr<Directory> reopen(Directory& directory) override;
    DirectoryListing list(Directory& directory) override;
    Found find(Directory* in, const std::string& path, const std::string& name) override;
    std::optional<FileState> lookUp(Directory& directory, const std::string& name) override;
    std::unique_ptr<InputFile> open(const Found& found, bool exclusive) override;
    void requireReplaceable(const Found& found) override;
    std::unique_ptr<WorkFile> createWorkFile(Directory& directory, std::uint64_t expectedSize,
                                             const std::string* leftBehind) override;
    MetadataKept giveMetadata(WorkFile& work, InputFile& like) override;
    MetadataKept giveMetadata(WorkFile& work, const Found& like) override;
    MetadataKept giveNewFileMetadata(WorkFile& work) override;
    void flush(WorkFile& work) override;
    Content contentOf(InputFile& file) override;
    void backUp(InputFile& original, Directory& directory, const std::string& backupName,
                const std::function<void(const Content* copied)>& beforeKept) override;
    void replace(WorkFile& work, Directory& directory, const std::string& name) override;
    void flush(Directory& directory) override;

private:
    Clock clock_ = nullptr;
};

}  // namespace dxfkonv
