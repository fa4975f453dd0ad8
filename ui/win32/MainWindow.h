// The main window: file choice, the conversion switches, "Konverze" and
// "Konec", with the system's own controls. A view over MainFormLogic,
// which holds the switches' rules and the batch: the window creates the
// controls, forwards their notifications there and answers the logic's
// questions about them.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/logic/MainFormLogic.h"
#include "ui/win32/FileControls.h"

namespace dxfkonv::win32 {

class ProgressWindow;

class MainWindow : public MainFormView {
public:
    static constexpr int kClientWidth = 382;
    static constexpr int kClientHeight = 467;

    // The controls, by their command identifiers; the order is the tab order.
    enum ControlId : int {
        kLabel1 = 100, kLabel3, kFileBox, kDirectoryBox, kDriveBox,
        kWLButton, kLWButton, kCodeChBox,
        kExitButton, kConvertButton,
        kOldChBox,
        kASButton, kSAButton, kColorChBox, kColorChBox256,
        kLabel5,
    };

    // Created hidden, centred on the screen, in the process's current
    // directory, the switches in their start states; its files are found,
    // listed and converted through `fs`.
    explicit MainWindow(FileSystem& fs);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    HWND Handle() const { return fWindow; }
    HWND Control(int id) const { return GetDlgItem(fWindow, id); }
    MainFormLogic& Logic() { return fLogic; }

    // The progress window the batch shows.
    void SetProgressWindow(ProgressWindow* progress);

    // Drawings and folders handed to the window, full paths (dropped on it,
    // WM_DROPFILES, or named on the command line): see MainFormLogic::HandOver.
    void HandOver(const std::vector<std::string>& paths);

    // Takes the keys that move between controls (Tab, arrows); true when
    // the message was handled so.
    bool HandleDialogKeys(MSG& msg);

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

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void ScaleTo(UINT dpi);
    void Command(int id, int code);
    void Paint();
    void FilesDropped(HDROP drop);
    HWND ControlOf(MainControl control) const;
    void RunClickHandler(MainControl control);

    HWND fWindow = nullptr;
    UINT fDpi = 96;
    HFONT fFont = nullptr;
    HBITMAP fLogo = nullptr;
    HWND fFocus = nullptr;  // the control that had the focus when the window lost it
    std::unique_ptr<FileList> fFiles;
    std::unique_ptr<DirectoryList> fDirectories;
    std::unique_ptr<DriveBox> fDrives;
    FileSystem& fFs;
    MainFormLogic fLogic{*this, fFs};
    bool fCloseRequested = false;
};

}  // namespace dxfkonv::win32
