// A horizontal percentage gauge: a bar on a background inside a single-line
// border, with the percentage written over it in inverted colours; what it
// shows is a GaugeValue's.
#pragma once

#include <QColor>
#include <QWidget>

#include "ui/logic/GaugeValue.h"

namespace dxfkonv {

class TGauge : public QWidget {
    Q_OBJECT

public:
    explicit TGauge(QWidget* parent = nullptr);

    int MinValue() const { return fValue.MinValue(); }
    int MaxValue() const { return fValue.MaxValue(); }
    int Progress() const { return fValue.Progress(); }
    QColor ForeColor() const { return fForeColor; }
    QColor BackColor() const { return fBackColor; }

    // Sets the value, held to MinValue..MaxValue. When the percentage shown
    // changes the gauge is painted at once, not later through the event
    // loop, so it moves while a long job keeps the loop from turning; the
    // same percentage paints nothing.
    void SetProgress(int value);

    // The share of the range reached, in whole percent.
    int PercentDone() const { return fValue.PercentDone(); }

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
    GaugeValue fValue{0, 100};
    QColor fForeColor{0, 0, 255};
    QColor fBackColor{255, 255, 255};
    QColor fBorderColor{0, 0, 0};
};

}  // namespace dxfkonv
