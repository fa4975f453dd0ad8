// One conversion pass over a file on disk.
#pragma once

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

#include "engine/replace/Drawings.h"
#include "engine/platform/FileSystem.h"
#include "engine/platform/Signals.h"
#include "engine/pass/LinePass.h"
#include "engine/rules/Switches.h"

namespace dxfkonv {

class HandOff;

// The backup's name: the file name cut after its last "." plus "old"
// ("PLAN.DXF" gives "PLAN.old"); a name without "." gets ".old" appended.
std::string BackupName(const std::string& fileName);

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
    void flushLater(FileSystem& fs, Directory& directory);
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
        FileSystem* fs;
        std::unique_ptr<Directory> directory;
    };
    std::deque<Waiting> directories_;  // oldest first
};

// Asked when a pass finds that the drawing was converted before (see
// PassReport::alreadyConverted) and the switches do not say to convert it
// again, with the code page it declares: true replaces the drawing with
// the result of that pass all the same; false refuses it.
using AskConvertAgain = std::function<bool(const std::string& codePage)>;

// Converts a drawing in place.
//
// A name with no regular file behind it is skipped: the report says
// found == false and nothing is touched. So is a drawing `batch` has met
// before (report.repeated). Otherwise the converted text is written to a
// work file beside the file, flushed to disk, and renamed over the file,
// so the file holds either all of its old or all of its new content, at
// any moment; with keepBackup the old content is kept first under
// BackupName(). The work file gets the file's owner and group where the
// caller may give them (the report says whether), and its permissions,
// access control lists and other extended attributes.
//
// The names are resolved once (see FileSystem): a symbolic link is
// followed as far as its maker may lead the caller (its target is
// replaced, the link stays). From then on the pass works through the
// directory that holds the file and the file itself, open, whatever
// happens to the names. It holds the file exclusively from opening it to
// the replace: a file another pass holds is refused with I/O error 32, and
// so is one whose name no longer leads to the file read by the time of
// the replace. A file without write permission is refused, and so is one
// another program changed while the pass read it.
//
// A drawing converted before is refused with Refusal(kAlreadyConverted)
// after its pass, unless switches.convertAgain or `ask` says otherwise.
//
// Throws IoError on any failure, a Refusal for a drawing it will not
// convert; the file is then untouched and no work file is left behind.
PassReport Convert(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                   FileSystem& fs, Batch* batch = nullptr, const AskConvertAgain& ask = {});

// The same for the drawing `fileName` in `directory`, as the window names it.
inline PassReport Convert(const std::string& directory, const std::string& fileName, const ConversionSwitches& switches,
                          const ProgressSink& progress, FileSystem& fs, Batch* batch = nullptr,
                          const AskConvertAgain& ask = {})
{
    return Convert(Drawing{directory, fileName}, switches, progress, fs, batch, ask);
}

// Converts `input` into `output` (created or replaced the same safe way),
// leaving the input untouched; no backup is made. Throws IoError:
// kFileNotFound when the input is missing or not a regular file,
// kFileAccessDenied when it cannot be reached or when the output is the
// input itself.
PassReport ConvertToFile(const Drawing& input, const Drawing& output, const ConversionSwitches& switches,
                         const ProgressSink& progress, FileSystem& fs);

// Runs the pass over a drawing without writing anything: what would change.
// A drawing `batch` has met is skipped as in Convert().
PassReport InspectFile(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress,
                       FileSystem& fs, Batch* batch = nullptr);

// What a restore did: whether there was a drawing and a backup of it.
struct RestoreReport {
    bool found = true;        // false: no regular file of the drawing's name (nothing done)
    bool backupFound = true;  // false: the drawing has no backup (nothing done)
    std::string backupName;   // BackupName() of the drawing's name
};

// Puts the drawing's backup (BackupName(), beside the name given) back in
// its place: its content is written to a work file that takes the
// drawing's owner, group and permissions, flushed and renamed over the
// drawing in one step, as a conversion replaces it; the backup stays. The
// drawing is held and checked as a conversion holds and checks it (one
// pass at a time, a file the caller may replace, a backup name no other
// drawing of the directory has: Refusal(kSharedBackupName) otherwise). With
// `dryRun` it makes those checks and touches nothing. Throws IoError on
// any failure, and then both files are as they were.
RestoreReport Restore(const Drawing& drawing, bool dryRun, FileSystem& fs);

}  // namespace dxfkonv
