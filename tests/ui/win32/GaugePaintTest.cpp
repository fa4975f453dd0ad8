// The gauge as painted: its border, the bar's share of the inner width, and
// the text inverted over both, read back pixel by pixel from a bitmap.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <map>

#include "ui/logic/GaugeValue.h"
#include "ui/win32/Dpi.h"
#include "ui/win32/GaugeControl.h"

namespace dxfkonv::win32 {
namespace {

constexpr std::uint32_t kBlue = 0x0000FF;
constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kYellow = 0xFFFF00;  // blue inverted

// A gauge of 297 × 25 painted into a 32-bit bitmap, its pixels as 0xRRGGBB.
class PaintedGauge {
public:
    static constexpr int kWidth = 297;
    static constexpr int kHeight = 25;

    explicit PaintedGauge(int percent)
    {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = kWidth;
        info.bmiHeader.biHeight = -kHeight;  // top down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        fDc = CreateCompatibleDC(nullptr);
        fBitmap = CreateDIBSection(fDc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&fBits), nullptr, 0);
        fSaved = SelectObject(fDc, fBitmap);
        HFONT font = MakeFormFont(96, true);
        GaugeValue value;
        value.SetProgress(percent);
        PaintGauge(fDc, RECT{0, 0, kWidth, kHeight}, value, font);
        GdiFlush();
        DeleteObject(font);
    }
    ~PaintedGauge()
    {
        SelectObject(fDc, fSaved);
        DeleteObject(fBitmap);
        DeleteDC(fDc);
    }
    PaintedGauge(const PaintedGauge&) = delete;
    PaintedGauge& operator=(const PaintedGauge&) = delete;

    std::uint32_t At(int x, int y) const { return fBits[y * kWidth + x] & 0xFFFFFF; }

    // How many pixels of each colour the inner columns x0..x1 - 1 hold.
    std::map<std::uint32_t, int> Colours(int x0, int x1) const
    {
        std::map<std::uint32_t, int> count;
        for (int y = 1; y < kHeight - 1; ++y)
            for (int x = x0; x < x1; ++x)
                ++count[At(x, y)];
        return count;
    }

private:
    HDC fDc;
    HBITMAP fBitmap;
    HGDIOBJ fSaved;
    std::uint32_t* fBits = nullptr;
};

int count(const std::map<std::uint32_t, int>& colours, std::uint32_t colour)
{
    const auto found = colours.find(colour);
    return found == colours.end() ? 0 : found->second;
}

TEST(Win32Gauge, ABlackBorderAroundTheBarAndTheBackground)
{
    const PaintedGauge gauge(50);
    for (const auto& [x, y] : {std::pair{0, 0}, {296, 0}, {0, 24}, {296, 24}, {150, 0}, {150, 24}, {0, 12}, {296, 12}})
        EXPECT_EQ(gauge.At(x, y), kBlack) << x << ", " << y;
}

// Each row: the percentage, and where the bar ends in the inner width of
// 295 pixels (1 + 295 * percent / 100). Left of it only the bar and the
// text inverted over it; right of it only the background and the text
// inverted over that.
TEST(Win32Gauge, TheBarReachesItsShareAndTheTextIsInvertedOverBoth)
{
    const struct {
        int percent;
        int barEnd;
        bool textOverBar, textOverBackground;
    } rows[] = {
        {0, 1, false, true},
        {50, 148, true, true},
        {100, 296, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.percent);
        const PaintedGauge gauge(row.percent);
        const auto bar = gauge.Colours(1, row.barEnd);
        const auto rest = gauge.Colours(row.barEnd, PaintedGauge::kWidth - 1);
        EXPECT_EQ(count(bar, kBlue) + count(bar, kYellow), (row.barEnd - 1) * 23);
        EXPECT_EQ(count(rest, kWhite) + count(rest, kBlack), (PaintedGauge::kWidth - 1 - row.barEnd) * 23);
        EXPECT_EQ(count(bar, kYellow) > 0, row.textOverBar);
        EXPECT_EQ(count(rest, kBlack) > 0, row.textOverBackground);
    }
}

}  // namespace
}  // namespace dxfkonv::win32
