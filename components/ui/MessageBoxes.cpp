#include "components/ui/MessageBoxes.h"

#include <QAbstractButton>
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

void MessageBoxes::notify(NoticeKind kind, const QString& text, std::function<void(bool yes)> closed) {
    bool yes = true;
    switch (kind) {
    case NoticeKind::Information:
        information(text);
        break;
    case NoticeKind::Error:
        error(text);
        break;
    case NoticeKind::Question:
        yes = question(text);
        break;
    }
    closed(yes);
}

void QtMessageBoxes::notify(NoticeKind kind, const QString& text, std::function<void(bool yes)> closed) {
    const bool asking = kind == NoticeKind::Question;
    auto* box = new QMessageBox(kind == NoticeKind::Error ? QMessageBox::Critical : QMessageBox::Information, m_title,
                                shown(text), asking ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, m_parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    QObject::connect(box, &QMessageBox::finished, box, [box, asking, closed = std::move(closed)](int) {
        const QAbstractButton* clicked = box->clickedButton();
        closed(asking ? clicked == box->button(QMessageBox::Yes) : true);
    });
    box->show();
}

bool QtMessageBoxes::question(const QString& text) {
    QMessageBox box(QMessageBox::Information, m_title, shown(text), QMessageBox::Yes | QMessageBox::No, m_parent);
    return box.exec() == QMessageBox::Yes;
}

} // namespace vestrel
