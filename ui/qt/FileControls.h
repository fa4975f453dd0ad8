// The three linked file-choice controls of the main window: the drive
// selector (here: the mounted file systems), the directory list and the
// masked file list.
#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QHash>
#include <QList>
#include <QListWidget>

#include "ui/qt/FileLists.h"

namespace dxfkonv {

// The drawings of one directory (ListFiles), bare names as stored, in
// Czech alphabetical order, several selectable at once; read through the
// file system the window was given.
class TFileListBox : public QListWidget {
    Q_OBJECT

public:
    explicit TFileListBox(FileSystem& fs, QWidget* parent = nullptr);

    QByteArray Directory() const { return fDirectory; }
    void SetDirectory(const QByteArray& directory);  // and re-reads the list

    // Reads the directory again.
    void Update();

    // The name of item `index` exactly as stored on disk.
    QByteArray FileName(int index) const;

private:
    FileSystem& fFs;
    QByteArray fDirectory;
    int fItemHeight = 13;
};

// A directory as a path of entries: the root, every directory down to the
// current one (selected), then the current one's subdirectories, indented
// level by level. Opening an entry (double-click or Enter) makes it the
// current directory; every change re-reads the linked file list.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT

public:
    enum class EntryKind { Path, Current, Subdirectory };

    explicit TDirectoryListBox(FileSystem& fs, QWidget* parent = nullptr);

    QByteArray Directory() const { return fDirectory; }
    // Shows `directory` (normalised) and re-reads the file list.
    void SetDirectory(const QByteArray& directory);

    // Opens entry `row` as the user does. A directory that cannot be read
    // is not entered and a message box says so; returns whether it was.
    bool OpenEntry(int row);

    void SetFileList(TFileListBox* fileList);

    QByteArray EntryPath(int row) const;
    int EntryLevel(int row) const;
    EntryKind EntryKindOf(int row) const;

signals:
    void DirectoryChanged(const QByteArray& directory);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void readEntries();

    FileSystem& fFs;
    QByteArray fDirectory;
    TFileListBox* fFileList = nullptr;
    int fItemHeight = 16;
};

// The mounted file systems, each shown by its mount point and label.
// Choosing one moves the linked directory list to the directory last
// shown on that file system in this run, or else to its mount point; one
// that cannot be read leaves everything as it was and says so. The
// selection follows the directory list onto whatever file system holds its
// directory.
class TDriveComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit TDriveComboBox(QWidget* parent = nullptr);

    void SetDirList(TDirectoryListBox* dirList);

    // Replaces the list of file systems (Refresh reads the mounted ones).
    void SetVolumes(const QList<Volume>& volumes);
    void Refresh();
    const QList<Volume>& Volumes() const { return fVolumes; }

    // Chooses file system `index` as the user does; false when it could
    // not be read and the choice was undone.
    bool ChooseDrive(int index);

    void showPopup() override;  // reads the mounted file systems anew first

private:
    void DirectoryShown(const QByteArray& directory);
    void selectQuietly(int index);

    TDirectoryListBox* fDirList = nullptr;
    QList<Volume> fVolumes;
    QHash<QByteArray, QByteArray> fLastDirectory;
};

}  // namespace dxfkonv
