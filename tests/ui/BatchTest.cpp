// "Konverze" end to end: real files in a scratch directory, the real
// windows, the button clicked.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QScreen>
#include <QtTest/QTest>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "engine/IoError.h"
#include "engine/pass/LinePass.h"
#include "ui/qt/Main_f.h"
#include "ui/qt/PBar_f.h"
#include "TinyDrawing.h"
#include "UiTestSupport.h"

namespace dxfkonv {
namespace {

using testing::InDirectory;
using testing::MakeDir;
using testing::MessageBoxWatcher;
using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

// The colours 0 to 19 as a drawing holds them, and as the defaults (256
// colours, TARNIX to AutoCAD) and the 16-colour tables from AutoCAD to
// TARNIX renumber them.
using Colours = std::array<const char*, 20>;
constexpr Colours kColoursAsWritten{"     0", "     1", "     2", "     3", "     4", "     5", "     6",
                                    "     7", "     8", "     9", "    10", "    11", "    12", "    13",
                                    "    14", "    15", "    16", "    17", "    18", "    19"};
constexpr Colours kColours256TarnixToAutocad{"0",  "7",   "1",   "3",   "5",   "4",  "6",  "32", "9",  "8",
                                             "11", "91", "171", "131", "211", "2",  "16", "17", "18", "19"};
constexpr Colours kColours16AutocadToTarnix{"0",  "9", "2",  "11", "12", "13", "14", "7",  "8",  "15",
                                            "10", "1", "12", "13", "14", "15", "16", "17", "18", "19"};
// ... and those renumbered so a second time.
constexpr Colours kColours256TwiceTarnixToAutocad{"0",  "32", "7",   "3",   "4",   "5", "6",  "32", "8",  "9",
                                                  "91", "91", "171", "131", "211", "1", "16", "17", "18", "19"};
// The texts' tail as written, recoded from Latin II to Windows 1250, and
// recoded so a second time.
constexpr const char* kTextAsWritten = " P%%160d%%231t %%c10";
constexpr const char* kTextLatinToWindows = " P\xE1" "d\x9At \xDD" "10";
constexpr const char* kTextLatinToWindowsTwice = " P\xDF" "d\xDCt \xDE" "10";

// A drawing with a code-page header and a run of texts and colours, long
// enough for the gauge to climb in many steps; as written, or as a
// conversion must leave it.
QByteArray Drawing(const char* title, const char* codePage = "ANSI_852", const Colours& colours = kColoursAsWritten,
                   const char* text = kTextAsWritten)
{
    QByteArray dxf = "  0\r\nSECTION\r\n  2\r\nHEADER\r\n  9\r\n$DWGCODEPAGE\r\n  3\r\n";
    dxf += codePage;
    dxf += "\r\n  9\r\n$INSBASE\r\n 10\r\n0.0\r\n  0\r\nENDSEC\r\n"
           "  0\r\nSECTION\r\n  2\r\nENTITIES\r\n";
    for (int i = 0; i < 60; ++i) {
        dxf += "  0\r\nTEXT\r\n  8\r\n0\r\n 62\r\n";
        dxf += colours[static_cast<std::size_t>(i % 20)];
        dxf += "\r\n  1\r\n";
        dxf += title;
        dxf += text;
        dxf += "\r\n";
    }
    dxf += "  0\r\nENDSEC\r\n  0\r\nEOF\r\n";
    return dxf;
}

// The drawing as the window's start switches convert it.
QByteArray Converted(const char* title)
{
    return Drawing(title, "ANSI_1250", kColours256TarnixToAutocad, kTextLatinToWindows);
}

QImage onScreen(const QWidget& window)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(window.winId())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// What the progress window showed for one file.
struct Pass {
    QString caption;
    int gaugeAtShow = -1;
    QList<int> gaugePainted;
    QImage screenAtEnd;
};

// Watches the progress window and its gauge.
class PassRecorder : public QObject {
public:
    TPBarForm* form = nullptr;
    QList<Pass> passes;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == form && event->type() == QEvent::Show)
            passes.append(Pass{form->windowTitle(), form->Gauge1->Progress(), {}, {}});
        else if (watched == form->Gauge1 && event->type() == QEvent::Paint && !passes.isEmpty())
            passes.last().gaugePainted.append(form->Gauge1->Progress());
        return false;
    }

    // A pass is over, its window not hidden yet.
    void PassOver()
    {
        if (form->isVisible() && !passes.isEmpty())
            passes.last().screenAtEnd = onScreen(*form);
    }
};

// The progress window, which says when it is about to go.
class WatchedPBarForm : public TPBarForm {
public:
    std::function<void()> beforeHide;
    void Hide() override
    {
        if (beforeHide)
            beforeHide();
        TPBarForm::Hide();
    }
};

class BatchTest : public ::testing::Test {
protected:
    BatchTest()
    {
        for (const char* name : {"a.dxf", "b.dxf", "c.dxf", "d.dxf"})
            WriteFile(fDir / name, Drawing(name));
        InDirectory here(fDir.Path());
        fMain = std::make_unique<TMainForm>(SystemFileSystem());
        fPBar = std::make_unique<WatchedPBarForm>();
        fMain->SetPBarForm(fPBar.get());
        fRecorder.form = fPBar.get();
        fPBar->installEventFilter(&fRecorder);
        fPBar->Gauge1->installEventFilter(&fRecorder);
        fPBar->beforeHide = [this] { fRecorder.PassOver(); };
        fMain->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(fMain.get()));
    }

    ~BatchTest() override
    {
        fPBar->removeEventFilter(&fRecorder);
        fPBar->Gauge1->removeEventFilter(&fRecorder);
    }

    void Select(const QStringList& names)
    {
        for (int i = 0; i < fMain->FileBox->count(); ++i)
            fMain->FileBox->item(i)->setSelected(names.contains(fMain->FileBox->item(i)->text()));
    }

    QStringList Selected() const
    {
        QStringList names;
        for (const QListWidgetItem* item : fMain->FileBox->selectedItems())
            names.append(item->text());
        std::sort(names.begin(), names.end());
        return names;
    }

    QStringList Captions() const
    {
        QStringList captions;
        for (const Pass& pass : fRecorder.passes)
            captions.append(pass.caption);
        return captions;
    }

    void ClickConvert() { QTest::mouseClick(fMain->ConvertButton, Qt::LeftButton); }

    bool IsConverted(const char* name) { return ReadFile(fDir / name) == Converted(name); }
    bool IsUntouched(const char* name) { return ReadFile(fDir / name) == Drawing(name); }

    ScratchDir fDir;
    PassRecorder fRecorder;
    std::unique_ptr<TMainForm> fMain;
    std::unique_ptr<WatchedPBarForm> fPBar;
};

TEST_F(BatchTest, ConvertsTheSelectedFilesInListOrderAndDeselectsThem)
{
    ASSERT_EQ(fMain->FileBox->count(), 4);
    Select({QStringLiteral("d.dxf"), QStringLiteral("a.dxf"), QStringLiteral("b.dxf")});
    MessageBoxWatcher watcher;

    ClickConvert();

    EXPECT_TRUE(watcher.SeenBoxes().isEmpty());
    EXPECT_EQ(Captions(), (QStringList{QStringLiteral("Konvertuje se soubor a.dxf"),
                                       QStringLiteral("Konvertuje se soubor b.dxf"),
                                       QStringLiteral("Konvertuje se soubor d.dxf")}));
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_FALSE(fPBar->isVisible());
    for (const char* name : {"a.dxf", "b.dxf", "d.dxf"}) {
        EXPECT_TRUE(IsConverted(name)) << name;
        EXPECT_EQ(ReadFile(fDir / QByteArray(name).replace("dxf", "old")), Drawing(name)) << name;
    }
    EXPECT_TRUE(IsUntouched("c.dxf"));
    // The list is neither read again nor changed.
    EXPECT_EQ(fMain->FileBox->count(), 4);
}

TEST_F(BatchTest, TheGaugeStartsAt0ForEveryFileAndClimbsTo100OnTheScreen)
{
    Select({QStringLiteral("a.dxf"), QStringLiteral("b.dxf"), QStringLiteral("c.dxf")});
    ClickConvert();
    ASSERT_EQ(fRecorder.passes.size(), 3);
    for (const Pass& pass : fRecorder.passes) {
        SCOPED_TRACE(pass.caption.toStdString());
        EXPECT_EQ(pass.gaugeAtShow, 0);
        ASSERT_FALSE(pass.gaugePainted.isEmpty());
        EXPECT_TRUE(std::is_sorted(pass.gaugePainted.begin(), pass.gaugePainted.end()));
        EXPECT_GT(pass.gaugePainted.size(), 5);
        EXPECT_EQ(pass.gaugePainted.last(), 100);

        // What was on the screen as the pass ended, with no event loop
        // turning: the window with its whole bar.
        const QImage& screen = pass.screenAtEnd;
        ASSERT_EQ(screen.size(), QSize(328, 57));
        const QPoint gauge = fPBar->Gauge1->mapTo(fPBar.get(), QPoint(0, 0));
        EXPECT_EQ(screen.pixel(2, 2), qRgb(128, 128, 128));
        EXPECT_EQ(screen.pixel(gauge), qRgb(0, 0, 0));
        EXPECT_EQ(screen.pixel(gauge + QPoint(1, 1)), qRgb(0, 0, 255));
        EXPECT_EQ(screen.pixel(gauge + QPoint(295, 1)), qRgb(0, 0, 255));
    }
}

TEST_F(BatchTest, WithNothingSelectedNothingHappens)
{
    ClickConvert();
    EXPECT_TRUE(fRecorder.passes.isEmpty());
    for (const char* name : {"a.dxf", "b.dxf", "c.dxf", "d.dxf"})
        EXPECT_TRUE(IsUntouched(name));
}

TEST_F(BatchTest, AFileNoLongerThereIsDeselectedSilently)
{
    Select({QStringLiteral("a.dxf"), QStringLiteral("b.dxf")});
    ASSERT_EQ(unlink((fDir / "a.dxf").constData()), 0);
    MessageBoxWatcher watcher;
    ClickConvert();
    EXPECT_TRUE(watcher.SeenBoxes().isEmpty());
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_EQ(Captions().size(), 2);
    EXPECT_TRUE(IsConverted("b.dxf"));
    EXPECT_EQ(access((fDir / "a.dxf").constData(), F_OK), -1);
}

// A file the batch has converted already, under another name, is passed
// over and deselected silently: converting it twice would also put the
// once-converted drawing in its backup.
TEST_F(BatchTest, AFileReachedTwiceIsConvertedOnce)
{
    ASSERT_EQ(unlink((fDir / "d.dxf").constData()), 0);
    ASSERT_EQ(symlink("a.dxf", (fDir / "d.dxf").constData()), 0);
    Select({QStringLiteral("a.dxf"), QStringLiteral("d.dxf")});
    MessageBoxWatcher watcher;
    ClickConvert();
    EXPECT_TRUE(watcher.SeenBoxes().isEmpty());
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_TRUE(IsConverted("a.dxf"));
    EXPECT_EQ(ReadFile(fDir / "a.old"), Drawing("a.dxf"));
    EXPECT_EQ(access((fDir / "d.old").constData(), F_OK), -1);
}

// One file's pass says what it changed, and whether it found the file at
// all; the batch itself shows no counts.
TEST_F(BatchTest, ConvertReportsWhatThePassDid)
{
    const PassReport done = fMain->Convert("a.dxf");
    EXPECT_TRUE(done.found);
    EXPECT_EQ(done.textsRecoded, 60u);
    EXPECT_EQ(done.coloursRenumbered, 39u);  // of the 60, those of 0, 3, 6 and 16 to 19 stay
    EXPECT_EQ(done.codePagesSet, 1u);
    EXPECT_TRUE(IsConverted("a.dxf"));
    EXPECT_FALSE(fMain->Convert("gone.dxf").found);
}

TEST_F(BatchTest, AnIoErrorStopsTheBatchLeavesTheWindowUpAndReachesTheDefaultHandler)
{
    // No write permission bit: refused whoever runs the program.
    ASSERT_EQ(chmod((fDir / "b.dxf").constData(), 0444), 0);
    Select({QStringLiteral("a.dxf"), QStringLiteral("b.dxf"), QStringLiteral("c.dxf")});

    bool progressShown = false;
    QString progressCaption;
    QStringList selectedThen;
    MessageBoxWatcher watcher([&](QMessageBox*) {
        progressShown = fPBar->isVisible();
        progressCaption = fPBar->windowTitle();
        selectedThen = Selected();
    });
    ClickConvert();

    ASSERT_EQ(watcher.SeenBoxes().size(), 1);
    const MessageBoxWatcher::Seen& box = watcher.SeenBoxes()[0];
    EXPECT_EQ(box.text, QStringLiteral("File access denied."));
    EXPECT_EQ(box.title, QStringLiteral("dxfkonv"));
    EXPECT_EQ(box.icon, QMessageBox::Critical);
    EXPECT_EQ(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(progressCaption, QStringLiteral("Konvertuje se soubor b.dxf"));
    EXPECT_EQ(selectedThen, (QStringList{QStringLiteral("b.dxf"), QStringLiteral("c.dxf")}));

    // After the box: the batch is over, nothing more was done.
    EXPECT_TRUE(fPBar->isVisible());
    EXPECT_EQ(Selected(), (QStringList{QStringLiteral("b.dxf"), QStringLiteral("c.dxf")}));
    EXPECT_TRUE(IsConverted("a.dxf"));
    EXPECT_TRUE(IsUntouched("b.dxf"));
    EXPECT_TRUE(IsUntouched("c.dxf"));
    EXPECT_EQ(Captions().size(), 2);

    // The program goes on: once the file may be written, the next click
    // converts what is still selected and hides the progress window.
    ASSERT_EQ(chmod((fDir / "b.dxf").constData(), 0644), 0);
    ClickConvert();
    EXPECT_EQ(watcher.SeenBoxes().size(), 1);
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_FALSE(fPBar->isVisible());
    EXPECT_TRUE(IsConverted("b.dxf"));
    EXPECT_TRUE(IsConverted("c.dxf"));
}

TEST_F(BatchTest, RefusedDrawingsStaySelectedAndAreListedInOneCzechMessageAtTheEnd)
{
    const QByteArray binary = QByteArray("AutoCAD Binary DXF\r\n\x1A\0", 22) + Drawing("b.dxf");
    const QByteArray convertedBefore = Converted("c.dxf");
    WriteFile(fDir / "b.dxf", binary);
    WriteFile(fDir / "c.dxf", convertedBefore);
    Select({QStringLiteral("a.dxf"), QStringLiteral("b.dxf"), QStringLiteral("c.dxf"), QStringLiteral("d.dxf")});
    MessageBoxWatcher watcher;  // answers the question "Ne"

    ClickConvert();
    ASSERT_EQ(watcher.SeenBoxes().size(), 2);
    EXPECT_EQ(watcher.SeenBoxes()[0].text,
              QStringLiteral("Výkres c.dxf už deklaruje kódovou stránku ANSI_1250, byl tedy nejspíš už "
                             "konvertován. Další konverze by poškodila jeho texty a barvy a přepsala jeho zálohu. "
                             "Přesto konvertovat?"));
    EXPECT_EQ(watcher.SeenBoxes()[0].icon, QMessageBox::Question);
    EXPECT_EQ(watcher.SeenBoxes()[1].text,
              QStringLiteral("Tyto výkresy nebyly konvertovány:\n\n"
                             "b.dxf: Soubor není textový (ASCII) soubor DXF.\n"
                             "c.dxf: Výkres už deklaruje kódovou stránku ANSI_1250, byl nejspíš už konvertován."));
    EXPECT_EQ(watcher.SeenBoxes()[1].icon, QMessageBox::Critical);
    EXPECT_TRUE(IsConverted("a.dxf"));
    EXPECT_TRUE(IsConverted("d.dxf"));
    EXPECT_EQ(ReadFile(fDir / "b.dxf"), binary);
    EXPECT_EQ(ReadFile(fDir / "c.dxf"), convertedBefore);
    EXPECT_EQ(access((fDir / "b.old").constData(), F_OK), -1);
    EXPECT_EQ(access((fDir / "c.old").constData(), F_OK), -1);
    EXPECT_EQ(Selected(), (QStringList{QStringLiteral("b.dxf"), QStringLiteral("c.dxf")}));
    EXPECT_FALSE(fPBar->isVisible());
}

TEST_F(BatchTest, AnsweringAnoConvertsADrawingConvertedBeforeWithThatSamePass)
{
    const QByteArray convertedBefore = Converted("c.dxf");
    WriteFile(fDir / "c.dxf", convertedBefore);
    Select({QStringLiteral("c.dxf")});
    MessageBoxWatcher watcher([](QMessageBox* box) {
        for (QAbstractButton* button : box->buttons())
            if (button->text() == QStringLiteral("Ano"))
                button->click();
    });

    ClickConvert();
    ASSERT_EQ(watcher.SeenBoxes().size(), 1);
    EXPECT_EQ(watcher.SeenBoxes()[0].icon, QMessageBox::Question);
    EXPECT_EQ(ReadFile(fDir / "c.old"), convertedBefore);
    // Converted a second time: the colours renumbered once more.
    EXPECT_EQ(ReadFile(fDir / "c.dxf"),
              Drawing("c.dxf", "ANSI_1250", kColours256TwiceTarnixToAutocad, kTextLatinToWindowsTwice));
    EXPECT_TRUE(Selected().isEmpty());
}

TEST_F(BatchTest, TheHandlerItselfCatchesNothing)
{
    ASSERT_EQ(chmod((fDir / "a.dxf").constData(), 0444), 0);
    Select({QStringLiteral("a.dxf"), QStringLiteral("b.dxf")});
    try {
        fMain->ConvertButtonClick();
        FAIL() << "no error";
    } catch (const IoError& error) {
        EXPECT_EQ(error.code(), kFileAccessDenied);
    }
    EXPECT_EQ(Selected(), (QStringList{QStringLiteral("a.dxf"), QStringLiteral("b.dxf")}));
    EXPECT_TRUE(fPBar->isVisible());
    fPBar->hide();
}

QByteArray Tiny(const std::string& codePage, const std::string& colour, const std::string& text)
{
    return QByteArray::fromStdString(test::tinyDrawing(codePage, colour, text));
}

// Each switch reaches the engine, from the directory the window shows:
// every row's output would differ if the switch were left out. Each row
// clicks its switches in a fresh window.
TEST_F(BatchTest, UsesTheSwitchesAndTheDirectoryTheWindowShows)
{
    const QByteArray tiny = QByteArray::fromStdString(test::kTiny);
    const QByteArray tinyDefaults = QByteArray::fromStdString(test::kTinyDefaults);
    const struct {
        const char* name;
        QStringList clicks;
        QByteArray input, expected;
        bool backup;
    } rows[] = {
        {"the start state", {}, tiny, tinyDefaults, true},
        {"WLButton", {"WLButton"}, tiny, Tiny("ANSI_852", "7", "P%%130%%159"), true},
        {"LWButton after WLButton", {"WLButton", "LWButton"}, tiny, tinyDefaults, true},
        {"CodeChBox", {"CodeChBox"}, tiny, Tiny("ANSI_1250", "7", "P%%130\xE8"), true},
        {"ColorChBox", {"ColorChBox"}, tiny, Tiny("ANSI_1250", "11", "P\xE9\xC0"), true},
        {"ColorChBox256 unchecked", {"ColorChBox256"}, tiny, Tiny("ANSI_1250", "     1", "P\xE9\xC0"), true},
        {"ColorChBox256 after ColorChBox", {"ColorChBox", "ColorChBox256"}, tiny, tinyDefaults, true},
        {"ASButton", {"ASButton"}, tiny, Tiny("ANSI_1250", "2", "P\xE9\xC0"), true},
        {"SAButton after ASButton", {"ASButton", "SAButton"}, tiny, tinyDefaults, true},
        {"ColorChBox and ASButton", {"ColorChBox", "ASButton"}, tiny, Tiny("ANSI_1250", "9", "P\xE9\xC0"), true},
        {"OldChBox", {"OldChBox"}, tiny, tinyDefaults, false},
        {"all turned, on the long drawing", {"WLButton", "CodeChBox", "ColorChBox", "ASButton", "OldChBox"},
         Drawing("e.dxf", "ANSI_1250"), Drawing("e.dxf", "ANSI_852", kColours16AutocadToTarnix), false},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray sub = fDir / ("sub" + QByteArray::number(n++));
        MakeDir(sub);
        WriteFile(sub + "/e.dxf", row.input);
        TMainForm form(SystemFileSystem());
        form.DirectoryBox->SetDirectory(sub);
        ASSERT_EQ(form.FileBox->count(), 1);
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        for (const QString& name : row.clicks) {
            auto* const button = form.findChild<QAbstractButton*>(name);
            ASSERT_NE(button, nullptr) << name.toStdString();
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        }
        form.FileBox->item(0)->setSelected(true);
        QTest::mouseClick(form.ConvertButton, Qt::LeftButton);
        EXPECT_EQ(ReadFile(sub + "/e.dxf"), row.expected);
        EXPECT_EQ(ReadFile(sub + "/e.old"), row.backup ? row.input : QByteArray("<missing>"));
    }
    for (const char* name : {"a.dxf", "b.dxf", "c.dxf", "d.dxf"})
        EXPECT_TRUE(IsUntouched(name));
}

}  // namespace
}  // namespace dxfkonv
