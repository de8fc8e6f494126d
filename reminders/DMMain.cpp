#include "reminders/DMMain.h"

#include "platform/Cp1252.h"
#include "reminders/DismissalRecord.h"
#include "reminders/ReminderMessages.h"
#include "reminders/RemindersLog.h"
#include "reminders/RicThread.h"

#include <QSemaphore>

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

namespace {

// How often a waiting hand-off looks whether the thread was asked to stop.
constexpr int HandOffPollMs = 50;

QString oneLine(const char* text) {
    return QString::fromLocal8Bit(text).simplified();
}

} // namespace

TMyThread::TMyThread(fb::Connection& connection, QList<fb::DataSet*> dataSets, QObject* parent)
    : QThread(parent)
    , m_connection(connection)
    , m_dataSets(std::move(dataSets)) {}

void TMyThread::run() {
    try {
        m_connection.Open();
        for (fb::DataSet* dataSet : std::as_const(m_dataSets))
            dataSet->Open();
    } catch (const std::exception& e) {
        m_error = oneLine(e.what());
    }
}

TPopupThread::TPopupThread(const MemTable& memTB, ReminderPopups& popups, QObject* uiContext, QObject* parent)
    : QThread(parent)
    , m_memTB(memTB)
    , m_popups(popups)
    , m_uiContext(uiContext) {}

void TPopupThread::run() {
    for (const MemTBRow& row : m_memTB.rows()) {
        if (isInterruptionRequested())
            return;
        // The popup copies tag, title and text when it is shown; the thread goes on only after that.
        // The wait is polled rather than blocking so that a program ending meanwhile is never stuck.
        auto shown = std::make_shared<QSemaphore>();
        QMetaObject::invokeMethod(
            m_uiContext,
            [popups = &m_popups, row, shown] {
                popups->ShowPopUp(row.ID, cp1252::toUnicode(row.Descrizione), cp1252::toUnicode(row.Messaggio));
                shown->release();
            },
            Qt::QueuedConnection);
        while (!shown->tryAcquire(1, HandOffPollMs)) {
            if (isInterruptionRequested())
                return;
        }
    }
}

TDMCltRicorr::TDMCltRicorr(const Clock& clock, ReminderPopups& popups, QObject* parent)
    : QObject(parent)
    , IBRicorr(IBDatabaseConfig)
    , IBPost(IBDatabaseConfig)
    , IBOp(IBDatabaseConfig)
    , m_clock(clock)
    , m_popups(popups) {
    IBDatabaseConfig.setSQLDialect(1);
    IBDatabaseConfig.setParams({"user_name=sysdba", QByteArray("password=") + DefaultPassword});
    IBDatabaseConfig.setTransactionParams({"read_committed", "rec_version", "nowait"});
    IBDatabaseConfig.setDefaultAction(fb::Connection::EndAction::CommitRetaining);

    // Each message is read on its own, so one the connection cannot convert hides no other reminder:
    // the walk reads the due ones through ReminderMessages, the editor each one as its row is shown.
    IBRicorr.SelectSQL = ReminderMessages::WalkSQL;
    // Rows are told apart by these keys, so one whose title or name cannot be converted hides nothing else.
    IBRicorr.KeyField = "ID";
    IBPost.KeyField = "SIGLA";
    IBOp.KeyField = "SIGLA";
    IBRicorr.Deferred = fb::DataSet::DeferredColumn{"MESSAGGIO", "ID", ReminderMessages::ByIdSQL,
                                                    "update RICORRENZE set MESSAGGIO = :MESSAGGIO where ID = :ID"};
    IBRicorr.InsertSQL = "insert into RICORRENZE (ID, POSTAZIONE, UTENTE, DESCRIZIONE, MESSAGGIO, CRITERIO, "
                         "SOTTOCRITERIO, FINACTIVE) values (:ID, :POSTAZIONE, :UTENTE, :DESCRIZIONE, :MESSAGGIO, "
                         ":CRITERIO, :SOTTOCRITERIO, :FINACTIVE)";
    IBRicorr.ModifySQL = "update RICORRENZE set ID = :ID, POSTAZIONE = :POSTAZIONE, UTENTE = :UTENTE, "
                         "DESCRIZIONE = :DESCRIZIONE, CRITERIO = :CRITERIO, "
                         "SOTTOCRITERIO = :SOTTOCRITERIO, FINACTIVE = :FINACTIVE where ID = :OLD_ID";
    IBRicorr.DeleteSQL = "delete from RICORRENZE where ID = :OLD_ID";
    IBRicorr.RefreshSQL = "select ID, POSTAZIONE, UTENTE, DESCRIZIONE, CRITERIO, SOTTOCRITERIO, "
                          "FINACTIVE from RICORRENZE where ID = :ID";
    IBRicorr.GeneratorField = "ID";
    IBRicorr.GeneratorName = "RICORR_ID_GEN";
    IBRicorr.OnNewRecord = [this] {
        IBRicorrNewRecord();
    };

    IBPost.SelectSQL = "select * from POSTAZIONI";

    IBOp.SelectSQL = "select * from OPERATORI";
    IBOp.InsertSQL = "insert into OPERATORI (SIGLA, DESCRIZIONE, COLORE, FONT, PERCENTUALE, OP_INTEST_FAT, PWD) "
                     "values (:SIGLA, :DESCRIZIONE, :COLORE, :FONT, :PERCENTUALE, :OP_INTEST_FAT, :PWD)";
    IBOp.ModifySQL = "update OPERATORI set SIGLA = :SIGLA, DESCRIZIONE = :DESCRIZIONE, COLORE = :COLORE, "
                     "FONT = :FONT, PERCENTUALE = :PERCENTUALE, OP_INTEST_FAT = :OP_INTEST_FAT, PWD = :PWD "
                     "where SIGLA = :OLD_SIGLA";
    IBOp.DeleteSQL = "delete from OPERATORI where SIGLA = :OLD_SIGLA";
    IBOp.RefreshSQL = "select SIGLA, DESCRIZIONE, COLORE, FONT, PERCENTUALE, OP_INTEST_FAT, PWD from OPERATORI "
                      "where SIGLA = :SIGLA";

    Timer1.setInterval(Timer1Interval);
    connect(&Timer1, &QTimer::timeout, this, &TDMCltRicorr::Timer1Timer);
}

TDMCltRicorr::~TDMCltRicorr() {
    // The threads end by themselves; a program that ends early asks them to stop and waits.
    for (QThread* thread : {static_cast<QThread*>(m_popupThread.get()), static_cast<QThread*>(m_ricThread.get()),
                            static_cast<QThread*>(m_connectThread.get())}) {
        if (thread) {
            thread->requestInterruption();
            thread->wait();
        }
    }
}

void TDMCltRicorr::DataModuleCreate(const ShowMessageFn& showMessage) {
    bool noFile = false;
    try {
        LoadDatabaseSettings(IBDatabaseConfig, [&](const QString& text) {
            noFile = true;
            if (showMessage)
                showMessage(text);
        });
    } catch (const std::exception& e) {
        qCWarning(lcReminders).noquote() << "cannot load the database settings:" << oneLine(e.what());
    }
    m_configured = !noFile && !IBDatabaseConfig.DatabaseName().isEmpty();

    m_connectThread = std::make_unique<TMyThread>(IBDatabaseConfig, QList<fb::DataSet*>{&IBPost, &IBOp, &IBRicorr});
    connect(m_connectThread.get(), &QThread::finished, this, &TDMCltRicorr::ConnectionDone);
    m_connectThread->start();
}

void TDMCltRicorr::ConnectionDone() {
    if (!IBDatabaseConfig.Connected() || !m_connectThread->ErrorText().isEmpty()) {
        const QString message = u"cannot open the database "_s + cp1252::toUnicode(IBDatabaseConfig.DatabaseName()) +
                                u": "_s + m_connectThread->ErrorText();
        qCWarning(lcReminders).noquote() << message;
        emit connectionFailed(message);
        return;
    }
    if (EditorMode)
        emit editorRequested();
    else if (ReminderMode)
        StartEvaluation();
}

void TDMCltRicorr::StartEvaluation() {
    m_ricThread = std::make_unique<TRicThread>(MemTB, IBRicorr, Filters, m_clock);
    // Prepared on the evaluation's thread when the first due reminder needs its message.
    m_ricThread->evaluation().setMessageReader(
        [this, messages = std::shared_ptr<ReminderMessages>()](qint64 id) mutable {
            if (!messages)
                messages =
                    std::make_shared<ReminderMessages>(IBDatabaseConfig.attachment(), IBDatabaseConfig.transaction());
            return messages->Read(id);
        });
    connect(m_ricThread.get(), &QThread::finished, this, &TDMCltRicorr::EvaluationDone);
    m_ricThread->start();
}

void TDMCltRicorr::EvaluationDone() {
    m_popupThread = std::make_unique<TPopupThread>(MemTB, m_popups, this);
    connect(m_popupThread.get(), &QThread::finished, this, &TDMCltRicorr::popupsShown);
    m_popupThread->start();
    Timer1.start();
}

void TDMCltRicorr::Timer1Timer() {
    const QList<qint32> pending = std::exchange(m_pendingDismissals, {});
    for (const qint32 id : pending) {
        try {
            WriteDismissal(id, m_clock.today());
        } catch (const std::exception& e) {
            const QString reason = oneLine(e.what());
            qCWarning(lcReminders).noquote() << "cannot record the dismissal of reminder" << id << "again:" << reason;
            emit dismissalFailed(id, reason);
        }
    }
    if (m_popups.PopupCount() == 0)
        emit terminateRequested();
}

void TDMCltRicorr::IBRicorrNewRecord() {
    IBRicorr.SetFieldValue("CRITERIO", fb::Value::fromInteger(1));
    IBRicorr.SetFieldValue("DESCRIZIONE", fb::Value::fromText("Memo"));
    IBRicorr.SetFieldValue("FINACTIVE", fb::Value::fromText("0"));
    IBRicorr.Post();
}

bool TDMCltRicorr::RecordDismissal(qint32 id) {
    try {
        WriteDismissal(id, m_clock.today());
        return true;
    } catch (const std::exception& e) {
        qCWarning(lcReminders).noquote() << "cannot record the dismissal of reminder" << id << ':' << oneLine(e.what())
                                         << "- tried again at the next tick";
        if (!m_pendingDismissals.contains(id))
            m_pendingDismissals.append(id);
        return false;
    }
}

} // namespace vestrel::reminders
