// Scaling to the screen: every position and size of the windows is given
// at 96 dots per inch and scaled to the monitor the window is on. The
// calls that newer Windows versions have are looked up at run time, so the
// program still starts where they are missing.
#pragma once

#include <windows.h>

namespace dxfkonv::win32 {

// Asks to be told of each monitor's own scale (per-monitor, version 2 where
// the system has it). The manifest asks for the same; this is for a
// program started without it.
void UsePerMonitorDpi();

// The dots per inch of the window's monitor; the system's where the window
// cannot say.
UINT WindowDpi(HWND window);
UINT SystemDpi();

// A length at 96 dpi, scaled.
inline int Scaled(int length, UINT dpi)
{
    return MulDiv(length, static_cast<int>(dpi), 96);
}

// The window's size for a client area of width × height (at 96 dpi) with
// the given styles, at `dpi`.
SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, UINT dpi);

// The program's font, "MS Sans Serif" at 8 points, at `dpi`; the system
// maps the name to the TrueType face it has for it (Microsoft Sans Serif
// on Windows). Without smoothing when `crisp`.
HFONT MakeFormFont(UINT dpi, bool crisp = false);

}  // namespace dxfkonv::win32
