#include "reminders/ui/MsMsg.h"

#include "platform/Cp1252.h"
#include "reminders/MemTable.h"
#include "reminders/RecurrenceDetail.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QToolButton>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

namespace {

QFont styled(QFont font, bool bold, bool italic) {
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QLabel* plainLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText); // "&" and markup characters are shown as typed
    return label;
}

} // namespace

TMsMsgFrm::TMsMsgFrm(const QImage& icon, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(u"MsMsgFrm"_s);
    setFixedSize(DesignedClientSize);
    move(DesignedPosition);
    // The window is laid out for an 8-point font; larger desktop fonts would clip its labels.
    QFont designed = font();
    designed.setPointSize(DesignedPointSize);
    setFont(designed);

    Panel1 = new QFrame(this);
    Panel1->setGeometry(0, 0, DesignedClientSize.width(), DesignedClientSize.height());
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setAutoFillBackground(true);
    QPalette yellow = Panel1->palette();
    yellow.setColor(QPalette::Window, QColor(255, 255, 0));
    yellow.setColor(QPalette::WindowText, Qt::black);
    yellow.setColor(QPalette::ButtonText, Qt::black);
    Panel1->setPalette(yellow);

    Image1 = new QLabel(Panel1); // transparent and empty, as designed
    Image1->setGeometry(Panel1->rect());

    ImageIco = new QLabel(Panel1);
    ImageIco->setGeometry(8, 7, 25, 25);
    if (!icon.isNull())
        ImageIco->setPixmap(QPixmap::fromImage(icon.scaled(25, 25, Qt::KeepAspectRatio, Qt::SmoothTransformation)));

    Label2 = plainLabel(Panel1);
    Label2->setGeometry(56, 7, 295, 22);
    Label2->setFont(styled(font(), true, false));

    Label1 = plainLabel(Panel1);
    Label1->setGeometry(8, 34, 345, 151);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    SpeedButton1 = new QToolButton(Panel1);
    SpeedButton1->setGeometry(8, 191, 137, 22);
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setText(u"Non mostrare ancora"_s);
    SpeedButton1->setFont(styled(font(), true, false));
    connect(SpeedButton1, &QToolButton::clicked, this, &TMsMsgFrm::SpeedButton1Click);

    Label3 = plainLabel(Panel1);
    Label3->move(160, 197);
    Label3->setText(u"Ricorrenza"_s);
    Label3->setFont(styled(font(), false, true));
    Label3->adjustSize();

    LabelRicorr = plainLabel(Panel1);
    LabelRicorr->setGeometry(std::max(216, Label3->geometry().right() + 5), 197, 137, Label3->height());
    LabelRicorr->setFont(styled(font(), false, true));
}

void TMsMsgFrm::ShowReminder(const MemTBRow& row) {
    const QString title = cp1252::toUnicode(row.Descrizione);
    setWindowTitle(title);
    Label1->setText(cp1252::toUnicode(row.Messaggio));
    Label2->setText(title);
    const QString name = CriterionDisplayName(row.CRITERIO);
    if (!name.isEmpty())
        LabelRicorr->setText(name);
}

void TMsMsgFrm::SpeedButton1Click() {
    accept();
}

} // namespace vestrel::reminders
