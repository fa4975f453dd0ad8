// Windows paths as the directory list shows them, as plain strings (UTF-8):
// a drive root "C:\" or a share "\\server\share\", then names separated by
// "\". Nothing here asks the system.
#pragma once

#include <string>
#include <vector>

// A directory and a name are joined by the engine's JoinPath(), as the
// pass joins them.
#include "engine/platform/FileSystem.h"

namespace dxfkonv::win32 {

inline constexpr char kSeparator = '\\';

// The root of an absolute path: "C:\" of "C:\a\b" (the letter as written),
// "\\server\share\" of "\\server\share\a"; "" for a path without one.
std::string RootOf(const std::string& path);

// The path with "\" for every "/", no doubled separator, and one at the end
// only at the root ("C:" is "C:\").
std::string NormalisePath(const std::string& path);

// Every directory from the root down to `directory`: "C:\a\b" gives "C:\",
// "C:\a", "C:\a\b".
std::vector<std::string> PathChain(const std::string& directory);

// The last name of a path; the root for the root.
std::string LastComponent(const std::string& path);

}  // namespace dxfkonv::win32
