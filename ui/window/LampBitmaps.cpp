#include "ui/window/LampBitmaps.h"

#include <QPainter>
#include <QRadialGradient>

namespace r4t8 {

QPixmap DrawLamp(const QColor& colour) {
    QPixmap pixmap(kLampSize, kLampSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // A highlight towards the top left makes it read as a lamp, not a dot.
    QRadialGradient gradient(QPointF(6.5, 6.0), 9.0);
    gradient.setColorAt(0.0, colour.lighter(170));
    gradient.setColorAt(1.0, colour.darker(130));
    painter.setPen(QPen(colour.darker(200), 1.0));
    painter.setBrush(gradient);
    painter.drawEllipse(QRectF(1.0, 1.0, kLampSize - 2.0, kLampSize - 2.0));
    return pixmap;
}

}  // namespace r4t8
