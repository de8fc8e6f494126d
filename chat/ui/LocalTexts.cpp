#include "chat/ui/LocalTexts.h"

#include "components/csLocale.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QWidget>

namespace vestrel::chat {

QString localText(int ident, const QString& builtIn) {
    const QString text = LocalString(ident);
    return text.isEmpty() ? builtIn : text;
}

void applyText(QAbstractButton* button, int ident) {
    button->setText(localText(ident, button->text()));
}

void applyText(QLabel* label, int ident) {
    label->setText(localText(ident, label->text()));
}

void applyText(QAction* action, int ident) {
    action->setText(localText(ident, action->text()));
}

void applyTitle(QWidget* window, int ident) {
    window->setWindowTitle(localText(ident, window->windowTitle()));
}

void applyHint(QWidget* control, int ident) {
    control->setToolTip(localText(ident, control->toolTip()));
}

} // namespace vestrel::chat
