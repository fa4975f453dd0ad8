// The progress window: the drawing being converted in its caption, and a
// gauge. A view over the batch's PBarFormView; its close box only hides it.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/logic/PBarFormView.h"
#include "ui/win32/GaugeControl.h"

namespace dxfkonv::win32 {

class ProgressWindow : public PBarFormView {
public:
    static constexpr int kClientWidth = 328;
    static constexpr int kClientHeight = 57;

    // Created hidden, owned by `owner` (so it stays above it).
    explicit ProgressWindow(HWND owner);
    ~ProgressWindow() override;
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    HWND Handle() const { return fWindow; }
    GaugeControl& Gauge() { return *fGauge; }

    void SetCaption(const std::string& caption) override;
    void SetGauge(int value) override;
    // Shown and painted before returning; the paint messages waiting then,
    // and those that come while the gauge moves, are handled at once, since
    // the message loop does not turn while a batch runs. Input waits.
    void ShowDrawn() override;
    void Hide() override;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void ScaleTo(UINT dpi);

    HWND fWindow = nullptr;
    std::unique_ptr<GaugeControl> fGauge;
    HFONT fGaugeFont = nullptr;
    UINT fDpi = 96;
};

// Handles the paint messages waiting for this thread's windows, and
// nothing else.
void PaintWaiting();

}  // namespace dxfkonv::win32
