// The drive selector, directory list and file list on real directories.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QtTest/QTest>

#include <cstdlib>

#include "engine/platform/FileSystem.h"
#include "ui/qt/FileControls.h"
#include "ui/qt/FileLists.h"
#include "UiTestSupport.h"

namespace dxfkonv {
namespace {

using testing::MakeDir;
using testing::MessageBoxWatcher;
using testing::ScratchDir;
using testing::WriteFile;

QStringList shownItems(const QListWidget& list)
{
    QStringList items;
    for (int i = 0; i < list.count(); ++i)
        items.append(list.item(i)->text());
    return items;
}

QList<int> selectedRows(const QListWidget& list)
{
    QList<int> rows;
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i)->isSelected())
            rows.append(i);
    return rows;
}

// ---------------------------------------------------------------------------
// File list

class FileListTest : public ::testing::Test {
protected:
    FileListTest()
    {
        for (const char* name : {"b.DXF", "a.dxf", "C.Dxf", "čep.dxf", "Čára.DXF", "A.DXF",
                                 ".hidden.dxf", "notes.txt", "plan.dxf.bak", "plan.dxfx"})
            WriteFile(fDir / name);
        WriteFile(fDir / "\xE8" "ep2.dxf");  // a name that is not UTF-8
        MakeDir(fDir / "folder.dxf");
        EXPECT_EQ(symlink("a.dxf", (fDir / "link.dxf").constData()), 0);
        EXPECT_EQ(symlink("gone.dxf", (fDir / "dangling.dxf").constData()), 0);
        EXPECT_EQ(mkfifo((fDir / "pipe.dxf").constData(), 0600), 0);
        fList.SetDirectory(fDir.Path());
    }

    ScratchDir fDir;
    TFileListBox fList{SystemFileSystem()};
};

TEST_F(FileListTest, ListsOrdinaryVisibleDxfFilesAsStoredSortedWithoutRegardToCase)
{
    const QStringList items = shownItems(fList);
    // Czech order without regard to case; equal names by their bytes ("A"
    // before "a"); a name that is not UTF-8 shows a replacement character
    // and comes last.
    const QStringList expected = {
        QStringLiteral("A.DXF"),   QStringLiteral("a.dxf"),    QStringLiteral("b.DXF"),
        QStringLiteral("C.Dxf"),   QStringLiteral("Čára.DXF"), QStringLiteral("čep.dxf"),
        QStringLiteral("link.dxf"), ShownName("\xE8" "ep2.dxf"),
    };
    EXPECT_EQ(items, expected);
}

// Names in Czech alphabetical order: accented vowels sort with their base
// letter, Č, Ř, Š and Ž after C, R, S and Z, "ch" after "h", all without
// regard to case.
const QStringList kCzechOrder = {
    QStringLiteral("1np.dxf"),    QStringLiteral("abeceda.dxf"), QStringLiteral("Ábel.dxf"),
    QStringLiteral("cihla.dxf"),  QStringLiteral("Cukr.dxf"),    QStringLiteral("čára.dxf"),
    QStringLiteral("Čep.dxf"),    QStringLiteral("dům.dxf"),     QStringLiteral("hrad.dxf"),
    QStringLiteral("Hůl.dxf"),    QStringLiteral("chata.dxf"),   QStringLiteral("CHLÉV.dxf"),
    QStringLiteral("ikona.dxf"),  QStringLiteral("PLAN.dxf"),    QStringLiteral("plan.dxf"),
    QStringLiteral("rám.dxf"),    QStringLiteral("Ruka.dxf"),    QStringLiteral("řez.dxf"),
    QStringLiteral("Řídítko.dxf"), QStringLiteral("sklep.dxf"),  QStringLiteral("šachta.dxf"),
    QStringLiteral("Šipka.dxf"),  QStringLiteral("tunel.dxf"),   QStringLiteral("zeď.dxf"),
    QStringLiteral("Zub.dxf"),    QStringLiteral("žlab.dxf"),    QStringLiteral("Žulový.dxf"),
};

TEST(CzechOrder, SortsTheFileListAlphabeticallyInCzech)
{
    ScratchDir dir;
    for (auto name = kCzechOrder.crbegin(); name != kCzechOrder.crend(); ++name)
        WriteFile(dir / QFile::encodeName(*name));
    TFileListBox list{SystemFileSystem()};
    list.SetDirectory(dir.Path());
    EXPECT_EQ(shownItems(list), kCzechOrder);
}

TEST(CzechOrder, SortsTheSubdirectoriesTheSameWay)
{
    ScratchDir dir;
    for (auto name = kCzechOrder.crbegin(); name != kCzechOrder.crend(); ++name)
        MakeDir(dir / QFile::encodeName(*name));
    QStringList shown;
    for (const FsName& sub : ListSubdirectories(dir.Path(), SystemFileSystem()))
        shown.append(sub.shown);
    EXPECT_EQ(shown, kCzechOrder);
}

TEST_F(FileListTest, GivesEachItemsNameExactlyAsStoredOnDisk)
{
    QList<QByteArray> names;
    for (int i = 0; i < fList.count(); ++i)
        names.append(fList.FileName(i));
    EXPECT_TRUE(names.contains(QByteArray("\xE8" "ep2.dxf")));
    EXPECT_TRUE(names.contains(QByteArray("\xC4\x8C\xC3\xA1ra.DXF")));  // "Čára.DXF" in UTF-8
    for (const QByteArray& name : names)
        EXPECT_EQ(access((fDir / name).constData(), F_OK), 0) << name.constData();
}

TEST_F(FileListTest, ReadsItsDirectoryAgainOnEveryChange)
{
    WriteFile(fDir / "new.dxf");
    EXPECT_FALSE(shownItems(fList).contains(QStringLiteral("new.dxf")));
    fList.SetDirectory(fDir.Path());
    EXPECT_TRUE(shownItems(fList).contains(QStringLiteral("new.dxf")));
}

TEST_F(FileListTest, SelectsSeveralItemsTheExtendedWay)
{
    EXPECT_EQ(fList.selectionMode(), QAbstractItemView::ExtendedSelection);
    fList.resize(169, 163);
    fList.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fList));
    const auto at = [this](int row) { return fList.visualItemRect(fList.item(row)).center(); };
    EXPECT_EQ(fList.visualItemRect(fList.item(0)).height(), 13);

    QTest::mouseClick(fList.viewport(), Qt::LeftButton, {}, at(1));
    EXPECT_EQ(selectedRows(fList), (QList<int>{1}));
    QTest::mouseClick(fList.viewport(), Qt::LeftButton, Qt::ShiftModifier, at(4));
    EXPECT_EQ(selectedRows(fList), (QList<int>{1, 2, 3, 4}));
    QTest::mouseClick(fList.viewport(), Qt::LeftButton, Qt::ControlModifier, at(2));
    EXPECT_EQ(selectedRows(fList), (QList<int>{1, 3, 4}));
    QTest::mouseClick(fList.viewport(), Qt::LeftButton, Qt::ControlModifier, at(6));
    EXPECT_EQ(selectedRows(fList), (QList<int>{1, 3, 4, 6}));
    QTest::mouseClick(fList.viewport(), Qt::LeftButton, {}, at(0));
    EXPECT_EQ(selectedRows(fList), (QList<int>{0}));
    fList.hide();
}

// ---------------------------------------------------------------------------
// Directory list

TEST(Paths, ChainsAndNormalForms)
{
    EXPECT_EQ(NormalisePath("/a//b/"), QByteArray("/a/b"));
    EXPECT_EQ(NormalisePath("/"), QByteArray("/"));
    EXPECT_EQ(NormalisePath("//"), QByteArray("/"));
    EXPECT_EQ(PathChain("/"), (QList<QByteArray>{"/"}));
    EXPECT_EQ(PathChain("/a/b"), (QList<QByteArray>{"/", "/a", "/a/b"}));
    EXPECT_EQ(JoinPath(QByteArray("/"), "a"), QByteArray("/a"));
    EXPECT_EQ(JoinPath(QByteArray("/a"), "b"), QByteArray("/a/b"));
    EXPECT_EQ(LastComponent("/a/b"), QByteArray("b"));
    EXPECT_EQ(LastComponent("/"), QByteArray("/"));
}

class DirectoryListTest : public ::testing::Test {
protected:
    DirectoryListTest()
    {
        for (const char* name : {"gamma", "alpha", "Beta", ".hidden", "gamma/inner"})
            MakeDir(fDir / name);
        WriteFile(fDir / "top.dxf");
        WriteFile(fDir / "folder-like.dxf");
        WriteFile(fDir / "gamma/deep.dxf");
        fDirs.SetFileList(&fFiles);
        fDirs.SetDirectory(fDir.Path());
        fDirs.resize(169, 121);
    }

    // The rows as "level kind name".
    QStringList Rows() const
    {
        QStringList rows;
        for (int i = 0; i < fDirs.count(); ++i) {
            const char* kind = "";
            switch (fDirs.EntryKindOf(i)) {
            case TDirectoryListBox::EntryKind::Path: kind = "path"; break;
            case TDirectoryListBox::EntryKind::Current: kind = "current"; break;
            case TDirectoryListBox::EntryKind::Subdirectory: kind = "sub"; break;
            }
            rows.append(QStringLiteral("%1 %2 %3")
                            .arg(fDirs.EntryLevel(i))
                            .arg(QString::fromLatin1(kind))
                            .arg(fDirs.item(i)->text()));
        }
        return rows;
    }

    int RowOf(const QString& text) const
    {
        const auto found = fDirs.findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? -1 : fDirs.row(found.first());
    }

    ScratchDir fDir;
    TDirectoryListBox fDirs{SystemFileSystem()};
    TFileListBox fFiles{SystemFileSystem()};
};

TEST_F(DirectoryListTest, ShowsRootPathCurrentSelectedAndSubdirectoriesIndented)
{
    const QList<QByteArray> chain = PathChain(fDir.Path());
    QStringList expected;
    for (int level = 0; level < chain.size(); ++level)
        expected.append(QStringLiteral("%1 %2 %3")
                            .arg(level)
                            .arg(level + 1 == chain.size() ? QStringLiteral("current") : QStringLiteral("path"))
                            .arg(ShownName(LastComponent(chain[level]))));
    const auto sub = static_cast<int>(chain.size());
    for (const char* name : {"alpha", "Beta", "gamma"})
        expected.append(QStringLiteral("%1 sub %2").arg(sub).arg(QString::fromLatin1(name)));
    EXPECT_EQ(Rows(), expected);
    EXPECT_EQ(fDirs.item(0)->text(), QStringLiteral("/"));

    const int current = static_cast<int>(chain.size()) - 1;
    EXPECT_EQ(fDirs.currentRow(), current);
    EXPECT_TRUE(fDirs.item(current)->isSelected());
    EXPECT_EQ(fDirs.EntryPath(current), fDir.Path());
    EXPECT_EQ(fDirs.EntryPath(current + 3), fDir / "gamma");
    for (int i = 0; i < fDirs.count(); ++i)
        EXPECT_FALSE(fDirs.item(i)->icon().isNull());

    fDirs.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fDirs));
    EXPECT_EQ(fDirs.visualItemRect(fDirs.item(0)).height(), 16);
    fDirs.hide();
}

TEST_F(DirectoryListTest, DrivesTheFileList)
{
    EXPECT_EQ(shownItems(fFiles), (QStringList{QStringLiteral("folder-like.dxf"), QStringLiteral("top.dxf")}));
    EXPECT_EQ(fFiles.Directory(), fDir.Path());
}

TEST_F(DirectoryListTest, EnterOrDoubleClickOpensAnEntryAndRereadsTheFileList)
{
    fDirs.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fDirs));

    fDirs.setCurrentRow(RowOf(QStringLiteral("gamma")));
    QTest::keyClick(&fDirs, Qt::Key_Return);
    EXPECT_EQ(fDirs.Directory(), fDir / "gamma");
    EXPECT_EQ(shownItems(fFiles), QStringList{QStringLiteral("deep.dxf")});
    EXPECT_EQ(fDirs.item(fDirs.currentRow())->text(), QStringLiteral("gamma"));
    EXPECT_EQ(fDirs.item(fDirs.count() - 1)->text(), QStringLiteral("inner"));

    // Up to the parent, an entry on the path, by a double-click.
    const int parent = fDirs.currentRow() - 1;
    fDirs.scrollToItem(fDirs.item(parent));
    QTest::mouseDClick(fDirs.viewport(), Qt::LeftButton, {},
                       fDirs.visualItemRect(fDirs.item(parent)).center());
    EXPECT_EQ(fDirs.Directory(), fDir.Path());
    EXPECT_EQ(shownItems(fFiles).size(), 2);

    // Arrow keys only move the selection.
    QTest::keyClick(&fDirs, Qt::Key_Down);
    EXPECT_EQ(fDirs.Directory(), fDir.Path());

    // Opening the current directory reads it again.
    WriteFile(fDir / "later.dxf");
    fDirs.setCurrentRow(RowOf(ShownName(LastComponent(fDir.Path()))));
    QTest::keyClick(&fDirs, Qt::Key_Enter);
    EXPECT_TRUE(shownItems(fFiles).contains(QStringLiteral("later.dxf")));

    // The root.
    fDirs.setCurrentRow(0);
    QTest::keyClick(&fDirs, Qt::Key_Return);
    EXPECT_EQ(fDirs.Directory(), QByteArray("/"));
    EXPECT_EQ(fDirs.currentRow(), 0);
    for (int i = 1; i < fDirs.count(); ++i) {
        EXPECT_EQ(fDirs.EntryLevel(i), 1);
        EXPECT_FALSE(fDirs.item(i)->text().startsWith(QLatin1Char('.')));
    }
    fDirs.hide();
}

TEST_F(DirectoryListTest, ADirectoryThatCannotBeReadIsNotEnteredAndAMessageSaysSo)
{
    const int alpha = RowOf(QStringLiteral("alpha"));
    ASSERT_EQ(rmdir((fDir / "alpha").constData()), 0);
    MessageBoxWatcher watcher;
    EXPECT_FALSE(fDirs.OpenEntry(alpha));
    ASSERT_EQ(watcher.SeenBoxes().size(), 1);
    EXPECT_EQ(watcher.SeenBoxes()[0].text,
              QStringLiteral("Adresář %1 nelze otevřít.").arg(ShownName(fDir / "alpha")));
    EXPECT_EQ(watcher.SeenBoxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(fDirs.Directory(), fDir.Path());
}

// ---------------------------------------------------------------------------
// Drive selector

class DriveBoxTest : public ::testing::Test {
protected:
    DriveBoxTest()
    {
        for (const char* name : {"vol-a/sub", "vol-b/x", "vol-b/y"})
            MakeDir(fDir / name);
        fDirs.SetDirectory(fDir / "vol-a/sub");
        fDrives.SetDirList(&fDirs);
        fDrives.SetVolumes({
            Volume{"/", QStringLiteral("system"), QStringLiteral("/dev/sda1")},
            Volume{fDir / "vol-a", QStringLiteral("DATA"), QStringLiteral("/dev/sdb1")},
            Volume{fDir / "vol-b", QString(), QStringLiteral("/dev/sdc1")},
            Volume{"/nonexistent-dxfkonv-volume", QStringLiteral("GONE"), QString()},
        });
    }

    // Chooses entry `index` with the keyboard, as a user does.
    void Choose(int index)
    {
        const int steps = index - fDrives.currentIndex();
        for (int i = 0; i < std::abs(steps); ++i)
            QTest::keyClick(&fDrives, steps > 0 ? Qt::Key_Down : Qt::Key_Up);
    }

    ScratchDir fDir;
    TDirectoryListBox fDirs{SystemFileSystem()};
    TDriveComboBox fDrives;
};

TEST_F(DriveBoxTest, ShowsEachFileSystemByMountPointAndLabelAndFollowsTheDirectory)
{
    ASSERT_EQ(fDrives.count(), 4);
    EXPECT_EQ(fDrives.itemText(0), QStringLiteral("/  [system]"));
    EXPECT_EQ(fDrives.itemText(1), ShownName(fDir / "vol-a") + QStringLiteral("  [DATA]"));
    EXPECT_EQ(fDrives.itemText(2), ShownName(fDir / "vol-b") + QStringLiteral("  (/dev/sdc1)"));
    EXPECT_EQ(fDrives.currentIndex(), 1);  // the deepest mount point on the path
    fDirs.SetDirectory(fDir.Path());
    EXPECT_EQ(fDrives.currentIndex(), 0);
}

TEST_F(DriveBoxTest, ChoosingAFileSystemGoesToTheDirectoryLastShownThereOrItsRoot)
{
    fDrives.setFocus();
    Choose(2);
    EXPECT_EQ(fDirs.Directory(), fDir / "vol-b");
    fDirs.SetDirectory(fDir / "vol-b/x");
    Choose(1);
    EXPECT_EQ(fDirs.Directory(), fDir / "vol-a/sub");
    Choose(2);
    EXPECT_EQ(fDirs.Directory(), fDir / "vol-b/x");

    // A directory since removed: the root instead.
    Choose(1);
    ASSERT_EQ(rmdir((fDir / "vol-b/x").constData()), 0);
    Choose(2);
    EXPECT_EQ(fDirs.Directory(), fDir / "vol-b");
}

TEST_F(DriveBoxTest, AFileSystemThatCannotBeReadLeavesEverythingAndSaysSo)
{
    Choose(2);
    const QByteArray before = fDirs.Directory();
    MessageBoxWatcher watcher;
    Choose(3);
    ASSERT_EQ(watcher.SeenBoxes().size(), 1);
    EXPECT_EQ(watcher.SeenBoxes()[0].text,
              QStringLiteral("Souborový systém /nonexistent-dxfkonv-volume nelze číst."));
    EXPECT_EQ(watcher.SeenBoxes()[0].title, QCoreApplication::applicationName());
    EXPECT_EQ(watcher.SeenBoxes()[0].icon, QMessageBox::Critical);
    EXPECT_EQ(fDrives.currentIndex(), 2);
    EXPECT_EQ(fDirs.Directory(), before);
}

TEST(MountedVolumes, ListTheFileSystemHoldingTheCurrentDirectory)
{
    const QList<Volume> volumes = MountedVolumes();
    ASSERT_FALSE(volumes.isEmpty());
    const int index = VolumeOf(volumes, CurrentDirectory());
    ASSERT_GE(index, 0);
    EXPECT_TRUE(VolumeCaption(volumes[index]).startsWith(ShownName(volumes[index].root)));
    for (const Volume& volume : volumes)
        EXPECT_TRUE(volume.root.startsWith('/'));
}

}  // namespace
}  // namespace dxfkonv
