#include "ui/win32/Dpi.h"

namespace dxfkonv::win32 {

namespace {

// A function of user32 that older systems lack, or null.
template <typename Function>
Function user32(const char* name)
{
    HMODULE module = GetModuleHandleW(L"user32.dll");
    return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace

void UsePerMonitorDpi()
{
    using SetContext = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
    if (const auto set = user32<SetContext>("SetProcessDpiAwarenessContext")) {
        if (set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE))
            return;
        if (GetLastError() == ERROR_ACCESS_DENIED)
            return;  // the manifest has set it already
    }
    SetProcessDPIAware();
}

UINT SystemDpi()
{
    using GetForSystem = UINT(WINAPI*)();
    if (const auto get = user32<GetForSystem>("GetDpiForSystem"))
        return get();
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT WindowDpi(HWND window)
{
    using GetForWindow = UINT(WINAPI*)(HWND);
    if (const auto get = user32<GetForWindow>("GetDpiForWindow")) {
        if (const UINT dpi = get(window))
            return dpi;
    }
    return SystemDpi();
}

SIZE OuterSize(int width, int height, DWORD style, DWORD exStyle, UINT dpi)
{
    RECT rect{0, 0, Scaled(width, dpi), Scaled(height, dpi)};
    using AdjustForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    if (const auto adjust = user32<AdjustForDpi>("AdjustWindowRectExForDpi"))
        adjust(&rect, style, FALSE, exStyle, dpi);
    else
        AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

// A TrueType face is asked for: it scales to any DPI and has the Czech
// letters, where the old bitmap font of that name has neither.
HFONT MakeFormFont(UINT dpi, bool crisp)
{
    return CreateFontW(-MulDiv(8, static_cast<int>(dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS,
                       crisp ? NONANTIALIASED_QUALITY : DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                       L"MS Sans Serif");
}

}  // namespace dxfkonv::win32
