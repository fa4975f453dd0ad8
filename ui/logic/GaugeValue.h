// The value of a percentage gauge and what it shows, apart from drawing it.
#pragma once

#include <string>

namespace dxfkonv {

class GaugeValue {
public:
    // A range with max <= min shows 0% throughout.
    explicit GaugeValue(int minValue = 0, int maxValue = 100) : fMinValue(minValue), fMaxValue(maxValue), fProgress(minValue) {}

    int MinValue() const { return fMinValue; }
    int MaxValue() const { return fMaxValue; }
    int Progress() const { return fProgress; }

    // Takes `value`, held to MinValue..MaxValue. True when the percentage
    // shown changed, which is when the gauge must be painted again.
    bool SetProgress(int value);

    // The share of the range reached, in whole percent, rounded down.
    int PercentDone() const;

    // The text shown on the gauge: "37%".
    std::string PercentText() const;

    // The bar's length within an inner width of `innerWidth` pixels.
    int BarWidth(int innerWidth) const;

private:
    int fMinValue;
    int fMaxValue;
    int fProgress;
};

}  // namespace dxfkonv
