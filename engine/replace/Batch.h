// A batch of conversions: the drawings it met, the queue of drawings
// whose work files are written and wait to replace them, flushed to the
// disk a group at a time, and the directories it flushes once a group is
// in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "engine/pass/LinePass.h"
#include "engine/platform/FileSystem.h"
#include "engine/replace/Drawings.h"

namespace dxfkonv {

class HandOff;

// The drawings a batch has written, so that a drawing named twice (once
// more through a link, or by its directory and by its own name) is
// converted only once: a name that leads to a file the batch wrote is
// skipped. A name that still leads to the file that was read (another
// hard link of it) is a drawing in its own right. A dry run, which writes
// nothing, skips a name that leads to a directory entry it checked.
//
// A batch that reports through `finished` also queues its drawings: each
// one's pass writes its work file, and the last steps (the flush of the
// work file, the checks, the backup, the replace) wait until a group of
// drawings is gathered. The group's work files then go to the disk
// together: those of one file system that can put them all there at once
// so, the others each on a thread of its own. A batch of small drawings
// waits for the disk about once a group and not once a drawing; then
// each drawing of the group replaces its old self in turn, and is
// reported the moment it has; the directories they are in are flushed
// with the next group's work files, or at the end. A group's last steps run on a thread of the batch's own while
// the next group is converted. A drawing is replaced only once its own
// work file is on the disk; a drawing not yet reported is untouched, and
// the work files of a killed batch go with it.
class Batch {
public:
    // What became of one drawing of the batch: the drawing as it was
    // handed to Convert(), and its report, or the failure (a
    // ConversionError) that stopped it, the drawing then untouched.
    struct Outcome {
        Drawing drawing;
        PassReport report;
        std::exception_ptr failure;
    };
    using Finished = std::function<void(const Outcome& outcome)>;

    // A drawing's last steps, in the two parts a group runs apart: its
    // work file put on the disk, and the rest. Dropped without complete(),
    // the work file goes and the drawing stays as it was.
    class LastSteps {
    public:
        virtual ~LastSteps() = default;
        virtual void flush() = 0;
        // Puts the writes of every file of its work file's file system on
        // the disk at once, where that is worth it (see
        // WorkFile::flushFileSystem()); false where not.
        virtual bool flushFileSystem() = 0;
        // The checks, the backup and the replace; directories are flushed
        // through the batch.
        virtual PassReport complete(Batch& batch) = 0;
    };

    // Where a batch that queues runs its groups' last steps, and so where
    // the outcomes arrive: on a thread of its own, while the next group is
    // converted; or on the caller's, within the Convert() that closes a
    // group and within finish() (a window's, whose outcomes change what it
    // shows). The work files are flushed on threads of their own either way.
    enum class Threads { kOwn, kCallers };

    // A batch that runs each drawing's last steps at once, before Convert()
    // returns.
    Batch();
    // A batch whose every drawing's outcome reaches `finished`, in the
    // order of the drawings, each the moment it is known (see Threads): a
    // drawing's Convert() returns with report.pending set, and throws only
    // what stops the whole batch (Interrupted), once the outcomes before it
    // have arrived. A failure closes the group gathered, so it is heard of
    // at once. finish() waits for every outcome. `finished` may not throw.
    // Without a thread to be had, the groups run on the caller's thread.
    explicit Batch(Finished finished, Threads threads = Threads::kOwn);
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
    Batch(Batch&& other) noexcept;
    Batch& operator=(Batch&& other) noexcept;
    // Finishes and flushes what is still to finish and flush.
    ~Batch();

    // For `finished`: the batch stops; the drawings queued after the one
    // whose outcome this is are let go untouched and unreported, and so is
    // any handed to it later.
    void drop() { dropping_ = true; }

    // Whether drawings' outcomes go to `finished` (see above).
    bool queues() const { return static_cast<bool>(finished_); }

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

    // Whether the file read as `file` waits in the queue to be replaced.
    bool finishing(const FileKey& file) const;

    // Takes a handle of `directory` to flush with the next group, or, in
    // a batch that does not queue, once more directories wait than
    // kMaxWaitingDirectories.
    void flushLater(Directory& directory);
    // Runs the last steps of every drawing queued, and waits for them, and
    // so for every outcome.
    void finish();
    // finish(), then flushes every directory handed over (best effort: the
    // renames in them have happened).
    void flush();

    // For Convert(): takes, in order, the outcome of a drawing that ends
    // before it has last steps to queue (not found, met before, refused,
    // failed).
    void done(Outcome outcome);
    // For Convert(), before a drawing of `size` bytes is converted: a
    // drawing that would take the group gathered past kGroupBytes starts
    // a group of its own, so those before it are put in place during its
    // pass rather than after it.
    void aheadOf(std::uint64_t size);
    // For Convert(), in a batch that queues: queues a drawing's last
    // steps; `prepared` is what its pass reported, `input` the file it
    // read, `size` how large that is.
    PassReport finishLater(std::unique_ptr<LastSteps> steps, const Drawing& drawing, PassReport prepared,
                           const FileKey& input, std::uint64_t size);

    // How many drawings, and how many of their bytes, a group gathers at
    // most: enough to wait for the disk once for many small drawings,
    // while a large one goes on its own. Two groups, the one converted and
    // the one being put in place, hold a few handles each of their
    // drawings.
    static constexpr std::size_t kGroupDrawings = 16;
    static constexpr std::uint64_t kGroupBytes = 16u << 20;
    // And how many outcomes in all, those of drawings that ended early
    // (refused, not found) among them.
    static constexpr std::size_t kGroupOutcomes = 4 * kGroupDrawings;
    // How many threads flush a group's files besides the batch's own.
    static constexpr std::size_t kFlushThreads = kGroupDrawings;
    // How many directories wait to be flushed at most.
    static constexpr std::size_t kMaxWaitingDirectories = 16;

private:
    struct Queued {
        Outcome outcome;
        std::unique_ptr<LastSteps> steps;  // null: the outcome is known
        FileKey input;
    };
    using Group = std::vector<Queued>;

    // Hands the group gathered to the batch's thread, once the group
    // before is in place.
    void closeGroup();
    // The last steps of a group, and its outcomes, in order.
    void runGroup(Group& group);
    struct Waiting {
        FileKey key;
        std::unique_ptr<Directory> directory;
    };
    void flushTogether(Group& group, std::vector<std::exception_ptr>& failures, std::deque<Waiting>& directories);
    void flushDirectories();

    Finished finished_;
    std::unique_ptr<HandOff> worker_;                 // the batch's thread for the groups' last steps
    std::vector<std::unique_ptr<HandOff>> flushers_;  // and those that flush a group's work files
    bool noThread_ = false;                           // none could be had, or none wanted: groups run at once
    bool dropping_ = false;                           // see drop()
    Group gathering_;
    std::uint64_t gatheredBytes_ = 0;
    std::size_t gatheredSteps_ = 0;
    std::vector<FileKey> underWayInputs_;  // the files read of the drawings of the group handed over
    std::set<FileKey> files_;
    std::set<std::pair<FileKey, std::string>> entries_;
    std::set<FileKey> cleaned_;
    std::map<FileKey, bool> foldsCase_;
    std::deque<Waiting> directories_;  // oldest first
};

}  // namespace dxfkonv
