// The gauge's value: the range it holds values to, the percentage and text
// it shows, and when it must be painted again.
#include <gtest/gtest.h>

#include "ui/logic/GaugeValue.h"

namespace dxfkonv {
namespace {

// Each row: a fresh gauge, set to `before`, then to `set`.
TEST(GaugeValue, HoldsValuesToItsRangeAndSaysWhenThePercentageShownChanges)
{
    const struct {
        int minValue, maxValue, before, set;
        int progress, percent;
        const char* text;
        bool repaint;
    } rows[] = {
        {0, 100, 0, 37, 37, 37, "37%", true},      {0, 100, 37, 37, 37, 37, "37%", false},
        {0, 100, 20, -5, 0, 0, "0%", true},        {0, 100, 0, -5, 0, 0, "0%", false},
        {0, 100, 0, 250, 100, 100, "100%", true},  {0, 100, 100, 250, 100, 100, "100%", false},
        {50, 250, 50, 149, 149, 49, "49%", true},  {50, 250, 150, 151, 151, 50, "50%", false},
        {50, 250, 150, 10, 50, 0, "0%", true},     {10, 10, 10, 40, 10, 0, "0%", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.minValue << ".." << row.maxValue << ": " << row.before
                                          << " then " << row.set);
        GaugeValue gauge(row.minValue, row.maxValue);
        gauge.SetProgress(row.before);
        EXPECT_EQ(gauge.SetProgress(row.set), row.repaint);
        EXPECT_EQ(gauge.Progress(), row.progress);
        EXPECT_EQ(gauge.PercentDone(), row.percent);
        EXPECT_EQ(gauge.PercentText(), row.text);
    }
}

}  // namespace
}  // namespace dxfkonv
