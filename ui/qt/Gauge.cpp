#include "ui/qt/Gauge.h"

#include <QPainter>

namespace dxfkonv {

TGauge::TGauge(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TGauge::SetProgress(int value)
{
    if (fValue.SetProgress(value))
        repaint();
}

QString TGauge::PercentText() const
{
    return QString::fromStdString(fValue.PercentText());
}

QRect TGauge::InnerRect() const
{
    return rect().adjusted(1, 1, -1, -1);
}

int TGauge::BarWidth() const
{
    return fValue.BarWidth(InnerRect().width());
}

QSize TGauge::sizeHint() const
{
    return {100, 25};
}

void TGauge::paintEvent(QPaintEvent*)
{
    // Everything is put together in an image first: the text is drawn by
    // inverting every bit of the pixels beneath it, which needs the pixels.
    const qreal ratio = devicePixelRatioF();
    const QRect inner = InnerRect();
    QImage picture((QSizeF(inner.size()) * ratio).toSize(), QImage::Format_RGB32);
    picture.setDevicePixelRatio(ratio);
    picture.fill(fBackColor);

    QPainter onPicture(&picture);
    onPicture.fillRect(QRect(0, 0, BarWidth(), inner.height()), fForeColor);
    onPicture.end();

    // The text's shape, unsmoothed, so each pixel is either in it or not.
    QImage shape(picture.size(), QImage::Format_ARGB32_Premultiplied);
    shape.setDevicePixelRatio(ratio);
    shape.fill(Qt::transparent);
    QPainter onShape(&shape);
    QFont crisp = font();
    crisp.setStyleStrategy(QFont::NoAntialias);
    onShape.setFont(crisp);
    onShape.setPen(Qt::black);
    onShape.drawText(QRect(QPoint(0, 0), inner.size()), Qt::AlignCenter, PercentText());
    onShape.end();

    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        const auto* mask = reinterpret_cast<const QRgb*>(shape.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(mask[x]) != 0)
                line[x] ^= 0x00FFFFFFu;
    }

    QPainter painter(this);
    painter.setPen(fBorderColor);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.drawImage(inner.topLeft(), picture);
}

}  // namespace dxfkonv
