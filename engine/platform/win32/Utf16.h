// Names on Windows: UTF-8 inside the program, UTF-16 at every call of the
// system, and paths in the form that takes any length.
#pragma once

#include <string>
#include <string_view>

namespace dxfkonv::win32 {

// `utf8` in UTF-16. Throws IoError "Invalid filename." (3) for bytes that
// are no UTF-8: a name is never guessed at.
std::wstring Wide(std::string_view utf8);

// `text` in UTF-16 for showing it: bytes that are no UTF-8 become U+FFFD.
std::wstring WideLoosely(std::string_view text);

// `wide` in UTF-8; a lone surrogate (which no file name of a person's
// holds) becomes U+FFFD.
std::string Utf8(std::wstring_view wide);

// The absolute form of `path` ("" the current directory) that every call
// takes whatever its length: "\\?\C:\..." or "\\?\UNC\server\share\...",
// "/" turned into "\", "." and ".." resolved. A path already in that form
// stays as it is.
std::wstring SystemPath(const std::string& path);

}  // namespace dxfkonv::win32
