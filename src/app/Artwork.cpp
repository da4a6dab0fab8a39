#include "app/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace tarnwick {
namespace {

// A mountain lake: two peaks over water with a ripple, inside a rounded badge. The badge is
// drawn in a box of the given size so that the logo and the icon share one drawing.
void DrawTarn(QPainter& p, const QRectF& box)
{
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = box.width();
    const qreal h = box.height();
    auto at = [&](qreal x, qreal y) { return QPointF(box.left() + x * w, box.top() + y * h); };

    QPainterPath badge;
    badge.addRoundedRect(box.adjusted(1, 1, -1, -1), w * 0.14, h * 0.14);
    QLinearGradient sky(at(0, 0), at(0, 1));
    sky.setColorAt(0.0, QColor(0xcf, 0xe6, 0xf5));
    sky.setColorAt(0.55, QColor(0xf4, 0xf9, 0xfc));
    sky.setColorAt(1.0, QColor(0xf4, 0xf9, 0xfc));
    p.fillPath(badge, sky);
    p.save();
    p.setClipPath(badge);

    QPainterPath far;
    far.moveTo(at(0.30, 0.62));
    far.lineTo(at(0.62, 0.22));
    far.lineTo(at(1.00, 0.62));
    far.closeSubpath();
    p.fillPath(far, QColor(0x7a, 0x93, 0xa8));

    QPainterPath near;
    near.moveTo(at(0.00, 0.62));
    near.lineTo(at(0.34, 0.16));
    near.lineTo(at(0.72, 0.62));
    near.closeSubpath();
    p.fillPath(near, QColor(0x3c, 0x5a, 0x73));

    QPainterPath snow;
    snow.moveTo(at(0.34, 0.16));
    snow.lineTo(at(0.42, 0.27));
    snow.lineTo(at(0.37, 0.25));
    snow.lineTo(at(0.33, 0.29));
    snow.lineTo(at(0.29, 0.23));
    snow.closeSubpath();
    p.fillPath(snow, Qt::white);

    QLinearGradient water(at(0, 0.62), at(0, 1));
    water.setColorAt(0.0, QColor(0x1f, 0x6f, 0xa8));
    water.setColorAt(1.0, QColor(0x0d, 0x3b, 0x66));
    p.fillRect(QRectF(at(0, 0.62), at(1, 1)), water);

    p.setPen(QPen(QColor(255, 255, 255, 170), qMax<qreal>(1.0, w * 0.025), Qt::SolidLine, Qt::RoundCap));
    QPainterPath ripple;
    ripple.moveTo(at(0.22, 0.76));
    ripple.cubicTo(at(0.32, 0.72), at(0.40, 0.80), at(0.50, 0.76));
    ripple.cubicTo(at(0.60, 0.72), at(0.68, 0.80), at(0.78, 0.76));
    p.drawPath(ripple);
    p.restore();

    p.setPen(QPen(QColor(0x0d, 0x3b, 0x66), qMax<qreal>(1.0, w * 0.02)));
    p.setBrush(Qt::NoBrush);
    p.drawPath(badge);
}

}  // namespace

QPixmap DrawLogoPicture()
{
    QPixmap picture(300, 200);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    DrawTarn(p, QRectF(8, 8, 144, 124));
    return picture;
}

QIcon DrawWindowIcon()
{
    QPixmap icon(48, 48);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    DrawTarn(p, QRectF(0, 0, 48, 48));
    p.end();
    return QIcon(icon);
}

}  // namespace tarnwick
