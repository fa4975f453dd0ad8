// One conversion pass over a file on disk.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "engine/replace/Drawings.h"
#include "engine/platform/FileOps.h"
#include "engine/pass/LinePass.h"
#include "engine/rules/Switches.h"

namespace dxfkonv {

// The name of the short-lived work file, in the converted file's directory.
inline constexpr const char* kWorkFileName = "razade.&&&";

// The backup's name: the file name cut after its last "." plus "old"
// ("PLAN.DXF" gives "PLAN.old"); a name without "." gets ".old" appended.
std::string BackupName(const std::string& fileName);

// A file as the system tells files apart (its device and its number there).
struct FileKey {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    auto operator<=>(const FileKey&) const = default;
};

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

    // Whether the last steps handed over and not yet finished are those
    // of the file read as `file`.
    bool finishing(const FileKey& file) const { return file != FileKey{} && pendingInput_ == file; }

    // Takes a copy of the open directory `dirFd` to flush later.
    void flushLater(FileOps& ops, int dirFd);
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
    struct Worker;
    Finished finished_;
    std::unique_ptr<Worker> worker_;
    bool noThread_ = false;   // none could be had: the last steps run at once
    FileKey pendingInput_;  // the file the pending last steps read
    std::set<FileKey> files_;
    std::set<std::pair<FileKey, std::string>> entries_;
    std::set<FileKey> cleaned_;
    struct Waiting {
        FileKey key;
        FileOps* ops;
        int fd;
    };
    std::deque<Waiting> directories_;  // oldest first
};

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
// The names are resolved once: a symbolic link is followed (its target is
// replaced, the link stays), except one that a user other than the caller
// and the directory's owner planted in a shared directory with the sticky
// bit, like /tmp. From then on the pass works through the descriptors of
// the directory that holds the file and of the file itself, whatever
// happens to the names. It holds an exclusive lock on the file from
// opening it to the replace: a file another pass holds is refused with
// I/O error 32, and so is one whose name no longer leads to the file read
// by the time of the replace. A file without write permission is refused.
//
// Throws IoError on any failure; the file is then untouched and no work
// file is left behind.
PassReport Convert(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress = {},
                   FileOps& ops = SystemFileOps(), Batch* batch = nullptr);

// The same for the drawing `fileName` in `directory`, as the window names it.
inline PassReport Convert(const std::string& directory, const std::string& fileName,
                          const ConversionSwitches& switches, const ProgressSink& progress = {},
                          FileOps& ops = SystemFileOps(), Batch* batch = nullptr)
{
    return Convert(Drawing{directory, fileName}, switches, progress, ops, batch);
}

// Converts `input` into `output` (created or replaced the same safe way),
// leaving the input untouched; no backup is made. Throws IoError:
// kFileNotFound when the input is missing or not a regular file,
// kFileAccessDenied when it cannot be reached or when the output is the
// input itself.
PassReport ConvertToFile(const Drawing& input, const Drawing& output, const ConversionSwitches& switches,
                         const ProgressSink& progress = {}, FileOps& ops = SystemFileOps());

// Runs the pass over a drawing without writing anything: what would change.
// A drawing `batch` has met is skipped as in Convert().
PassReport InspectFile(const Drawing& drawing, const ConversionSwitches& switches, const ProgressSink& progress = {},
                       FileOps& ops = SystemFileOps(), Batch* batch = nullptr);

// Removes the named work files of passes under way. Only what a signal
// handler may call is called, so a program can call it from one before it
// ends; where the file system allows, a work file has no name until just
// before the replace, and nothing is left to remove.
void RemoveUnfinishedWorkFiles() noexcept;

// Makes SIGINT, SIGTERM and SIGHUP remove the named work files of passes
// under way before they end the program as they would have (the shell then
// sees the status 128 + the signal's number). One the program was started
// with ignored (nohup, a background job) stays ignored.
void RemoveWorkFilesOnSignals();

// What a pass throws when a signal has asked the passes to stop (see
// StopPassesOnSignals()): its drawing is untouched, its work file gone.
// No failure of the drawing's own.
class Interrupted : public std::exception {
public:
    explicit Interrupted(int signal) : signal_(signal) {}
    const char* what() const noexcept override { return "interrupted by a signal"; }
    int signal() const noexcept { return signal_; }

private:
    int signal_;
};

// Makes SIGINT, SIGTERM and SIGHUP ask the passes under way to stop, so a
// program can end in order: each pass throws Interrupted at its next block
// read, the last steps already under way in a batch end as usual, and the
// program then reports what was done and calls EndBySignal(). A second one
// of these signals ends the program at once, as RemoveWorkFilesOnSignals()
// does. One the program was started with ignored stays ignored.
void StopPassesOnSignals();
// The signal that asked the passes to stop; 0 while none has.
int StopSignal() noexcept;
// Ends the program by `signal` as if no handler had caught it, so the
// shell sees a death by that signal (status 128 + its number).
[[noreturn]] void EndBySignal(int signal);

// Makes a write beyond the file-size limit (SIGXFSZ) or into a pipe nobody
// reads any more (SIGPIPE) fail with its error ("Disk full." for the
// limit) instead of ending the program, perhaps in the middle of a pass.
void IgnoreSignalsOfFailedWrites();

}  // namespace dxfkonv
