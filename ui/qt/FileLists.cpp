#include "ui/qt/FileLists.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCollator>
#include <QFile>
#include <QLocale>
#include <QStorageInfo>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "engine/replace/Drawings.h"
#include "engine/IoError.h"

namespace dxfkonv {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Czech alphabetical order (C, Č, ..., H, CH, I, ...; R, Ř; S, Š; Z, Ž)
// from the toolkit's collation, whatever the user's locale says; names
// that differ only in case follow their bytes.
QList<FsName> sortedCzech(const std::vector<QByteArray>& names)
{
    QList<FsName> result;
    for (const QByteArray& name : names)
        result.append(FsName{name, ShownName(name)});
    QCollator czech(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    czech.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(result.begin(), result.end(), [&czech](const FsName& a, const FsName& b) {
        const int byText = czech.compare(a.shown, b.shown);
        return byText != 0 ? byText < 0 : a.raw < b.raw;
    });
    return result;
}

// The directory's listing; an empty one when it cannot be read.
DirectoryListing listingOf(const QByteArray& directory, FileSystem& fs)
{
    try {
        return ListDirectory(std::string(directory.constData(), static_cast<std::size_t>(directory.size())), fs);
    } catch (const IoError&) {
        return {};
    }
}

QByteArray bytesOf(const std::string& name)
{
    return QByteArray(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

QString ShownName(const QByteArray& raw)
{
    return QFile::decodeName(raw);
}

QList<FsName> ListFiles(const QByteArray& directory, FileSystem& fs)
{
    std::vector<QByteArray> names;
    for (const std::string& name : listingOf(directory, fs).drawings)
        names.push_back(bytesOf(name));
    return sortedCzech(names);
}

QList<FsName> ListSubdirectories(const QByteArray& directory, FileSystem& fs)
{
    std::vector<QByteArray> names;
    for (const Subdirectory& sub : listingOf(directory, fs).subdirectories)
        names.push_back(bytesOf(sub.name));
    return sortedCzech(names);
}

QByteArray NormalisePath(const QByteArray& path)
{
    QByteArray result;
    result.reserve(path.size() + 1);
    if (!path.startsWith(kDirSeparator))
        result.append(kDirSeparator);
    for (const char c : path) {
        if (c == kDirSeparator && result.endsWith(kDirSeparator))
            continue;
        result.append(c);
    }
    if (result.size() > 1 && result.endsWith(kDirSeparator))
        result.chop(1);
    return result;
}

QByteArray AbsolutePath(const QByteArray& path, const QByteArray& base)
{
    const QByteArray whole = path.startsWith(kDirSeparator) ? path : JoinPath(base, path);
    QList<QByteArray> names;
    for (const QByteArray& name : whole.split(kDirSeparator)) {
        if (name.isEmpty() || name == ".")
            continue;
        if (name == "..") {
            if (!names.isEmpty())
                names.removeLast();
            continue;
        }
        names.append(name);
    }
    return QByteArray(1, kDirSeparator) + names.join(kDirSeparator);
}

QList<QByteArray> CommandLinePaths(int argc, const char* const* argv, const QByteArray& base)
{
    QList<QByteArray> paths;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (i == 1 && argument == "--")
            continue;
        if (!argument.isEmpty())
            paths.append(AbsolutePath(argument, base));
    }
    return paths;
}

QByteArray JoinPath(const QByteArray& directory, const QByteArray& name)
{
    QByteArray result = directory;
    if (!result.endsWith(kDirSeparator))
        result.append(kDirSeparator);
    return result + name;
}

QList<QByteArray> PathChain(const QByteArray& directory)
{
    const QByteArray path = NormalisePath(directory);
    QList<QByteArray> chain{QByteArray(1, kDirSeparator)};
    for (qsizetype at = path.indexOf(kDirSeparator, 1); at != -1;
         at = path.indexOf(kDirSeparator, at + 1))
        chain.append(path.left(at));
    if (path.size() > 1)
        chain.append(path);
    return chain;
}

QByteArray LastComponent(const QByteArray& path)
{
    const QByteArray normal = NormalisePath(path);
    if (normal.size() == 1)
        return normal;
    return normal.mid(normal.lastIndexOf(kDirSeparator) + 1);
}

bool CanReadDirectory(const QByteArray& directory)
{
    std::unique_ptr<DIR, DirCloser> dir(opendir(directory.constData()));
    return dir != nullptr;
}

QByteArray CurrentDirectory()
{
    std::vector<char> buffer(4096);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()))
            return NormalisePath(QByteArray(buffer.data()));
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return QByteArray(1, kDirSeparator);
        buffer.resize(buffer.size() * 2);
    }
}

QList<Volume> MountedVolumes()
{
    QList<Volume> volumes;
    for (const QStorageInfo& info : QStorageInfo::mountedVolumes()) {
        const QByteArray root = NormalisePath(QFile::encodeName(info.rootPath()));
        struct stat st{};
        if (stat(root.constData(), &st) == 0 && !S_ISDIR(st.st_mode))
            continue;  // a single file mounted over another one
        Volume volume{root, info.name(), QString::fromLocal8Bit(info.device())};
        auto same = std::find_if(volumes.begin(), volumes.end(),
                                 [&](const Volume& v) { return v.root == root; });
        if (same != volumes.end())
            *same = volume;  // mounted over: the last one is what shows there
        else
            volumes.append(volume);
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const Volume& a, const Volume& b) { return a.root < b.root; });
    return volumes;
}

QString VolumeCaption(const Volume& volume)
{
    QString caption = ShownName(volume.root);
    if (!volume.label.isEmpty())
        caption += QStringLiteral("  [%1]").arg(volume.label);
    else if (!volume.device.isEmpty())
        caption += QStringLiteral("  (%1)").arg(volume.device);
    return caption;
}

int VolumeOf(const QList<Volume>& volumes, const QByteArray& directory)
{
    const QByteArray path = NormalisePath(directory);
    int best = -1;
    qsizetype bestLength = -1;
    for (int i = 0; i < volumes.size(); ++i) {
        const QByteArray& root = volumes[i].root;
        const bool holds = root.size() == 1 || path == root
                           || (path.startsWith(root) && path.at(root.size()) == kDirSeparator);
        if (holds && root.size() > bestLength) {
            best = i;
            bestLength = root.size();
        }
    }
    return best;
}

}  // namespace dxfkonv
