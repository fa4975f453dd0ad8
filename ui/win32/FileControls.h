// The three linked file-choice controls of the main window over the
// system's list boxes and combo box: the drive selector, the directory list
// and the file list. Each wraps a control the main window created; the
// main window hands them its notifications.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/win32/FileChoice.h"

namespace dxfkonv::win32 {

// The drawings of one directory, bare names as stored, in Czech order,
// several selectable at once (LBS_EXTENDEDSEL); read through `fs`.
class FileList {
public:
    FileList(HWND list, FileSystem& fs) : fList(list), fFs(fs) {}

    const std::string& Directory() const { return fDirectory; }
    void SetDirectory(const std::string& directory);  // and reads it
    void Update();                                    // reads the directory again

    int Count() const;
    bool Selected(int index) const;
    void Select(int index);
    void Deselect(int index);
    std::string Text(int index) const;      // as shown
    std::string FileName(int index) const;  // as stored

private:
    HWND fList;
    FileSystem& fFs;
    std::string fDirectory;
    std::vector<std::string> fNames;
};

// A directory as a path of entries: the root, every directory down to the
// current one (selected), then the current one's subdirectories, indented
// level by level, each with its folder picture (an owner-drawn list box).
// Opening an entry makes it the current directory; every change re-reads
// the file list and is told to `onChanged`.
class DirectoryList {
public:
    enum class EntryKind { Path, Current, Subdirectory };
    struct Entry {
        std::string path;
        int level;
        EntryKind kind;
    };

    DirectoryList(HWND list, FileSystem& fs);

    const std::string& Directory() const { return fDirectory; }
    void SetDirectory(const std::string& directory);
    // The file system its directories are read through.
    FileSystem& Files() const { return fFs; }
    // Opens entry `row` as the user does; a directory that cannot be read
    // is not entered, and a message box says so.
    bool OpenEntry(int row);

    const std::vector<Entry>& Entries() const { return fEntries; }
    void SetFileList(FileList* files) { fFiles = files; }
    std::function<void(const std::string&)> onChanged;

    // Draws one entry (WM_DRAWITEM) at `dpi`.
    void Draw(const DRAWITEMSTRUCT& item, UINT dpi) const;

private:
    static LRESULT CALLBACK KeyHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    UINT_PTR id, DWORD_PTR self);
    void readEntries();

    HWND fList;
    FileSystem& fFs;
    std::string fDirectory;
    std::vector<Entry> fEntries;
    FileList* fFiles = nullptr;
};

// The drives, each with its label. Choosing one moves the directory list to
// the directory last shown on that drive in this run, or else to the
// drive's current directory; a drive that cannot be read leaves everything
// as it was and says so. The selection follows the directory list onto
// whatever drive holds its directory.
class DriveBox {
public:
    DriveBox(HWND box, DirectoryList& directories);

    // Reads the drives anew (also each time the list drops down).
    void Refresh();
    const std::vector<Drive>& Drives() const { return fDrives; }

    // Chooses drive `index` as the user does; false when it could not be
    // read and the choice was undone.
    bool ChooseDrive(int index);
    // The selection changed: while the list is open (CBN_SELCHANGE) or as
    // it closes (`listClosed`: CBN_SELENDOK, CBN_CLOSEUP). Moving through
    // the open list chooses nothing yet.
    void SelectionMade(bool listClosed);

    // The directory list now shows `directory`.
    void DirectoryShown(const std::string& directory);

private:
    void selectQuietly(int index);

    HWND fBox;
    DirectoryList& fDirectories;
    std::vector<Drive> fDrives;
    std::map<char, std::string> fLastDirectory;
};

}  // namespace dxfkonv::win32
