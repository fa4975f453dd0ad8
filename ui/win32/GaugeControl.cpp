#include "ui/win32/GaugeControl.h"

#include "engine/platform/win32/Utf16.h"

namespace dxfkonv::win32 {

namespace {

constexpr wchar_t kClassName[] = L"DxfkonvGauge";
constexpr COLORREF kBar = RGB(0, 0, 255);
constexpr COLORREF kBackground = RGB(255, 255, 255);
constexpr COLORREF kBorder = RGB(0, 0, 0);

// A memory device context with a bitmap of its own of width × height.
class Canvas {
public:
    Canvas(HDC like, int width, int height)
        : fDc(CreateCompatibleDC(like)), fBitmap(CreateCompatibleBitmap(like, width, height)),
          fSaved(SelectObject(fDc, fBitmap))
    {
    }
    ~Canvas()
    {
        SelectObject(fDc, fSaved);
        DeleteObject(fBitmap);
        DeleteDC(fDc);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return fDc; }

private:
    HDC fDc;
    HBITMAP fBitmap;
    HGDIOBJ fSaved;
};

void fill(HDC dc, const RECT& rect, COLORREF colour)
{
    SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
}

void registerClass()
{
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

}  // namespace

void PaintGauge(HDC dc, const RECT& box, const GaugeValue& value, HFONT font)
{
    const int width = box.right - box.left - 2;
    const int height = box.bottom - box.top - 2;
    HBRUSH border = CreateSolidBrush(kBorder);
    FrameRect(dc, &box, border);
    DeleteObject(border);
    if (width <= 0 || height <= 0)
        return;

    // The picture is put together off the screen: the text needs the
    // pixels beneath it.
    const RECT inner{0, 0, width, height};
    Canvas picture(dc, width, height);
    fill(picture.Dc(), inner, kBackground);
    fill(picture.Dc(), RECT{0, 0, value.BarWidth(width), height}, kBar);

    // The text's shape, white on black: exclusive or with it inverts every
    // pixel the text covers and leaves the others as they are.
    Canvas shape(dc, width, height);
    fill(shape.Dc(), inner, RGB(0, 0, 0));
    const HGDIOBJ savedFont = SelectObject(shape.Dc(), font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
    SetTextColor(shape.Dc(), RGB(255, 255, 255));
    SetBkMode(shape.Dc(), TRANSPARENT);
    std::wstring text = WideLoosely(value.PercentText());
    RECT textBox = inner;
    DrawTextW(shape.Dc(), text.data(), static_cast<int>(text.size()), &textBox,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(shape.Dc(), savedFont);
    BitBlt(picture.Dc(), 0, 0, width, height, shape.Dc(), 0, 0, SRCINVERT);

    BitBlt(dc, box.left + 1, box.top + 1, width, height, picture.Dc(), 0, 0, SRCCOPY);
}

GaugeControl::GaugeControl(HWND parent, const RECT& box)
{
    registerClass();
    fWindow = CreateWindowExW(0, kClassName, L"Gauge1", WS_CHILD | WS_VISIBLE, box.left, box.top,
                              box.right - box.left, box.bottom - box.top, parent, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(fWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(fWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&GaugeControl::Procedure));
}

void GaugeControl::SetProgress(int value)
{
    if (fValue.SetProgress(value))
        RedrawWindow(fWindow, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

LRESULT CALLBACK GaugeControl::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* gauge = reinterpret_cast<GaugeControl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_ERASEBKGND:
        return 1;  // the paint covers every pixel
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT box;
        GetClientRect(window, &box);
        if (gauge)
            PaintGauge(dc, box, gauge->fValue, gauge->fFont);
        EndPaint(window, &paint);
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace dxfkonv::win32
