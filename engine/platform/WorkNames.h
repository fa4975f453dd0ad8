// The names a pass gives its own files beside a drawing, and how a file
// left by a killed pass is told from somebody's own: the same on every
// platform, so that either side cleans up after the other on a shared
// disk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace dxfkonv {

// Names to try for a work file while earlier ones are taken (by another
// pass, or left by a crash of an older version).
inline constexpr int kMaxWorkNames = 1000;

// The work file (kWorkFileName, kWorkFileName.1 ...) and the temporary
// name of a backup link (kWorkFileName.old, kWorkFileName.old1 ...); the
// first is number 0.
std::string workName(int i);
std::string backupLinkName(int i);

// Whether a file that begins with `head` (its first bytes, as many as it
// has up to `capacity`) holds what a work file holds: nothing yet, or a
// drawing (its first line a group code). Anything else of a work file's
// name is somebody's own file.
bool holdsWorkFileContent(std::string_view head, std::size_t capacity);

}  // namespace dxfkonv
