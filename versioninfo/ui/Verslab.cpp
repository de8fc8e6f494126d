#include "versioninfo/ui/Verslab.h"

namespace vestrel::versioninfo {

TVersionLabel::TVersionLabel(QWidget* parent)
    : QLabel(parent) {
    setWordWrap(false);
    // Captions hold file values and texts in angle brackets: never markup.
    setTextFormat(Qt::PlainText);
    m_model.SetCaptionHandler([this](const QString& caption) { showCaption(caption); });
    m_model.SetupCaption();
}

void TVersionLabel::SetAutoSize(bool autoSize) {
    m_autoSize = autoSize;
    if (autoSize)
        adjustSize();
}

void TVersionLabel::SetDesigning(bool designing) {
    m_model.SetDesigning(designing);
    m_model.SetupCaption();
}

void TVersionLabel::showCaption(const QString& caption) {
    setText(caption);
    if (m_autoSize)
        adjustSize();
}

} // namespace vestrel::versioninfo
