// The file system of a POSIX system (Linux first): descriptors for
// everything once a name is found, O_TMPFILE for unnamed work files,
// flock() for the one pass at a time, hard links for backups, and the
// access control lists and extended attributes carried over with the
// permissions. Every system call goes through a FileOps, so that a test
// can fail or precede any one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "engine/platform/FileSystem.h"
#include "engine/platform/posix/FileOps.h"

namespace dxfkonv {

class PosixFileSystem final : public FileSystem {
public:
    explicit PosixFileSystem(FileOps& ops) : ops_(ops) {}

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
    FileOps& ops_;
};

}  // namespace dxfkonv
