// The main window's localised texts, looked up by number each time the window is shown.
#include "chat/ui/ClientFrmMain.h"

#include "chat/ui/LocalTexts.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

void TClientFrmMain::FormShow() {
    applyTitle(this, 49750);
    applyText(LabelHostServer, 49752);
    applyText(LabelPortaServer, 49753);
    File1->setTitle(localText(49754, File1->title()));
    QAction* fileItems[7] = {Impostazioni1, GestioneGruppi1,   Connetti1,         Disconnetti1,
                             RiduciaIcona1, EsciDalProgramma1, DisconnettiEdEsci1};
    for (int i = 0; i < 7; ++i)
        applyText(fileItems[i], 49755 + i);
    applyHint(IncomingMessages, 49762);
    applyText(LabelMessaggi, 49763);
    applyText(LabelClientConnessi, 49764);
    applyHint(ListBox1, 49765);
    applyText(Pulisci, 49766);
    applyText(CheckBox1, 49767);
    applyText(CheckBox2, 49768);
    applyHint(ComboBox1, 49769);
    applyHint(Edit1, 49770);
    for (int i = 0; i < 2 && i < EditCommand->count(); ++i)
        EditCommand->setItemText(i, localText(49771 + i, EditCommand->itemText(i)));
    applyHint(EditCommand, 49773);
    applyText(LabelComando, 49774);
    applyText(LabelMessaggio, 49775);
    applyText(LabelInviaA, 49776);
    applyHint(Memo1, 49777);
    applyHint(SpeedButton3, 49778);
    // The status panels take the texts of the present state in the user's language.
    StatusPanels[0]->setText(localText(49787, u"Chat Vestrel"_s));
    StatusPanels[1]->setText(connectionStateText(m_machine.connected()));
    StatusPanels[2]->setText(m_machine.connected() ? connectedClientsText(int(m_clientList.count()))
                                                   : localText(49789, u"Client connessi : 0"_s));
    applyHint(CheckBox1, 49790);
    applyHint(CheckBox2, 49791);
    applyHistoryTexts();
    fitToTexts();
    Memo1->setFocus();
    emit formShown();
}

QString TClientFrmMain::connectionStateText(bool connected) {
    return connected ? localText(ChatMessage::ClientConnected, u"Client Connesso"_s)
                     : localText(49788, u"Client Disconnesso"_s);
}

QString TClientFrmMain::connectedClientsText(int count) {
    return localText(ChatMessage::ConnectedClientsCount, u"Client connessi: "_s) + QString::number(count);
}

} // namespace vestrel::chat
