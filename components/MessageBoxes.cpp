#include "components/MessageBoxes.h"

#include <QMessageBox>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// Messages separate their lines with a bare CR, which the message box would not break on.
QString shown(const QString& text) {
    QString result = text;
    result.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    return result;
}

} // namespace

void QtMessageBoxes::information(const QString& text) {
    QMessageBox::information(m_parent, m_title, shown(text));
}

void QtMessageBoxes::warning(const QString& text) {
    QMessageBox::warning(m_parent, m_title, shown(text));
}

void QtMessageBoxes::error(const QString& text) {
    QMessageBox::critical(m_parent, m_title, shown(text));
}

bool QtMessageBoxes::question(const QString& text) {
    QMessageBox box(QMessageBox::Information, m_title, shown(text), QMessageBox::Yes | QMessageBox::No, m_parent);
    return box.exec() == QMessageBox::Yes;
}

} // namespace vestrel
