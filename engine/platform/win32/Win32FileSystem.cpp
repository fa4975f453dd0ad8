#include "engine/platform/win32/Win32FileSystem.h"

#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/IoError.h"
#include "engine/platform/Signals.h"
#include "engine/platform/WorkNames.h"
#include "engine/platform/win32/Handles.h"
#include "engine/platform/win32/Utf16.h"
#include "engine/platform/win32/Win32Errors.h"

namespace dxfkonv {

namespace {

using namespace win32;

// Where the lock of the one pass at a time lies: one byte far beyond the
// end of any drawing, so that it stops no reader and no other lock.
constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;
// Reads and writes go in pieces a DWORD can count.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
constexpr std::size_t kCopyChunk = 1 << 20;

constexpr ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ACCESS_MASK kReadAccess = FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;

[[noreturn]] void failWith(DWORD error) { throw IoErrorFromWin32(error); }

FileState stateOf(HANDLE handle)
{
    FileState state;
    if (!StateOf(handle, state))
        failWin32();
    return state;
}

// Whether an error says only that nothing has the name, or a directory on
// its way.
bool nothingThere(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

DWORD attributesOf(HANDLE handle)
{
    const DWORD attributes = AttributesOf(handle);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        failWin32();
    return attributes;
}

// A single name inside a directory, in UTF-16: no separator, no stream
// (":"), not "." or "..".
std::wstring nameIn(const std::string& name)
{
    if (name.empty() || name == "." || name == ".." || name.find_first_of("\\/:") != std::string::npos)
        throw IoError(kInvalidFilename, "no single name in a directory");
    return Wide(name);
}

// ---- the handles -----------------------------------------------------------------

class Win32Directory final : public Directory {
public:
    explicit Win32Directory(Handle handle) : handle_(std::move(handle)) {}
    FileKey key() const override { return stateOf(handle_.get()).key; }
    HANDLE get() const { return handle_.get(); }

    // The drawing `name` a pass holds here, open as `file`, so that a
    // replace that cannot happen while it is open can let go of it.
    void hold(const std::string& name, const std::shared_ptr<Handle>& file) { held_[name] = file; }
    void letGo(const std::string& name)
    {
        const auto it = held_.find(name);
        if (it == held_.end())
            return;
        if (const auto file = it->second.lock())
            file->close();
        held_.erase(it);
    }

private:
    Handle handle_;
    std::map<std::string, std::weak_ptr<Handle>> held_;
};

Win32Directory& own(Directory& directory) { return static_cast<Win32Directory&>(directory); }

std::unique_ptr<Directory> reopenDirectory(HANDLE directory)
{
    DWORD error = 0;
    Handle again = OpenIn(directory, L"", kDirectoryAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, error);
    if (!again)
        failWith(error);
    return std::make_unique<Win32Directory>(std::move(again));
}

// Whether the file open as `handle` is on another machine, shared over
// the network: there programs of other systems write to it whatever its
// share mode says.
bool onAnotherMachine(HANDLE handle)
{
    FILE_REMOTE_PROTOCOL_INFO protocol{};
    return ::GetFileInformationByHandleEx(handle, FileRemoteProtocolInfo, &protocol, sizeof protocol);
}

class Win32Input final : public InputFile {
public:
    // `writersRefused`: opened with a share mode that lets nobody write.
    Win32Input(Handle handle, bool writersRefused)
        : handle_(std::make_shared<Handle>(std::move(handle))), writersRefused_(writersRefused)
    {
    }
    std::size_t read(char* buffer, std::size_t n) override
    {
        const std::size_t got = readAt(next_, buffer, n);
        next_ += got;
        return got;
    }
    // Every read names its offset, so that none moves where another goes
    // on (a read with an offset moves the handle's file pointer).
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override
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
            failWith(error);
        }
        return got;
    }
    FileState state() override
    {
        FileState state = stateOf(get());
        // Windows lets any program set a file's change time, so the times
        // tell nothing for sure; but on this machine the share mode
        // refuses every writer while the file is held, whatever its file
        // system (FAT and exFAT too): nothing can change it.
        state.changesShow = writersRefused_ && !onAnotherMachine(get());
        return state;
    }
    HANDLE get() const
    {
        if (!*handle_)
            failWith(ERROR_INVALID_HANDLE);  // let go of for the replace
        return handle_->get();
    }
    const std::shared_ptr<Handle>& shared() const { return handle_; }

private:
    std::shared_ptr<Handle> handle_;
    bool writersRefused_;
    std::uint64_t next_ = 0;  // where read() goes on
};

Win32Input& own(InputFile& input) { return static_cast<Win32Input&>(input); }

// A new file beside a drawing, under kWorkFileName (or kWorkFileName.N
// while that is taken), that nobody else may open and that the system
// deletes when its handle closes, or when the process dies, until it is
// published for its rename.
class Win32WorkFile final : public WorkFile {
public:
    explicit Win32WorkFile(HANDLE directory)
    {
        const IoStep step("making a work file beside it");
        DWORD opened = 0;
        directory_ = OpenIn(directory, L"", kDirectoryAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, opened);
        if (!directory_)
            failWith(opened);
        // Its owner is given where the caller may give owners; where the
        // directory grants no WRITE_OWNER, the file is still made.
        constexpr ACCESS_MASK access = FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC;
        for (int i = 0; i < kMaxWorkNames && !file_; ++i) {
            const std::wstring name = Wide(workName(i));
            DWORD error = 0;
            for (const ACCESS_MASK extra : {ACCESS_MASK{WRITE_OWNER}, ACCESS_MASK{0}}) {
                file_ = OpenIn(directory, name, access | extra, 0, FILE_CREATE,
                               FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, error);
                if (file_ || error != ERROR_ACCESS_DENIED)
                    break;
            }
            if (file_)
                name_ = name;
            if (!file_ && error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
                failWith(error);
        }
        if (!file_)
            failWith(ERROR_ALREADY_EXISTS);
        if (!DeleteOnClose(file_.get(), true)) {
            const DWORD error = ::GetLastError();
            file_.close();  // not yet deleting: it goes by its name
            failWith(error);
        }
    }
    ~Win32WorkFile() override
    {
        // Where the system deletes a file by the name it was opened with
        // (Wine), never another program's file that took that name.
        if (!kept_ && (lost_ || nameLeadsElsewhere()))
            DeleteOnClose(file_.get(), false);
        else if (!kept_ && published_)
            DeleteOnClose(file_.get(), true);
    }

    void write(const char* data, std::size_t n) override
    {
        while (n != 0) {
            DWORD put = 0;
            if (!::WriteFile(file_.get(), data, static_cast<DWORD>(std::min(n, kMaxChunk)), &put, nullptr)) {
                const IoStep step("writing the work file");
                failWin32();
            }
            if (put == 0)
                throw IoError(kDiskFull, "the file system took no more bytes");
            data += put;
            n -= put;
        }
    }
    FileKey key() override { return stateOf(file_.get()).key; }
    HANDLE get() const { return file_.get(); }

    // Puts it on the disk.
    void flush()
    {
        const IoStep step("putting the work file on the disk");
        if (!::FlushFileBuffers(file_.get()))
            failWin32();
    }

    // No longer deleted when closed, for the rename that keeps it; until
    // kept, it goes again when the work file goes.
    void publish()
    {
        if (!DeleteOnClose(file_.get(), false))
            failWin32();
        published_ = true;
    }
    void keep()
    {
        kept_ = true;
        file_.close();
    }

    // Fails with "I/O error 32." unless the file's name still leads to
    // this very file, right before it is renamed: a program that cannot
    // see this one's share modes (one on another system, on a shared
    // drive) may have taken it for one a killed pass left, removed it and
    // made a file of its own under that name, and the rename goes by the
    // name where the system keeps it for the handle (Wine). That file is
    // then neither moved nor removed.
    void requireOwnName()
    {
        DWORD error = 0;
        const std::optional<bool> elsewhere = namedElsewhere(error);
        if (!elsewhere)
            failWith(error);
        if (*elsewhere) {
            lost_ = true;
            throw IoError(kFileInUse, "the work file's name leads to another program's file by now");
        }
    }

private:
    // Whether the file's name leads to another file than this one by now
    // (or to none); nothing where that cannot be told, `error` saying why.
    std::optional<bool> namedElsewhere(DWORD& error) const
    {
        const Handle named = OpenIn(directory_.get(), name_, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                    FILE_NON_DIRECTORY_FILE, error);
        if (!named)
            return nothingThere(error) ? std::optional<bool>(true) : std::nullopt;
        FileState mine;
        FileState now;
        if (!StateOf(file_.get(), mine) || !StateOf(named.get(), now)) {
            error = ::GetLastError();
            return std::nullopt;
        }
        return mine.key != now.key;
    }
    // The same, false where it cannot be told.
    bool nameLeadsElsewhere() const
    {
        DWORD error = 0;
        return namedElsewhere(error).value_or(false);
    }

    Handle directory_;
    Handle file_;
    std::wstring name_;
    bool published_ = false;
    bool kept_ = false;
    bool lost_ = false;  // its name leads to another file
};

Win32WorkFile& own(WorkFile& work) { return static_cast<Win32WorkFile&>(work); }

// Gives `file` the name `name` in `directory` over what had it: in the
// POSIX way where the system has it, else the classic way. `beforeClassic`
// runs first where the classic way is taken.
template <typename Before>
void moveOver(HANDLE file, HANDLE directory, const std::wstring& name, Before beforeClassic)
{
    DWORD error = RenameInto(file, directory, name, false);
    if (NoPosixRename(error)) {
        beforeClassic();
        error = RenameInto(file, directory, name, true);
    }
    if (error != 0)
        failWith(error);
}

// ---- owners, permissions, attributes -------------------------------------------------

// Whether an error giving a file its owner, group or permissions says only
// that they cannot be given here: not by this caller, or not on this file
// system.
bool cannotKeep(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_OWNER || error == ERROR_INVALID_PRIMARY_GROUP
           || error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION
           || error == ERROR_INVALID_PARAMETER;
}

struct LocalFreer {
    void operator()(void* memory) const { ::LocalFree(memory); }
};

// Whether the owner (or group) of `file` is `sid` already.
bool hasSid(HANDLE file, SECURITY_INFORMATION which, PSID sid)
{
    PSID now = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(file, SE_FILE_OBJECT, which, which == OWNER_SECURITY_INFORMATION ? &now : nullptr,
                                          which == GROUP_SECURITY_INFORMATION ? &now : nullptr, nullptr, nullptr,
                                          &descriptor);
    const std::unique_ptr<void, LocalFreer> free(descriptor);
    return error == ERROR_SUCCESS && now && sid && ::EqualSid(now, sid);
}

// Sets one part of the security of `to`; false where it cannot be set here.
bool setSecurity(HANDLE to, SECURITY_INFORMATION which, PSID owner, PSID group, PACL dacl)
{
    const DWORD error = ::SetSecurityInfo(to, SE_FILE_OBJECT, which, owner, group, dacl, nullptr);
    if (error != ERROR_SUCCESS && !cannotKeep(error))
        failWith(error);
    return error == ERROR_SUCCESS;
}

// Gives `to` the owner, group and access control list of `from` as far as
// the caller may, then its attributes and creation time.
MetadataKept copyMetadata(HANDLE from, HANDLE to)
{
    const IoStep step("giving the work file the drawing's owner and permissions");
    MetadataKept kept;
    PSID owner = nullptr;
    PSID group = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error = ::GetSecurityInfo(from, SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION
                                              | DACL_SECURITY_INFORMATION,
                                          &owner, &group, &dacl, nullptr, &descriptor);
    const std::unique_ptr<void, LocalFreer> free(descriptor);
    if (error != ERROR_SUCCESS) {
        if (!cannotKeep(error))
            failWith(error);
        kept = {false, false, false};
    } else {
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ::GetSecurityDescriptorControl(descriptor, &control, &revision);
        // What it inherits it inherits from the same directory.
        const SECURITY_INFORMATION inherit = (control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                            : UNPROTECTED_DACL_SECURITY_INFORMATION;
        kept.mode = setSecurity(to, DACL_SECURITY_INFORMATION | inherit, nullptr, nullptr, dacl);
        kept.owner = setSecurity(to, OWNER_SECURITY_INFORMATION, owner, nullptr, nullptr)
                     || hasSid(to, OWNER_SECURITY_INFORMATION, owner);
        kept.group = setSecurity(to, GROUP_SECURITY_INFORMATION, nullptr, group, nullptr)
                     || hasSid(to, GROUP_SECURITY_INFORMATION, group);
    }
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(from, FileBasicInfo, &basic, sizeof basic))
        failWin32();
    // Times of 0 and attributes of 0 are left as they are.
    FILE_BASIC_INFO given{};
    given.CreationTime = basic.CreationTime;
    given.FileAttributes = basic.FileAttributes
                           & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE
                              | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (!::SetFileInformationByHandle(to, FileBasicInfo, &given, sizeof given)) {
        if (!cannotKeep(::GetLastError()))
            failWin32();
        kept.mode = false;
    }
    return kept;
}

// ---- what killed passes left -------------------------------------------------------

// The system's clock, in the steps of files' times.
std::uint64_t systemClock()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Whether the open file was written, or its attributes changed, less than
// kLeftAloneSeconds before `now`, or later; a time the file system does
// not keep (0) tells nothing.
bool touchedLately(HANDLE file, std::uint64_t now)
{
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return true;
    const std::int64_t since = static_cast<std::int64_t>(now) - kLeftAloneSeconds * 10'000'000;
    return basic.LastWriteTime.QuadPart > since || basic.ChangeTime.QuadPart > since;
}

// Removes `name` in `directory` when it is what a pass that was killed
// between publishing its work file and the rename left behind: a regular
// file, empty or holding a drawing, that no program can still be writing:
// nobody holds it open, and it was left alone for kLeftAloneSeconds
// before `now` (a program on another system may hold it where this one
// cannot see). Returns whether there was anything of that name.
bool removeIfLeftBehind(HANDLE directory, const std::string& name, std::uint64_t now)
{
    DWORD error = 0;
    // Shared with nobody: a pass under way holds its files open.
    Handle file = OpenIn(directory, Wide(name), FILE_READ_DATA | FILE_READ_ATTRIBUTES | DELETE, 0, FILE_OPEN,
                         FILE_NON_DIRECTORY_FILE, error);
    if (!file)
        return error != ERROR_FILE_NOT_FOUND;
    FileState state;
    if (!StateOf(file.get(), state) || !state.regular || touchedLately(file.get(), now))
        return true;
    char head[64];
    DWORD got = 0;
    if (!::ReadFile(file.get(), head, sizeof head, &got, nullptr))
        return true;
    if (holdsWorkFileContent(std::string_view(head, got), sizeof head))
        DeleteOnClose(file.get(), true);  // best effort: the name is taken over otherwise
    return true;
}

void removeLeftBehind(HANDLE directory, const std::string& keep, std::uint64_t now)
{
    constexpr int kGap = 8;
    for (auto* nameOf : {&workName, &backupLinkName}) {
        int missing = 0;
        for (int i = 0; i < kMaxWorkNames && missing < kGap; ++i) {
            const std::string name = (*nameOf)(i);
            missing = name == keep || removeIfLeftBehind(directory, name, now) ? 0 : missing + 1;
        }
    }
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
Content copyInto(HANDLE from, Win32WorkFile& copy)
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

// ---- the seam ------------------------------------------------------------------------

PathKind Win32FileSystem::kindOf(const std::string& path)
{
    const IoStep step("looking it up");
    const Handle file(::CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (nothingThere(error))
            return PathKind::kMissing;
        failWith(error);
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return PathKind::kOther;
    const DWORD attributes = attributesOf(file.get());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kDirectory : PathKind::kRegular;
}

std::unique_ptr<Directory> Win32FileSystem::openDirectory(const std::string& path)
{
    const IoStep step("opening the directory", path);
    Handle dir(::CreateFileW(SystemPath(path).c_str(), kDirectoryAccess, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!dir) {
        const DWORD error = ::GetLastError();
        if (nothingThere(error) || error == ERROR_DIRECTORY)
            return nullptr;
        failWith(error);
    }
    const DWORD attributes = attributesOf(dir.get());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return nullptr;
    return std::make_unique<Win32Directory>(std::move(dir));
}

std::unique_ptr<Directory> Win32FileSystem::openSubdirectory(Directory& parent, const std::string& name)
{
    const IoStep step("opening the directory", name);
    DWORD error = 0;
    Handle dir = OpenIn(own(parent).get(), nameIn(name), kDirectoryAccess, kShareAll, FILE_OPEN,
                        FILE_DIRECTORY_FILE, error);
    if (!dir) {
        // Gone, or no directory, by now.
        if (nothingThere(error) || error == ERROR_DIRECTORY)
            return nullptr;
        failWith(error);
    }
    const DWORD attributes = attributesOf(dir.get());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return nullptr;  // a link or junction: not followed
    return std::make_unique<Win32Directory>(std::move(dir));
}

std::unique_ptr<Directory> Win32FileSystem::reopen(Directory& directory)
{
    return reopenDirectory(own(directory).get());
}

DirectoryListing Win32FileSystem::list(Directory& directory)
{
    const IoStep step("reading the directory");
    // The listing reads through a handle of its own, closed with it.
    DWORD error = 0;
    const Handle dir = OpenIn(own(directory).get(), L"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN,
                              FILE_DIRECTORY_FILE, error);
    if (!dir)
        failWith(error);
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

Found Win32FileSystem::find(Directory* in, const std::string& path, const std::string& name)
{
    const IoStep step("looking up", name);
    Found found;
    found.directory = in ? reopen(*in) : openDirectory(path);
    found.name = name;
    if (found.directory && !name.empty())
        found.state = lookUp(*found.directory, name);
    return found;
}

std::optional<FileState> Win32FileSystem::lookUp(Directory& directory, const std::string& name)
{
    DWORD error = 0;
    const Handle file = OpenIn(own(directory).get(), nameIn(name), FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0,
                               error);
    if (!file) {
        if (nothingThere(error))
            return std::nullopt;
        failWith(error);
    }
    return stateOf(file.get());
}

std::unique_ptr<InputFile> Win32FileSystem::open(const Found& found, bool exclusive)
{
    const IoStep step("opening", found.name);
    Win32Directory& dir = own(*found.directory);
    // Held exclusively, it may be read by others but written by none
    // ("I/O error 32." for a program that tries); deleting stays allowed,
    // for the rename that replaces it.
    const DWORD share = exclusive ? FILE_SHARE_READ | FILE_SHARE_DELETE : kShareAll;
    DWORD error = 0;
    Handle file = OpenIn(dir.get(), nameIn(found.name), kReadAccess, share, FILE_OPEN,
                         FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, error);
    if (!file)
        failWith(error);
    const DWORD attributes = attributesOf(file.get());
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw IoError(kFileInUse, "the name leads to a link by now");
    auto input = std::make_unique<Win32Input>(std::move(file), exclusive);
    if (exclusive) {
        // One pass at a time: a pass only reads, so the share mode alone
        // would let two of them in.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(kLockOffset);
        at.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
        if (!::LockFileEx(input->get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
            error = ::GetLastError();
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING)
                throw IoError(kFileInUse, "another program holds it");
            // A file system that keeps no locks lets everybody have one.
            if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
                failWith(error);
        }
        dir.hold(found.name, input->shared());
    }
    return input;
}

void Win32FileSystem::requireReplaceable(const Found& found)
{
    const IoStep step("opening", found.name);
    DWORD error = 0;
    const Handle file = OpenIn(own(*found.directory).get(), nameIn(found.name), FILE_WRITE_ATTRIBUTES, kShareAll,
                               FILE_OPEN, FILE_NON_DIRECTORY_FILE, error);
    if (!file)
        failWith(error);
    const DWORD attributes = attributesOf(file.get());
    if (attributes & FILE_ATTRIBUTE_READONLY)
        throw IoError(kFileAccessDenied, "the file is read-only");
}

std::unique_ptr<WorkFile> Win32FileSystem::createWorkFile(Directory& directory, std::uint64_t,
                                                          const std::string* leftBehind)
{
    if (leftBehind)
        removeLeftBehind(own(directory).get(), *leftBehind, clock_ ? clock_() : systemClock());
    return std::make_unique<Win32WorkFile>(own(directory).get());
}

MetadataKept Win32FileSystem::giveMetadata(WorkFile& work, InputFile& like)
{
    return copyMetadata(own(like).get(), own(work).get());
}

MetadataKept Win32FileSystem::giveMetadata(WorkFile& work, const Found& like)
{
    // The file as found, through a handle of its own that reads no data.
    DWORD error = 0;
    const Handle file = OpenIn(own(*like.directory).get(), nameIn(like.name), READ_CONTROL | FILE_READ_ATTRIBUTES,
                               kShareAll, FILE_OPEN, FILE_NON_DIRECTORY_FILE, error);
    if (!file) {
        if (error != ERROR_ACCESS_DENIED)
            failWith(error);
        return {false, false, false};
    }
    return copyMetadata(file.get(), own(work).get());
}

MetadataKept Win32FileSystem::giveNewFileMetadata(WorkFile&)
{
    // Made in the file's directory by the caller, the work file has what a
    // new file of the caller's gets there.
    return {};
}

void Win32FileSystem::flush(WorkFile& work) { own(work).flush(); }

Content Win32FileSystem::contentOf(InputFile& file)
{
    const IoStep step("reading the drawing again");
    ContentHash now;
    readWhole(own(file).get(), [&](const char* data, DWORD n) { now.add(data, n); });
    return now.content();
}

void Win32FileSystem::backUp(InputFile& original, Directory& directory, const std::string& backupName,
                             const std::function<void(const Content* copied)>& beforeKept)
{
    const IoStep step("keeping the backup", backupName);
    const HANDLE input = own(original).get();
    const HANDLE dir = own(directory).get();
    const std::wstring backup = nameIn(backupName);
    if (stateOf(input).names == 1) {
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
                failWith(error);
            // Another program's file by now is neither moved nor removed.
            if (stateOf(link.get()).key != stateOf(input).key)
                throw IoError(kFileInUse, "the backup link's name leads to another program's file by now");
            try {
                beforeKept(nullptr);
                moveOver(link.get(), dir, backup, [] {});
            } catch (...) {
                DeleteOnClose(link.get(), true);
                throw;
            }
            return;
        }
        // Where no link can be made the bytes are copied.
        if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION && error != ERROR_INVALID_PARAMETER
            && error != ERROR_TOO_MANY_LINKS && error != ERROR_NOT_SAME_DEVICE && error != ERROR_ACCESS_DENIED)
            failWith(error);
    }
    // The file has other names, or the file system takes no hard link.
    Win32WorkFile copy(dir);
    const Content copied = copyInto(input, copy);
    copyMetadata(input, copy.get());
    copy.flush();
    beforeKept(&copied);
    copy.publish();
    copy.requireOwnName();
    moveOver(copy.get(), dir, backup, [] {});
    copy.keep();
}

void Win32FileSystem::replace(WorkFile& work, Directory& directory, const std::string& name)
{
    const IoStep step("replacing", name);
    Win32WorkFile& file = own(work);
    Win32Directory& dir = own(directory);
    file.publish();
    file.requireOwnName();
    // The classic rename cannot replace a file still open: the pass lets go
    // of the drawing it held, all checks done.
    moveOver(file.get(), dir.get(), nameIn(name), [&] { dir.letGo(name); });
    file.keep();
}

void Win32FileSystem::flush(Directory&)
{
    // The renames are in the file system's journal: NTFS has no flush of
    // a directory a program could ask for.
}

FileSystem& SystemFileSystem()
{
    static Win32FileSystem system;
    return system;
}

}  // namespace dxfkonv
