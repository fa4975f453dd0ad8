#include "ui/win32/MainWindow.h"

#include <commctrl.h>
#include <shellapi.h>

#include <iterator>

#include "ui/win32/Dpi.h"
#include "ui/win32/Forms.h"
#include "ui/win32/MessageBoxes.h"
#include "ui/win32/ProgressWindow.h"
#include "engine/platform/win32/Utf16.h"

#ifndef DXFKONV_VERSION
#define DXFKONV_VERSION ""
#endif

namespace dxfkonv::win32 {

namespace {

constexpr wchar_t kClassName[] = L"DxfkonvMainForm";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = 0;
constexpr int kLogoResource = 2;
constexpr int kDriveListHeight = 160;  // the drive selector's list when it drops down

// Where each control stands in the client area at 96 dpi (its panel's
// corner plus its place in the panel); a label with no width is as wide
// and high as its text. In tab order: the panels in theirs, the controls
// of each panel in theirs. Every control starts a group of its own but
// the second radio button of each pair.
constexpr DWORD kStarts = WS_TABSTOP | WS_GROUP;
constexpr DWORD kLabel = SS_LEFT | SS_NOPREFIX | WS_GROUP;
constexpr DWORD kCheckBox = BS_AUTOCHECKBOX | kStarts;
constexpr struct {
    int id;
    const wchar_t* className;
    const char* caption;
    DWORD style;
    DWORD exStyle;
    int left, top, width, height;
} kControls[] = {
    // Panel1 at 8, 8: the file choice
    {MainWindow::kLabel1, L"STATIC", "Adresář:", kLabel, 0, 16, 18, 0, 0},
    {MainWindow::kLabel3, L"STATIC", "Soubory:", kLabel, 0, 208, 18, 0, 0},
    {MainWindow::kFileBox, L"LISTBOX", "",
     LBS_EXTENDEDSEL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | kStarts, WS_EX_CLIENTEDGE,
     200, 32, 169, 163},
    {MainWindow::kDirectoryBox, L"LISTBOX", "",
     LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | kStarts,
     WS_EX_CLIENTEDGE, 16, 32, 169, 121},
    {MainWindow::kDriveBox, L"COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | kStarts, 0, 16, 176, 169, 19},
    // Panel2 at 8, 216: the texts
    {MainWindow::kWLButton, L"BUTTON", "CP1250 (Windows) -----> Latin II (MS DOS)", BS_AUTORADIOBUTTON | kStarts,
     0, 24, 256, 293, 17},
    {MainWindow::kLWButton, L"BUTTON", "Latin II (MS DOS) -----> CP1250 (Windows)",
     BS_AUTORADIOBUTTON | WS_TABSTOP, 0, 24, 240, 277, 17},
    {MainWindow::kCodeChBox, L"BUTTON", "Konverze češtiny:", kCheckBox, 0, 16, 224, 201, 17},
    // Panel3 at 224, 408: the buttons (none is the default button)
    {MainWindow::kExitButton, L"BUTTON", "Konec", BS_PUSHBUTTON | kStarts, 0, 304, 420, 65, 25},
    {MainWindow::kConvertButton, L"BUTTON", "Konverze", BS_PUSHBUTTON | kStarts, 0, 232, 420, 65, 25},
    // Panel4 at 8, 376: the backup
    {MainWindow::kOldChBox, L"BUTTON", "Zálohovat původní soubor jako jméno_souboru.old", kCheckBox, 0, 16, 380,
     345, 17},
    // Panel5 at 8, 288: the colours
    {MainWindow::kASButton, L"BUTTON", "AutoCAD -----> TARNIX", BS_AUTORADIOBUTTON | kStarts, 0, 24, 344, 293, 17},
    {MainWindow::kSAButton, L"BUTTON", "TARNIX -----> AutoCAD", BS_AUTORADIOBUTTON | WS_TABSTOP, 0, 24, 328, 277,
     17},
    {MainWindow::kColorChBox, L"BUTTON", "Konverze barev - paleta 16", kCheckBox, 0, 16, 296, 313, 17},
    {MainWindow::kColorChBox256, L"BUTTON", "Konverze barev - paleta 256", kCheckBox, 0, 16, 312, 217, 17},
    // under the logo
    {MainWindow::kLabel5, L"STATIC", "dxfkonv " DXFKONV_VERSION, kLabel, 0, 8, 444, 0, 0},
};

// The panels, left, top, width, height.
constexpr RECT kPanels[] = {{8, 8, 369, 201}, {8, 216, 369, 65}, {224, 408, 153, 49}, {8, 376, 369, 25},
                            {8, 288, 369, 81}};
constexpr RECT kLogo{8, 424, 66, 20};

bool isRadioButton(int id)
{
    return id == MainWindow::kLWButton || id == MainWindow::kWLButton || id == MainWindow::kSAButton
           || id == MainWindow::kASButton;
}

int partnerOf(int id)
{
    switch (id) {
    case MainWindow::kLWButton: return MainWindow::kWLButton;
    case MainWindow::kWLButton: return MainWindow::kLWButton;
    case MainWindow::kSAButton: return MainWindow::kASButton;
    case MainWindow::kASButton: return MainWindow::kSAButton;
    default: return 0;
    }
}

SIZE textSize(HWND control, HFONT font)
{
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(control, text.data(), length + 1);
    HDC dc = GetDC(control);
    const HGDIOBJ saved = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), length, &size);
    SelectObject(dc, saved);
    ReleaseDC(control, dc);
    return size;
}

}  // namespace

MainWindow::MainWindow(FileSystem& fs) : fFs(fs)
{
    RegisterFormClass(kClassName, &MainWindow::Procedure);
    fDpi = SystemDpi();
    const SIZE outer = OuterSize(kClientWidth, kClientHeight, kStyle, kExStyle, fDpi);
    const int left = (GetSystemMetrics(SM_CXSCREEN) - outer.cx) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - outer.cy) / 2;
    fWindow = CreateWindowExW(kExStyle, kClassName, WideLoosely("Konverze DXF souborů").c_str(), kStyle, left, top,
                              outer.cx, outer.cy, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    fLogo = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kLogoResource),
                                            IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    CreateControls();

    const UINT dpi = WindowDpi(fWindow);
    if (dpi != fDpi) {  // the monitor the window landed on has a scale of its own
        const SIZE scaled = OuterSize(kClientWidth, kClientHeight, kStyle, kExStyle, dpi);
        SetWindowPos(fWindow, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ScaleTo(dpi);

    fFiles = std::make_unique<FileList>(Control(kFileBox), fFs);
    fDirectories = std::make_unique<DirectoryList>(Control(kDirectoryBox), fFs);
    fDrives = std::make_unique<DriveBox>(Control(kDriveBox), *fDirectories);
    fDirectories->SetFileList(fFiles.get());
    fDirectories->onChanged = [this](const std::string& directory) { fDrives->DirectoryShown(directory); };
    fDirectories->SetDirectory(CurrentDirectory());
    fDrives->Refresh();

    fLogic.FormCreate();
    fFocus = Control(kFileBox);
    DragAcceptFiles(fWindow, TRUE);
}

MainWindow::~MainWindow()
{
    if (fWindow && IsWindow(fWindow))
        DestroyWindow(fWindow);
    if (fFont)
        DeleteObject(fFont);
    if (fLogo)
        DeleteObject(fLogo);
}

void MainWindow::CreateControls()
{
    for (const auto& control : kControls) {
        CreateWindowExW(control.exStyle, control.className, WideLoosely(control.caption).c_str(),
                        WS_CHILD | WS_VISIBLE | control.style, 0, 0, 0, 0, fWindow,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)), GetModuleHandleW(nullptr),
                        nullptr);
    }
}

// Places every control at `dpi`, with the font at that size.
void MainWindow::ScaleTo(UINT dpi)
{
    fDpi = dpi;
    HFONT old = fFont;
    fFont = MakeFormFont(dpi);
    for (const auto& control : kControls) {
        HWND child = Control(control.id);
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(fFont), FALSE);
        RECT at = ScaledRect(control.left, control.top, control.width, control.height, dpi);
        if (control.width == 0) {
            const SIZE text = textSize(child, fFont);
            at.right = at.left + text.cx;
            at.bottom = at.top + text.cy;
        }
        if (control.id == kDriveBox)
            at.bottom += Scaled(kDriveListHeight, dpi);
        MoveWindow(child, at.left, at.top, at.right - at.left, at.bottom - at.top, FALSE);
    }
    SendMessageW(Control(kFileBox), LB_SETITEMHEIGHT, 0, Scaled(13, dpi));
    SendMessageW(Control(kDirectoryBox), LB_SETITEMHEIGHT, 0, Scaled(16, dpi));
    // The selector's own field: 19 high with its border, as its list's items.
    HWND drives = Control(kDriveBox);
    SendMessageW(drives, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), Scaled(19, dpi) - 6);
    SendMessageW(drives, CB_SETITEMHEIGHT, 0, Scaled(13, dpi));
    if (old)
        DeleteObject(old);
    InvalidateRect(fWindow, nullptr, TRUE);
}

void MainWindow::SetProgressWindow(ProgressWindow* progress)
{
    fLogic.SetPBarForm(progress);
}

bool MainWindow::HandleDialogKeys(MSG& msg)
{
    return IsDialogMessageW(fWindow, &msg) != 0;
}

void MainWindow::HandOver(const std::vector<std::string>& paths)
{
    RunHandler(fWindow, [&] { fLogic.HandOver(paths); });
}

// The files and folders dropped from Explorer, in the order it gives them.
void MainWindow::FilesDropped(HDROP drop)
{
    std::vector<std::string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        if (!path.empty())
            paths.push_back(Utf8(path));
    }
    DragFinish(drop);
    fLogic.HandOver(paths);
}

HWND MainWindow::ControlOf(MainControl control) const
{
    switch (control) {
    case MainControl::CodeChBox: return Control(kCodeChBox);
    case MainControl::LWButton: return Control(kLWButton);
    case MainControl::WLButton: return Control(kWLButton);
    case MainControl::ColorChBox: return Control(kColorChBox);
    case MainControl::ColorChBox256: return Control(kColorChBox256);
    case MainControl::SAButton: return Control(kSAButton);
    case MainControl::ASButton: return Control(kASButton);
    case MainControl::OldChBox: return Control(kOldChBox);
    case MainControl::ConvertButton: return Control(kConvertButton);
    }
    return nullptr;
}

bool MainWindow::Checked(MainControl control) const
{
    return SendMessageW(ControlOf(control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// As a click would: a check box's handler runs on its change, a radio
// button checked unchecks its partner.
void MainWindow::SetChecked(MainControl control, bool checked)
{
    if (Checked(control) == checked)
        return;
    HWND button = ControlOf(control);
    SendMessageW(button, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    const int id = GetDlgCtrlID(button);
    if (isRadioButton(id)) {
        if (checked)
            SendMessageW(Control(partnerOf(id)), BM_SETCHECK, BST_UNCHECKED, 0);
        return;
    }
    RunClickHandler(control);
}

void MainWindow::RunClickHandler(MainControl control)
{
    switch (control) {
    case MainControl::CodeChBox: fLogic.CodeChBoxClick(); break;
    case MainControl::ColorChBox: fLogic.ColorChBoxClick(); break;
    case MainControl::ColorChBox256: fLogic.ColorChBox256Click(); break;
    default: break;
    }
}

void MainWindow::SetEnabled(MainControl control, bool enabled)
{
    EnableWindow(ControlOf(control), enabled);
}

int MainWindow::FileCount() const
{
    return fFiles->Count();
}

bool MainWindow::FileSelected(int index) const
{
    return fFiles->Selected(index);
}

std::string MainWindow::FileText(int index) const
{
    return fFiles->Text(index);
}

std::string MainWindow::FileName(int index) const
{
    return fFiles->FileName(index);
}

void MainWindow::DeselectFile(int index)
{
    fFiles->Deselect(index);
}

std::string MainWindow::Directory() const
{
    return fDirectories->Directory();
}

void MainWindow::ShowDirectory(const std::string& directory)
{
    fDirectories->SetDirectory(directory);
}

void MainWindow::SelectFile(int index)
{
    fFiles->Select(index);
}

void MainWindow::ShowMessage(const std::string& text)
{
    ShowErrorBox(fWindow, text);
}

bool MainWindow::AskYesNo(const std::string& question)
{
    return win32::AskYesNo(fWindow, question);
}

// A close asked for while the batch ran waited for its end.
void MainWindow::BatchEnded()
{
    if (fCloseRequested)
        PostMessageW(fWindow, WM_CLOSE, 0, 0);
}

void MainWindow::Command(int id, int code)
{
    switch (id) {
    case kCodeChBox:
    case kColorChBox:
    case kColorChBox256:
        if (code == BN_CLICKED)
            RunClickHandler(id == kCodeChBox ? MainControl::CodeChBox
                            : id == kColorChBox ? MainControl::ColorChBox
                                                : MainControl::ColorChBox256);
        break;
    case kConvertButton:
        if (code == BN_CLICKED)
            fLogic.ConvertButtonClick();
        break;
    case kExitButton:
        if (code == BN_CLICKED)
            PostMessageW(fWindow, WM_CLOSE, 0, 0);
        break;
    case kDirectoryBox:
        if (code == LBN_DBLCLK)
            fDirectories->OpenEntry(static_cast<int>(SendMessageW(Control(kDirectoryBox), LB_GETCURSEL, 0, 0)));
        break;
    case kDriveBox:
        if (code == CBN_DROPDOWN)
            fDrives->Refresh();
        else if (code == CBN_SELCHANGE)
            fDrives->SelectionMade(false);
        else if (code == CBN_SELENDOK || code == CBN_CLOSEUP)
            fDrives->SelectionMade(true);
        break;
    default:
        break;
    }
}

void MainWindow::Paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(fWindow, &paint);
    for (const RECT& panel : kPanels)
        DrawPanel(dc, ScaledRect(panel.left, panel.top, panel.right, panel.bottom, fDpi));
    if (fLogo) {
        BITMAP info{};
        GetObjectW(fLogo, sizeof info, &info);
        HDC source = CreateCompatibleDC(dc);
        const HGDIOBJ saved = SelectObject(source, fLogo);
        const RECT at = ScaledRect(kLogo.left, kLogo.top, kLogo.right, kLogo.bottom, fDpi);
        const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
        AlphaBlend(dc, at.left, at.top, at.right - at.left, at.bottom - at.top, source, 0, 0, info.bmWidth,
                   info.bmHeight, blend);
        SelectObject(source, saved);
        DeleteDC(source);
    }
    EndPaint(fWindow, &paint);
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->fWindow = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    // Nothing thrown may cross the system's code: what a handler throws
    // goes to the default handler here.
    RunHandler(window, [&] { result = self->Handle(message, wParam, lParam); });
    return result;
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    const HWND window = fWindow;
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0)
            Command(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC: {
        // Radio buttons stand on the button face colour, the rest on the gray.
        const auto dc = reinterpret_cast<HDC>(wParam);
        const bool radio = isRadioButton(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
        SetBkColor(dc, radio ? GetSysColor(COLOR_BTNFACE) : kFormColour);
        return reinterpret_cast<LRESULT>(radio ? GetSysColorBrush(COLOR_BTNFACE) : FormBrush());
    }
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlID == kDirectoryBox) {
            item->itemHeight = static_cast<UINT>(Scaled(16, fDpi));
            return TRUE;
        }
        break;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID == kDirectoryBox && fDirectories) {
            fDirectories->Draw(*item, fDpi);
            return TRUE;
        }
        break;
    }
    case WM_PAINT:
        Paint();
        return 0;
    case WM_DROPFILES:
        FilesDropped(reinterpret_cast<HDROP>(wParam));
        return 0;
    case WM_ACTIVATE:
        // The focus leaves with the window and comes back where it was.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(fWindow, focus))
                fFocus = focus;
        } else if (!HIWORD(wParam)) {
            SetFocus(fFocus && IsWindowEnabled(fFocus) ? fFocus : Control(kFileBox));
            return 0;
        }
        break;
    case WM_DPICHANGED: {
        ScaleTo(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(fWindow, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        if (fLogic.Converting()) {
            fCloseRequested = true;
            return 0;
        }
        fCloseRequested = false;
        DestroyWindow(fWindow);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(fWindow, GWLP_USERDATA, 0);
        fWindow = nullptr;
        break;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace dxfkonv::win32
