// What the command line needs to know of where its output goes, and how
// its text gets there.
#pragma once

#include <string>
#include <vector>

namespace dxfkonv {

enum class StandardStream { kOutput, kError };

// Whether the stream is a terminal a person watches.
bool IsTerminal(StandardStream stream);

// Writes `text` (UTF-8) to the stream at once, as it is: as bytes to a
// file, a pipe or a terminal; on Windows a console gets it as the
// characters they stand for, whatever its code page. Returns 0, or the
// number of the error that stopped the write (an errno value).
int WriteText(StandardStream stream, const std::string& text);

#ifdef _WIN32
// The arguments of wmain() after the program's name, in UTF-8.
std::vector<std::string> ArgumentsInUtf8(int argc, wchar_t** argv);
#endif

}  // namespace dxfkonv
