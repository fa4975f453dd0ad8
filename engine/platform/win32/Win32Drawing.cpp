// A drawing held on Windows: read by offsets, what it is, and its backup,
// a hard link made from its own handle or, where none can be made, a copy
// with its times.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/IoError.h"
#include "engine/platform/WorkNames.h"
#include "engine/platform/win32/FileObjects.h"
#include "engine/platform/win32/Utf16.h"
#include "engine/platform/win32/Win32Errors.h"

namespace dxfkonv::win32 {

namespace {

// Whether the file open as `handle` is on another machine, shared over
// the network: there programs of other systems write to it whatever its
// share mode says.
bool onAnotherMachine(HANDLE handle)
{
    FILE_REMOTE_PROTOCOL_INFO protocol{};
    return ::GetFileInformationByHandleEx(handle, FileRemoteProtocolInfo, &protocol, sizeof protocol);
}

// Reads the open file `from` from its start, piece by piece, handing each
// to `take`.
template <typename Take>
void readWhole(HANDLE from, Take&& take)
{
    std::unique_ptr<char[]> buffer(new char[kCopyChunk]);
    std::uint64_t offset = 0;
    for (;;) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(from, buffer.get(), static_cast<DWORD>(kCopyChunk), &got, &at)
            && ::GetLastError() != ERROR_HANDLE_EOF)
            failWin32();
        if (got == 0)
            return;
        take(buffer.get(), got);
        offset += got;
    }
}

// Copies the open file `from` (from its start) into the new file `copy`,
// with its times, for a backup where no hard link can be made, and says
// what it copied.
Content copyInto(HANDLE from, NewFile& copy)
{
    ContentHash copied;
    readWhole(from, [&](const char* data, DWORD n) {
        copy.write(data, n);
        copied.add(data, n);
    });
    FILE_BASIC_INFO times{};
    if (!::GetFileInformationByHandleEx(from, FileBasicInfo, &times, sizeof times))
        failWin32();
    times.ChangeTime.QuadPart = 0;
    times.FileAttributes = 0;
    if (!::SetFileInformationByHandle(copy.get(), FileBasicInfo, &times, sizeof times))
        failWin32();
    return copied.content();
}

}  // namespace

Win32Drawing::Win32Drawing(Handle handle, bool exclusive, SharedHandle directory, std::string name, Clock clock)
    : handle_(std::make_shared<Handle>(std::move(handle))), exclusive_(exclusive), directory_(std::move(directory)),
      name_(std::move(name)), clock_(clock)
{
}

HANDLE Win32Drawing::get() const
{
    if (!*handle_)
        FailWith(ERROR_INVALID_HANDLE);  // let go of for the replace
    return handle_->get();
}

std::size_t Win32Drawing::read(char* buffer, std::size_t n)
{
    const std::size_t got = readAt(next_, buffer, n);
    next_ += got;
    return got;
}

// Every read names its offset, so that none moves where another goes on
// (a read with an offset moves the handle's file pointer).
std::size_t Win32Drawing::readAt(std::uint64_t offset, char* buffer, std::size_t n)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(get(), buffer, static_cast<DWORD>(std::min(n, kMaxChunk)), &got, &at)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return 0;
        const IoStep step("reading the drawing");
        FailWith(error);
    }
    return got;
}

FileState Win32Drawing::state()
{
    FileState state = StateOrFail(get());
    // Windows lets any program set a file's change time, so the times tell
    // nothing for sure; but on this machine the share mode refuses every
    // writer while the file is held, whatever its file system (FAT and
    // exFAT too): nothing can change it.
    state.changesShow = exclusive_ && !onAnotherMachine(get());
    return state;
}

Content Win32Drawing::contentOf()
{
    const IoStep step("reading the drawing again");
    ContentHash now;
    readWhole(get(), [&](const char* data, DWORD n) { now.add(data, n); });
    return now.content();
}

// Links never leave the directory the drawing was found in: a name that
// is a reparse point is not followed.
void Win32Drawing::backUp(const std::string& backupName, const std::function<void(const Content* copied)>& beforeKept)
{
    const IoStep step("keeping the backup", backupName);
    const HANDLE input = get();
    const HANDLE dir = directory_->get();
    const std::wstring backup = NameIn(backupName);
    if (StateOrFail(input).names == 1) {
        // The very file read is linked under a name of the pass's own (no
        // name is looked up again), then takes the backup's name in one
        // step once `beforeKept` lets it.
        DWORD error = ERROR_ALREADY_EXISTS;
        for (int i = 0; error == ERROR_ALREADY_EXISTS && i < kMaxWorkNames; ++i) {
            const std::wstring temporary = Wide(backupLinkName(i));
            error = LinkInto(input, dir, temporary);
            if (error != 0)
                continue;
            Handle link = OpenIn(dir, temporary, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                 FILE_NON_DIRECTORY_FILE, error);
            if (!link)
                FailWith(error);
            // Another program's file by now is neither moved nor removed.
            if (StateOrFail(link.get()).key != StateOrFail(input).key)
                throw IoError(kFileInUse, "the backup link's name leads to another program's file by now");
            try {
                beforeKept(nullptr);
                MoveOver(link.get(), dir, backup, [] {});
            } catch (...) {
                DeleteOnClose(link.get(), true);
                throw;
            }
            return;
        }
        // Where no link can be made the bytes are copied.
        if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_PARAMETER
            && error != ERROR_TOO_MANY_LINKS && error != ERROR_NOT_SAME_DEVICE && error != ERROR_ACCESS_DENIED)
            FailWith(error);
    }
    // The file has other names, or the file system takes no hard link.
    NewFile copy(dir);
    const Content copied = copyInto(input, copy);
    CopyMetadata(input, copy.get());
    copy.flush();
    beforeKept(&copied);
    copy.publish();
    copy.requireOwnName();
    MoveOver(copy.get(), dir, backup, [] {});
    copy.keep();
}

std::unique_ptr<WorkFile> Win32Drawing::createWorkFile(std::uint64_t, HoldsWorkContent leftBehind)
{
    if (leftBehind)
        RemoveLeftBehind(directory_->get(), name_, clock_ ? clock_() : SystemClock(), leftBehind);
    // Held exclusively, the drawing is let go of before a rename that
    // cannot replace a file still open.
    return std::make_unique<Win32WorkFile>(directory_, name_, handle_, exclusive_);
}

}  // namespace dxfkonv::win32
