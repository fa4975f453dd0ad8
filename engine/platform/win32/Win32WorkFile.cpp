// The work file on Windows: a new file beside the drawing that the system
// deletes with its last handle until it is published for the rename that
// puts it in the drawing's place; and what killed passes left, removed
// before a work file takes a name.
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string_view>
#include <utility>

#include "engine/IoError.h"
#include "engine/platform/WorkNames.h"
#include "engine/platform/win32/FileObjects.h"
#include "engine/platform/win32/Utf16.h"
#include "engine/platform/win32/Win32Errors.h"

namespace dxfkonv::win32 {

namespace {

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
// file, empty or holding a drawing (as `holds` tells), that no program can
// still be writing: nobody holds it open, and it was left alone for
// kLeftAloneSeconds before `now` (a program on another system may hold it
// where this one cannot see). Returns whether there was anything of that
// name.
bool removeIfLeftBehind(HANDLE directory, const std::string& name, std::uint64_t now, HoldsWorkContent holds)
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
    if (holds(std::string_view(head, got), sizeof head))
        DeleteOnClose(file.get(), true);  // best effort: the name is taken over otherwise
    return true;
}

}  // namespace

std::uint64_t SystemClock()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

void RemoveLeftBehind(HANDLE directory, const std::string& keep, std::uint64_t now, HoldsWorkContent holds)
{
    constexpr int kGap = 8;
    for (auto* nameOf : {&workName, &backupLinkName}) {
        int missing = 0;
        for (int i = 0; i < kMaxWorkNames && missing < kGap; ++i) {
            const std::string name = (*nameOf)(i);
            missing = name == keep || removeIfLeftBehind(directory, name, now, holds) ? 0 : missing + 1;
        }
    }
}

void MoveOver(HANDLE file, HANDLE directory, const std::wstring& name, const std::function<void()>& beforeClassic)
{
    DWORD error = RenameInto(file, directory, name, false);
    if (NoPosixRename(error)) {
        beforeClassic();
        error = RenameInto(file, directory, name, true);
    }
    if (error != 0)
        FailWith(error);
}

// ---- the new file ------------------------------------------------------------------------

NewFile::NewFile(HANDLE directory)
{
    const IoStep step("making a work file beside it");
    DWORD opened = 0;
    directory_ = OpenIn(directory, L"", kDirectoryAccess, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, opened);
    if (!directory_)
        FailWith(opened);
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
            FailWith(error);
    }
    if (!file_)
        FailWith(ERROR_ALREADY_EXISTS);
    if (!DeleteOnClose(file_.get(), true)) {
        const DWORD error = ::GetLastError();
        file_.close();  // not yet deleting: it goes by its name
        FailWith(error);
    }
}

NewFile::~NewFile()
{
    // Where the system deletes a file by the name it was opened with
    // (Wine), never another program's file that took that name.
    if (!kept_ && (lost_ || nameLeadsElsewhere()))
        DeleteOnClose(file_.get(), false);
    else if (!kept_ && published_)
        DeleteOnClose(file_.get(), true);
}

void NewFile::write(const char* data, std::size_t n)
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

void NewFile::flush()
{
    const IoStep step("putting the work file on the disk");
    if (!::FlushFileBuffers(file_.get()))
        failWin32();
}

void NewFile::publish()
{
    if (!DeleteOnClose(file_.get(), false))
        failWin32();
    published_ = true;
}

void NewFile::keep()
{
    kept_ = true;
    file_.close();
}

void NewFile::requireOwnName()
{
    DWORD error = 0;
    const std::optional<bool> elsewhere = namedElsewhere(error);
    if (!elsewhere)
        FailWith(error);
    if (*elsewhere) {
        lost_ = true;
        throw IoError(kFileInUse, "the work file's name leads to another program's file by now");
    }
}

std::optional<bool> NewFile::namedElsewhere(DWORD& error) const
{
    const Handle named = OpenIn(directory_.get(), name_, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                                FILE_NON_DIRECTORY_FILE, error);
    if (!named)
        return NothingThere(error) ? std::optional<bool>(true) : std::nullopt;
    FileState mine;
    FileState now;
    if (!StateOf(file_.get(), mine) || !StateOf(named.get(), now)) {
        error = ::GetLastError();
        return std::nullopt;
    }
    return mine.key != now.key;
}

bool NewFile::nameLeadsElsewhere() const
{
    DWORD error = 0;
    return namedElsewhere(error).value_or(false);
}

// ---- the work file -----------------------------------------------------------------------

Win32WorkFile::Win32WorkFile(SharedHandle directory, std::string name, std::weak_ptr<Handle> drawing, bool letGo)
    : directory_(std::move(directory)), name_(std::move(name)), drawing_(std::move(drawing)),
      forDrawing_(!drawing_.expired()), letGo_(letGo), file_(std::make_unique<NewFile>(directory_->get()))
{
}

Win32WorkFile::~Win32WorkFile() { discard(); }

NewFile& Win32WorkFile::file()
{
    if (!file_)
        throw IoError(kFileNotOpen, "the work file is gone");
    return *file_;
}

void Win32WorkFile::write(const char* data, std::size_t n) { file().write(data, n); }

FileKey Win32WorkFile::key() { return StateOrFail(file().get()).key; }

void Win32WorkFile::flush() { file().flush(); }

MetadataKept Win32WorkFile::takeMetadata()
{
    if (forDrawing_) {
        const SharedHandle drawing = drawing_.lock();
        if (!drawing || !*drawing)
            FailWith(ERROR_INVALID_HANDLE);  // the drawing is held no more
        return CopyMetadata(drawing->get(), file().get());
    }
    // The file as found, through a handle of its own that reads no data.
    DWORD error = 0;
    const Handle found = OpenIn(directory_->get(), NameIn(name_), READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll,
                                FILE_OPEN, FILE_NON_DIRECTORY_FILE, error);
    if (!found) {
        if (error != ERROR_ACCESS_DENIED)
            FailWith(error);
        return {false, false, false};
    }
    return CopyMetadata(found.get(), file().get());
}

MetadataKept Win32WorkFile::takeNewFileMetadata()
{
    // Made in the file's directory by the caller, the work file has what a
    // new file of the caller's gets there.
    return {};
}

void Win32WorkFile::keep()
{
    const IoStep step("replacing", name_);
    NewFile& file = this->file();
    file.publish();
    file.requireOwnName();
    // The classic rename cannot replace a file still open: the pass lets go
    // of the drawing it held, all checks done.
    MoveOver(file.get(), directory_->get(), NameIn(name_), [this] {
        if (const SharedHandle drawing = letGo_ ? drawing_.lock() : nullptr)
            drawing->close();
    });
    file.keep();
}

void Win32WorkFile::discard() noexcept { file_.reset(); }

}  // namespace dxfkonv::win32
