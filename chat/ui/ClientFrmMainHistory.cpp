// The main window's side of the chat history: keeping the lines it shows, showing the last ones at
// start, and the File > Cronologia commands.
#include "chat/ui/ClientFrmMain.h"

#include "chat/Composer.h"
#include "chat/HistoryLine.h"
#include "chat/HistoryStore.h"
#include "chat/ui/HistoryExportDialog.h"
#include "chat/ui/HistorySearchDialog.h"
#include "chat/ui/HistoryTexts.h"
#include "chat/ui/LocalTexts.h"
#include "components/ui/MessageBoxes.h"
#include "platform/Cp1252.h"

#include <QAction>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalBlocker>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

void TClientFrmMain::buildHistoryMenu(QMenu* file) {
    Cronologia1 = file->addMenu(u"Cronologia"_s);
    CercaCronologia1 = Cronologia1->addAction(u"&Cerca..."_s, this, &TClientFrmMain::CercaCronologia1Click);
    CercaCronologia1->setShortcut(QKeySequence(u"Ctrl+F"_s));
    EsportaCronologia1 = Cronologia1->addAction(u"&Esporta..."_s, this, &TClientFrmMain::EsportaCronologia1Click);
    SvuotaCronologia1 =
        Cronologia1->addAction(u"&Svuota la cronologia..."_s, this, &TClientFrmMain::SvuotaCronologia1Click);
    // The shortcut works while the window has the focus, whether or not the menu is open.
    addAction(CercaCronologia1);
}

void TClientFrmMain::applyHistoryTexts() {
    Cronologia1->setTitle(localText(HistoryText::Menu, Cronologia1->title()));
    applyText(CercaCronologia1, HistoryText::Search);
    applyText(EsportaCronologia1, HistoryText::Export);
    applyText(SvuotaCronologia1, HistoryText::Clear);
}

void TClientFrmMain::openHistory(bool showEarlier) {
    if (m_history && m_history->openResult() != HistoryStore::OpenResult::Off)
        return; // the history of this run is already open
    // A history turned on again in the settings replaces the one that kept nothing, with its window.
    delete m_historySearch;
    m_historySearch = nullptr;
    delete m_history;
    HistoryStore::Options options;
    options.keepDays = HistoryRetention::load();
    m_history = new HistoryStore(options, this);
    connect(
        m_history, &HistoryStore::writeFailed, this,
        [this](const QString& reason) {
            m_boxes.warning(localText(HistoryText::NotWritten,
                                      u"La cronologia non pu\u00F2 essere salvata (%1): la chat continua senza."_s)
                                .arg(reason));
        },
        Qt::QueuedConnection);
    switch (m_history->open()) {
    case HistoryStore::OpenResult::MovedAside:
        m_boxes.warning(localText(HistoryText::MovedAside,
                                  u"Il file della cronologia era danneggiato: \u00E8 stato spostato in %1 e ne \u00E8 "
                                  u"stato iniziato uno nuovo."_s)
                            .arg(m_history->movedTo()));
        break;
    case HistoryStore::OpenResult::Unavailable:
        m_boxes.warning(localText(HistoryText::NotWritten,
                                  u"La cronologia non pu\u00F2 essere salvata (%1): la chat continua senza."_s)
                            .arg(m_history->problem()));
        break;
    case HistoryStore::OpenResult::Opened:
    case HistoryStore::OpenResult::Off:
        break;
    }
    if (!showEarlier)
        return;
    const QList<HistoryLine> earlier = m_history->lastLines(HistoryStore::LinesShownAtStart);
    if (earlier.isEmpty())
        return;
    // Lines of earlier runs are no news: they must not raise the new-message popup and sound.
    const QSignalBlocker quiet(IncomingMessages);
    for (const HistoryLine& line : earlier)
        addLine(cp1252::fromUnicode(line.paneText()));
    addLine(
        cp1252::fromUnicode(localText(HistoryText::Separator, u"----- messaggi delle sessioni precedenti -----"_s)));
}

void TClientFrmMain::applyHistoryRetention() {
    const int days = HistoryRetention::load();
    if (m_history && m_history->isOpen()) {
        m_history->setKeepDays(days);
        return;
    }
    if (days > 0 && m_history && m_history->openResult() == HistoryStore::OpenResult::Off)
        openHistory(false);
}

void TClientFrmMain::keepReceivedLine(const TChatRecord& record) {
    if (m_history)
        m_history->keep(receivedHistoryLine(record, m_config.Nick, {}));
}

void TClientFrmMain::keepSentLine(const ComposerState& state) {
    if (m_history)
        m_history->keep(
            sentHistoryLine(m_config.Nick, state.typedText, state.toGroup ? state.groupText : state.recipientText, {}));
}

void TClientFrmMain::CercaCronologia1Click() {
    if (!m_history)
        return;
    if (!m_historySearch)
        m_historySearch = new HistorySearchDialog(*m_history, this);
    m_historySearch->show();
    m_historySearch->raise();
    m_historySearch->activateWindow();
    m_historySearch->SearchEdit->setFocus();
    m_historySearch->SearchEdit->selectAll();
}

void TClientFrmMain::EsportaCronologia1Click() {
    if (!m_history)
        return;
    auto chooseFile = m_dialogs.historyExportFile;
    if (!chooseFile) {
        chooseFile = [](QWidget* owner, bool csv) {
            return QFileDialog::getSaveFileName(owner, QString(),
                                                csv ? u"cronologia-chat.csv"_s : u"cronologia-chat.txt"_s,
                                                csv ? u"CSV (*.csv)"_s : u"Testo (*.txt)"_s);
        };
    }
    HistoryExportDialog dialog(*m_history, m_boxes, chooseFile, this);
    dialog.exec();
}

void TClientFrmMain::SvuotaCronologia1Click() {
    if (!m_history)
        return;
    if (!m_boxes.question(localText(HistoryText::ClearQuestion, u"Cancellare tutta la cronologia dei messaggi?"_s)))
        return;
    m_history->clearAll();
    if (m_historySearch && m_historySearch->isVisible()) {
        m_history->waitUntilWritten(); // the open results must not show what was just cleared
        m_historySearch->runSearch();
    }
}

} // namespace vestrel::chat
