// Text at the Win32 calls: UTF-8 inside the program, UTF-16 at every W call.
#pragma once

#include <string>
#include <string_view>

namespace dxfkonv::win32 {

// UTF-8 to UTF-16. Bytes that are not UTF-8 become U+FFFD: this is for
// what is shown, never for a name handed back to the file system.
std::wstring Wide(std::string_view utf8);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(std::wstring_view wide);

}  // namespace dxfkonv::win32
