#pragma once

#include <QObject>

class QPlainTextEdit;

namespace vestrel::chat {

// While the conversation pane is not on screen, its view does not follow each new line: the document
// still takes every line (and reports every change), but the work of fitting the scroll bars to the
// lines is done once, when the pane is shown again. A hidden chat takes lines by the thousand.
class HiddenPaneLayout : public QObject {
    Q_OBJECT
public:
    // Watches `pane`, which owns this object.
    explicit HiddenPaneLayout(QPlainTextEdit* pane);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(bool shown);

    QPlainTextEdit* m_pane;
};

} // namespace vestrel::chat
