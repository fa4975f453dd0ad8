#include "ui/logic/GaugeValue.h"

#include <algorithm>

namespace dxfkonv {

bool GaugeValue::SetProgress(int value)
{
    const int before = PercentDone();
    fProgress = fMaxValue > fMinValue ? std::clamp(value, fMinValue, fMaxValue) : fMinValue;
    return PercentDone() != before;
}

int GaugeValue::PercentDone() const
{
    const long long range = static_cast<long long>(fMaxValue) - fMinValue;
    if (range <= 0)
        return 0;
    return static_cast<int>((static_cast<long long>(fProgress) - fMinValue) * 100 / range);
}

std::string GaugeValue::PercentText() const
{
    return std::to_string(PercentDone()) + "%";
}

int GaugeValue::BarWidth(int innerWidth) const
{
    return static_cast<int>(static_cast<long long>(innerWidth) * PercentDone() / 100);
}

}  // namespace dxfkonv
