// A file system for tests at the level the conversion sees it: passes
// every operation to another file system (the system's own by default),
// counting them; fails the ones a test picks with an I/O error, or lets
// the test change the file system just before one. The directories,
// drawings and work files it hands out wrap those of the other file
// system and count and fail their operations alike.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <string>

#include "engine/platform/FileSystem.h"

namespace dxfkonv::test {

// The operations of the seam, of whichever object: the file system
// (kindOf, openDirectory, find), a directory (the next seven, find too,
// createWorkFile, flush), a drawing held (contentOf, backUp,
// createWorkFile) or a work file (takeMetadata, flush, keep, discard).
enum class Seam : int {
    kKindOf, kOpenDirectory, kOpenSubdirectory, kReopen, kList, kFind, kLookUp, kOpen, kRequireReplaceable,
    kCreateWorkFile, kTakeMetadata, kFlushWork, kContentOf, kBackUp, kKeep, kFlushDirectory, kDiscard, kCount
};
const char* seamName(Seam op);

class FaultySystem final : public FileSystem {
public:
    // The number of the I/O error an operation picked to fail throws.
    static constexpr int kInjected = 121;

    explicit FaultySystem(FileSystem& inner) : inner_(inner) {}

    // Picks the operations that fail: nth counts from 1 per operation.
    // The flush of a directory and a discard are best effort by their
    // promise: counted, never failed.
    std::function<bool(Seam op, int nth)> fails;
    std::function<void(Seam op, int nth)> before;  // runs ahead of each

    int calls(Seam op) const { return counts_[static_cast<int>(op)]; }

    PathKind kindOf(const std::string& path) override;
    std::unique_ptr<Directory> openDirectory(const std::string& path) override;
    Found find(const std::string& path, const std::string& name) override;

    // For the objects it hands out: counts the operation, runs `before`,
    // and throws when it is to fail (never, with `mayFail` false).
    void enter(Seam op, bool mayFail = true);
    // The objects of the other file system, wrapped.
    std::unique_ptr<Directory> wrap(std::unique_ptr<Directory> directory);
    Found wrap(Found found);

private:
    FileSystem& inner_;
    std::array<std::atomic<int>, static_cast<int>(Seam::kCount)> counts_{};  // a batch flushes from several threads
};

}  // namespace dxfkonv::test
