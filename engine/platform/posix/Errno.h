// The system's error numbers as the message table reads them.
#pragma once

#include "engine/IoError.h"

namespace dxfkonv {

// Maps an errno value to the number and text of the same meaning: ENOENT
// 2, a bad name 3, too many open files 4, permission denied or a read-only
// file system 5, no space, quota or file-size limit 101. Any other errno
// keeps its own number with the text "I/O error N.". The detail names the
// step under way on this thread (see IoStep) and the system's own words.
IoError IoErrorFromErrno(int err);

}  // namespace dxfkonv
