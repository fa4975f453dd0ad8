#include "ui/win32/FileControls.h"

#include <commctrl.h>
#include <windowsx.h>

#include <iterator>

#include "ui/logic/Messages.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/MessageBoxes.h"
#include "ui/win32/Paths.h"
#include "engine/platform/win32/Utf16.h"

namespace dxfkonv::win32 {

namespace {

constexpr int kIndentPerLevel = 8;
constexpr COLORREF kFolder = RGB(240, 200, 60);
constexpr COLORREF kFolderDark = RGB(180, 140, 20);
constexpr COLORREF kFolderBack = RGB(240, 215, 140);
constexpr COLORREF kSheet = RGB(255, 255, 255);
constexpr COLORREF kInk = RGB(32, 32, 48);

std::wstring textOf(HWND list, int index)
{
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR)
        return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void addString(HWND control, UINT message, const std::string& text)
{
    const std::wstring wide = WideLoosely(text);
    SendMessageW(control, message, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

// A polygon of the 16 × 16 folder picture at (x, y), scaled to `dpi`.
template <std::size_t N>
void polygon(HDC dc, int x, int y, UINT dpi, const POINT (&points)[N], COLORREF fillColour, COLORREF line)
{
    POINT scaled[N];
    for (std::size_t i = 0; i < N; ++i)
        scaled[i] = POINT{x + Scaled(points[i].x, dpi), y + Scaled(points[i].y, dpi)};
    HBRUSH brush = CreateSolidBrush(fillColour);
    HPEN pen = CreatePen(PS_SOLID, 1, line);
    const HGDIOBJ oldBrush = SelectObject(dc, brush);
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    Polygon(dc, scaled, static_cast<int>(N));
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

// The folder pictures: closed for a subdirectory, open for a directory on
// the path, open with a sheet in it for the current one.
void drawFolder(HDC dc, int x, int y, UINT dpi, DirectoryList::EntryKind kind)
{
    using Kind = DirectoryList::EntryKind;
    static constexpr POINT back[] = {{1, 13}, {1, 3}, {6, 3}, {7, 4}, {13, 4}, {13, 13}};
    polygon(dc, x, y, dpi, back, kind == Kind::Subdirectory ? kFolder : kFolderBack, kFolderDark);
    if (kind == Kind::Subdirectory)
        return;
    if (kind == Kind::Current) {
        static constexpr POINT sheet[] = {{4, 1}, {11, 1}, {11, 9}, {4, 9}};
        polygon(dc, x, y, dpi, sheet, kSheet, kInk);
    }
    static constexpr POINT front[] = {{1, 13}, {3, 7}, {15, 7}, {13, 13}};
    polygon(dc, x, y, dpi, front, kFolder, kFolderDark);
}

}  // namespace

// ---------------------------------------------------------------------------

void FileList::SetDirectory(const std::string& directory)
{
    fDirectory = directory;
    Update();
}

void FileList::Update()
{
    SendMessageW(fList, WM_SETREDRAW, FALSE, 0);
    SendMessageW(fList, LB_RESETCONTENT, 0, 0);
    fNames = fDirectory.empty() ? std::vector<std::string>{} : ListDrawings(fDirectory, fFs);
    for (const std::string& name : fNames)
        addString(fList, LB_ADDSTRING, name);
    SendMessageW(fList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(fList, nullptr, TRUE);
}

int FileList::Count() const
{
    return static_cast<int>(SendMessageW(fList, LB_GETCOUNT, 0, 0));
}

bool FileList::Selected(int index) const
{
    return SendMessageW(fList, LB_GETSEL, static_cast<WPARAM>(index), 0) > 0;
}

void FileList::Select(int index)
{
    SendMessageW(fList, LB_SETSEL, TRUE, static_cast<LPARAM>(index));
}

void FileList::Deselect(int index)
{
    SendMessageW(fList, LB_SETSEL, FALSE, static_cast<LPARAM>(index));
}

std::string FileList::Text(int index) const
{
    return Utf8(textOf(fList, index));
}

std::string FileList::FileName(int index) const
{
    return index >= 0 && static_cast<std::size_t>(index) < fNames.size() ? fNames[static_cast<std::size_t>(index)]
                                                                          : std::string();
}

// ---------------------------------------------------------------------------

DirectoryList::DirectoryList(HWND list, FileSystem& fs) : fList(list), fFs(fs)
{
    SetWindowSubclass(fList, &DirectoryList::KeyHook, 1, reinterpret_cast<DWORD_PTR>(this));
}

void DirectoryList::SetDirectory(const std::string& directory)
{
    fDirectory = NormalisePath(directory);
    readEntries();
    if (fFiles)
        fFiles->SetDirectory(fDirectory);
    if (onChanged)
        onChanged(fDirectory);
}

void DirectoryList::readEntries()
{
    fEntries.clear();
    const std::vector<std::string> chain = PathChain(fDirectory);
    for (std::size_t level = 0; level < chain.size(); ++level)
        fEntries.push_back({chain[level], static_cast<int>(level),
                            level + 1 == chain.size() ? EntryKind::Current : EntryKind::Path});
    for (const std::string& sub : ListSubdirectories(fDirectory, fFs))
        fEntries.push_back({JoinPath(fDirectory, sub), static_cast<int>(chain.size()), EntryKind::Subdirectory});

    SendMessageW(fList, WM_SETREDRAW, FALSE, 0);
    SendMessageW(fList, LB_RESETCONTENT, 0, 0);
    for (const Entry& entry : fEntries)
        addString(fList, LB_ADDSTRING, LastComponent(entry.path));
    SendMessageW(fList, LB_SETCURSEL, chain.size() - 1, 0);
    SendMessageW(fList, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(fList, nullptr, TRUE);
}

bool DirectoryList::OpenEntry(int row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= fEntries.size())
        return false;
    const std::string path = fEntries[static_cast<std::size_t>(row)].path;
    if (!CanReadDirectory(path, fFs)) {
        SendMessageW(fList, LB_SETCURSEL, PathChain(fDirectory).size() - 1, 0);
        ShowErrorBox(GetAncestor(fList, GA_ROOT), CannotOpenDirectoryText(path));
        return false;
    }
    SetDirectory(path);
    return true;
}

void DirectoryList::Draw(const DRAWITEMSTRUCT& item, UINT dpi) const
{
    if (item.itemID == static_cast<UINT>(-1))
        return;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    HDC dc = item.hDC;
    const RECT& box = item.rcItem;
    SetBkColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &box, nullptr, 0, nullptr);
    if (item.itemID < fEntries.size()) {
        const Entry& entry = fEntries[item.itemID];
        const int height = box.bottom - box.top;
        const int x = box.left + Scaled(2 + entry.level * kIndentPerLevel, dpi);
        drawFolder(dc, x, box.top + (height - Scaled(16, dpi)) / 2, dpi, entry.kind);
        std::wstring text = textOf(item.hwndItem, static_cast<int>(item.itemID));
        RECT textBox = box;
        textBox.left = x + Scaled(19, dpi);
        DrawTextW(dc, text.data(), static_cast<int>(text.size()), &textBox,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    if (item.itemState & ODS_FOCUS)
        DrawFocusRect(dc, &box);
}

// Enter opens the entry with the focus, as a double-click does; the list
// tells the dialog manager it wants that key.
LRESULT CALLBACK DirectoryList::KeyHook(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR self)
{
    auto* list = reinterpret_cast<DirectoryList*>(self);
    if (message == WM_GETDLGCODE && lParam) {
        const auto* msg = reinterpret_cast<const MSG*>(lParam);
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN)
            return DLGC_WANTMESSAGE | DefSubclassProc(window, message, wParam, lParam);
    }
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        RunHandler(GetAncestor(window, GA_ROOT),
                   [&] { list->OpenEntry(static_cast<int>(SendMessageW(window, LB_GETCURSEL, 0, 0))); });
        return 0;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

// ---------------------------------------------------------------------------

DriveBox::DriveBox(HWND box, DirectoryList& directories) : fBox(box), fDirectories(directories) {}

void DriveBox::Refresh()
{
    fDrives = LogicalDrives();
    SendMessageW(fBox, CB_RESETCONTENT, 0, 0);
    for (const Drive& drive : fDrives)
        addString(fBox, CB_ADDSTRING, DriveCaption(drive));
    selectQuietly(DriveIndexOf(fDrives, fDirectories.Directory()));
}

void DriveBox::SelectionMade(bool listClosed)
{
    const int index = static_cast<int>(SendMessageW(fBox, CB_GETCURSEL, 0, 0));
    if (!listClosed && SendMessageW(fBox, CB_GETDROPPEDSTATE, 0, 0))
        return;  // still choosing
    if (index != DriveIndexOf(fDrives, fDirectories.Directory()))
        ChooseDrive(index);
}

bool DriveBox::ChooseDrive(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= fDrives.size())
        return false;
    const char letter = fDrives[static_cast<std::size_t>(index)].letter;
    std::string target;
    if (const auto last = fLastDirectory.find(letter); last != fLastDirectory.end())
        target = last->second;
    if (target.empty() || !CanReadDirectory(target, fDirectories.Files()))
        target = DriveCurrentDirectory(letter);
    if (!CanReadDirectory(target, fDirectories.Files()))
        target = DriveRoot(letter);
    if (!CanReadDirectory(target, fDirectories.Files())) {
        selectQuietly(DriveIndexOf(fDrives, fDirectories.Directory()));
        ShowErrorBox(GetAncestor(fBox, GA_ROOT), CannotReadVolumeText(DriveRoot(letter)));
        return false;
    }
    fDirectories.SetDirectory(target);
    return true;
}

void DriveBox::DirectoryShown(const std::string& directory)
{
    const int index = DriveIndexOf(fDrives, directory);
    if (index >= 0)
        fLastDirectory[fDrives[static_cast<std::size_t>(index)].letter] = directory;
    selectQuietly(index);
}

void DriveBox::selectQuietly(int index)
{
    SendMessageW(fBox, CB_SETCURSEL, static_cast<WPARAM>(index), 0);  // sends no notification
}

}  // namespace dxfkonv::win32
