// Helpers of the window tests: scratch directories, files, and a watcher
// that finds message boxes, notes what they say and closes them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <filesystem>
#include <string>
#include <system_error>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "ui/FileSystem.h"

namespace dxfkonv::testing {

// A scratch directory, its path canonical (as the process's current
// directory would report it).
class ScratchDir {
public:
    ScratchDir()
    {
        EXPECT_TRUE(fDir.isValid());
        fPath = QFile::encodeName(QDir(fDir.path()).canonicalPath());
    }
    // Removed by its bytes: the toolkit cannot remove names that are not
    // UTF-8, and some tests make such names.
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(std::string(fPath.constData(), static_cast<std::size_t>(fPath.size())), ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    QByteArray Path() const { return fPath; }
    QByteArray operator/(const QByteArray& name) const { return JoinPath(fPath, name); }

private:
    QTemporaryDir fDir;
    QByteArray fPath;
};

// Writes a file under exactly the bytes of `path`.
inline void WriteFile(const QByteArray& path, const QByteArray& content = {})
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    const auto size = static_cast<std::size_t>(content.size());
    const ssize_t written = ::write(fd, content.constData(), size);
    ::close(fd);
    ASSERT_EQ(written, static_cast<ssize_t>(size)) << path.constData();
}

inline QByteArray ReadFile(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

inline void MakeDir(const QByteArray& path)
{
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(path))) << path.constData();
}

// Makes `path` the process's current directory while it lives.
class InDirectory {
public:
    explicit InDirectory(const QByteArray& path) : fBefore(CurrentDirectory())
    {
        EXPECT_EQ(chdir(path.constData()), 0);
    }
    ~InDirectory() { (void)chdir(fBefore.constData()); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

private:
    QByteArray fBefore;
};

// Polls for message boxes while it lives; each one found is noted, shown
// to `onSeen` (while it is still open) and closed with its OK button.
class MessageBoxWatcher {
public:
    struct Seen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    explicit MessageBoxWatcher(std::function<void(QMessageBox*)> onSeen = {})
        : fOnSeen(std::move(onSeen))
    {
        QObject::connect(&fTimer, &QTimer::timeout, [this] { poll(); });
        fTimer.start(5);
    }

    const QList<Seen>& SeenBoxes() const { return fSeen; }

private:
    void poll()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            fSeen.append(Seen{box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            if (fOnSeen)
                fOnSeen(box);
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->reject();
        }
    }

    std::function<void(QMessageBox*)> fOnSeen;
    QTimer fTimer;
    QList<Seen> fSeen;
};

}  // namespace dxfkonv::testing
