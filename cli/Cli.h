// The command-line converter: the same engine as the windows, for scripts.
#pragma once

#include <string>
#include <vector>

#include "engine/platform/FileSystem.h"

namespace dxfkonv::cli {

// Runs the converter on the arguments (without the program name) over the
// file system `fs` and returns the exit status: 0 all done, 1 some file
// failed, 2 wrong usage.
int RunCli(const std::vector<std::string>& args, FileSystem& fs);

}  // namespace dxfkonv::cli
