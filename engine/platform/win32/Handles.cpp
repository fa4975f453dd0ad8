#include "engine/platform/win32/Handles.h"

#include <winternl.h>

#include <cstring>
#include <vector>

namespace dxfkonv::win32 {

namespace {

// NtSetInformationFile's classes beyond those winternl.h names.
constexpr int kFileLinkInformation = 11;
constexpr int kFileRenameInformation = 10;
constexpr int kFileRenameInformationEx = 65;
constexpr ULONG kRenameReplaceIfExists = 0x1;
constexpr ULONG kRenamePosixSemantics = 0x2;

// FILE_RENAME_INFORMATION and FILE_LINK_INFORMATION, which share it: the
// classic classes read the first byte as "replace if exists", the newer
// ones the first word as flags.
struct NameInformation {
    union {
        BOOLEAN replaceIfExists;
        ULONG flags;
    };
    HANDLE rootDirectory;
    ULONG nameLength;
    WCHAR name[1];
};

DWORD setName(HANDLE file, HANDLE directory, const std::wstring& name, int infoClass, ULONG flags)
{
    const std::size_t bytes = name.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(NameInformation) + bytes);
    auto* info = reinterpret_cast<NameInformation*>(buffer.data());
    info->flags = flags;
    info->rootDirectory = directory;
    info->nameLength = static_cast<ULONG>(bytes);
    std::memcpy(info->name, name.data(), bytes);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtSetInformationFile(file, &io, info, static_cast<ULONG>(buffer.size()),
                                                   static_cast<FILE_INFORMATION_CLASS>(infoClass));
    return status >= 0 ? 0 : ::RtlNtStatusToDosError(status);
}

std::int64_t ticks(const LARGE_INTEGER& t) { return t.QuadPart; }

// Windows counts 100 ns from 1601; the seam counts from 1970.
Timestamp timestampOf(std::int64_t ticks100ns)
{
    constexpr std::int64_t kPerSecond = 10'000'000;
    constexpr std::int64_t kFrom1601To1970 = 11'644'473'600;
    std::int64_t seconds = ticks100ns / kPerSecond;
    std::int64_t rest = ticks100ns % kPerSecond;
    if (rest < 0) {
        rest += kPerSecond;
        --seconds;
    }
    return {seconds - kFrom1601To1970, rest * 100};
}

}  // namespace

Handle OpenIn(HANDLE directory, const std::wstring& name, ACCESS_MASK access, DWORD share, DWORD disposition,
              DWORD options, DWORD& error)
{
    UNICODE_STRING nt{};
    nt.Buffer = const_cast<wchar_t*>(name.c_str());
    nt.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    nt.MaximumLength = nt.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &nt, OBJ_CASE_INSENSITIVE, directory, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const NTSTATUS status = ::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr,
                                           FILE_ATTRIBUTE_NORMAL, share, disposition,
                                           options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT,
                                           nullptr, 0);
    if (status < 0) {
        error = ::RtlNtStatusToDosError(status);
        return Handle();
    }
    error = 0;
    return Handle(handle);
}

bool StateOf(HANDLE file, FileState& state)
{
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(file, &info)
        || !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return false;
    state.key = {info.dwVolumeSerialNumber,
                 (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    state.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    state.modified = timestampOf(ticks(basic.LastWriteTime));
    state.changed = timestampOf(ticks(basic.ChangeTime));
    state.names = info.nNumberOfLinks;
    state.regular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT
                                              | FILE_ATTRIBUTE_DEVICE)) == 0;
    return true;
}

DWORD AttributesOf(HANDLE file)
{
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return INVALID_FILE_ATTRIBUTES;
    return basic.FileAttributes;
}

bool DeleteOnClose(HANDLE file, bool on)
{
    FILE_DISPOSITION_INFO info{};
    info.DeleteFile = on ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != 0;
}

DWORD RenameInto(HANDLE file, HANDLE directory, const std::wstring& name, bool classic)
{
    if (classic)
        return setName(file, directory, name, kFileRenameInformation, TRUE);
    return setName(file, directory, name, kFileRenameInformationEx, kRenameReplaceIfExists | kRenamePosixSemantics);
}

bool NoPosixRename(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED
           || error == ERROR_INVALID_LEVEL || error == ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD LinkInto(HANDLE file, HANDLE directory, const std::wstring& name)
{
    return setName(file, directory, name, kFileLinkInformation, FALSE);
}

}  // namespace dxfkonv::win32
