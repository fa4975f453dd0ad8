#include "ui/FileSystem.h"

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
#include <vector>

namespace dxfkonv {

namespace {

char foldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool matchFrom(const char* name, const char* nameEnd, const char* mask, const char* maskEnd)
{
    // Classic wildcard walk with one backtracking point for the last "*".
    const char* starMask = nullptr;
    const char* starName = nullptr;
    while (name != nameEnd) {
        if (mask != maskEnd && *mask == '*') {
            starMask = ++mask;
            starName = name;
        } else if (mask != maskEnd && (*mask == '?' || foldAscii(*mask) == foldAscii(*name))) {
            ++mask;
            ++name;
        } else if (starMask) {
            mask = starMask;
            name = ++starName;
        } else {
            return false;
        }
    }
    while (mask != maskEnd && *mask == '*')
        ++mask;
    return mask == maskEnd;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

enum class Wanted { Files, Directories };

QList<FsName> listEntries(const QByteArray& directory, Wanted wanted, const QByteArray& mask)
{
    QList<FsName> result;
    std::unique_ptr<DIR, DirCloser> dir(opendir(directory.constData()));
    if (!dir)
        return result;
    const int fd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name.isEmpty() || name.startsWith('.'))
            continue;  // hidden, and "." and ".."
        if (wanted == Wanted::Files && !MatchesMask(name, mask))
            continue;
        struct stat st{};
        if (fstatat(fd, entry->d_name, &st, 0) != 0)
            continue;  // a dangling link or a name that went away
        const bool fits = wanted == Wanted::Files ? S_ISREG(st.st_mode) : S_ISDIR(st.st_mode);
        if (fits)
            result.append(FsName{name, ShownName(name)});
    }
    // Czech alphabetical order (C, Č, ..., H, CH, I, ...; R, Ř; S, Š; Z, Ž)
    // from the toolkit's collation, whatever the user's locale says.
    QCollator czech(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    czech.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(result.begin(), result.end(), [&czech](const FsName& a, const FsName& b) {
        const int byText = czech.compare(a.shown, b.shown);
        return byText != 0 ? byText < 0 : a.raw < b.raw;
    });
    return result;
}

}  // namespace

QString ShownName(const QByteArray& raw)
{
    return QFile::decodeName(raw);
}

bool MatchesMask(const QByteArray& name, const QByteArray& mask)
{
    return matchFrom(name.constData(), name.constData() + name.size(), mask.constData(),
                     mask.constData() + mask.size());
}

QList<FsName> ListFiles(const QByteArray& directory, const QByteArray& mask)
{
    return listEntries(directory, Wanted::Files, mask);
}

QList<FsName> ListSubdirectories(const QByteArray& directory)
{
    return listEntries(directory, Wanted::Directories, QByteArray());
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
