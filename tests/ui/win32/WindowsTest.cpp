// The real windows on a display (test-windows-gui.sh runs this under Wine
// on its X server): the controls where they belong, their captions, tab
// order and start states, the switches' rules through real clicks, the
// file choice over a scratch directory, and the progress window.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>

#include "ui/win32/Dpi.h"
#include "ui/win32/FileChoice.h"
#include "ui/win32/MainWindow.h"
#include "ui/win32/Paths.h"
#include "ui/win32/ProgressWindow.h"
#include "engine/platform/win32/Utf16.h"
#include "Scratch.h"

namespace dxfkonv::win32 {
namespace {

using W = MainWindow;

class Win32Windows : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!window.Handle())
            GTEST_SKIP() << "no display to create windows on";
    }

    std::wstring Text(int id) const
    {
        wchar_t text[128] = {};
        GetWindowTextW(window.Control(id), text, 128);
        return text;
    }
    // Where a control stands in the client area, scaled back to 96 dpi.
    RECT Place(int id) const
    {
        RECT r;
        GetWindowRect(window.Control(id), &r);
        MapWindowPoints(nullptr, window.Handle(), reinterpret_cast<POINT*>(&r), 2);
        const UINT dpi = WindowDpi(window.Handle());
        return RECT{MulDiv(r.left, 96, dpi), MulDiv(r.top, 96, dpi), MulDiv(r.right - r.left, 96, dpi),
                    MulDiv(r.bottom - r.top, 96, dpi)};
    }
    void Click(int id) { SendMessageW(window.Control(id), BM_CLICK, 0, 0); }
    bool Checked(int id) const { return SendMessageW(window.Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    bool Enabled(int id) const { return IsWindowEnabled(window.Control(id)) != 0; }

    Scratch scratch{{"PLAN.DXF", "Řez A-A.dxf", "hrad.dxf", "chata.dxf", "poznámky.txt"}, {"archiv"}};
    MainWindow window{SystemFileSystem()};
};

TEST_F(Win32Windows, TheMainWindowHasItsCaptionSizeAndBorder)
{
    wchar_t caption[64] = {};
    GetWindowTextW(window.Handle(), caption, 64);
    EXPECT_STREQ(caption, L"Konverze DXF soubor\u016F");
    RECT client;
    GetClientRect(window.Handle(), &client);
    const UINT dpi = WindowDpi(window.Handle());
    EXPECT_EQ(client.right, Scaled(382, dpi));
    EXPECT_EQ(client.bottom, Scaled(467, dpi));
    const LONG_PTR style = GetWindowLongPtrW(window.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
}

TEST_F(Win32Windows, EachControlAtItsPlaceWithItsCaption)
{
    const struct {
        int id;
        RECT place;  // left, top, width, height in the client area
        const wchar_t* caption;
    } rows[] = {
        {W::kFileBox, {200, 32, 169, 163}, L""},
        {W::kDirectoryBox, {16, 32, 169, 121}, L""},
        {W::kCodeChBox, {16, 224, 201, 17}, L"Konverze \u010De\u0161tiny:"},
        {W::kLWButton, {24, 240, 277, 17}, L"Latin II (MS DOS) -----> CP1250 (Windows)"},
        {W::kWLButton, {24, 256, 293, 17}, L"CP1250 (Windows) -----> Latin II (MS DOS)"},
        {W::kColorChBox, {16, 296, 313, 17}, L"Konverze barev - paleta 16"},
        {W::kColorChBox256, {16, 312, 217, 17}, L"Konverze barev - paleta 256"},
        {W::kSAButton, {24, 328, 277, 17}, L"TARNIX -----> AutoCAD"},
        {W::kASButton, {24, 344, 293, 17}, L"AutoCAD -----> TARNIX"},
        {W::kOldChBox, {16, 380, 345, 17}, L"Z\u00E1lohovat p\u016Fvodn\u00ED soubor jako jm\u00E9no_souboru.old"},
        {W::kConvertButton, {232, 420, 65, 25}, L"Konverze"},
        {W::kExitButton, {304, 420, 65, 25}, L"Konec"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const RECT place = Place(row.id);
        EXPECT_EQ(place.left, row.place.left);
        EXPECT_EQ(place.top, row.place.top);
        EXPECT_EQ(place.right, row.place.right);
        EXPECT_EQ(place.bottom, row.place.bottom);
        EXPECT_EQ(Text(row.id), row.caption);
    }
    EXPECT_EQ(Text(W::kLabel1), L"Adres\u00E1\u0159:");
    EXPECT_EQ(Text(W::kLabel3), L"Soubory:");
    EXPECT_EQ(Place(W::kLabel1).left, 16);
    EXPECT_EQ(Place(W::kLabel1).top, 18);
    EXPECT_EQ(Place(W::kLabel3).left, 208);
    EXPECT_EQ(Place(W::kDriveBox).left, 16);
    EXPECT_EQ(Place(W::kDriveBox).top, 176);
    EXPECT_EQ(Place(W::kDriveBox).right, 169);
    EXPECT_EQ(Place(W::kDriveBox).bottom, 19);  // closed
}

// The panels in their tab order, the controls of each panel in theirs.
// Tab stops at the checked button of a radio pair, as everywhere on
// Windows (the arrows move within the pair), and goes round. (The
// controls' order is their order on top of one another.)
TEST_F(Win32Windows, TabGoesThroughTheControlsInTheirOrder)
{
    std::vector<int> order;
    for (HWND at = GetWindow(window.Handle(), GW_CHILD); at; at = GetWindow(at, GW_HWNDNEXT)) {
        wchar_t className[16] = {};
        GetClassNameW(at, className, 16);
        if (lstrcmpiW(className, L"Static") != 0)  // the labels take no focus
            order.push_back(GetDlgCtrlID(at));
    }
    EXPECT_EQ(order, (std::vector<int>{W::kFileBox, W::kDirectoryBox, W::kDriveBox, W::kWLButton, W::kLWButton,
                                       W::kCodeChBox, W::kExitButton, W::kConvertButton, W::kOldChBox,
                                       W::kASButton, W::kSAButton, W::kColorChBox, W::kColorChBox256}));

    std::vector<int> stops;
    HWND at = window.Control(W::kFileBox);
    for (int i = 0; i < 12; ++i) {
        stops.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(window.Handle(), at, FALSE);
    }
    EXPECT_EQ(stops, (std::vector<int>{W::kFileBox, W::kDirectoryBox, W::kDriveBox, W::kLWButton, W::kCodeChBox,
                                       W::kExitButton, W::kConvertButton, W::kOldChBox, W::kSAButton,
                                       W::kColorChBox, W::kColorChBox256, W::kFileBox}));
    EXPECT_EQ(GetNextDlgGroupItem(window.Handle(), window.Control(W::kLWButton), FALSE), window.Control(W::kWLButton));
    EXPECT_FALSE(GetWindowLongPtrW(window.Control(W::kConvertButton), GWL_STYLE) & BS_DEFPUSHBUTTON);
}

TEST_F(Win32Windows, TheSwitchesStartAsTheyAlwaysDoAndFollowTheirRulesOnClicks)
{
    const struct {
        int clicked;  // 0: none yet
        bool code, lw, wl, color16, color256, sa, old;
        bool textDirections, colourDirections, convert;
    } rows[] = {
        {0, true, true, false, false, true, true, true, true, true, true},
        {W::kWLButton, true, false, true, false, true, true, true, true, true, true},
        {W::kCodeChBox, false, false, true, false, true, true, true, false, true, true},
        {W::kColorChBox256, false, false, true, false, false, true, true, false, false, false},
        {W::kColorChBox, false, false, true, true, false, true, true, false, true, true},
        {W::kColorChBox256, false, false, true, false, true, true, true, false, true, true},
        {W::kCodeChBox, true, false, true, false, true, true, true, true, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.clicked);
        if (row.clicked)
            Click(row.clicked);
        EXPECT_EQ(Checked(W::kCodeChBox), row.code);
        EXPECT_EQ(Checked(W::kLWButton), row.lw);
        EXPECT_EQ(Checked(W::kWLButton), row.wl);
        EXPECT_EQ(Checked(W::kColorChBox), row.color16);
        EXPECT_EQ(Checked(W::kColorChBox256), row.color256);
        EXPECT_EQ(Checked(W::kSAButton), row.sa);
        EXPECT_FALSE(Checked(W::kASButton));
        EXPECT_EQ(Checked(W::kOldChBox), row.old);
        EXPECT_EQ(Enabled(W::kLWButton), row.textDirections);
        EXPECT_EQ(Enabled(W::kWLButton), row.textDirections);
        EXPECT_EQ(Enabled(W::kSAButton), row.colourDirections);
        EXPECT_EQ(Enabled(W::kASButton), row.colourDirections);
        EXPECT_EQ(Enabled(W::kConvertButton), row.convert);
    }
}

TEST_F(Win32Windows, TheFileListHoldsTheDrawingsOfTheCurrentDirectoryInCzechOrder)
{
    EXPECT_EQ(window.Directory(), NormalisePath(scratch.Path()));
    std::vector<std::string> shown;
    for (int i = 0; i < window.FileCount(); ++i) {
        shown.push_back(window.FileText(i));
        EXPECT_EQ(window.FileName(i), window.FileText(i));
        EXPECT_FALSE(window.FileSelected(i));
    }
    std::vector<std::string> expected{"hrad.dxf", "chata.dxf", "PLAN.DXF", "Řez A-A.dxf"};
    if (!scratch.HiddenTakes())  // a file system without DOS attributes under Wine
        expected.push_back("skrytý.dxf");
    EXPECT_EQ(shown, expected);

    HWND list = window.Control(W::kFileBox);
    EXPECT_TRUE(GetWindowLongPtrW(list, GWL_STYLE) & LBS_EXTENDEDSEL);
    EXPECT_EQ(SendMessageW(list, LB_GETITEMHEIGHT, 0, 0), Scaled(13, WindowDpi(window.Handle())));
    SendMessageW(list, LB_SELITEMRANGE, TRUE, MAKELPARAM(1, 2));
    EXPECT_TRUE(window.FileSelected(1));
    EXPECT_TRUE(window.FileSelected(2));
    window.DeselectFile(1);
    EXPECT_FALSE(window.FileSelected(1));
    EXPECT_TRUE(window.FileSelected(2));
}

TEST_F(Win32Windows, TheDirectoryListShowsThePathDownToTheDirectoryThenItsSubdirectories)
{
    HWND list = window.Control(W::kDirectoryBox);
    const std::vector<std::string> chain = PathChain(scratch.Path());
    const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    ASSERT_EQ(count, static_cast<int>(chain.size()) + 1);
    EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), count - 2);
    wchar_t text[MAX_PATH] = {};
    SendMessageW(list, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(Utf8(text), chain.front());
    SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(count - 1), reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L"archiv");

    // Opening it (a double-click) enters it: no drawings there.
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(count - 1), 0);
    SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(W::kDirectoryBox, LBN_DBLCLK),
                 reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(window.Directory(), JoinPath(NormalisePath(scratch.Path()), "archiv"));
    EXPECT_EQ(window.FileCount(), 0);
    EXPECT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), count);
}

// The main window with its messages noted instead of shown.
class NotingWindow : public MainWindow {
public:
    NotingWindow() : MainWindow(SystemFileSystem()) {}
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

// The drawings the file list shows selected.
std::vector<std::string> selected(const MainWindow& window)
{
    std::vector<std::string> names;
    for (int i = 0; i < window.FileCount(); ++i)
        if (window.FileSelected(i))
            names.push_back(window.FileName(i));
    return names;
}

// Sends WM_DROPFILES with `paths` as Explorer hands them over: a DROPFILES
// block of wide, NUL-separated paths, freed by the window (DragFinish).
void dropFiles(HWND window, const std::vector<std::string>& paths)
{
    std::wstring list;
    for (const std::string& path : paths)
        list += Wide(path) + L'\0';
    list += L'\0';
    const std::size_t bytes = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GHND, bytes);
    auto* header = static_cast<DROPFILES*>(GlobalLock(block));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
    GlobalUnlock(block);
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0);
}

TEST_F(Win32Windows, DroppedDrawingsAreSelectedADroppedFolderOpenedOthersNamedInAMessage)
{
    NotingWindow noting;
    EXPECT_TRUE(GetWindowLongPtrW(noting.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    const std::string here = NormalisePath(scratch.Path());
    scratch.Touch("archiv\\půdorys.dxf");

    dropFiles(noting.Handle(), {JoinPath(here, "hrad.dxf"), JoinPath(here, "Řez A-A.dxf")});
    EXPECT_EQ(noting.Directory(), here);
    EXPECT_EQ(selected(noting), (std::vector<std::string>{"hrad.dxf", "Řez A-A.dxf"}));
    EXPECT_TRUE(noting.messages.empty());

    dropFiles(noting.Handle(), {JoinPath(here, "archiv")});
    EXPECT_EQ(noting.Directory(), JoinPath(here, "archiv"));
    EXPECT_EQ(noting.FileCount(), 1);
    EXPECT_TRUE(selected(noting).empty());
    EXPECT_TRUE(noting.messages.empty());

    dropFiles(noting.Handle(), {JoinPath(here, "archiv\\půdorys.dxf"), JoinPath(here, "chata.dxf"),
                                JoinPath(here, "není.dxf")});
    EXPECT_EQ(noting.Directory(), JoinPath(here, "archiv"));
    EXPECT_EQ(selected(noting), std::vector<std::string>{"půdorys.dxf"});
    EXPECT_EQ(noting.messages,
              std::vector<std::string>{"Tyto soubory ani adresáře neexistují:\n\n" + JoinPath(here, "není.dxf")
                                       + "\n\nVýkresy z jiných adresářů nebyly vybrány:\n\n"
                                       + JoinPath(here, "chata.dxf")});
}

TEST_F(Win32Windows, StartedWithPathsTheWindowShowsTheFirstOnesDirectoryWithTheDrawingsSelected)
{
    const std::string here = NormalisePath(scratch.Path());
    const std::vector<std::string> paths =
        CommandLinePaths(L"\"C:\\Program Files\\dxfkonv\\bin\\dxfkonv.exe\" -- PLAN.DXF \"archiv\\..\\chata.dxf\"");
    EXPECT_EQ(paths, (std::vector<std::string>{JoinPath(here, "PLAN.DXF"), JoinPath(here, "chata.dxf")}));
    EXPECT_TRUE(CommandLinePaths(L"dxfkonv.exe").empty());

    NotingWindow noting;
    noting.HandOver(paths);
    EXPECT_EQ(noting.Directory(), here);
    EXPECT_EQ(selected(noting), (std::vector<std::string>{"chata.dxf", "PLAN.DXF"}));
    EXPECT_TRUE(noting.messages.empty());
}

TEST_F(Win32Windows, TheProgressWindowStartsHiddenAndItsCloseBoxOnlyHidesIt)
{
    ProgressWindow progress(window.Handle());
    wchar_t caption[64] = {};
    GetWindowTextW(progress.Handle(), caption, 64);
    EXPECT_STREQ(caption, L"PBarForm");
    EXPECT_FALSE(IsWindowVisible(progress.Handle()));
    RECT client;
    GetClientRect(progress.Handle(), &client);
    const UINT dpi = WindowDpi(progress.Handle());
    EXPECT_EQ(client.right, Scaled(328, dpi));
    EXPECT_EQ(client.bottom, Scaled(57, dpi));
    RECT gauge;
    GetWindowRect(progress.Gauge().Handle(), &gauge);
    MapWindowPoints(nullptr, progress.Handle(), reinterpret_cast<POINT*>(&gauge), 2);
    EXPECT_EQ(gauge.left, Scaled(16, dpi));
    EXPECT_EQ(gauge.top, Scaled(16, dpi));
    EXPECT_EQ(gauge.right - gauge.left, Scaled(297, dpi));
    EXPECT_EQ(gauge.bottom - gauge.top, Scaled(25, dpi));

    progress.SetCaption("Konvertuje se soubor Řez A-A.dxf");
    progress.SetGauge(140);
    EXPECT_EQ(progress.Gauge().Value().PercentDone(), 100);
    progress.ShowDrawn();
    EXPECT_TRUE(IsWindowVisible(progress.Handle()));
    GetWindowTextW(progress.Handle(), caption, 64);
    EXPECT_STREQ(caption, L"Konvertuje se soubor \u0158ez A-A.dxf");
    SendMessageW(progress.Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(progress.Handle()));
    EXPECT_FALSE(IsWindowVisible(progress.Handle()));
}

}  // namespace
}  // namespace dxfkonv::win32
