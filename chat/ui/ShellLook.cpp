#include "chat/ui/ShellLook.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

void paintSkyBlue(QWidget* window) {
    QPalette sky = window->palette();
    sky.setColor(QPalette::Window, QColor(0xA6, 0xCA, 0xF0));
    window->setPalette(sky);
    window->setAutoFillBackground(true);
}

void useDialogFont(QWidget* window) {
    QFont font(u"Tahoma"_s);
    font.setPixelSize(13);
    window->setFont(font);
}

} // namespace vestrel::chat
