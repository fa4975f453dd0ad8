#include "ui/win32/Forms.h"

#include "ui/win32/Dpi.h"

namespace dxfkonv::win32 {

HBRUSH FormBrush()
{
    static const HBRUSH brush = CreateSolidBrush(kFormColour);
    return brush;
}

RECT ScaledRect(int left, int top, int width, int height, UINT dpi)
{
    const int x = Scaled(left, dpi);
    const int y = Scaled(top, dpi);
    return RECT{x, y, x + Scaled(width, dpi), y + Scaled(height, dpi)};
}

void DrawPanel(HDC dc, const RECT& box)
{
    // Darker and lighter than the gray whatever the system's 3-D colours
    // are, so that the panel reads as lowered into it.
    const auto line = [dc](COLORREF colour, int x0, int y0, int x1, int y1) {
        const RECT r{x0, y0, x1, y1};
        SetBkColor(dc, colour);
        ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
    };
    line(kPanelShadow, box.left, box.top, box.right - 1, box.top + 1);
    line(kPanelShadow, box.left, box.top, box.left + 1, box.bottom - 1);
    line(kPanelLight, box.left, box.bottom - 1, box.right, box.bottom);
    line(kPanelLight, box.right - 1, box.top, box.right, box.bottom);
}

HICON ProgramIcon(int metric)
{
    const int size = GetSystemMetrics(metric);
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

bool RegisterFormClass(const wchar_t* name, WNDPROC procedure)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hIcon = ProgramIcon(SM_CXICON);
    wc.hIconSm = ProgramIcon(SM_CXSMICON);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = FormBrush();
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace dxfkonv::win32
