// The two 17 x 17 lamp pictures of the port state, drawn in code.
#pragma once

#include <QColor>
#include <QPixmap>

namespace r4t8 {

constexpr int kLampSize = 17;

QPixmap DrawLamp(const QColor& colour);
inline QPixmap RedLamp() { return DrawLamp(QColor(220, 30, 30)); }
inline QPixmap GreenLamp() { return DrawLamp(QColor(30, 190, 40)); }

}  // namespace r4t8
