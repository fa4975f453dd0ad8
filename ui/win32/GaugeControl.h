// The progress window's gauge: a blue bar on white in a one-pixel black
// border, with its percentage centred on it, drawn by inverting the
// pixels beneath so that it reads over the bar and over the background.
#pragma once

#include <windows.h>

#include "ui/logic/GaugeValue.h"

namespace dxfkonv::win32 {

// Paints a gauge showing `value` in `box` of `dc`, the text in `font` (an
// unsmoothed one, so that each pixel is inverted or not).
void PaintGauge(HDC dc, const RECT& box, const GaugeValue& value, HFONT font);

class GaugeControl {
public:
    // A child window of `parent` at `box` (in pixels); hidden until shown.
    GaugeControl(HWND parent, const RECT& box);
    GaugeControl(const GaugeControl&) = delete;
    GaugeControl& operator=(const GaugeControl&) = delete;

    HWND Handle() const { return fWindow; }
    const GaugeValue& Value() const { return fValue; }

    // Takes `value`, held to 0..100; when the percentage shown changes the
    // gauge is painted at once, not later through the message loop, which
    // does not turn while a batch runs.
    void SetProgress(int value);

    // The font of the text (not owned); takes effect at the next paint.
    void SetFont(HFONT font) { fFont = font; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND fWindow = nullptr;
    HFONT fFont = nullptr;
    GaugeValue fValue{0, 100};
};

}  // namespace dxfkonv::win32
