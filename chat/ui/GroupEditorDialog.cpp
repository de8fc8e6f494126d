#include "chat/ui/GroupEditorDialog.h"

#include "chat/ChatTexts.h"
#include "chat/GroupStore.h"
#include "chat/UserConfig.h"
#include "chat/ui/AddClientDialog.h"
#include "chat/ui/LocalTexts.h"
#include "chat/ui/ShellLook.h"
#include "components/ui/MessageBoxes.h"
#include "platform/Cp1252.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {

// The row of the selected entry, -1 when none is selected.
int selectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.first());
}

// Takes the selected entry out of `list`, leaving nothing selected; null without a selection.
std::unique_ptr<QListWidgetItem> takeSelected(QListWidget* list) {
    const int row = selectedRow(list);
    if (row < 0)
        return nullptr;
    std::unique_ptr<QListWidgetItem> item(list->takeItem(row));
    list->setCurrentRow(-1);
    return item;
}

// Moves the selected entry of `from` to the end of `to`; nothing without a selection.
void moveSelected(QListWidget* from, QListWidget* to) {
    if (const auto item = takeSelected(from))
        to->addItem(item->text());
}

} // namespace

TCreaGruppi::TCreaGruppi(MessageBoxes& boxes, QWidget* owner)
    : QDialog(owner)
    , m_boxes(boxes) {
    setObjectName(u"CreaGruppi"_s);
    setWindowTitle(u"CreaGruppi"_s);
    setFixedSize(330, 327);
    paintSkyBlue(this);
    useDialogFont(this);

    Label1 = new QLabel(u"Nome Gruppo"_s, this);
    Label1->move(112, 0);
    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(112, 16, 102, 24);
    Edit1->setToolTip(u"Inserire il nome del gruppo"_s);
    Label2 = new QLabel(u"Lista Client connessi"_s, this);
    Label2->move(8, 48);
    Label3 = new QLabel(u"Client per Gruppo"_s, this);
    Label3->move(200, 48);
    ListBox1 = new QListWidget(this);
    ListBox1->setGeometry(8, 64, 121, 185);
    ListBox1->setToolTip(u"Client connessi"_s);
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, &TCreaGruppi::Button2Click);
    Button2 = new QPushButton(u">>"_s, this);
    Button2->setGeometry(140, 104, 49, 25);
    Button2->setToolTip(u"Sposta il client nel gruppo"_s);
    connect(Button2, &QPushButton::clicked, this, &TCreaGruppi::Button2Click);
    Button3 = new QPushButton(u"<<"_s, this);
    Button3->setGeometry(140, 176, 49, 25);
    Button3->setToolTip(u"Elimina il client dal gruppo"_s);
    connect(Button3, &QPushButton::clicked, this, &TCreaGruppi::Button3Click);
    ListBox2 = new QListWidget(this);
    ListBox2->setGeometry(200, 64, 121, 185);
    ListBox2->setToolTip(u"Client contenuti nel gruppo"_s);
    connect(ListBox2, &QListWidget::itemDoubleClicked, this, &TCreaGruppi::Button3Click);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setText(u"Aggi&ungi"_s);
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setGeometry(200, 256, 57, 22);
    SpeedButton1->setToolTip(u"aggiungi un client al gruppo"_s);
    connect(SpeedButton1, &QToolButton::clicked, this, &TCreaGruppi::SpeedButton1Click);
    SpeedButton2 = new QToolButton(this);
    SpeedButton2->setText(u"&Rimuovi"_s);
    SpeedButton2->setAutoRaise(true);
    SpeedButton2->setGeometry(264, 256, 57, 22);
    SpeedButton2->setToolTip(u"rimuovi un client dal gruppo"_s);
    connect(SpeedButton2, &QToolButton::clicked, this, &TCreaGruppi::SpeedButton2Click);
    BtOk = new QPushButton(u"&Ok"_s, this);
    BtOk->setGeometry(8, 292, 75, 25);
    BtOk->setToolTip(u"Salva"_s);
    BtOk->setDefault(true);
    connect(BtOk, &QPushButton::clicked, this, &QDialog::accept);
    BtAnnulla = new QPushButton(u"&Annulla"_s, this);
    BtAnnulla->setGeometry(248, 292, 75, 25);
    BtAnnulla->setToolTip(u"Annulla"_s);
    connect(BtAnnulla, &QPushButton::clicked, this, &QDialog::reject);
    setTabOrder(Edit1, ListBox1);
    setTabOrder(ListBox1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, ListBox2);
    setTabOrder(ListBox2, BtOk);
    setTabOrder(BtOk, BtAnnulla);
}

void TCreaGruppi::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TCreaGruppi::FormShow() {
    applyTitle(this, 49799);
    applyText(BtAnnulla, 49800);
    applyHint(BtAnnulla, 49801);
    applyText(BtOk, 49802);
    applyHint(BtOk, 49803);
    applyText(Button2, 49804);
    applyHint(Button2, 49805);
    applyText(Button3, 49806);
    applyHint(Button3, 49807);
    applyHint(Edit1, 49808);
    applyText(Label1, 49809);
    applyText(Label2, 49810);
    applyText(Label3, 49811);
    applyHint(ListBox1, 49812);
    applyHint(ListBox2, 49813);
    applyText(SpeedButton1, 49814);
    applyHint(SpeedButton1, 49815);
    applyText(SpeedButton2, 49816);
    applyHint(SpeedButton2, 49817);
    // The two tool buttons end at the member list's right edge, each as wide as its text needs.
    const int right = ListBox2->geometry().right() + 1;
    const int width2 = std::max(57, SpeedButton2->sizeHint().width());
    const int width1 = std::max(57, SpeedButton1->sizeHint().width());
    SpeedButton2->setGeometry(right - width2, 256, width2, 22);
    SpeedButton1->setGeometry(right - width2 - 7 - width1, 256, width1, 22);
    // "Tutti" addresses everybody in the main window's list; it is no client to put in a group.
    const auto everybody = ListBox1->findItems(cp1252::toUnicode(ChatText::Everybody), Qt::MatchExactly);
    if (!everybody.isEmpty())
        delete everybody.first();
}

QStringList TCreaGruppi::members() const {
    QStringList names;
    for (int i = 0; i < ListBox2->count(); ++i)
        names << ListBox2->item(i)->text();
    return names;
}

void TCreaGruppi::Button2Click() {
    moveSelected(ListBox1, ListBox2);
}

void TCreaGruppi::Button3Click() {
    moveSelected(ListBox2, ListBox1);
}

void TCreaGruppi::SpeedButton1Click() {
    Taggiungi add(this);
    add.FormShow();
    if (add.exec() != QDialog::Accepted)
        return;
    const QString nick = add.Edit1->text();
    QString refused = unsendableCharactersMessage(nick);
    if (const QStringList forbidden = nickForbiddenCharacters(nick); refused.isEmpty() && !forbidden.isEmpty())
        refused = localText(ChatMessage::NickForbiddenCharacters, u"Il nick non pu\u00F2 contenere: %1"_s)
                      .arg(forbidden.join(u' '));
    if (!refused.isEmpty()) {
        m_boxes.warning(refused);
        return;
    }
    if (!ListBox2->findItems(nick, Qt::MatchExactly).isEmpty()) {
        m_boxes.information(localText(ChatMessage::ClientAlreadyMember, u"Client gi\u00e0 inserito"_s));
        return;
    }
    ListBox2->addItem(nick);
}

void TCreaGruppi::SpeedButton2Click() {
    takeSelected(ListBox2);
}

QString TCreaGruppi::nameRefusal() const {
    const QString typed = Edit1->text();
    if (QString refused = unsendableCharactersMessage(typed); !refused.isEmpty())
        return refused;
    const QByteArray name = cp1252::fromUnicode(typed);
    for (const QByteArray& other : otherGroups) {
        if (cp1252::equalsIgnoreCase(other, name))
            return localText(ChatMessage::GroupNameTaken,
                             u"Esiste gi\u00E0 un gruppo che verrebbe salvato con lo stesso nome: %1"_s)
                .arg(cp1252::toUnicode(other));
    }
    return {};
}

void TCreaGruppi::done(int result) {
    if (result == QDialog::Accepted) {
        if (const QString refused = nameRefusal(); !refused.isEmpty()) {
            m_boxes.warning(refused);
            Edit1->setFocus();
            return;
        }
        if (!GroupStore::canHoldGroupName(cp1252::fromUnicode(Edit1->text())) || ListBox2->count() == 0)
            return; // stays open, without a message
    }
    QDialog::done(result);
}

} // namespace vestrel::chat
