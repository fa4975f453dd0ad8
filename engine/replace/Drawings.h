// A drawing as the window and the command line name it, and the drawings a
// directory holds.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/platform/FileSystem.h"

namespace dxfkonv {

class IoError;

// A drawing: the directory it is in ("" for the current one) and its name
// there. Callers hand this on as it is; the pass opens the directory and
// looks the name up in it, so the two are never joined and split again.
struct Drawing {
    Drawing() = default;
    Drawing(std::string directory_, std::string name_, std::shared_ptr<Directory> opened_ = nullptr)
        : directory(std::move(directory_)), name(std::move(name_)), opened(std::move(opened_))
    {
    }

    std::string directory;
    std::string name;
    // The directory as a walk of the tree opened it, when it did: the pass
    // then works in that very directory, not in whatever its path leads
    // to by then.
    std::shared_ptr<Directory> opened;

    // The path the drawing was named by, where it was named by one.
    std::string named;

    // Splits a path at its last separator (see SplitPath()): "a/b.dxf" is
    // {"a", "b.dxf"}, "/b.dxf" is {"/", "b.dxf"}, "b.dxf" is {"", "b.dxf"};
    // on Windows also "C:\a\b.dxf" is {"C:\a", "b.dxf"}. The drawing
    // keeps the path as its name for the user.
    static Drawing FromPath(const std::string& path);

    // The directory, one separator and the name (see JoinPath(): "b.dxf"
    // alone for the current directory, no doubled separator).
    std::string Path() const;
    // The drawing's name for the user: the path it was named by, or else
    // Path().
    std::string Named() const { return named.empty() ? Path() : named; }

    // Where its name leads (see FileSystem::find()): looked up in the
    // directory a walk opened, when it did, else in the directory its
    // path names.
    Found Find(FileSystem& fs) const;
};

// Whether the paths `a` and `b` lead to one and the same file, as a pass
// would follow them; false where either leads nowhere or may not be
// followed.
bool NamesSameFile(const std::string& a, const std::string& b, FileSystem& fs);

// Reads `directory` (see DirectoryListing); throws IoError when it cannot
// be read.
DirectoryListing ListDirectory(const std::string& directory, FileSystem& fs);

// Hands each drawing of `directory` to `each`, in the order `before`
// gives, and with `recursive` then those of each subdirectory, in that
// order, as the walk gets there. Each subdirectory is opened relative to
// the one open above it and never through a symbolic link, so a name
// swapped for a link while the walk goes on leads it nowhere; links to
// directories are not followed at all. The directory named is looked up
// as a drawing's directory is (see Convert). A directory that cannot be
// read goes to `failed` with its path, and the walk goes on.
void WalkDrawings(const std::string& directory, bool recursive,
                  const std::function<bool(const std::string&, const std::string&)>& before,
                  const std::function<void(const Drawing&)>& each,
                  const std::function<void(const std::string& path, const IoError& error)>& failed, FileSystem& fs);

}  // namespace dxfkonv
