// The gauge: its range, when it paints, and what its picture looks like.
#include <gtest/gtest.h>

#include <QtTest/QTest>

#include <map>

#include "ui/qt/Gauge.h"
#include "ui/qt/Forms.h"

namespace dxfkonv {
namespace {

const QRgb kBlue = qRgb(0, 0, 255);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kYellow = qRgb(255, 255, 0);  // blue with every bit inverted

// A gauge that counts its paints.
class CountingGauge : public TGauge {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        TGauge::paintEvent(event);
    }
};

class GaugeTest : public ::testing::Test {
protected:
    GaugeTest()
    {
        StyleForm(&fWindow);
        fGauge = new CountingGauge;
        fGauge->setParent(&fWindow);
        fGauge->setGeometry(8, 8, 297, 25);
        fWindow.resize(313, 41);
    }

    QImage Picture(int value)
    {
        fGauge->SetProgress(value);
        return fGauge->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    QWidget fWindow;
    CountingGauge* fGauge;
};

TEST_F(GaugeTest, RunsFrom0To100AndHoldsValuesToThatRange)
{
    EXPECT_EQ(fGauge->MinValue(), 0);
    EXPECT_EQ(fGauge->MaxValue(), 100);
    EXPECT_EQ(fGauge->Progress(), 0);
    EXPECT_EQ(fGauge->ForeColor(), QColor(0, 0, 255));
    EXPECT_EQ(fGauge->BackColor(), QColor(255, 255, 255));
    fGauge->SetProgress(37);
    EXPECT_EQ(fGauge->Progress(), 37);
    EXPECT_EQ(fGauge->PercentText(), QStringLiteral("37%"));
    fGauge->SetProgress(-5);
    EXPECT_EQ(fGauge->Progress(), 0);
    fGauge->SetProgress(250);
    EXPECT_EQ(fGauge->Progress(), 100);
    EXPECT_EQ(fGauge->PercentText(), QStringLiteral("100%"));
}

TEST_F(GaugeTest, PaintsAtOnceWhenThePercentageChangesAndNotOtherwise)
{
    fWindow.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fWindow));
    QCoreApplication::processEvents();
    const int before = fGauge->paints;

    fGauge->SetProgress(10);  // no event is processed from here on
    EXPECT_EQ(fGauge->paints, before + 1);
    fGauge->SetProgress(10);
    EXPECT_EQ(fGauge->paints, before + 1);
    fGauge->SetProgress(11);
    EXPECT_EQ(fGauge->paints, before + 2);
    fGauge->SetProgress(100);
    fGauge->SetProgress(180);  // held at 100: the same percentage
    EXPECT_EQ(fGauge->paints, before + 3);
    fGauge->SetProgress(0);
    fGauge->SetProgress(-3);
    EXPECT_EQ(fGauge->paints, before + 4);
}

TEST_F(GaugeTest, HasASingleLineBorderAndABarOfThePercentageOfTheInnerWidth)
{
    const QImage picture = Picture(37);
    const QRect inner = fGauge->InnerRect();
    EXPECT_EQ(inner, QRect(1, 1, 295, 23));
    EXPECT_EQ(fGauge->BarWidth(), 295 * 37 / 100);
    for (int x = 0; x < picture.width(); ++x) {
        EXPECT_EQ(picture.pixel(x, 0), kBlack);
        EXPECT_EQ(picture.pixel(x, picture.height() - 1), kBlack);
    }
    // Along the top inner row, where no text reaches: bar, then background.
    const int barEnd = inner.left() + fGauge->BarWidth();
    EXPECT_EQ(picture.pixel(inner.left(), 1), kBlue);
    EXPECT_EQ(picture.pixel(barEnd - 1, 1), kBlue);
    EXPECT_EQ(picture.pixel(barEnd, 1), kWhite);
    EXPECT_EQ(picture.pixel(inner.right(), 1), kWhite);
}

// Counts the pixels of each colour inside the border.
class ColourCount {
public:
    ColourCount(const QImage& picture, const QRect& inner)
    {
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            for (int x = inner.left(); x <= inner.right(); ++x)
                ++fCounts[picture.pixel(x, y)];
    }
    int operator[](QRgb colour) const
    {
        const auto found = fCounts.find(colour);
        return found == fCounts.end() ? 0 : found->second;
    }
    std::size_t size() const { return fCounts.size(); }

private:
    std::map<QRgb, int> fCounts;
};

TEST_F(GaugeTest, TextIsInvertedOverBothBarAndBackground)
{
    const QRect inner = fGauge->InnerRect();

    // 0%: all background, the text inverted to black.
    ColourCount colours(Picture(0), inner);
    EXPECT_GT(colours[kBlack], 10);
    EXPECT_EQ(colours[kBlue] + colours[kYellow], 0);
    EXPECT_EQ(colours.size(), 2u) << "only background and inverted background";

    // 100%: all bar, the text inverted to yellow.
    colours = ColourCount(Picture(100), inner);
    EXPECT_GT(colours[kYellow], 10);
    EXPECT_EQ(colours[kWhite] + colours[kBlack], 0);
    EXPECT_EQ(colours.size(), 2u);

    // 50%: the text straddles the bar's end and reads on both sides.
    const QImage half = Picture(50);
    colours = ColourCount(half, inner);
    EXPECT_GT(colours[kYellow], 5);
    EXPECT_GT(colours[kBlack], 5);
    EXPECT_EQ(colours.size(), 4u);
    const int barEnd = inner.left() + fGauge->BarWidth();
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x) {
            const QRgb pixel = half.pixel(x, y);
            if (x < barEnd) {
                EXPECT_TRUE(pixel == kBlue || pixel == kYellow) << x << "," << y;
            } else {
                EXPECT_TRUE(pixel == kWhite || pixel == kBlack) << x << "," << y;
            }
        }
}

TEST_F(GaugeTest, TextIsCentred)
{
    const QImage picture = Picture(0);
    const QRect inner = fGauge->InnerRect();
    QRect text;
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x)
            if (picture.pixel(x, y) == kBlack)
                text |= QRect(x, y, 1, 1);
    ASSERT_FALSE(text.isEmpty());
    const QPointF textCentre = QRectF(text).center();
    const QPointF gaugeCentre = QRectF(inner).center();
    EXPECT_NEAR(textCentre.x(), gaugeCentre.x(), 2.0);
    EXPECT_NEAR(textCentre.y(), gaugeCentre.y(), 3.0);
}

}  // namespace
}  // namespace dxfkonv
