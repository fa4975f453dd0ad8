#include "ui/Main_f.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstddef>
#include <iterator>

#include "engine/rules/ColourRenumbering.h"
#include "engine/replace/Convert.h"
#include "engine/rules/TextRecoding.h"
#include "ui/Application.h"
#include "ui/Artwork.h"
#include "ui/Forms.h"

#ifndef DXFKONV_VERSION
#define DXFKONV_VERSION ""
#endif

namespace dxfkonv {

namespace {

template <typename Control>
Control* place(Control* control, const char* name, const QRect& geometry)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

QLabel* placeLabel(QWidget* parent, const char* name, const QPoint& at, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(at);
    label->adjustSize();
    return label;
}

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QRect& geometry,
                        const QString& caption, bool checked)
{
    auto* box = place(new QCheckBox(caption, parent), name, geometry);
    box->setChecked(checked);
    return box;
}

QRadioButton* makeRadioButton(QWidget* parent, const char* name, const QRect& geometry,
                              const QString& caption, bool checked)
{
    auto* button = place(new QRadioButton(caption, parent), name, geometry);
    button->setChecked(checked);
    // Radio buttons stand on the button face colour, not the gray.
    QPalette palette = button->palette();
    palette.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    button->setPalette(palette);
    button->setAutoFillBackground(true);
    return button;
}

QPushButton* makePushButton(QWidget* parent, const char* name, const QRect& geometry,
                            const QString& caption)
{
    auto* button = place(new QPushButton(caption, parent), name, geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                          | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Konverze DXF souborů"));
    setWindowIcon(AppIcon());
    StyleForm(this);
    setFixedSize(kClientWidth, kClientHeight);
    CentreOnScreen();
    createControls();
    connectHandlers();
    FormCreate();
}

void TMainForm::createControls()
{
    // File choice
    Panel1 = MakePanel(this, "Panel1", QRect(8, 8, 369, 201));
    Label1 = placeLabel(Panel1, "Label1", QPoint(8, 10), QStringLiteral("Adresář:"));
    Label3 = placeLabel(Panel1, "Label3", QPoint(200, 10), QStringLiteral("Soubory:"));
    FileBox = place(new TFileListBox(Panel1), "FileBox", QRect(192, 24, 169, 163));
    DirectoryBox = place(new TDirectoryListBox(Panel1), "DirectoryBox", QRect(8, 24, 169, 121));
    DriveBox = place(new TDriveComboBox(Panel1), "DriveBox", QRect(8, 168, 169, 19));
    DirectoryBox->SetFileList(FileBox);
    DirectoryBox->SetDirectory(CurrentDirectory());
    DriveBox->Refresh();
    DriveBox->SetDirList(DirectoryBox);

    // Texts
    Panel2 = MakePanel(this, "Panel2", QRect(8, 216, 369, 65));
    CodeChBox = makeCheckBox(Panel2, "CodeChBox", QRect(8, 8, 201, 17),
                             QStringLiteral("Konverze češtiny:"), true);
    LWButton = makeRadioButton(Panel2, "LWButton", QRect(16, 24, 277, 17),
                               QStringLiteral("Latin II (MS DOS) -----> CP1250 (Windows)"), true);
    WLButton = makeRadioButton(Panel2, "WLButton", QRect(16, 40, 293, 17),
                               QStringLiteral("CP1250 (Windows) -----> Latin II (MS DOS)"), false);

    // Colours
    Panel5 = MakePanel(this, "Panel5", QRect(8, 288, 369, 81));
    ColorChBox = makeCheckBox(Panel5, "ColorChBox", QRect(8, 8, 313, 17),
                              QStringLiteral("Konverze barev - paleta 16"), false);
    ColorChBox256 = makeCheckBox(Panel5, "ColorChBox256", QRect(8, 24, 217, 17),
                                 QStringLiteral("Konverze barev - paleta 256"), true);
    SAButton = makeRadioButton(Panel5, "SAButton", QRect(16, 40, 277, 17),
                               QStringLiteral("TARNIX -----> AutoCAD"), true);
    ASButton = makeRadioButton(Panel5, "ASButton", QRect(16, 56, 293, 17),
                               QStringLiteral("AutoCAD -----> TARNIX"), false);

    // Backup
    Panel4 = MakePanel(this, "Panel4", QRect(8, 376, 369, 25));
    OldChBox = makeCheckBox(Panel4, "OldChBox", QRect(8, 4, 345, 17),
                            QStringLiteral("Zálohovat původní soubor jako jméno_souboru.old"), true);

    // Buttons
    Panel3 = MakePanel(this, "Panel3", QRect(224, 408, 153, 49));
    ConvertButton = makePushButton(Panel3, "ConvertButton", QRect(8, 12, 65, 25),
                                   QStringLiteral("Konverze"));
    ExitButton = makePushButton(Panel3, "ExitButton", QRect(80, 12, 65, 25), QStringLiteral("Konec"));

    // The logo with its line
    Image1 = place(new QLabel(this), "Image1", QRect(8, 424, 66, 20));
    Image1->setPixmap(QPixmap::fromImage(DrawLogo()));
    Label5 = placeLabel(this, "Label5", QPoint(8, 444),
                        QStringLiteral("dxfkonv %1").arg(QStringLiteral(DXFKONV_VERSION)));

    // Tab order: the panels in their order, the controls of each panel in theirs.
    QWidget* const tabOrder[] = {
        FileBox,  DirectoryBox, DriveBox,                  // Panel1
        WLButton, LWButton,     CodeChBox,                 // Panel2
        ExitButton, ConvertButton,                         // Panel3
        OldChBox,                                          // Panel4
        ASButton, SAButton,     ColorChBox, ColorChBox256  // Panel5
    };
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    FileBox->setFocus();
}

void TMainForm::connectHandlers()
{
    // A check box's handler runs on every change of its state, a change
    // made by another handler included.
    const auto onToggle = [this](QCheckBox* box, void (TMainForm::*handler)()) {
        connect(box, &QCheckBox::toggled, this, [this, handler] { RunHandler([&] { (this->*handler)(); }); });
    };
    onToggle(CodeChBox, &TMainForm::CodeChBoxClick);
    onToggle(ColorChBox, &TMainForm::ColorChBoxClick);
    onToggle(ColorChBox256, &TMainForm::ColorChBox256Click);
    connect(ConvertButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { ConvertButtonClick(); }); });
    connect(ExitButton, &QPushButton::clicked, this,
            [this] { RunHandler([this] { ExitButtonClick(); }); });
}

ConversionSwitches TMainForm::Switches() const
{
    ConversionSwitches switches;
    switches.recodeTexts = CodeChBox->isChecked();
    switches.textDirection = LWButton->isChecked() ? kLatinToWindows : kWindowsToLatin;
    switches.palette16 = ColorChBox->isChecked();
    switches.palette256 = ColorChBox256->isChecked();
    switches.colourDirection = SAButton->isChecked() ? kTarnixToAutocad : kAutocadToTarnix;
    switches.keepBackup = OldChBox->isChecked();
    return switches;
}

PassReport TMainForm::Convert(const std::string& fileName)
{
    ProgressSink progress;
    if (fPBarForm)
        progress = [gauge = fPBarForm->Gauge1](int percent) { gauge->SetProgress(percent); };
    return dxfkonv::Convert(DirectoryBox->Directory().toStdString(), fileName, Switches(), progress, SystemFileSystem(),
                            &fBatch);
}

unsigned char TMainForm::ConvertChar(const TextDirection& direction, unsigned char c) const
{
    return dxfkonv::ConvertChar(direction, c);
}

int TMainForm::ConvertColor(const ColourDirection& direction, int colour, bool palette16) const
{
    return dxfkonv::ConvertColor(direction, colour, palette16);
}

void TMainForm::FormCreate() {}

void TMainForm::CodeChBoxClick()
{
    if (CodeChBox->isChecked()) {
        LWButton->setEnabled(true);
        WLButton->setEnabled(true);
        ConvertButton->setEnabled(true);
    } else {
        LWButton->setEnabled(false);
        WLButton->setEnabled(false);
        if (!ColorChBox->isChecked() && !ColorChBox256->isChecked())
            ConvertButton->setEnabled(false);
    }
}

void TMainForm::ColorChBoxClick()
{
    PaletteBoxClicked(ColorChBox, ColorChBox256);
}

void TMainForm::ColorChBox256Click()
{
    PaletteBoxClicked(ColorChBox256, ColorChBox);
}

// The two palette boxes exclude each other; the colour directions, and
// with the text box the "Konverze" button, follow whichever is checked.
void TMainForm::PaletteBoxClicked(QCheckBox* clicked, QCheckBox* other)
{
    if (clicked->isChecked()) {
        other->setChecked(false);
        SAButton->setEnabled(true);
        ASButton->setEnabled(true);
        ConvertButton->setEnabled(true);
    } else if (other->isChecked()) {
        SAButton->setEnabled(true);
        ASButton->setEnabled(true);
    } else {
        SAButton->setEnabled(false);
        ASButton->setEnabled(false);
        if (!CodeChBox->isChecked())
            ConvertButton->setEnabled(false);
    }
}

void TMainForm::ConvertButtonClick()
{
    const int n = FileBox->count();
    if (n == 0)
        return;

    // While the batch runs a request to close the window waits for its end.
    // A file the batch has converted already (under another name, through
    // a link) is passed over and deselected like a file that is not found.
    struct Busy {
        TMainForm& form;
        explicit Busy(TMainForm& f) : form(f)
        {
            form.fConverting = true;
            form.fBatch = {};
        }
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;
        ~Busy()
        {
            form.fBatch.flush();
            form.fConverting = false;
            if (form.fCloseRequested)
                QMetaObject::invokeMethod(&form, &QWidget::close, Qt::QueuedConnection);
        }
    } busy(*this);

    for (int i = 0; i < n; ++i) {
        QListWidgetItem* item = FileBox->item(i);
        if (!item->isSelected())
            continue;
        if (fPBarForm) {
            fPBarForm->setWindowTitle(QStringLiteral("Konvertuje se soubor ") + item->text());
            fPBarForm->Gauge1->SetProgress(0);
            fPBarForm->ShowDrawn();
        }
        Convert(FileBox->FileName(i).toStdString());
        item->setSelected(false);
        if (fPBarForm)
            fPBarForm->hide();
    }
}

void TMainForm::CentreOnScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = frameGeometry().size();  // the client area until the frame is known
    move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

void TMainForm::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!fPlaced) {
        fPlaced = true;
        CentreOnScreen();  // again, now that the frame counts
    }
}

void TMainForm::ExitButtonClick()
{
    close();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (fConverting) {
        fCloseRequested = true;
        event->ignore();
        return;
    }
    fCloseRequested = false;
    QWidget::closeEvent(event);
}

}  // namespace dxfkonv
