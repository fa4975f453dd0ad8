// What both windows share: their gray, their panels, their window classes.
#pragma once

#include <windows.h>

namespace dxfkonv::win32 {

inline constexpr COLORREF kFormColour = RGB(128, 128, 128);
inline constexpr COLORREF kPanelShadow = RGB(64, 64, 64);
inline constexpr COLORREF kPanelLight = RGB(255, 255, 255);

// The forms' gray brush, made once.
HBRUSH FormBrush();

// A rectangle given at 96 dpi, scaled.
RECT ScaledRect(int left, int top, int width, int height, UINT dpi);

// A panel's lowered bevel around `box`: shadow above and left, light below
// and right, one pixel wide.
void DrawPanel(HDC dc, const RECT& box);

// Registers a window class of the program's with the gray background and
// the program's icon (resource 1); false when that failed.
bool RegisterFormClass(const wchar_t* name, WNDPROC procedure);

// The program's icon (resource 1) at the size the system wants for `metric`
// (SM_CXICON or SM_CXSMICON).
HICON ProgramIcon(int metric);

}  // namespace dxfkonv::win32
