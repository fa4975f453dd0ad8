// A file system for tests at the level the conversion sees it: passes
// every operation to another file system (the system's own by default),
// counting them; fails the ones a test picks with an I/O error, or lets
// the test change the file system just before one.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "engine/platform/FileSystem.h"

namespace dxfkonv::test {

enum class Seam : int {
    kKindOf, kOpenDirectory, kOpenSubdirectory, kReopen, kList, kFind, kLookUp, kOpen, kRequireReplaceable,
    kCreateWorkFile, kGiveMetadata, kFlushWork, kContentOf, kBackUp, kReplace, kFlushDirectory, kCount
};
const char* seamName(Seam op);

class FaultySystem final : public FileSystem {
public:
    // The number of the I/O error an operation picked to fail throws.
    static constexpr int kInjected = 121;

    explicit FaultySystem(FileSystem& inner) : inner_(inner) {}

    // Picks the operations that fail: nth counts from 1 per operation.
    std::function<bool(Seam op, int nth)> fails;
    std::function<void(Seam op, int nth)> before;  // runs ahead of each

    int calls(Seam op) const { return counts_[static_cast<int>(op)]; }

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
    // Counts the operation, runs `before`, and throws when it is to fail.
    void enter(Seam op);

    FileSystem& inner_;
    std::array<std::atomic<int>, static_cast<int>(Seam::kCount)> counts_{};  // a batch flushes from several threads
};

}  // namespace dxfkonv::test
