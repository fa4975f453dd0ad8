// A horizontal percentage gauge: a bar on a background inside a single-line
// border, with the percentage written over it in inverted colours.
#pragma once

#include <QColor>
#include <QWidget>

namespace dxfkonv {

class TGauge : public QWidget {
    Q_OBJECT

public:
    explicit TGauge(QWidget* parent = nullptr);

    int MinValue() const { return fMinValue; }
    int MaxValue() const { return fMaxValue; }
    int Progress() const { return fProgress; }
    QColor ForeColor() const { return fForeColor; }
    QColor BackColor() const { return fBackColor; }

    // Sets the value, held to MinValue..MaxValue. When the percentage shown
    // changes the gauge is painted at once, not later through the event
    // loop, so it moves while a long job keeps the loop from turning; the
    // same percentage paints nothing.
    void SetProgress(int value);

    // The share of the range reached, in whole percent.
    int PercentDone() const;

    // The text shown: "37%".
    QString PercentText() const;

    // The bar's length in pixels for the current value.
    int BarWidth() const;

    // The area inside the border.
    QRect InnerRect() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int fMinValue = 0;
    int fMaxValue = 100;
    int fProgress = 0;
    QColor fForeColor{0, 0, 255};
    QColor fBackColor{255, 255, 255};
    QColor fBorderColor{0, 0, 0};
};

}  // namespace dxfkonv
