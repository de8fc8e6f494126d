#include "chat/ui/HiddenPaneLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QPlainTextEdit>
#include <QTextDocument>

namespace vestrel::chat {

HiddenPaneLayout::HiddenPaneLayout(QPlainTextEdit* pane)
    : QObject(pane)
    , m_pane(pane) {
    pane->installEventFilter(this);
    follow(pane->isVisible());
}

bool HiddenPaneLayout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pane && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        follow(event->type() == QEvent::Show);
    return QObject::eventFilter(watched, event);
}

void HiddenPaneLayout::follow(bool shown) {
    QAbstractTextDocumentLayout* layout = m_pane->document()->documentLayout();
    const bool wasBlocked = layout->signalsBlocked();
    layout->blockSignals(!shown);
    if (shown && wasBlocked) {
        // Catch the view up with everything added while it was away.
        emit layout->documentSizeChanged(layout->documentSize());
        m_pane->viewport()->update();
    }
}

} // namespace vestrel::chat
