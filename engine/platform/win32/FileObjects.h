// The win32 side's objects of the file-system seam (not part of the
// engine's interface): the directory, the drawing held and the work file,
// each made with the handles it needs from the one that makes it, and
// what they share: how handles are opened and renamed, how a file's owner
// and permissions go over to another, and what killed passes left.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "engine/platform/FileSystem.h"
#include "engine/platform/win32/Handles.h"

namespace dxfkonv::win32 {

// The time of day as the system keeps files' times (100 ns steps since
// 1601), against which a work file counts as left alone long enough.
using Clock = std::uint64_t (*)();
// The system's clock, in the steps of files' times.
std::uint64_t SystemClock();

inline constexpr ACCESS_MASK kDirectoryAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES
                                                | SYNCHRONIZE;
inline constexpr ACCESS_MASK kReadAccess = FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
// Reads and writes go in pieces a DWORD can count.
inline constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
inline constexpr std::size_t kCopyChunk = 1 << 20;

[[noreturn]] void FailWith(DWORD error);
// What the system tells of the open file; throws where it cannot.
FileState StateOrFail(HANDLE handle);
// Its attributes; throws where it cannot tell them.
DWORD AttributesOrFail(HANDLE handle);
// Whether an error says only that nothing has the name, or a directory on
// its way.
bool NothingThere(DWORD error);
// A single name inside a directory, in UTF-16: no separator, no stream
// (":"), not "." or "..". Throws "Invalid filename." for any other.
std::wstring NameIn(const std::string& name);

// Gives `file` the name `name` in `directory` over what had it: in the
// POSIX way where the system has it, else the classic way. `beforeClassic`
// runs first where the classic way is taken.
void MoveOver(HANDLE file, HANDLE directory, const std::wstring& name, const std::function<void()>& beforeClassic);

// Gives `to` the owner, group and access control list of `from` as far as
// the caller may, then its attributes and creation time.
MetadataKept CopyMetadata(HANDLE from, HANDLE to);

// Removes what passes that were killed left in `directory` (those `holds`
// tells from somebody's own, left alone long enough before `now`), never
// `keep`.
void RemoveLeftBehind(HANDLE directory, const std::string& keep, std::uint64_t now, HoldsWorkContent holds);

// A new file in a directory, under kWorkFileName (or kWorkFileName.N while
// that is taken), that nobody else may open and that the system deletes
// when its handle closes, or when the process dies, until it is published
// for its rename.
class NewFile {
public:
    explicit NewFile(HANDLE directory);
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile();

    void write(const char* data, std::size_t n);
    HANDLE get() const { return file_.get(); }
    // Puts it on the disk.
    void flush();
    // No longer deleted when closed, for the rename that keeps it; until
    // kept, it goes again when the work file goes.
    void publish();
    void keep();
    // Fails with "I/O error 32." unless the file's name still leads to
    // this very file, right before it is renamed: a program that cannot
    // see this one's share modes (one on another system, on a shared
    // drive) may have taken it for one a killed pass left, removed it and
    // made a file of its own under that name, and the rename goes by the
    // name where the system keeps it for the handle (Wine). That file is
    // then neither moved nor removed.
    void requireOwnName();

private:
    // Whether the file's name leads to another file than this one by now
    // (or to none); nothing where that cannot be told, `error` saying why.
    std::optional<bool> namedElsewhere(DWORD& error) const;
    // The same, false where it cannot be told.
    bool nameLeadsElsewhere() const;

    Handle directory_;
    Handle file_;
    std::wstring name_;
    bool published_ = false;
    bool kept_ = false;
    bool lost_ = false;  // its name leads to another file
};

// A handle shared by the objects that need it: a directory's by what is
// opened or made in it, a drawing's by the work file that takes its place.
using SharedHandle = std::shared_ptr<Handle>;

class Win32Directory final : public Directory {
public:
    Win32Directory(Handle handle, Clock clock);

    FileKey key() const override;
    DirectoryListing list() override;
    std::optional<FileState> lookUp(const std::string& name) override;
    Found find(const std::string& name) override;
    std::unique_ptr<Directory> openSubdirectory(const std::string& name) override;
    std::unique_ptr<Directory> reopen() override;
    std::unique_ptr<HeldDrawing> open(const std::string& name, bool exclusive) override;
    void requireReplaceable(const std::string& name) override;
    std::unique_ptr<WorkFile> createWorkFile(const std::string& name, std::uint64_t expectedSize,
                                             HoldsWorkContent leftBehind) override;
    void flush() override;

    // What `name` in the open `directory` is: `directory` itself again and
    // the name's state.
    static Found FoundIn(std::unique_ptr<Win32Directory> directory, const std::string& name);

private:
    SharedHandle handle_;
    Clock clock_;
};

class Win32Drawing final : public HeldDrawing {
public:
    // The drawing `name` in `directory`, open as `handle`; `exclusive`:
    // held with a share mode that lets nobody write, and a lock.
    Win32Drawing(Handle handle, bool exclusive, SharedHandle directory, std::string name, Clock clock);

    std::size_t read(char* buffer, std::size_t n) override;
    std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) override;
    FileState state() override;
    Content contentOf() override;
    void backUp(const std::string& backupName, const std::function<void(const Content* copied)>& beforeKept) override;
    std::unique_ptr<WorkFile> createWorkFile(std::uint64_t expectedSize, HoldsWorkContent leftBehind) override;

    HANDLE get() const;

private:
    SharedHandle handle_;
    bool exclusive_;
    SharedHandle directory_;
    std::string name_;
    Clock clock_;
    std::uint64_t next_ = 0;  // where read() goes on
};

class Win32WorkFile final : public WorkFile {
public:
    // A work file in `directory` for the name `name` there. Made for the
    // drawing held as `drawing`, it takes that drawing's owner and
    // permissions, and with `letGo` closes it before a rename that cannot
    // replace a file still open; else those of the file of that name.
    Win32WorkFile(SharedHandle directory, std::string name, std::weak_ptr<Handle> drawing, bool letGo);
    ~Win32WorkFile() override;

    void write(const char* data, std::size_t n) override;
    FileKey key() override;
    void flush() override;
    MetadataKept takeMetadata() override;
    MetadataKept takeNewFileMetadata() override;
    void keep() override;
    void discard() noexcept override;

private:
    NewFile& file();

    SharedHandle directory_;
    std::string name_;
    std::weak_ptr<Handle> drawing_;
    bool forDrawing_;
    bool letGo_;
    std::unique_ptr<NewFile> file_;  // until discarded
};

}  // namespace dxfkonv::win32
