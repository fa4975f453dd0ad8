// What a conversion needs of the file system, in its own words, as four
// kinds of object: the file system finds a drawing by its path and opens
// directories; a directory lists and looks up names, opens the drawing
// found there and makes work files; a drawing held open is read, says
// what it is and is backed up; a work file is written, put on the disk,
// given the drawing's owner and permissions, and ends by taking the
// drawing's place (keep) or by going (discard). Each platform has its
// implementation (platform/posix/, platform/win32/), which keeps the
// promises written here; an object that needs another's handle is given
// it when it is made, so none has to look inside another. The
// conversion's own order of steps and checks (replace/) sees nothing of
// the system's calls, numbers or types.
//
// Names are resolved once: a drawing is found through an open directory
// and stays open, so nobody can make a pass read one file and replace
// another by swapping names while it runs. A symbolic link is followed
// only when the caller made it, when whoever made it owns what it leads
// to, or when the administrator made it; in a shared directory with the
// sticky bit a link that neither the caller nor the directory's owner made
// is not followed at all.
//
// Failures are thrown as IoError, with the message table's number, the
// step and the system's own words.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform/ContentHash.h"

namespace dxfkonv {

// The name of the short-lived work file, in the converted file's
// directory, where it must have one.
inline constexpr const char* kWorkFileName = "razade.&&&";

// A file as the system tells files apart.
struct FileKey {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    auto operator<=>(const FileKey&) const = default;
};

struct Timestamp {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    bool operator==(const Timestamp&) const = default;
};

// What a conversion needs to know of a file.
struct FileState {
    FileKey key;
    std::uint64_t size = 0;
    Timestamp modified;
    Timestamp changed;       // its content or its attributes, as the system keeps it
    std::uint64_t names = 1;  // hard links
    bool regular = false;
    // Of a drawing held open (HeldDrawing::state()): whether any change to
    // its content from now on is sure to show in `size` or `changed`. A
    // file system that keeps a change time nobody can set back, and a
    // change time older than the clock's tick; or a file nobody can write
    // while it is held. Where not, only its content tells.
    bool changesShow = false;
};

// What of a file's owner, group and permissions (with its access control
// lists and other attributes) another file could be given.
struct MetadataKept {
    bool owner = true;
    bool group = true;
    bool mode = true;
};

// A subdirectory, and whether its name is a symbolic link to it.
struct Subdirectory {
    std::string name;
    bool link = false;
};

// What a directory holds for the file lists and a batch, hidden names (a
// leading "."; on Windows also those marked hidden or system) left out: its drawings, regular files (a symbolic link
// counts as what it leads to) with a drawing's name, and its
// subdirectories. Names whose link leads nowhere are left out. In the
// order the directory gives them: each caller sorts in its own way.
struct DirectoryListing {
    std::vector<std::string> drawings;
    std::vector<Subdirectory> subdirectories;
};

class Directory;
class HeldDrawing;
class WorkFile;

// Tells a file a killed pass left under a work file's name from somebody's
// own, by its first bytes (`head`: as many as it has, up to `capacity`):
// true where they are what a work file holds. The caller, who knows what
// a drawing looks like, hands it down.
using HoldsWorkContent = bool (*)(std::string_view head, std::size_t capacity);

// Where a drawing's name led: the directory that really holds it, its
// name there (no link), and what is there now.
struct Found {
    std::unique_ptr<Directory> directory;  // null: no such directory
    std::unique_ptr<Directory> namedIn;    // where the name given was, when that was a link
    std::string name;
    std::optional<FileState> state;        // empty: nothing of that name

    bool regular() const { return state && state->regular; }
};

// What a path given by a user names, links followed.
enum class PathKind { kMissing, kDirectory, kRegular, kOther };

// The file system, where a path is first met.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // What `path` names. Throws where it cannot be reached.
    virtual PathKind kindOf(const std::string& path) = 0;
    // Opens the directory `path` ("" the current one); null when a name
    // on the way is missing or no directory.
    virtual std::unique_ptr<Directory> openDirectory(const std::string& path) = 0;
    // Follows the name `name` in the directory `path` through symbolic
    // links to what it leads to.
    virtual Found find(const std::string& path, const std::string& name) = 0;
};

// An open directory. What it opens or makes is found, held or written
// through its handle, never through its path again.
class Directory {
public:
    virtual ~Directory() = default;
    virtual FileKey key() const = 0;

    // ---- names -------------------------------------------------------------
    virtual DirectoryListing list() = 0;
    // What the name `name` here is now, no link followed; empty when there
    // is nothing of that name.
    virtual std::optional<FileState> lookUp(const std::string& name) = 0;
    // Follows the name `name` here through symbolic links to what it leads
    // to, as FileSystem::find() does.
    virtual Found find(const std::string& name) = 0;
    // Opens the subdirectory `name`, never through a link; null when it is
    // a link, gone, or no directory by now.
    virtual std::unique_ptr<Directory> openSubdirectory(const std::string& name) = 0;
    // Another handle of the same directory.
    virtual std::unique_ptr<Directory> reopen() = 0;

    // ---- the drawing found here ---------------------------------------------
    // Opens the regular file `name` found here (see find()), not through a
    // link that took its name since. `exclusive`: one pass at a time, I/O
    // error 32 for a file another pass holds, held until the file is
    // closed. Its backup goes beside the name the caller gave: here, or,
    // where that name was a link that led here, in the directory the link
    // is in.
    virtual std::unique_ptr<HeldDrawing> open(const std::string& name, bool exclusive) = 0;
    // Refuses, before anything is written, a file `name` here that the
    // caller may not replace: one nobody may write, whoever runs the pass,
    // another user's in a shared directory with the sticky bit, or one in
    // a directory where the caller cannot make a work file.
    virtual void requireReplaceable(const std::string& name) = 0;

    // ---- writing -------------------------------------------------------------
    // A work file here to take the place of `name`, for about
    // `expectedSize` bytes; its owner and permissions come from the file
    // of that name as found (see WorkFile::takeMetadata()). With
    // `leftBehind`, what killed passes left here first goes (those it
    // tells from somebody's own), but never the file `name`.
    virtual std::unique_ptr<WorkFile> createWorkFile(const std::string& name, std::uint64_t expectedSize,
                                                     HoldsWorkContent leftBehind) = 0;
    // Puts the directory's changes of names on the disk (best effort: the
    // replace itself has happened).
    virtual void flush() = 0;
};

// A drawing open for reading (see Directory::open()).
class HeldDrawing {
public:
    virtual ~HeldDrawing() = default;

    // Up to n bytes from where the last read ended; 0 only at the end.
    virtual std::size_t read(char* buffer, std::size_t n) = 0;
    // Up to n bytes from `offset` on; 0 only at the end. Where read() goes
    // on stays as it is.
    virtual std::size_t readAt(std::uint64_t offset, char* buffer, std::size_t n) = 0;
    virtual FileState state() = 0;
    // Reads the file once more, whole, from its start, and says what it
    // holds now, wherever the reads of the file stood.
    virtual Content contentOf() = 0;

    // Keeps the file as `backupName` beside the name the caller gave (see
    // Directory::open()), replacing an earlier backup in one step: a hard
    // link where the file system allows, else a copy with its times. The
    // backup is made first under a name of its own; `beforeKept` runs then,
    // told what was copied (null for a link), and when it throws the backup
    // goes and an earlier one stays as it was.
    virtual void backUp(const std::string& backupName,
                        const std::function<void(const Content* copied)>& beforeKept) = 0;

    // A work file beside the drawing to take its place, for about
    // `expectedSize` bytes; its owner and permissions come from this very
    // file (see WorkFile::takeMetadata()). `leftBehind` as in
    // Directory::createWorkFile(), the drawing never removed.
    virtual std::unique_ptr<WorkFile> createWorkFile(std::uint64_t expectedSize, HoldsWorkContent leftBehind) = 0;
};

// A new file beside a drawing, to take its place. Where the file system
// allows it has no name until it replaces the drawing, so a pass that is
// killed leaves nothing; elsewhere it is named (see kWorkFileName) and
// locked while the pass uses it. It ends by exactly one of keep() and
// discard(); one that goes with neither is discarded.
class WorkFile {
public:
    virtual ~WorkFile() = default;

    // All n bytes, after those written before.
    virtual void write(const char* data, std::size_t n) = 0;
    virtual FileKey key() = 0;
    // Puts what was written on the disk.
    virtual void flush() = 0;
    // Puts what was written to any file of the work file's file system on
    // the disk at once, this work file's among it, where the file system
    // does that as surely as file by file and likely sooner; true when it
    // did. False where it does not, or failed: then nothing is promised,
    // and each work file is to be flushed on its own.
    virtual bool flushFileSystem() { return false; }
    // Gives the work file the owner, group and permissions of the file it
    // was made for as far as the caller may: of the drawing held that made
    // it; or of the file of its name as found (which may not be readable).
    virtual MetadataKept takeMetadata() = 0;
    // Gives it those a new file of the caller's gets there instead.
    virtual MetadataKept takeNewFileMetadata() = 0;
    // Puts the work file in the place of the name it was made for, in one
    // step, so the name leads to the old or the new file at any moment.
    // Where that fails the work file is still to be discarded.
    virtual void keep() = 0;
    // Removes the work file; nothing is kept of it (best effort, never
    // another program's file that took its name).
    virtual void discard() noexcept = 0;
};

// The operating system's own. The front ends take it where they start
// and hand it down; nothing below them reaches for it.
FileSystem& SystemFileSystem();

// ---- paths as the platform writes them --------------------------------------
// Is `name` a drawing's name: does it end in ".dxf", in any letter case?
bool IsDrawingName(const std::string& name);
// A path cut at its last separator ("/"; on Windows "\" or "/"): the
// directory, kept whole where it is a root ("/", "C:\"), and the name
// after it. A path without separator is a name in the current directory
// (directory "").
struct PathParts {
    std::string directory;
    std::string name;
};
PathParts SplitPath(const std::string& path);
// The directory and the name joined by the platform's separator ("/"; on
// Windows "\"), none doubled; the name alone for the current directory.
std::string JoinPath(const std::string& directory, const std::string& name);

}  // namespace dxfkonv
