// What the drive selector, the directory list and the file list show, read
// from the system without any window, so it can be checked on its own.
// Names and paths are UTF-8, as the engine takes them; the listing itself
// is the engine's (ListDirectory), so its rules for drawings and links
// apply, and what only Windows has (drive letters, hidden and system
// files) is added here.
#pragma once

#include <string>
#include <vector>

namespace dxfkonv {
class FileSystem;  // the engine's seam, engine/platform/FileSystem.h
}

namespace dxfkonv::win32 {

// A drive letter in use, with its volume label ("" when it has none or
// cannot be read).
struct Drive {
    char letter;  // lower case, as the selector shows it
    std::string label;
};

// The drives the system has, a to z. A drive without a medium or not
// ready is listed without a label; no drive is waited for.
std::vector<Drive> LogicalDrives();

// The selector's line for a drive: "c: [SYSTEM]", or "a:" without a label.
std::string DriveCaption(const Drive& drive);

// "C:\" for 'c'.
std::string DriveRoot(char letter);

// The index of the drive that holds `directory`; -1 when none does (a
// share, say).
int DriveIndexOf(const std::vector<Drive>& drives, const std::string& directory);

// The directory a drive was last left in by this process (Windows keeps one
// for each drive), else its root.
std::string DriveCurrentDirectory(char letter);

// The drawings of `directory` (*.dxf in any letter case, regular files),
// hidden and system files left out, in Czech alphabetical order without
// regard to case; names that differ only in case follow their bytes. None
// when the directory cannot be read.
std::vector<std::string> ListDrawings(const std::string& directory, FileSystem& fs);

// The subdirectories of `directory`, hidden and system ones left out,
// sorted the same way.
std::vector<std::string> ListSubdirectories(const std::string& directory, FileSystem& fs);

// Sorts names in that order (CompareStringEx for "cs-CZ").
void SortCzech(std::vector<std::string>& names);

// Can the directory be opened and listed?
bool CanReadDirectory(const std::string& directory, FileSystem& fs);

// The process's current directory, normalised.
std::string CurrentDirectory();

// `path` as a full path from the current directory (GetFullPathNameW: "."
// and ".." taken away, a drive's own current directory for "C:plan.dxf").
std::string FullPath(const std::wstring& path);

// The paths named on the command line `commandLine` (the program's own
// name first, left out), each as a full path. A "--" first only ends the
// options there are none of, so that a path may begin with "-"; empty
// arguments name nothing.
std::vector<std::string> CommandLinePaths(const wchar_t* commandLine);

}  // namespace dxfkonv::win32
