// A restore: the drawing held and checked as a conversion holds it, the
// backup's content copied into a work file, and that put in its place.
#include "engine/replace/Restore.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/IoError.h"
#include "engine/platform/Signals.h"
#include "engine/replace/Checks.h"
#include "engine/replace/Convert.h"

namespace dxfkonv {

namespace {

// The backup is copied a block of this size at a time.
constexpr std::size_t kCopyChunk = 1 << 20;

}  // namespace

RestoreReport Restore(const Drawing& drawing, bool dryRun, FileSystem& fs)
{
    RestoreReport report;
    report.backupName = BackupName(drawing.name);
    const Found found = drawing.Find(fs);
    if (!found.regular()) {
        report.found = false;
        return report;
    }
    if (report.backupName == drawing.name)
        throw IoError(kFileNotFound, "a name ending in .old has no backup of its own");
    // The same checks as a conversion's: one pass at a time, a drawing the
    // caller may replace, and a backup that is this drawing's alone.
    FileState st;
    auto held = holdForReplace(found, drawing, report.backupName, st);
    // The backup is beside the name given, a link's as well.
    Directory& backupDirectory = found.namedIn ? *found.namedIn : *found.directory;
    const Found backup = backupDirectory.find(report.backupName);
    if (!backup.regular()) {
        report.backupFound = false;
        return report;
    }
    auto old = backup.directory->open(backup.name, false);
    const FileState oldState = old->state();
    if (dryRun)
        return report;

    // The backup's content into a work file that takes the drawing's owner
    // and permissions, and that in the drawing's place in one step. The
    // backup stays as it is: a restore can be repeated, and loses nothing
    // that was not converted from it.
    auto work = held->createWorkFile(oldState.size, &holdsWorkFileContent);
    std::uint64_t copied = 0;
    {
        const IoStep step("restoring", report.backupName);
        std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
        for (;;) {
            if (const int signal = StopSignal())
                throw Interrupted(signal);
            const std::size_t got = old->read(buffer.get(), kCopyChunk);
            if (got == 0)
                break;
            work->write(buffer.get(), got);
            copied += got;
        }
        requireUnchanged(oldState, old->state(), copied);
    }
    work->takeMetadata();
    work->flush();
    requireStillThere(found, st.key);
    requireUnchanged(st, held->state(), st.size);
    work->keep();
    found.directory->flush();
    return report;
}

}  // namespace dxfkonv
