// Puts a drawing's backup back in its place.
#pragma once

#include <string>

#include "engine/platform/FileSystem.h"
#include "engine/replace/Drawings.h"

namespace dxfkonv {

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
