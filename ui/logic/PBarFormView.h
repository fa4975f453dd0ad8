// What the batch asks of the progress window, whatever draws it.
#pragma once

#include <string>

namespace dxfkonv {

class PBarFormView {
public:
    virtual ~PBarFormView() = default;

    // The window's caption, UTF-8.
    virtual void SetCaption(const std::string& caption) = 0;

    // Sets the gauge to `value` (held to its range); when the percentage it
    // shows changes it is painted at once, not later through the event
    // loop, which does not turn while a batch runs (see GaugeValue).
    virtual void SetGauge(int value) = 0;

    // Shows the window (modeless) and has it on the screen, fully drawn,
    // before returning; the user's input is not taken meanwhile.
    virtual void ShowDrawn() = 0;

    virtual void Hide() = 0;
};

}  // namespace dxfkonv
