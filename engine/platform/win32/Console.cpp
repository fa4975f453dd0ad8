#include "engine/platform/Console.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "engine/platform/win32/Utf16.h"

namespace dxfkonv {

namespace {

HANDLE handleOf(StandardStream stream)
{
    return ::GetStdHandle(stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

bool IsTerminal(StandardStream stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(handleOf(stream), &mode) != 0;
}

int WriteText(StandardStream stream, const std::string& text)
{
    std::FILE* file = stream == StandardStream::kOutput ? stdout : stderr;
    const HANDLE console = handleOf(stream);
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode)) {
        // A file or a pipe gets the UTF-8 bytes.
        if (std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0)
            return 0;
        return EIO;
    }
    // A console gets characters, whatever its code page: readable Czech in
    // cmd.exe and PowerShell alike. Its escapes (the progress bar's) are
    // understood from Windows 10 on.
    std::fflush(file);
    if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    const std::wstring wide = win32::WideLoosely(text);
    for (std::size_t at = 0; at < wide.size();) {
        DWORD put = 0;
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 16 * 1024));
        if (!::WriteConsoleW(console, wide.data() + at, n, &put, nullptr) || put == 0)
            return EIO;
        at += put;
    }
    return 0;
}

std::vector<std::string> ArgumentsInUtf8(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(win32::Utf8(argv[i]));
    return arguments;
}

}  // namespace dxfkonv
