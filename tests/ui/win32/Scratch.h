// A scratch directory for the Windows views' tests, the process's current
// directory while it lives, removed with what it holds.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

#include "engine/platform/win32/Utf16.h"

namespace dxfkonv::win32 {

class Scratch {
public:
    // With empty files `files`, subdirectories `directories`, and the file
    // "skrytý.dxf" hidden.
    Scratch(std::initializer_list<const char*> files, std::initializer_list<const char*> directories)
    {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        fPath = std::wstring(base) + L"dxfkonv-okna-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(fPath.c_str(), nullptr);
        for (const char* name : directories)
            CreateDirectoryW(File(name).c_str(), nullptr);
        for (const char* name : files)
            Touch(name);
        Touch("skrytý.dxf");
        SetFileAttributesW(File("skrytý.dxf").c_str(), FILE_ATTRIBUTE_HIDDEN);
        GetCurrentDirectoryW(MAX_PATH, fSaved);
        SetCurrentDirectoryW(fPath.c_str());
    }
    ~Scratch()
    {
        SetCurrentDirectoryW(fSaved);
        Remove(fPath);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    std::string Path() const { return Utf8(fPath); }
    std::wstring File(const char* name) const { return fPath + L"\\" + WideLoosely(name); }
    void Touch(const char* name) const
    {
        CloseHandle(CreateFileW(File(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    // Whether the file system keeps the hidden attribute (under Wine it
    // needs extended attributes).
    bool HiddenTakes() const
    {
        const DWORD attributes = GetFileAttributesW(File("skrytý.dxf").c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_HIDDEN);
    }

private:
    static void Remove(const std::wstring& path)
    {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring inner = path + L"\\" + name;
                SetFileAttributesW(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    Remove(inner);
                else
                    DeleteFileW(inner.c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }

    std::wstring fPath;
    wchar_t fSaved[MAX_PATH] = {};
};

}  // namespace dxfkonv::win32
