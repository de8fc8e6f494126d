#include "chat/ui/ConnectionPictures.h"

#include <QPainter>
#include <QPainterPath>

namespace vestrel::chat {

QPixmap connectionPicture(bool connected) {
    QPixmap picture(15, 15);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(connected ? QColor(30, 170, 60) : QColor(200, 40, 40));
    painter.drawEllipse(QRectF(1.5, 1.5, 12, 12));
    return picture;
}

QIcon sendButtonIcon() {
    QPixmap picture(24, 24);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(3, 4);
    arrow.lineTo(21, 12);
    arrow.lineTo(3, 20);
    arrow.lineTo(7, 12);
    arrow.closeSubpath();
    painter.setPen(QPen(QColor(20, 60, 130), 1.2));
    painter.setBrush(QColor(60, 120, 210));
    painter.drawPath(arrow);
    return QIcon(picture);
}

QIcon chatWindowIcon() {
    QPixmap picture(32, 32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(20, 60, 130), 1.5));
    painter.setBrush(QColor(166, 202, 240));
    painter.drawRoundedRect(QRectF(3, 4, 26, 18), 5, 5);
    QPainterPath tail;
    tail.moveTo(9, 21);
    tail.lineTo(7, 29);
    tail.lineTo(16, 21);
    painter.drawPath(tail);
    painter.setBrush(QColor(20, 60, 130));
    for (int x : {10, 16, 22})
        painter.drawEllipse(QPointF(x, 13), 1.8, 1.8);
    return QIcon(picture);
}

QIcon disconnectedTrayIcon() {
    QPixmap picture = chatWindowIcon().pixmap(32, 32, QIcon::Disabled);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 40), 1));
    painter.setBrush(QColor(200, 40, 40));
    painter.drawEllipse(QRectF(18.5, 18.5, 12, 12));
    return QIcon(picture);
}

} // namespace vestrel::chat
