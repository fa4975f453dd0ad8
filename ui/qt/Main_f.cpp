#include "ui/qt/Main_f.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <cstddef>
#include <iterator>
#include <string>
#include <vector>

#include "ui/qt/Application.h"
#include "ui/qt/Artwork.h"
#include "ui/qt/Forms.h"

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

// The check boxes and radio buttons get their start states from FormCreate.
// The local files of a drag, as absolute paths in the bytes stored on
// disk: a file URL's path percent-decoded, so that a name which is not
// valid UTF-8 arrives unchanged.
QList<QByteArray> localPaths(const QMimeData* data)
{
    QList<QByteArray> paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && url.host().isEmpty())
            paths.append(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
    }
    return paths;
}

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QRect& geometry, const QString& caption)
{
    return place(new QCheckBox(caption, parent), name, geometry);
}

QRadioButton* makeRadioButton(QWidget* parent, const char* name, const QRect& geometry,
                              const QString& caption)
{
    auto* button = place(new QRadioButton(caption, parent), name, geometry);
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

TMainForm::TMainForm(FileSystem& fs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint
                          | Qt::MSWindowsFixedSizeDialogHint),
      fFs(fs)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Konverze DXF souborů"));
    setWindowIcon(AppIcon());
    StyleForm(this);
    setFixedSize(kClientWidth, kClientHeight);
    setAcceptDrops(true);
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
    FileBox = place(new TFileListBox(fFs, Panel1), "FileBox", QRect(192, 24, 169, 163));
    DirectoryBox = place(new TDirectoryListBox(fFs, Panel1), "DirectoryBox", QRect(8, 24, 169, 121));
    DriveBox = place(new TDriveComboBox(Panel1), "DriveBox", QRect(8, 168, 169, 19));
    DirectoryBox->SetFileList(FileBox);
    DirectoryBox->SetDirectory(CurrentDirectory());
    DriveBox->Refresh();
    DriveBox->SetDirList(DirectoryBox);

    // Texts
    Panel2 = MakePanel(this, "Panel2", QRect(8, 216, 369, 65));
    CodeChBox = makeCheckBox(Panel2, "CodeChBox", QRect(8, 8, 201, 17),
                             QStringLiteral("Konverze češtiny:"));
    LWButton = makeRadioButton(Panel2, "LWButton", QRect(16, 24, 277, 17),
                               QStringLiteral("Latin II (MS DOS) -----> CP1250 (Windows)"));
    WLButton = makeRadioButton(Panel2, "WLButton", QRect(16, 40, 293, 17),
                               QStringLiteral("CP1250 (Windows) -----> Latin II (MS DOS)"));

    // Colours
    Panel5 = MakePanel(this, "Panel5", QRect(8, 288, 369, 81));
    ColorChBox = makeCheckBox(Panel5, "ColorChBox", QRect(8, 8, 313, 17),
                              QStringLiteral("Konverze barev - paleta 16"));
    ColorChBox256 = makeCheckBox(Panel5, "ColorChBox256", QRect(8, 24, 217, 17),
                                 QStringLiteral("Konverze barev - paleta 256"));
    SAButton = makeRadioButton(Panel5, "SAButton", QRect(16, 40, 277, 17),
                               QStringLiteral("TARNIX -----> AutoCAD"));
    ASButton = makeRadioButton(Panel5, "ASButton", QRect(16, 56, 293, 17),
                               QStringLiteral("AutoCAD -----> TARNIX"));

    // Backup
    Panel4 = MakePanel(this, "Panel4", QRect(8, 376, 369, 25));
    OldChBox = makeCheckBox(Panel4, "OldChBox", QRect(8, 4, 345, 17),
                            QStringLiteral("Zálohovat původní soubor jako jméno_souboru.old"));

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
    return fLogic.Switches();
}

PassReport TMainForm::Convert(const std::string& fileName)
{
    return fLogic.Convert(fileName);
}

unsigned char TMainForm::ConvertChar(const TextDirection& direction, unsigned char c) const
{
    return fLogic.ConvertChar(direction, c);
}

int TMainForm::ConvertColor(const ColourDirection& direction, int colour, bool palette16) const
{
    return fLogic.ConvertColor(direction, colour, palette16);
}

void TMainForm::HandOver(const QList<QByteArray>& paths)
{
    std::vector<std::string> handed;
    for (const QByteArray& path : paths)
        handed.emplace_back(path.constData(), static_cast<std::size_t>(path.size()));
    fLogic.HandOver(handed);
}

void TMainForm::FormCreate() { fLogic.FormCreate(); }
void TMainForm::CodeChBoxClick() { fLogic.CodeChBoxClick(); }
void TMainForm::ColorChBoxClick() { fLogic.ColorChBoxClick(); }
void TMainForm::ColorChBox256Click() { fLogic.ColorChBox256Click(); }
void TMainForm::ConvertButtonClick() { fLogic.ConvertButtonClick(); }

QAbstractButton* TMainForm::Button(MainControl control) const
{
    switch (control) {
    case MainControl::CodeChBox: return CodeChBox;
    case MainControl::LWButton: return LWButton;
    case MainControl::WLButton: return WLButton;
    case MainControl::ColorChBox: return ColorChBox;
    case MainControl::ColorChBox256: return ColorChBox256;
    case MainControl::SAButton: return SAButton;
    case MainControl::ASButton: return ASButton;
    case MainControl::OldChBox: return OldChBox;
    case MainControl::ConvertButton: return ConvertButton;
    }
    return nullptr;
}

bool TMainForm::Checked(MainControl control) const
{
    return Button(control)->isChecked();
}

// A check box's change reaches its handler through its toggled signal
// (connectHandlers).
void TMainForm::SetChecked(MainControl control, bool checked)
{
    Button(control)->setChecked(checked);
}

void TMainForm::SetEnabled(MainControl control, bool enabled)
{
    Button(control)->setEnabled(enabled);
}

int TMainForm::FileCount() const
{
    return FileBox->count();
}

bool TMainForm::FileSelected(int index) const
{
    return FileBox->item(index)->isSelected();
}

std::string TMainForm::FileText(int index) const
{
    return FileBox->item(index)->text().toStdString();
}

std::string TMainForm::FileName(int index) const
{
    return FileBox->FileName(index).toStdString();
}

void TMainForm::DeselectFile(int index)
{
    FileBox->item(index)->setSelected(false);
}

std::string TMainForm::Directory() const
{
    return DirectoryBox->Directory().toStdString();
}

void TMainForm::ShowDirectory(const std::string& directory)
{
    DirectoryBox->SetDirectory(QByteArray(directory.data(), static_cast<qsizetype>(directory.size())));
    FileBox->clearSelection();
}

void TMainForm::SelectFile(int index)
{
    FileBox->item(index)->setSelected(true);
}

void TMainForm::ShowMessage(const std::string& text)
{
    ShowErrorBox(QString::fromStdString(text));
}

bool TMainForm::AskYesNo(const std::string& question)
{
    return AskQuestion(QString::fromStdString(question));
}

// A request to close the window while the batch ran waited for its end.
void TMainForm::BatchEnded()
{
    if (fCloseRequested)
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
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

// A batch under way takes no drop: its list is the one it converts.
void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (!fLogic.Converting() && !localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const QList<QByteArray> paths = localPaths(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    // After the drop is over: the file manager that sent it waits till then,
    // and a message box may be shown.
    QMetaObject::invokeMethod(
        this, [this, paths] { RunHandler([&] { HandOver(paths); }); }, Qt::QueuedConnection);
}

void TMainForm::ExitButtonClick()
{
    close();
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (fLogic.Converting()) {
        fCloseRequested = true;
        event->ignore();
        return;
    }
    fCloseRequested = false;
    QWidget::closeEvent(event);
}

}  // namespace dxfkonv
