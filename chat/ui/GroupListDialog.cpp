#include "chat/ui/GroupListDialog.h"

#include "chat/ChatLog.h"
#include "chat/GroupStore.h"
#include "chat/ui/GroupEditorDialog.h"
#include "chat/ui/LocalTexts.h"
#include "chat/ui/ShellLook.h"
#include "components/ui/MessageBoxes.h"
#include "platform/Cp1252.h"
#include "platform/IniFile.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

TFrmGruppi::TFrmGruppi(Context context, MessageBoxes& boxes, QWidget* owner)
    : QDialog(owner)
    , m_context(std::move(context))
    , m_boxes(boxes) {
    setObjectName(u"FrmGruppi"_s);
    setWindowTitle(u"Gestione Gruppi"_s);
    setFixedSize(250, 246);
    paintSkyBlue(this);
    useDialogFont(this);
    runEditor = [](TCreaGruppi& editor) {
        return editor.exec();
    };

    Label1 = new QLabel(u"Lista dei Gruppi"_s, this);
    Label1->move(8, 8);
    Label2 = new QLabel(u"Client per gruppo"_s, this);
    Label2->move(136, 8);
    listGruppi = new QListWidget(this);
    listGruppi->setGeometry(8, 24, 105, 137);
    listGruppi->setToolTip(u"Gruppi creati"_s);
    connect(listGruppi, &QListWidget::itemClicked, this, &TFrmGruppi::listGruppiClick);
    ListClient = new QListWidget(this);
    ListClient->setGeometry(136, 24, 105, 137);
    ListClient->setToolTip(u"Client contenuti nel gruppo selezionato"_s);
    ListClient->setSelectionMode(QAbstractItemView::NoSelection);
    auto button = [this](const QString& caption, const QString& hint, int left, int top) {
        auto* b = new QPushButton(caption, this);
        b->setGeometry(left, top, 75, 25);
        b->setToolTip(hint);
        return b;
    };
    Button1 = button(u"&Crea "_s, u"Crea nuovo gruppo"_s, 8, 168);
    Button2 = button(u"&Elimina "_s, u"Elimina un gruppo dalla lista"_s, 88, 168);
    Button3 = button(u"&Modifica"_s, u"Modifica un gruppo"_s, 168, 168);
    Button3->setEnabled(false);
    Button4 = button(u"&Esci"_s, u"Salva"_s, 88, 208);
    Button4->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TFrmGruppi::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFrmGruppi::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TFrmGruppi::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &QDialog::accept);
}

TFrmGruppi::~TFrmGruppi() = default;

void TFrmGruppi::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        qCWarning(lcChat) << "group dialog:" << failure.what();
        m_boxes.error(failureMessage(failure));
    }
}

void TFrmGruppi::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFrmGruppi::FormShow() {
    applyTitle(this, 49841);
    applyText(Button1, 49842);
    applyHint(Button1, 49843);
    applyText(Button2, 49844);
    applyHint(Button2, 49845);
    applyText(Button3, 49846);
    applyHint(Button3, 49847);
    applyText(Button4, 49848);
    applyHint(Button4, 49849);
    applyText(Label1, 49850);
    applyText(Label2, 49851);
    applyHint(ListClient, 49852);
    applyHint(listGruppi, 49853);
    listGruppi->clear();
    GroupIni = std::make_unique<IniFile>(GroupStore::openGroupFile());
    guarded([this] { showNames(GroupStore::LoadGroupList(*GroupIni)); });
}

QByteArrayList TFrmGruppi::listedNames() const {
    QByteArrayList names;
    for (int i = 0; i < listGruppi->count(); ++i)
        names << cp1252::fromUnicode(listGruppi->item(i)->text());
    return names;
}

void TFrmGruppi::showNames(const QByteArrayList& names) {
    listGruppi->clear();
    for (const QByteArray& name : names)
        listGruppi->addItem(cp1252::toUnicode(name));
}

void TFrmGruppi::listGruppiClick() {
    ListClient->clear();
    QListWidgetItem* selected = listGruppi->currentItem();
    if (!selected)
        return;
    Button3->setEnabled(true);
    guarded([this, selected] {
        for (const QByteArray& member : GroupStore::LoadGroupMembers(*GroupIni, cp1252::fromUnicode(selected->text())))
            ListClient->addItem(cp1252::toUnicode(member));
    });
}

void TFrmGruppi::editGroup(const QByteArray& name, const QStringList& members, bool offerOwnNick) {
    TCreaGruppi editor(m_boxes, this);
    for (const QByteArray& nick : m_context.clientNicks) {
        if (!offerOwnNick && nick == m_context.ownNick)
            continue;
        editor.ListBox1->addItem(cp1252::toUnicode(nick));
    }
    editor.Edit1->setText(cp1252::toUnicode(name));
    for (const QString& member : members) {
        editor.ListBox2->addItem(member);
        for (QListWidgetItem* candidate : editor.ListBox1->findItems(member, Qt::MatchExactly))
            delete candidate;
    }
    for (const QByteArray& other : listedNames()) {
        if (other != name)
            editor.otherGroups.append(other);
    }
    if (runEditor(editor) != QDialog::Accepted)
        return;
    guarded([this, &editor] {
        QByteArrayList memberBytes;
        for (const QString& member : editor.members())
            memberBytes << cp1252::fromUnicode(member);
        QByteArrayList names = listedNames();
        const QString saved = editor.Edit1->text();
        GroupStore::CreateOrReplaceGroup(*GroupIni, cp1252::fromUnicode(saved), memberBytes, names);
        showNames(names);
        // The member list shows the group just saved, selected, never one no longer selected.
        ListClient->clear();
        Button3->setEnabled(false);
        for (QListWidgetItem* item : listGruppi->findItems(saved, Qt::MatchExactly)) {
            listGruppi->setCurrentItem(item);
            listGruppiClick();
        }
    });
}

void TFrmGruppi::Button1Click() {
    editGroup(QByteArray(), {}, false);
}

void TFrmGruppi::Button3Click() {
    QListWidgetItem* selected = listGruppi->currentItem();
    if (!selected)
        return;
    QStringList members;
    for (int i = 0; i < ListClient->count(); ++i)
        members << ListClient->item(i)->text();
    editGroup(cp1252::fromUnicode(selected->text()), members, true);
}

void TFrmGruppi::Button2Click() {
    QListWidgetItem* selected = listGruppi->currentItem();
    if (!selected)
        return;
    guarded([this, selected] {
        QByteArrayList names = listedNames();
        GroupStore::DeleteGroup(*GroupIni, cp1252::fromUnicode(selected->text()), names);
        ListClient->clear();
        showNames(names);
    });
}

void TFrmGruppi::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TFrmGruppi::FormClose() {
    if (m_closed || !GroupIni)
        return;
    m_closed = true;
    QByteArrayList names;
    guarded([this, &names] { names = GroupStore::LoadGroupList(*GroupIni); });
    if (m_context.refillGroupSelector)
        m_context.refillGroupSelector(names);
    GroupIni.reset();
}

} // namespace vestrel::chat
