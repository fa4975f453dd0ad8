// A drawing as the window and the command line name it, and the drawings a
// directory holds.
#pragma once

#include <string>
#include <vector>

namespace dxfkonv {

// A drawing: the directory it is in ("" for the current one) and its name
// there. Callers hand this on as it is; the pass opens the directory and
// looks the name up in it, so the two are never joined and split again.
struct Drawing {
    std::string directory;
    std::string name;

    // Splits a path at its last "/": "a/b.dxf" is {"a", "b.dxf"}, "/b.dxf"
    // is {"/", "b.dxf"}, "b.dxf" is {"", "b.dxf"}.
    static Drawing FromPath(const std::string& path);

    // The directory, one "/" and the name ("b.dxf" alone for the current
    // directory, no doubled "/" after a directory that ends in one).
    std::string Path() const;
};

// Is `name` a drawing's name: does it end in ".dxf", in any letter case?
bool IsDrawingName(const std::string& name);

// A subdirectory, and whether its name is a symbolic link to it.
struct Subdirectory {
    std::string name;
    bool link = false;
};

// What a directory holds for the file lists and a batch, hidden names (a
// leading ".") left out: its drawings, regular files (a symbolic link
// counts as what it leads to) with a drawing's name, and its
// subdirectories. Names whose link leads nowhere are left out. In the
// order the directory gives them: each caller sorts in its own way.
struct DirectoryListing {
    std::vector<std::string> drawings;
    std::vector<Subdirectory> subdirectories;
};

// Reads `directory`; throws IoError when it cannot be read.
DirectoryListing ListDirectory(const std::string& directory);

}  // namespace dxfkonv
