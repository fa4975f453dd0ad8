// The main window as built: its controls, start states, tab order, looks,
// and the rules by which the switches enable one another.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSet>
#include <QtTest/QTest>

#include <map>
#include <string>
#include <memory>
#include <vector>

#include "ui/qt/Forms.h"
#include "ui/qt/Main_f.h"
#include "UiTestSupport.h"

namespace dxfkonv {
namespace {

using testing::InDirectory;
using testing::ScratchDir;
using testing::WriteFile;

class MainFormTest : public ::testing::Test {
protected:
    MainFormTest()
    {
        WriteFile(fDir / "PLAN.DXF");
        WriteFile(fDir / "notes.txt");
        WriteFile(fDir / "plan.dxf.bak");
        InDirectory here(fDir.Path());
        fForm = std::make_unique<TMainForm>(SystemFileSystem());
    }

    TMainForm& Form() { return *fForm; }

    ScratchDir fDir;
    std::unique_ptr<TMainForm> fForm;
};

// ---------------------------------------------------------------------------
// Controls

struct ControlRow {
    const char* name;
    const char* kind;
    const char* parent;
    QRect geometry;
    const char* caption;
};

const ControlRow kControls[] = {
    {"Panel1", "QFrame", "MainForm", {8, 8, 369, 201}, nullptr},
    {"FileBox", "dxfkonv::TFileListBox", "Panel1", {192, 24, 169, 163}, nullptr},
    {"DirectoryBox", "dxfkonv::TDirectoryListBox", "Panel1", {8, 24, 169, 121}, nullptr},
    {"DriveBox", "dxfkonv::TDriveComboBox", "Panel1", {8, 168, 169, 19}, nullptr},
    {"Panel2", "QFrame", "MainForm", {8, 216, 369, 65}, nullptr},
    {"CodeChBox", "QCheckBox", "Panel2", {8, 8, 201, 17}, "Konverze češtiny:"},
    {"LWButton", "QRadioButton", "Panel2", {16, 24, 277, 17}, "Latin II (MS DOS) -----> CP1250 (Windows)"},
    {"WLButton", "QRadioButton", "Panel2", {16, 40, 293, 17}, "CP1250 (Windows) -----> Latin II (MS DOS)"},
    {"Panel5", "QFrame", "MainForm", {8, 288, 369, 81}, nullptr},
    {"ColorChBox", "QCheckBox", "Panel5", {8, 8, 313, 17}, "Konverze barev - paleta 16"},
    {"ColorChBox256", "QCheckBox", "Panel5", {8, 24, 217, 17}, "Konverze barev - paleta 256"},
    {"SAButton", "QRadioButton", "Panel5", {16, 40, 277, 17}, "TARNIX -----> AutoCAD"},
    {"ASButton", "QRadioButton", "Panel5", {16, 56, 293, 17}, "AutoCAD -----> TARNIX"},
    {"Panel4", "QFrame", "MainForm", {8, 376, 369, 25}, nullptr},
    {"OldChBox", "QCheckBox", "Panel4", {8, 4, 345, 17}, "Zálohovat původní soubor jako jméno_souboru.old"},
    {"Panel3", "QFrame", "MainForm", {224, 408, 153, 49}, nullptr},
    {"ConvertButton", "QPushButton", "Panel3", {8, 12, 65, 25}, "Konverze"},
    {"ExitButton", "QPushButton", "Panel3", {80, 12, 65, 25}, "Konec"},
    {"Image1", "QLabel", "MainForm", {8, 424, 66, 20}, nullptr},
};

QString captionOf(const QWidget* widget)
{
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
        return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(widget))
        return label->text();
    return {};
}

TEST_F(MainFormTest, EveryControlHasItsKindParentPlaceSizeAndCaption)
{
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        const auto* control = Form().findChild<QWidget*>(QString::fromLatin1(row.name));
        ASSERT_NE(control, nullptr);
        EXPECT_STREQ(control->metaObject()->className(), row.kind);
        EXPECT_EQ(control->parentWidget()->objectName(), QString::fromLatin1(row.parent));
        EXPECT_EQ(control->geometry(), row.geometry);
        if (row.caption) {
            EXPECT_EQ(captionOf(control), QString::fromUtf8(row.caption));
        }
    }
}

TEST_F(MainFormTest, LabelsStandWhereTheyBelongAndTheLogoIsAPictureWithALine)
{
    EXPECT_EQ(Form().Label1->parentWidget(), Form().Panel1);
    EXPECT_EQ(Form().Label1->pos(), QPoint(8, 10));
    EXPECT_EQ(Form().Label1->text(), QStringLiteral("Adresář:"));
    EXPECT_EQ(Form().Label3->parentWidget(), Form().Panel1);
    EXPECT_EQ(Form().Label3->pos(), QPoint(200, 10));
    EXPECT_EQ(Form().Label3->text(), QStringLiteral("Soubory:"));
    EXPECT_EQ(Form().Label5->parentWidget(), &Form());
    EXPECT_EQ(Form().Label5->pos(), QPoint(8, 444));
    EXPECT_FALSE(Form().Label5->text().isEmpty());
    EXPECT_FALSE(Form().Label5->text().contains(QLatin1Char('\n')));

    // The logo: transparent around a picture.
    const QImage logo = Form().Image1->pixmap().toImage();
    ASSERT_EQ(logo.size(), QSize(66, 20));
    EXPECT_TRUE(logo.hasAlphaChannel());
    int clear = 0;
    int drawn = 0;
    for (int y = 0; y < logo.height(); ++y)
        for (int x = 0; x < logo.width(); ++x)
            (qAlpha(logo.pixel(x, y)) == 0 ? clear : drawn)++;
    EXPECT_GT(clear, 100);
    EXPECT_GT(drawn, 100);
}

TEST_F(MainFormTest, StartsWithTheDefaultSwitchesEverythingEnabledAndFocusOnTheFileList)
{
    EXPECT_TRUE(Form().CodeChBox->isChecked());
    EXPECT_TRUE(Form().LWButton->isChecked());
    EXPECT_FALSE(Form().WLButton->isChecked());
    EXPECT_FALSE(Form().ColorChBox->isChecked());
    EXPECT_TRUE(Form().ColorChBox256->isChecked());
    EXPECT_TRUE(Form().SAButton->isChecked());
    EXPECT_FALSE(Form().ASButton->isChecked());
    EXPECT_TRUE(Form().OldChBox->isChecked());
    for (const QWidget* control : Form().findChildren<QWidget*>())
        EXPECT_TRUE(control->isEnabled()) << control->objectName().toStdString();

    const ConversionSwitches switches = Form().Switches();
    EXPECT_TRUE(switches.recodeTexts);
    EXPECT_EQ(switches.textDirection, "lw");
    EXPECT_FALSE(switches.palette16);
    EXPECT_TRUE(switches.palette256);
    EXPECT_EQ(switches.colourDirection, "sa");
    EXPECT_TRUE(switches.keepBackup);

    // The control that has the input focus when the window is active.
    EXPECT_EQ(Form().focusWidget(), Form().FileBox);
}

TEST_F(MainFormTest, StartsInTheProcessesCurrentDirectoryListingItsDxfFiles)
{
    EXPECT_EQ(Form().DirectoryBox->Directory(), fDir.Path());
    ASSERT_EQ(Form().FileBox->count(), 1);
    EXPECT_EQ(Form().FileBox->item(0)->text(), QStringLiteral("PLAN.DXF"));
    EXPECT_EQ(Form().DriveBox->currentIndex(),
              VolumeOf(Form().DriveBox->Volumes(), fDir.Path()));
}

TEST_F(MainFormTest, NoButtonIsTheDefaultOne)
{
    for (const QPushButton* button : {Form().ConvertButton, Form().ExitButton}) {
        EXPECT_FALSE(button->isDefault());
        EXPECT_FALSE(button->autoDefault());
    }
}

// The tab order, read from the focus chain: the panels in their order, and
// within each parent its controls by their tab index.
TEST_F(MainFormTest, TabOrderFollowsTheTabIndexesWithinEachParent)
{
    std::vector<QString> chain;
    QWidget* at = Form().nextInFocusChain();
    while (at != &Form()) {
        if ((at->focusPolicy() & Qt::TabFocus) && Form().isAncestorOf(at)
            && !at->objectName().isEmpty())
            chain.push_back(at->objectName());
        at = at->nextInFocusChain();
    }
    const std::vector<QString> expected = {
        QStringLiteral("FileBox"),       QStringLiteral("DirectoryBox"), QStringLiteral("DriveBox"),
        QStringLiteral("WLButton"),      QStringLiteral("LWButton"),     QStringLiteral("CodeChBox"),
        QStringLiteral("ExitButton"),    QStringLiteral("ConvertButton"),
        QStringLiteral("OldChBox"),
        QStringLiteral("ASButton"),      QStringLiteral("SAButton"),     QStringLiteral("ColorChBox"),
        QStringLiteral("ColorChBox256"),
    };
    EXPECT_EQ(chain, expected);
}

TEST_F(MainFormTest, WindowIsAFixedGrayCentredWindowWithCaptionIconAndFont)
{
    EXPECT_EQ(Form().windowTitle(), QStringLiteral("Konverze DXF souborů"));
    EXPECT_EQ(Form().size(), QSize(382, 467));
    EXPECT_EQ(Form().minimumSize(), QSize(382, 467));
    EXPECT_EQ(Form().maximumSize(), QSize(382, 467));
    const Qt::WindowFlags flags = Form().windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(Form().windowIcon().isNull());

    Form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint offCentre = Form().frameGeometry().center() - screen.center();
    EXPECT_LE(offCentre.manhattanLength(), 2);
    Form().close();

    EXPECT_TRUE(Form().autoFillBackground());
    EXPECT_EQ(Form().palette().color(QPalette::Window), QColor(128, 128, 128));
    EXPECT_EQ(Form().font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(Form().font().pointSize(), 8);
    EXPECT_EQ(Form().font().styleHint(), QFont::SansSerif);
    EXPECT_EQ(Form().CodeChBox->font(), Form().font());
}

TEST_F(MainFormTest, PanelsHaveALoweredBevelAndRadioButtonsTheButtonFace)
{
    for (const QFrame* panel : {Form().Panel1, Form().Panel2, Form().Panel3, Form().Panel4, Form().Panel5}) {
        EXPECT_EQ(panel->frameShape(), QFrame::Panel);
        EXPECT_EQ(panel->frameShadow(), QFrame::Sunken);
        EXPECT_EQ(panel->lineWidth(), 1);
        EXPECT_EQ(panel->palette().color(QPalette::Window), QColor(128, 128, 128));
    }
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    for (const QRadioButton* radio : {Form().LWButton, Form().WLButton, Form().SAButton, Form().ASButton}) {
        EXPECT_TRUE(radio->autoFillBackground());
        EXPECT_EQ(radio->palette().color(QPalette::Window), buttonFace);
    }
}

TEST_F(MainFormTest, RadioButtonsFormTwoExclusiveGroups)
{
    QTest::mouseClick(Form().WLButton, Qt::LeftButton);
    EXPECT_TRUE(Form().WLButton->isChecked());
    EXPECT_FALSE(Form().LWButton->isChecked());
    EXPECT_TRUE(Form().SAButton->isChecked());  // the other group is left alone
    QTest::mouseClick(Form().ASButton, Qt::LeftButton);
    EXPECT_TRUE(Form().ASButton->isChecked());
    EXPECT_FALSE(Form().SAButton->isChecked());
    EXPECT_TRUE(Form().WLButton->isChecked());

    const ConversionSwitches switches = Form().Switches();
    EXPECT_EQ(switches.textDirection, "wl");
    EXPECT_EQ(switches.colourDirection, "as");
}

TEST_F(MainFormTest, ExitButtonClosesTheWindowWhichEndsTheProgram)
{
    EXPECT_TRUE(Form().testAttribute(Qt::WA_QuitOnClose));
    Form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
    QTest::mouseClick(Form().ExitButton, Qt::LeftButton);
    EXPECT_FALSE(Form().isVisible());
}

TEST_F(MainFormTest, ConversionMembersHandTheirArgumentsToTheEngine)
{
    // Each direction and palette gives its own answer.
    const struct {
        const char* direction;
        int from, to;
    } chars[] = {{"lw", 130, 233}, {"lw", 232, 192}, {"lw", 65, 65}, {"wl", 232, 159}, {"wl", 233, 130}, {"wl", 65, 65}};
    for (const auto& c : chars)
        EXPECT_EQ(Form().ConvertChar(c.direction, static_cast<unsigned char>(c.from)), c.to)
            << c.direction << " " << c.from;
    const struct {
        const char* direction;
        bool palette16;
        int from, to;
    } colours[] = {{"sa", true, 1, 11}, {"sa", false, 1, 7}, {"as", true, 1, 9}, {"as", false, 1, 2},
                   {"sa", false, 200, 200}};
    for (const auto& c : colours)
        EXPECT_EQ(Form().ConvertColor(c.direction, c.from, c.palette16), c.to)
            << c.direction << " " << c.palette16 << " " << c.from;
}

// ---------------------------------------------------------------------------
// Enabling rules

// What the three check boxes and the five dependent controls show.
struct SwitchState {
    bool code, palette16, palette256;
    bool textDirections, colourDirections, convert;

    bool operator==(const SwitchState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SwitchState& s)
{
    return out << "{code " << s.code << ", 16 " << s.palette16 << ", 256 " << s.palette256
               << " | LW/WL " << s.textDirections << ", SA/AS " << s.colourDirections
               << ", Konverze " << s.convert << "}";
}

SwitchState stateOf(const TMainForm& form)
{
    EXPECT_EQ(form.LWButton->isEnabled(), form.WLButton->isEnabled());
    EXPECT_EQ(form.SAButton->isEnabled(), form.ASButton->isEnabled());
    return {form.CodeChBox->isChecked(),     form.ColorChBox->isChecked(),
            form.ColorChBox256->isChecked(), form.LWButton->isEnabled(),
            form.SAButton->isEnabled(),      form.ConvertButton->isEnabled()};
}

// The enabled controls that the rules give for a combination of the boxes.
SwitchState ruled(bool code, bool palette16, bool palette256)
{
    return {code, palette16, palette256, code, palette16 || palette256,
            code || palette16 || palette256};
}

void click(QCheckBox* box)
{
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

TEST_F(MainFormTest, UncheckingTextsThenPalette256DisablesBothDirectionPairsAndConvert)
{
    click(Form().CodeChBox);
    EXPECT_EQ(stateOf(Form()), ruled(false, false, true));
    click(Form().ColorChBox256);
    EXPECT_EQ(stateOf(Form()), ruled(false, false, false));
    EXPECT_FALSE(Form().ConvertButton->isEnabled());

    // Either palette brings back the colour directions and Konverze, not the text directions.
    click(Form().ColorChBox);
    EXPECT_EQ(stateOf(Form()), ruled(false, true, false));
    EXPECT_FALSE(Form().LWButton->isEnabled());
    click(Form().ColorChBox);
    click(Form().ColorChBox256);
    EXPECT_EQ(stateOf(Form()), ruled(false, false, true));
    EXPECT_FALSE(Form().WLButton->isEnabled());
    click(Form().CodeChBox);
    EXPECT_EQ(stateOf(Form()), ruled(true, false, true));
}

TEST_F(MainFormTest, CheckingPalette16UnchecksPalette256AndKeepsColourDirections)
{
    click(Form().ColorChBox);
    EXPECT_TRUE(Form().ColorChBox->isChecked());
    EXPECT_FALSE(Form().ColorChBox256->isChecked());
    EXPECT_TRUE(Form().SAButton->isEnabled());
    EXPECT_TRUE(Form().ASButton->isEnabled());
    click(Form().ColorChBox256);
    EXPECT_FALSE(Form().ColorChBox->isChecked());
    EXPECT_TRUE(Form().ColorChBox256->isChecked());
    EXPECT_TRUE(Form().SAButton->isEnabled());
}

TEST_F(MainFormTest, DisablingDirectionsKeepsTheirValues)
{
    QTest::mouseClick(Form().WLButton, Qt::LeftButton);
    QTest::mouseClick(Form().ASButton, Qt::LeftButton);
    click(Form().CodeChBox);
    click(Form().ColorChBox256);
    EXPECT_FALSE(Form().WLButton->isEnabled());
    EXPECT_TRUE(Form().WLButton->isChecked());
    EXPECT_TRUE(Form().ASButton->isChecked());
    const ConversionSwitches switches = Form().Switches();
    EXPECT_FALSE(switches.recodeTexts);
    EXPECT_EQ(switches.textDirection, "wl");  // still read for the code-page header
    EXPECT_FALSE(switches.renumberColours());
    EXPECT_EQ(switches.colourDirection, "as");
}

// Unchecking the other palette box from a handler runs that box's handler too.
class RecordingMainForm : public TMainForm {
public:
    RecordingMainForm() : TMainForm(SystemFileSystem()) {}

    std::vector<std::string> calls;
    int depth = 0;

    void CodeChBoxClick() override { record("CodeChBoxClick", [this] { TMainForm::CodeChBoxClick(); }); }
    void ColorChBoxClick() override { record("ColorChBoxClick", [this] { TMainForm::ColorChBoxClick(); }); }
    void ColorChBox256Click() override
    {
        record("ColorChBox256Click", [this] { TMainForm::ColorChBox256Click(); });
    }

private:
    template <typename F>
    void record(const char* name, F&& base)
    {
        calls.push_back(std::string(static_cast<std::size_t>(depth) * 2, ' ') + name);
        ++depth;
        base();
        --depth;
    }
};

TEST(MainFormHandlers, CheckingOnePaletteRunsTheOthersHandlerNestedWithTheSameOutcome)
{
    RecordingMainForm form;
    click(form.ColorChBox);
    EXPECT_EQ(form.calls, (std::vector<std::string>{"ColorChBoxClick", "  ColorChBox256Click"}));
    EXPECT_EQ(stateOf(form), ruled(true, true, false));

    form.calls.clear();
    click(form.ColorChBox256);
    EXPECT_EQ(form.calls, (std::vector<std::string>{"ColorChBox256Click", "  ColorChBoxClick"}));
    EXPECT_EQ(stateOf(form), ruled(true, false, true));

    form.calls.clear();
    click(form.ColorChBox256);  // unchecking touches nothing else
    EXPECT_EQ(form.calls, (std::vector<std::string>{"ColorChBox256Click"}));
    click(form.CodeChBox);
    EXPECT_EQ(form.calls, (std::vector<std::string>{"ColorChBox256Click", "CodeChBoxClick"}));
}

}  // namespace
}  // namespace dxfkonv
