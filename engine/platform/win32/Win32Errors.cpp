#include "engine/platform/win32/Win32Errors.h"

#include <windows.h>

#include <utility>

#include "engine/platform/win32/Utf16.h"

namespace dxfkonv::win32 {

std::string SystemWords(unsigned long error)
{
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                         | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words = n != 0 && text ? std::wstring(text, n) : std::wstring();
    if (text)
        ::LocalFree(text);
    while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '
                              || words.back() == L'.'))
        words.pop_back();
    if (words.empty())
        return "error " + std::to_string(error);
    return Utf8(words);
}

IoError IoErrorFromWin32(unsigned long error)
{
    FailureDetail detail = IoStep::current();
    detail.reason = SystemWords(error);
    const int own = static_cast<int>(error);
    int code = own;
    switch (error) {
    case ERROR_FILE_NOT_FOUND: code = kFileNotFound; break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: code = kInvalidFilename; break;
    case ERROR_TOO_MANY_OPEN_FILES: code = kTooManyOpenFiles; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD: code = kFileAccessDenied; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE: code = kDiskFull; break;
    default:
        // Numbers of their own must not borrow another number's text
        // (Windows' 101 is no full disk).
        return IoError(own, "I/O error " + std::to_string(own) + ".", own, std::move(detail));
    }
    return IoError(code, ioErrorText(code), own, std::move(detail));
}

void failWin32() { throw IoErrorFromWin32(::GetLastError()); }

}  // namespace dxfkonv::win32
