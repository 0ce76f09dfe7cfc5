#include "decoration.h"

#include <QPainter>
#include <QPainterPath>

QPixmap Decoration() {
    QPixmap pixmap(72, 72);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xF2, 0xB1, 0x34));
    p.drawEllipse(QRectF(40, 8, 22, 22));
    QPainterPath rock;
    rock.moveTo(6, 52);
    rock.lineTo(22, 26);
    rock.lineTo(34, 34);
    rock.lineTo(46, 22);
    rock.lineTo(66, 52);
    rock.closeSubpath();
    p.setBrush(QColor(0x5A, 0x5F, 0x66));
    p.drawPath(rock);
    p.setBrush(QColor(0x2B, 0x6C, 0xB0));
    p.drawRect(QRectF(0, 50, 72, 22));
    p.setPen(QPen(QColor(0xDD, 0xEE, 0xFF), 2));
    for (int y : {56, 64}) {
        QPainterPath wave;
        wave.moveTo(2, y);
        for (int x = 2; x < 70; x += 12) {
            wave.quadTo(x + 3, y - 3, x + 6, y);
            wave.quadTo(x + 9, y + 3, x + 12, y);
        }
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
    }
    return pixmap;
}

