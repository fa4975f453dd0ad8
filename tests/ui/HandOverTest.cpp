// Drawings handed to the main window: dropped on it from a file manager,
// or named on the program's command line.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QtTest/QTest>

#include <memory>

#include "ui/qt/FileLists.h"
#include "ui/qt/Main_f.h"
#include "UiTestSupport.h"

namespace dxfkonv {
namespace {

using testing::InDirectory;
using testing::MakeDir;
using testing::MessageBoxWatcher;
using testing::ScratchDir;
using testing::WriteFile;

// A scratch directory with drawings in it and in two subdirectories; the
// window started elsewhere, in "start".
class HandOverTest : public ::testing::Test {
protected:
    HandOverTest()
    {
        for (const char* sub : {"start", "sub", "other"})
            MakeDir(fDir / sub);
        for (const char* name : {"a.dxf", "B.DXF", "c.dxf", "notes.txt", "sub/d.dxf", "other/e.dxf"})
            WriteFile(fDir / name);
        InDirectory here(fDir / "start");
        fForm = std::make_unique<TMainForm>(SystemFileSystem());
    }

    TMainForm& Form() { return *fForm; }

    // Drops `paths` (file URLs of their bytes) on the window, as a file
    // manager does, and waits for the window to take them.
    void Drop(const QList<QByteArray>& paths)
    {
        QList<QUrl> urls;
        for (const QByteArray& path : paths)
            urls.append(QUrl::fromLocalFile(QFile::decodeName(path)));
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(fForm.get(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(fForm.get(), &drop);
        EXPECT_TRUE(drop.isAccepted());
        QCoreApplication::processEvents();  // the drop is taken once it is over
    }

    // The names the file list shows selected.
    QStringList Selected() const
    {
        QStringList names;
        for (int i = 0; i < fForm->FileBox->count(); ++i)
            if (fForm->FileBox->item(i)->isSelected())
                names.append(fForm->FileBox->item(i)->text());
        return names;
    }

    QString Shown(const char* name) const { return QFile::decodeName(fDir / name); }

    ScratchDir fDir;
    std::unique_ptr<TMainForm> fForm;
};

TEST_F(HandOverTest, TheWindowTakesDrops)
{
    EXPECT_TRUE(Form().acceptDrops());
    // Text dragged from an editor is no drop of files.
    QMimeData text;
    text.setText(QStringLiteral("a.dxf"));
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Form(), &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(HandOverTest, DroppedDrawingsAreSelectedInTheirDirectory)
{
    MessageBoxWatcher boxes;
    Drop({fDir / "c.dxf", fDir / "B.DXF"});
    EXPECT_EQ(Form().DirectoryBox->Directory(), fDir.Path());
    EXPECT_EQ(Form().FileBox->count(), 3);
    EXPECT_EQ(Selected(), (QStringList{QStringLiteral("B.DXF"), QStringLiteral("c.dxf")}));
    EXPECT_TRUE(boxes.SeenBoxes().isEmpty());

    // A second drop selects only what it brings.
    Drop({fDir / "a.dxf"});
    EXPECT_EQ(Selected(), QStringList{QStringLiteral("a.dxf")});
}

TEST_F(HandOverTest, ADroppedFolderIsOpened)
{
    MessageBoxWatcher boxes;
    Drop({fDir / "sub"});
    EXPECT_EQ(Form().DirectoryBox->Directory(), fDir / "sub");
    ASSERT_EQ(Form().FileBox->count(), 1);
    EXPECT_EQ(Form().FileBox->item(0)->text(), QStringLiteral("d.dxf"));
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_TRUE(boxes.SeenBoxes().isEmpty());
}

TEST_F(HandOverTest, DrawingsOfSeveralDirectoriesTheFirstOnesChosenTheOthersNamedInAMessage)
{
    MessageBoxWatcher boxes;
    Drop({fDir / "sub/d.dxf", fDir / "a.dxf", fDir / "other"});
    EXPECT_EQ(Form().DirectoryBox->Directory(), fDir / "sub");
    EXPECT_EQ(Selected(), QStringList{QStringLiteral("d.dxf")});
    ASSERT_EQ(boxes.SeenBoxes().size(), 1);
    EXPECT_EQ(boxes.SeenBoxes()[0].text, QStringLiteral("Výkresy z jiných adresářů nebyly vybrány:\n\n") + Shown("a.dxf")
                                             + QStringLiteral("\n") + Shown("other"));
    EXPECT_EQ(boxes.SeenBoxes()[0].icon, QMessageBox::Critical);
}

TEST_F(HandOverTest, APathThatNamesNothingIsSaidSoAndTheWindowStaysWhereItWas)
{
    MessageBoxWatcher boxes;
    Drop({fDir / "gone.dxf"});
    EXPECT_EQ(Form().DirectoryBox->Directory(), fDir / "start");
    ASSERT_EQ(boxes.SeenBoxes().size(), 1);
    EXPECT_EQ(boxes.SeenBoxes()[0].text,
              QStringLiteral("Tyto soubory ani adresáře neexistují:\n\n") + Shown("gone.dxf"));
}

TEST(CommandLine, ThePathsAreMadeAbsoluteAndADoubleDashFirstIsNoPath)
{
    const QByteArray base = "/home/kreslic/výkresy";
    const struct {
        std::vector<const char*> argv;
        QList<QByteArray> paths;
    } rows[] = {
        {{"dxfkonv"}, {}},
        {{"dxfkonv", "plan.dxf", "/mnt/a/b.dxf"}, {base + "/plan.dxf", "/mnt/a/b.dxf"}},
        {{"dxfkonv", "--", "-plan.dxf", "--"}, {base + "/-plan.dxf", base + "/--"}},
        {{"dxfkonv", "../archiv/./x.dxf", "", "/a//b/../c/"}, {"/home/kreslic/archiv/x.dxf", "/a/c"}},
        {{"dxfkonv", "-style", "fusion"}, {base + "/-style", base + "/fusion"}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(CommandLinePaths(static_cast<int>(row.argv.size()), row.argv.data(), base), row.paths)
            << row.argv.size();
}

TEST_F(HandOverTest, StartedWithPathsTheWindowShowsTheFirstOnesDirectoryWithTheDrawingsSelected)
{
    const char* argv[] = {"dxfkonv", "../a.dxf", "../notes.txt", "../c.dxf"};
    MessageBoxWatcher boxes;
    QList<QByteArray> paths;
    {
        InDirectory here(fDir / "start");
        paths = CommandLinePaths(4, argv, CurrentDirectory());
        TMainForm form(SystemFileSystem());
        form.HandOver(paths);
        EXPECT_EQ(form.DirectoryBox->Directory(), fDir.Path());
        QStringList selected;
        for (int i = 0; i < form.FileBox->count(); ++i)
            if (form.FileBox->item(i)->isSelected())
                selected.append(form.FileBox->item(i)->text());
        EXPECT_EQ(selected, (QStringList{QStringLiteral("a.dxf"), QStringLiteral("c.dxf")}));
    }
    ASSERT_EQ(boxes.SeenBoxes().size(), 1);
    EXPECT_EQ(boxes.SeenBoxes()[0].text,
              QStringLiteral("Tyto soubory nejsou výkresy DXF a nebyly vybrány:\n\nnotes.txt"));
}

}  // namespace
}  // namespace dxfkonv
