#include "ui/qt/Artwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace dxfkonv {

namespace {

const QColor kInk(32, 32, 48);
const QColor kSheet(255, 255, 255);
const QColor kGrid(190, 210, 235);
const QColor kLine(200, 30, 30);
const QColor kArrow(0, 0, 255);
const QColor kFolder(240, 200, 60);
const QColor kFolderDark(180, 140, 20);

QImage transparentImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A blank sheet with a folded corner in the box.
void drawBlankSheet(QPainter& p, const QRectF& box, qreal pen)
{
    const qreal fold = box.width() * 0.3;
    QPainterPath sheet;
    sheet.moveTo(box.left(), box.top());
    sheet.lineTo(box.right() - fold, box.top());
    sheet.lineTo(box.right(), box.top() + fold);
    sheet.lineTo(box.right(), box.bottom());
    sheet.lineTo(box.left(), box.bottom());
    sheet.closeSubpath();
    p.setPen(QPen(kInk, pen));
    p.setBrush(kSheet);
    p.drawPath(sheet);

    QPainterPath corner;
    corner.moveTo(box.right() - fold, box.top());
    corner.lineTo(box.right() - fold, box.top() + fold);
    corner.lineTo(box.right(), box.top() + fold);
    p.setBrush(Qt::NoBrush);
    p.drawPath(corner);
}

// A few strokes of a drawing on the sheet in the box: the plan of a room
// with a partition and a door swinging open.
void drawStrokes(QPainter& p, const QRectF& box, qreal pen)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kLine, pen));
    const qreal w = box.width();
    const qreal h = box.height();
    const QRectF room(box.left() + w * 0.18, box.top() + h * 0.34, w * 0.64, h * 0.44);
    p.drawRect(room);
    const qreal wall = room.left() + room.width() * 0.55;
    p.drawLine(QPointF(wall, room.top()), QPointF(wall, room.bottom() - room.height() * 0.45));
    // the door: hinged at the wall's foot, its swing a quarter circle
    const qreal door = room.height() * 0.45;
    const QPointF hinge(wall, room.bottom());
    p.drawLine(hinge, QPointF(wall - door, room.bottom()));
    p.drawArc(QRectF(hinge.x() - door, hinge.y() - door, door * 2, door * 2), 90 * 16, 90 * 16);
}

// A horizontal two-way arrow from x0 to x1 at height y.
void drawTwoWayArrow(QPainter& p, qreal x0, qreal x1, qreal y, qreal head, qreal pen)
{
    p.setPen(QPen(kArrow, pen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(x0, y), QPointF(x1, y));
    p.setBrush(kArrow);
    QPolygonF right{QPointF(x1, y), QPointF(x1 - head, y - head * 0.7), QPointF(x1 - head, y + head * 0.7)};
    QPolygonF left{QPointF(x0, y), QPointF(x0 + head, y - head * 0.7), QPointF(x0 + head, y + head * 0.7)};
    p.drawPolygon(right);
    p.drawPolygon(left);
}

}  // namespace

QImage DrawIcon(int size)
{
    QImage image = transparentImage(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    // the sheet with its grid and drawing
    const QRectF sheet(10, 3, 44, 52);
    drawBlankSheet(p, sheet, 2.5);
    p.setPen(QPen(kGrid, 1));
    for (int x = 18; x < 50; x += 8)
        p.drawLine(QPointF(x, 20), QPointF(x, 52));
    drawStrokes(p, sheet, 2.5);

    // the conversion both ways, on a band across the sheet's foot
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawRoundedRect(QRectF(2, 44, 60, 18), 5, 5);
    drawTwoWayArrow(p, 7, 57, 53, 9, 4);
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(DrawIcon(size)));
    return icon;
}

QImage DrawLogo()
{
    QImage image = transparentImage(66, 20);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (const QRectF sheet : {QRectF(1.5, 1.5, 15, 17), QRectF(49.5, 1.5, 15, 17)}) {
        drawBlankSheet(p, sheet, 1);
        drawStrokes(p, sheet, 1);
    }
    drawTwoWayArrow(p, 20, 46, 10, 5, 2);
    return image;
}

QImage DrawFolder(FolderPicture kind)
{
    QImage image = transparentImage(16, 16);
    QPainter p(&image);
    p.setPen(QPen(kFolderDark, 1));
    // back with its tab
    QPainterPath back;
    back.moveTo(1.5, 13.5);
    back.lineTo(1.5, 3.5);
    back.lineTo(6.5, 3.5);
    back.lineTo(7.5, 4.5);
    back.lineTo(13.5, 4.5);
    back.lineTo(13.5, 13.5);
    back.closeSubpath();
    p.setBrush(kind == FolderPicture::Closed ? kFolder : kFolderDark.lighter(150));
    p.drawPath(back);
    if (kind == FolderPicture::Closed)
        return image;

    if (kind == FolderPicture::Current) {
        // a sheet sticking out of the open folder
        p.setBrush(kSheet);
        p.setPen(QPen(kInk, 1));
        p.drawRect(QRectF(4.5, 1.5, 7, 8));
    }
    // the front flap, tilted open
    QPolygonF front{QPointF(1.5, 13.5), QPointF(3.5, 7.5), QPointF(15.5, 7.5), QPointF(13.5, 13.5)};
    p.setPen(QPen(kFolderDark, 1));
    p.setBrush(kFolder);
    p.drawPolygon(front);
    return image;
}

}  // namespace dxfkonv
