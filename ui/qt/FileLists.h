// What the drive selector, directory list and file list show, read from the
// file system without any widget, so it can be checked on its own.
//
// Paths and names are kept as the bytes stored on disk (QByteArray); the
// text shown for them is decoded separately, so a name that is not valid
// UTF-8 is still handed to the conversion exactly as it is.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace dxfkonv {

class FileSystem;  // the engine's seam, engine/platform/FileSystem.h

inline constexpr char kDirSeparator = '/';

// A directory entry: its bytes on disk and the text shown for it.
struct FsName {
    QByteArray raw;
    QString shown;
};

// The text shown for a name or path stored as `raw`.
QString ShownName(const QByteArray& raw);

// The drawings of `directory` (see ListDirectory: *.dxf in any letter
// case, regular files, hidden ones left out), in Czech alphabetical order
// without regard to case; names that differ only in case follow their
// bytes ("A" before "a"). None when the directory cannot be read.
QList<FsName> ListFiles(const QByteArray& directory, FileSystem& fs);

// The subdirectories of `directory`, hidden ones left out, sorted the same way.
QList<FsName> ListSubdirectories(const QByteArray& directory, FileSystem& fs);

// An absolute path with single separators and no trailing one ("/" stays "/").
QByteArray NormalisePath(const QByteArray& path);

// `path` as an absolute path, a relative one taken from `base`, "." and
// ".." taken away as written (a ".." goes up the path as written, not
// back through a link), single separators, none trailing.
QByteArray AbsolutePath(const QByteArray& path, const QByteArray& base);

// The paths named on the program's command line (argv[1] on), each made
// absolute from `base`; a "--" first only ends the options there are none
// of, so that a path may begin with "-". Empty arguments name nothing.
QList<QByteArray> CommandLinePaths(int argc, const char* const* argv, const QByteArray& base);

// `directory` + "/" + `name`, with no doubled separator at the root.
QByteArray JoinPath(const QByteArray& directory, const QByteArray& name);

// Every directory from the root down to `directory`: "/a/b" gives "/", "/a", "/a/b".
QList<QByteArray> PathChain(const QByteArray& directory);

// The last component of a path ("/" for the root).
QByteArray LastComponent(const QByteArray& path);

// Can the directory be opened and listed?
bool CanReadDirectory(const QByteArray& directory);

// The process's current directory ("/" when it cannot be told).
QByteArray CurrentDirectory();

// A mounted file system: where it is mounted and what names it.
struct Volume {
    QByteArray root;  // mount point
    QString label;    // the file system's own name, may be empty
    QString device;   // what is mounted there
};

// The mounted file systems whose mount point is a directory, by mount point.
QList<Volume> MountedVolumes();

// The line the drive selector shows for a file system: its mount point,
// then its label in brackets, or else the device in parentheses.
QString VolumeCaption(const Volume& volume);

// The index of the file system that holds `directory`: the one with the
// deepest mount point on its path; -1 when none does.
int VolumeOf(const QList<Volume>& volumes, const QByteArray& directory);

}  // namespace dxfkonv
