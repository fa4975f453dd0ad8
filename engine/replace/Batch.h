// The drawings a batch of conversions has met, its drawings' last steps
// in order on a thread of its own, and the directories it flushes later.
#pragma once

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "engine/pass/LinePass.h"
#include "engine/platform/FileSystem.h"

namespace dxfkonv {

class HandOff;

// The drawings a batch has written, so that a drawing named twice (once
// more through a link, or by its directory and by its own name) is
// converted only once: a name that leads to a file the batch wrote is
// skipped. A name that still leads to the file that was read (another
// hard link of it) is a drawing in its own right. A dry run, which writes
// nothing, skips a name that leads to a directory entry it checked.
//
// A batch also flushes the directories it replaced files in later, rather
// than after each file: each drawing is still on the disk before it
// replaces the old one, and the journal of the file system takes each
// rename along with the next file's flush anyway. A few directories wait
// at a time; the oldest is flushed when one more comes.
class Batch {
public:
    // What a drawing's last steps came to: its report, or the failure (an
    // IoError) that stopped them, the drawing then untouched.
    using Finished = std::function<void(const PassReport& report, std::exception_ptr failure)>;

    Batch();
    // A batch whose drawings overlap: each drawing's last steps (the flush
    // of its work file, which waits for the disk, its backup and its
    // replace) run on a thread of the batch's own while the next drawing is
    // converted. Convert() then returns with report.pending set, before the
    // drawing is replaced; the outcome reaches `finished` on that thread
    // the moment the last steps end, so a drawing is known to be replaced
    // as soon as it is, and may not throw. Outcomes come in the order of
    // the drawings: the next Convert() returns (or throws) only once the
    // outcome before it has arrived, and finish() waits for it. Without a
    // thread to be had, it reaches `finished` before Convert() returns.
    explicit Batch(Finished finished);
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    Batch(Batch&& other) noexcept;
    Batch& operator=(Batch&& other) noexcept;
    // Finishes and flushes what is still to finish and flush.
    ~Batch();

    bool met(const FileKey& file) const { return files_.count(file) != 0; }
    void remember(const FileKey& file) { files_.insert(file); }
    // For a dry run: a directory entry, by its directory and name.
    bool checked(const FileKey& directory, const std::string& name) const
    {
        return entries_.count({directory, name}) != 0;
    }
    void rememberChecked(const FileKey& directory, const std::string& name) { entries_.insert({directory, name}); }

    // Whether the batch looks into the directory for the first time.
    bool firstTimeIn(const FileKey& directory) { return cleaned_.insert(directory).second; }

    // Whether the file system of `directory` compares names without regard
    // to case, where the batch has worked it out.
    std::optional<bool> foldsCase(const FileKey& directory) const
    {
        const auto known = foldsCase_.find(directory);
        return known == foldsCase_.end() ? std::nullopt : std::optional<bool>(known->second);
    }
    void rememberFoldsCase(const FileKey& directory, bool folds) { foldsCase_[directory] = folds; }

    // Whether the last steps handed over and not yet finished are those
    // of the file read as `file`.
    bool finishing(const FileKey& file) const { return file != FileKey{} && pendingInput_ == file; }

    // Takes a handle of `directory` to flush later.
    void flushLater(Directory& directory);
    // Waits for the last steps under way, and so for their outcome.
    void finish();
    // finish(), then flushes every directory handed over (best effort: the
    // renames in them have happened).
    void flush();

    // For Convert(): hands the outcome of the drawing before on, in order,
    // when a pass leaves before it hands its own last steps over.
    class InOrder {
    public:
        explicit InOrder(Batch* batch) : batch_(batch) {}
        InOrder(const InOrder&) = delete;
        InOrder& operator=(const InOrder&) = delete;
        ~InOrder()
        {
            if (batch_)
                batch_->finish();
        }

    private:
        friend class Batch;
        Batch* batch_;
    };
    // For Convert(): runs a drawing's last steps now, or, in a batch whose
    // drawings overlap, on the batch's thread once the drawing before is
    // finished; `prepared` is what the pass reported.
    PassReport finishLater(std::function<PassReport()> lastSteps, PassReport prepared, InOrder& inOrder,
                           const FileKey& input = {});

    // How many directories wait to be flushed at most.
    static constexpr std::size_t kMaxWaitingDirectories = 16;

private:
    Finished finished_;
    std::unique_ptr<HandOff> worker_;  // the batch's thread for the last steps
    bool noThread_ = false;   // none could be had: the last steps run at once
    FileKey pendingInput_;  // the file the pending last steps read
    std::set<FileKey> files_;
    std::set<std::pair<FileKey, std::string>> entries_;
    std::set<FileKey> cleaned_;
    std::map<FileKey, bool> foldsCase_;
    struct Waiting {
        FileKey key;
        std::unique_ptr<Directory> directory;
    };
    std::deque<Waiting> directories_;  // oldest first
};

}  // namespace dxfkonv
