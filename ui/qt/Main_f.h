// The main window: file choice, the conversion switches, "Konverze" and
// "Konec". A view over MainFormLogic, which holds the switches' rules and
// the batch: the window builds the controls, forwards their events there
// and answers the logic's questions about them.
#pragma once

#include <QByteArray>
#include <QCheckBox>
#include <QList>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>

#include <string>

#include "engine/replace/Convert.h"
#include "engine/rules/Switches.h"
#include "ui/qt/FileControls.h"
#include "ui/qt/PBar_f.h"
#include "ui/logic/MainFormLogic.h"

class QAbstractButton;

namespace dxfkonv {

class TMainForm : public QWidget, public MainFormView {
    Q_OBJECT

public:
    static constexpr int kClientWidth = 382;
    static constexpr int kClientHeight = 467;

    // Its files are found, listed and converted through `fs`.
    explicit TMainForm(FileSystem& fs, QWidget* parent = nullptr);

    // The progress window the batch shows; start-up creates it after this one.
    void SetPBarForm(TPBarForm* form) { fLogic.SetPBarForm(form); }

    // The switches as the controls stand now.
    ConversionSwitches Switches() const;

    // Drawings and folders handed to the window, absolute paths as stored
    // (dropped on it, or named on the command line): see MainFormLogic::HandOver.
    void HandOver(const QList<QByteArray>& paths);

    // Converts one file of the directory list's directory with the switches
    // of the moment, the progress window's gauge following it, and says
    // what it changed (the batch shows no counts; a file not found or met
    // before in the batch is passed over, as the report says). Failures are
    // thrown as IoError.
    PassReport Convert(const std::string& fileName);
    unsigned char ConvertChar(const TextDirection& direction, unsigned char c) const;
    int ConvertColor(const ColourDirection& direction, int colour, bool palette16) const;

    QFrame* Panel1;
    QLabel* Label1;
    QLabel* Label3;
    TFileListBox* FileBox;
    TDirectoryListBox* DirectoryBox;
    TDriveComboBox* DriveBox;

    QFrame* Panel2;
    QCheckBox* CodeChBox;
    QRadioButton* LWButton;
    QRadioButton* WLButton;

    QFrame* Panel5;
    QCheckBox* ColorChBox;
    QCheckBox* ColorChBox256;
    QRadioButton* SAButton;
    QRadioButton* ASButton;

    QFrame* Panel4;
    QCheckBox* OldChBox;

    QFrame* Panel3;
    QPushButton* ConvertButton;
    QPushButton* ExitButton;

    QLabel* Image1;
    QLabel* Label5;

public slots:
    virtual void FormCreate();
    virtual void CodeChBoxClick();
    virtual void ColorChBoxClick();
    virtual void ColorChBox256Click();
    // Converts every selected file in list order. Catches nothing: an I/O
    // error stops the batch and goes on to the application's handler.
    virtual void ConvertButtonClick();
    virtual void ExitButtonClick();

public:
    // MainFormView
    bool Checked(MainControl control) const override;
    void SetChecked(MainControl control, bool checked) override;
    void SetEnabled(MainControl control, bool enabled) override;
    int FileCount() const override;
    bool FileSelected(int index) const override;
    std::string FileText(int index) const override;
    std::string FileName(int index) const override;
    void DeselectFile(int index) override;
    std::string Directory() const override;
    void ShowDirectory(const std::string& directory) override;
    void SelectFile(int index) override;
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& question) override;
    void BatchEnded() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Files and folders of the file manager's, dropped anywhere on the window.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QAbstractButton* Button(MainControl control) const;
    void CentreOnScreen();
    void createControls();
    void connectHandlers();

    FileSystem& fFs;
    MainFormLogic fLogic{*this, fFs};
    bool fCloseRequested = false;
    bool fPlaced = false;
};

}  // namespace dxfkonv
