// The checks a replace makes before and after it writes, shared by the
// conversion of a drawing and its restore: that the pass holds the
// drawing alone, that its name still leads to the file read, that nobody
// changed that file meanwhile, and that its backup name is its own; and
// what tells a file a killed pass left from somebody's own. Only replace/
// (and its tests) include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/platform/FileSystem.h"
#include "engine/replace/Drawings.h"

namespace dxfkonv {

class Batch;

// Refuses to go on when the file read (as it was when the pass began:
// `before`) was changed by another program while the pass read it: cut
// short, written to or grown, or when the pass did not read exactly its
// size. Its content is then neither what the pass converted nor a fit
// backup. Once a backup is linked to it, its change time is the link's.
void requireUnchanged(const FileState& before, const FileState& now, std::uint64_t read, bool linked = false);

// Refuses to go on unless the name found still leads to the file `key`:
// another program has put something else there.
void requireStillThere(const Found& found, const FileKey& key);

// Opens the drawing found for its replace and makes every check that can
// be made before anything is written: one pass at a time, the name still
// leading to the file held, a file the caller may replace, and a backup
// name of its own. A dry run makes them too, so that it meets what the
// conversion would meet. `state` is the file as it is from here on.
// Given a batch, whether the backup directory's file system ignores case
// is worked out once for it.
std::unique_ptr<HeldDrawing> holdForReplace(const Found& found, const Drawing& drawing,
                                            const std::optional<std::string>& backupName, FileState& state,
                                            Batch* batch = nullptr);

// Whether a file of a work file's name that begins with `head` (its first
// bytes, as many as it has up to `capacity`) holds what a work file holds:
// nothing yet, or a drawing (its first line a group code). Anything else
// of such a name is somebody's own file, never removed as one a killed
// pass left (see HoldsWorkContent).
bool holdsWorkFileContent(std::string_view head, std::size_t capacity);

}  // namespace dxfkonv
