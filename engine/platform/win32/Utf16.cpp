#include "engine/platform/win32/Utf16.h"

#include <windows.h>

#include "engine/IoError.h"
#include "engine/platform/win32/Win32Errors.h"

namespace dxfkonv::win32 {

namespace {

// `utf8` in UTF-16 as MultiByteToWideChar() with `flags` gives it; false
// where it refuses.
bool toWide(std::string_view utf8, DWORD flags, std::wstring& wide)
{
    wide.clear();
    if (utf8.empty())
        return true;
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), size, nullptr, 0);
    if (n <= 0)
        return false;
    wide.resize(static_cast<std::size_t>(n));
    return ::MultiByteToWideChar(CP_UTF8, flags, utf8.data(), size, wide.data(), n) == n;
}

}  // namespace

std::wstring Wide(std::string_view utf8)
{
    std::wstring wide;
    if (!toWide(utf8, MB_ERR_INVALID_CHARS, wide))
        throw IoError(kInvalidFilename, "the name is no valid UTF-8");
    return wide;
}

std::wstring WideLoosely(std::string_view text)
{
    std::wstring wide;
    toWide(text, 0, wide);
    return wide;
}

std::string Utf8(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::wstring SystemPath(const std::string& path)
{
    std::wstring wide = Wide(path.empty() ? std::string_view(".") : std::string_view(path));
    if (wide.find(L'\0') != std::wstring::npos)
        throw IoError(kInvalidFilename, "the name holds a NUL character");
    if (wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    for (auto& c : wide)
        if (c == L'/')
            c = L'\\';
    const DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        failWin32();
    std::wstring full(n, L'\0');
    const DWORD got = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n)
        failWin32();
    full.resize(got);
    if (full.rfind(L"\\\\.\\", 0) == 0)
        return full;  // a device (\\.\COM1), not a file
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

}  // namespace dxfkonv::win32
