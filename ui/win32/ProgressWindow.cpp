#include "ui/win32/ProgressWindow.h"

#include "ui/win32/Dpi.h"
#include "ui/win32/Forms.h"
#include "engine/platform/win32/Utf16.h"

namespace dxfkonv::win32 {

namespace {

constexpr wchar_t kClassName[] = L"DxfkonvPBarForm";
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;
constexpr RECT kPanel{8, 8, 313, 41};  // left, top, width, height
constexpr RECT kGauge{16, 16, 297, 25};

RECT scaled(const RECT& r, UINT dpi)
{
    return ScaledRect(r.left, r.top, r.right, r.bottom, dpi);
}

}  // namespace

void PaintWaiting()
{
    // The window system's own news (a window mapped, moved, exposed) comes
    // with the sent and posted messages; the user's input stays queued.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE | PM_QS_POSTMESSAGE))
        DispatchMessageW(&msg);
}

ProgressWindow::ProgressWindow(HWND owner)
{
    RegisterFormClass(kClassName, &ProgressWindow::Procedure);
    fDpi = owner ? WindowDpi(owner) : SystemDpi();
    const SIZE outer = OuterSize(kClientWidth, kClientHeight, kStyle, kExStyle, fDpi);
    fWindow = CreateWindowExW(kExStyle, kClassName, L"PBarForm", kStyle, Scaled(200, fDpi), Scaled(112, fDpi),
                              outer.cx, outer.cy, owner, nullptr, GetModuleHandleW(nullptr), this);
    fGauge = std::make_unique<GaugeControl>(fWindow, scaled(kGauge, fDpi));
    ScaleTo(WindowDpi(fWindow));
}

ProgressWindow::~ProgressWindow()
{
    if (fWindow)
        DestroyWindow(fWindow);
    if (fGaugeFont)
        DeleteObject(fGaugeFont);
}

void ProgressWindow::ScaleTo(UINT dpi)
{
    fDpi = dpi;
    if (fGaugeFont)
        DeleteObject(fGaugeFont);
    fGaugeFont = MakeFormFont(dpi, true);
    fGauge->SetFont(fGaugeFont);
    const RECT gauge = scaled(kGauge, dpi);
    MoveWindow(fGauge->Handle(), gauge.left, gauge.top, gauge.right - gauge.left, gauge.bottom - gauge.top, TRUE);
}

void ProgressWindow::SetCaption(const std::string& caption)
{
    SetWindowTextW(fWindow, WideLoosely(caption).c_str());
}

void ProgressWindow::SetGauge(int value)
{
    fGauge->SetProgress(value);
    PaintWaiting();
}

void ProgressWindow::ShowDrawn()
{
    ShowWindow(fWindow, SW_SHOW);
    SetWindowPos(fWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    RedrawWindow(fWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PaintWaiting();
}

void ProgressWindow::Hide()
{
    ShowWindow(fWindow, SW_HIDE);
    PaintWaiting();  // what was beneath it
}

LRESULT CALLBACK ProgressWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->fWindow)
        return DefWindowProcW(window, message, wParam, lParam);
    return self->Handle(message, wParam, lParam);
}

LRESULT ProgressWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        Hide();  // the close box only hides it
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(fWindow, &paint);
        DrawPanel(dc, scaled(kPanel, fDpi));
        EndPaint(fWindow, &paint);
        return 0;
    }
    case WM_DPICHANGED: {
        ScaleTo(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(fWindow, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(fWindow, nullptr, TRUE);
        return 0;
    }
    default:
        return DefWindowProcW(fWindow, message, wParam, lParam);
    }
}

}  // namespace dxfkonv::win32
