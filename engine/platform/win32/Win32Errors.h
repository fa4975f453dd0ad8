// The system's error numbers on Windows as the message table reads them.
#pragma once

#include <string>

#include "engine/IoError.h"

namespace dxfkonv::win32 {

// Maps a Win32 error (GetLastError()) to the number and text of the same
// meaning. The message table's numbers are those of DOS, and Windows kept
// them: 2 "File not found", 3 (a bad name or path) "Invalid filename", 4
// "Too many open files", 5 "File access denied"; a full disk is 101 "Disk
// full". Any other error keeps its own number with the text "I/O error
// N." (32, a file another program holds, among them). The detail names the
// step under way on this thread (see IoStep) and the system's own words.
IoError IoErrorFromWin32(unsigned long error);

// The system's words for `error`, in UTF-8, without the final line break.
std::string SystemWords(unsigned long error);

// Throws IoErrorFromWin32(GetLastError()).
[[noreturn]] void failWin32();

}  // namespace dxfkonv::win32
