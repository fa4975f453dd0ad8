// The file system and its directories on Windows: paths opened as every
// Windows program opens them, and each name inside a directory opened
// relative to the directory's handle.
#include "engine/platform/win32/Win32FileSystem.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/IoError.h"
#include "engine/platform/win32/FileObjects.h"
#include "engine/platform/win32/Utf16.h"
#include "engine/platform/win32/Win32Errors.h"

namespace dxfkonv {

namespace win32 {

// Where the lock of the one pass at a time lies: one byte far beyond the
// end of any drawing, so that it stops no reader and no other lock.
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;

void FailWith(DWORD error) { throw IoErrorFromWin32(error); }

FileState StateOrFail(HANDLE handle)
{
    FileState state;
    if (!StateOf(handle, state))
        failWin32();
    return state;
}

DWORD AttributesOrFail(HANDLE handle)
{
    const DWORD attributes = AttributesOf(handle);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        failWin32();
    return attributes;
}

bool NothingThere(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

std::wstring NameIn(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find_first_of("\\/:") != std::string::npos)
        throw IoError(kInvalidFilename, "no single name in a directory");
    return Wide(name);
}

// ---- the directory -------------------------------------------------------------------

Win32Directory::Win32Directory(Handle handle, Clock clock)
    : handle_(std::make_shared<Handle>(std::move(handle))), clock_(clock)
{
}

FileKey Win32Directory::key() const { return StateOrFail(handle_->get()).key; }

DirectoryListing Win32Directory::list()
{
    const IoStep step("reading the directory");
    // The listing reads through a handle of its own, closed with it.
    DWORD error = 0;
    const Handle dir = OpenIn(handle_->get(), L"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE,
                              error);
    if (!dir)
        FailWith(error);
    DirectoryListing listing;
    std::vector<unsigned char> buffer(64 * 1024);
    for (;;) {
        if (!::GetFileInformationByHandleEx(dir.get(), FileFullDirectoryInfo, buffer.data(),
                                            static_cast<DWORD>(buffer.size()))) {
            if (::GetLastError() == ERROR_NO_MORE_FILES)
                break;
            failWin32();
        }
        for (std::size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + at);
            const std::wstring_view wide(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            const std::string name = Utf8(wide);
            // Hidden names are left out: a leading "." ("." and ".." among
            // them), as on other systems, and what Windows marks hidden or
            // system (attrib +h, +s), as Explorer leaves them out; and so
            // are names no UTF-8 can carry (a lone surrogate).
            const bool hidden = entry->FileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
            if (!name.empty() && name[0] != '.' && !hidden && Wide(name) == wide) {
                const bool link = entry->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
                if (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    listing.subdirectories.push_back({name, link});
                else if (!link && IsDrawingName(name))
                    listing.drawings.push_back(name);
            }
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
    return listing;
}

std::optional<FileState> Win32Directory::lookUp(const std::string& name)
{
    DWORD error = 0;
    const Handle file = OpenIn(handle_->get(), NameIn(name), FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, error);
    if (!file) {
        if (NothingThere(error))
            return std::nullopt;
        FailWith(error);
    }
    return StateOrFail(file.get());
}

Found Win32Directory::FoundIn(std::unique_ptr<Win32Directory> directory, const std::string& name)
{
    Found found;
    found.name = name;
    if (directory && !name.empty())
        found.state = directory->lookUp(name);
    found.directory = std::move(directory);
    return found;
}

Found Win32Directory::find(const std::string& name)
{
    const IoStep step("looking up", name);
    DWORD error = 0;
    Handle again = OpenIn(handle_->get(), L"", kDirectoryAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, error);
    if (!again)
        FailWith(error);
    return FoundIn(std::make_unique<Win32Directory>(std::move(again), clock_), name);
}

std::unique_ptr<Directory> Win32Directory::openSubdirectory(const std::string& name)
{
    const IoStep step("opening the directory", name);
    DWORD error = 0;
    Handle dir = OpenIn(handle_->get(), NameIn(name), kDirectoryAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE,
                        error);
    if (!dir) {
        // Gone, or no directory, by now.
        if (NothingThere(error) || error == ERROR_DIRECTORY)
            return nullptr;
        FailWith(error);
    }
    const DWORD attributes = AttributesOrFail(dir.get());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return nullptr;  // a link or junction: not followed
    return std::make_unique<Win32Directory>(std::move(dir), clock_);
}

std::unique_ptr<Directory> Win32Directory::reopen()
{
    DWORD error = 0;
    Handle again = OpenIn(handle_->get(), L"", kDirectoryAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, error);
    if (!again)
        FailWith(error);
    return std::make_unique<Win32Directory>(std::move(again), clock_);
}

std::unique_ptr<HeldDrawing> Win32Directory::open(const std::string& name, bool exclusive)
{
    const IoStep step("opening", name);
    // Held exclusively, it may be read by others but written by none
    // ("I/O error 32." for a program that tries); deleting stays allowed,
    // for the rename that replaces it.
    const DWORD share = exclusive ? FILE_SHARE_READ | FILE_SHARE_DELETE : kShareAll;
    DWORD error = 0;
    Handle file = OpenIn(handle_->get(), NameIn(name), kReadAccess, share, FILE_OPEN,
                         FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, error);
    if (!file)
        FailWith(error);
    const DWORD attributes = AttributesOrFail(file.get());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw IoError(kFileInUse, "the name leads to a link by now");
    auto drawing = std::make_unique<Win32Drawing>(std::move(file), exclusive, handle_, name, clock_);
    if (exclusive) {
        // One pass at a time: a pass only reads, so the share mode alone
        // would let two of them in.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(kLockOffset);
        at.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
        if (!::LockFileEx(drawing->get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            error = ::GetLastError();
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
                throw IoError(kFileInUse, "another program holds it");
            // A file system that keeps no locks lets everybody have one.
            if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
                FailWith(error);
        }
    }
    return drawing;
}

void Win32Directory::requireReplaceable(const std::string& name)
{
    const IoStep step("opening", name);
    DWORD error = 0;
    const Handle file = OpenIn(handle_->get(), NameIn(name), FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, error);
    if (!file)
        FailWith(error);
    const DWORD attributes = AttributesOrFail(file.get());
    if (attributes & FILE_ATTRIBUTE_READONLY)
        throw IoError(kFileAccessDenied, "the file is read-only");
}

std::unique_ptr<WorkFile> Win32Directory::createWorkFile(const std::string& name, std::uint64_t,
                                                         HoldsWorkContent leftBehind)
{
    if (leftBehind)
        RemoveLeftBehind(handle_->get(), name, clock_ ? clock_() : SystemClock(), leftBehind);
    return std::make_unique<Win32WorkFile>(handle_, name, std::weak_ptr<Handle>(), false);
}

void Win32Directory::flush()
{
    // The renames are in the file system's journal: NTFS has no flush of
    // a directory a program could ask for.
}

}  // namespace win32

// ---- the file system ------------------------------------------------------------------

using namespace win32;

PathKind Win32FileSystem::kindOf(const std::string& path)
{
    const IoStep step("looking it up");
    const Handle file(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (NothingThere(error))
            return PathKind::kMissing;
        FailWith(error);
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return PathKind::kOther;
    const DWORD attributes = AttributesOrFail(file.get());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kDirectory : PathKind::kRegular;
}

namespace {

// Opens the directory `path`; null when a name on the way is missing or
// no directory.
std::unique_ptr<Win32Directory> openPath(const std::string& path, Win32FileSystem::Clock clock)
{
    const IoStep step("opening the directory", path);
    Handle dir(::CreateFileW(SystemPath(path).c_str(), kDirectoryAccess, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir) {
        const DWORD error = ::GetLastError();
        if (NothingThere(error) || error == ERROR_DIRECTORY)
            return nullptr;
        FailWith(error);
    }
    const DWORD attributes = AttributesOrFail(dir.get());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    return std::make_unique<Win32Directory>(std::move(dir), clock);
}

}  // namespace

std::unique_ptr<Directory> Win32FileSystem::openDirectory(const std::string& path) { return openPath(path, clock_); }

Found Win32FileSystem::find(const std::string& path, const std::string& name)
{
    const IoStep step("looking up", name);
    return Win32Directory::FoundIn(openPath(path, clock_), name);
}

FileSystem& SystemFileSystem()
{
    static Win32FileSystem system;
    return system;
}

}  // namespace dxfkonv
