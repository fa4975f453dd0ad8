// Helpers of the window tests: the shared scratch directories and files
// (TestFiles.h) in the bytes the windows use, and a watcher that finds
// message boxes, notes what they say and closes them.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "TestFiles.h"
#include "ui/qt/FileLists.h"

namespace dxfkonv::testing {

// A scratch directory (test::TempDir), its path canonical (as the
// process's current directory would report it) and in bytes.
class ScratchDir : public test::TempDir {
public:
    ScratchDir()
    {
        std::error_code ec;
        const std::string canonical = std::filesystem::canonical(path(), ec).string();
        EXPECT_FALSE(ec) << path();
        fPath = QByteArray(canonical.data(), static_cast<qsizetype>(canonical.size()));
    }

    QByteArray Path() const { return fPath; }
    QByteArray operator/(const QByteArray& name) const { return JoinPath(fPath, name); }

private:
    QByteArray fPath;
};

inline std::string Bytes(const QByteArray& data)
{
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

// Writes a file under exactly the bytes of `path`.
inline void WriteFile(const QByteArray& path, const QByteArray& content = {})
{
    test::writeFile(Bytes(path), Bytes(content));
}

// What a file holds; "<missing>" when it cannot be read.
inline QByteArray ReadFile(const QByteArray& path)
{
    try {
        const std::string content = test::readFile(Bytes(path));
        return QByteArray(content.data(), static_cast<qsizetype>(content.size()));
    } catch (const std::exception&) {
        return QByteArray("<missing>");
    }
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
    ~InDirectory() { EXPECT_EQ(chdir(fBefore.constData()), 0); }
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
