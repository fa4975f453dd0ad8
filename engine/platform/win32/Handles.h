// Handles and what Windows says of the files behind them, for the win32
// side of the file system (not part of the engine's interface).
//
// Names inside a directory are opened relative to the directory's open
// handle (NtCreateFile with a root directory: the openat() of Windows),
// so a directory is resolved once, whatever happens to its path later.
// A reparse point (a symbolic link, a junction) met that way is opened as
// itself, never followed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

#include "engine/platform/FileSystem.h"

namespace dxfkonv::win32 {

// An open handle, closed when it goes.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    ~Handle() { close(); }

    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void close()
    {
        if (handle_)
            ::CloseHandle(handle_);
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

// Every other program may read, write, rename and delete alongside.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `name` (a single name, or "" for `directory` itself once more) in
// the open `directory`, as NtCreateFile's disposition and options say;
// FILE_OPEN_REPARSE_POINT always. An empty handle with `error` set (a
// Win32 error) where it cannot.
Handle OpenIn(HANDLE directory, const std::wstring& name, ACCESS_MASK access, DWORD share, DWORD disposition,
              DWORD options, DWORD& error);

// What the system tells of the open file: its volume serial number and
// file index, size, times and links. False with GetLastError() set.
bool StateOf(HANDLE file, FileState& state);
// Its attributes (FILE_ATTRIBUTE_...), or INVALID_FILE_ATTRIBUTES.
DWORD AttributesOf(HANDLE file);

// Marks the open file to be deleted when its last handle closes (a
// process that dies closes them all), or no longer. False with
// GetLastError() set.
bool DeleteOnClose(HANDLE file, bool on);

// Gives the open file `file` the name `name` in the open `directory`,
// replacing a file of that name in one step: first as POSIX does, where
// the name may lead to a file still open (Windows 10 1809 and later, on
// NTFS); else, with `classic`, as Windows always did, where it may not.
// The Win32 error of the attempt, 0 when done.
DWORD RenameInto(HANDLE file, HANDLE directory, const std::wstring& name, bool classic);
// Whether a POSIX-style rename failed only because the system or the file
// system has none (error 87 from Wine, 1 or 50 from older systems).
bool NoPosixRename(DWORD error);

// Makes `name` in the open `directory` another name of the open file
// `file`; never over an existing one. The Win32 error, 0 when done.
DWORD LinkInto(HANDLE file, HANDLE directory, const std::wstring& name);

}  // namespace dxfkonv::win32
