#pragma once

#include "fb/Connection.h"
#include "fb/DataSet.h"
#include "platform/Clock.h"
#include "reminders/DatabaseSettings.h"
#include "reminders/MemTable.h"
#include "reminders/ReminderFilters.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <memory>
#include <optional>

namespace vestrel::reminders {

class TRicThread;

// Where the due reminders are shown. The program hands over its popup component; tests record.
// Both calls run on the user-interface thread.
class ReminderPopups {
public:
    virtual ~ReminderPopups() = default;
    // Shows one popup whose tag is the reminder's ID; false when there was no room for it.
    virtual bool ShowPopUp(qint32 tag, const QString& title, const QString& text) = 0;
    // Popups shown and not yet closed.
    virtual int PopupCount() const = 0;
};

// Opens the connection and then the data module's datasets, off the user-interface thread.
class TMyThread : public QThread {
    Q_OBJECT
public:
    TMyThread(fb::Connection& connection, QList<fb::DataSet*> dataSets, QObject* parent = nullptr);
    // Why opening failed; empty when it succeeded. Read after the thread has finished.
    QString ErrorText() const { return m_error; }

protected:
    void run() override;

private:
    fb::Connection& m_connection;
    QList<fb::DataSet*> m_dataSets;
    QString m_error;
};

// Hands one popup per row of the memory table to the user-interface thread, in row order, waiting for
// each to be shown. It walks by index and never moves a shared cursor, so a lookup by ID on the
// user-interface thread (a click on a popup) cannot disturb it.
class TPopupThread : public QThread {
    Q_OBJECT
public:
    TPopupThread(const MemTable& memTB, ReminderPopups& popups, QObject* uiContext, QObject* parent = nullptr);

protected:
    void run() override;

private:
    const MemTable& m_memTB;
    ReminderPopups& m_popups;
    QObject* m_uiContext;
};

// The reminders client's data module: the connection with its default transaction, the datasets on
// RICORRENZE, POSTAZIONI and OPERATORI, the memory table of due reminders, the end timer, and the chain
// connect → evaluate → show popups. Every handler runs on the user-interface thread; the database work
// runs on the worker threads, each started from the previous one's end handler.
class TDMCltRicorr : public QObject {
    Q_OBJECT
public:
    static constexpr int Timer1Interval = 60000; // ms between checks for open popups
    static constexpr char DefaultPassword[] = "tavernfog";

    TDMCltRicorr(const Clock& clock, ReminderPopups& popups, QObject* parent = nullptr);
    ~TDMCltRicorr() override;

    bool EditorMode = false;
    bool ReminderMode = false;
    ReminderFilters Filters;

    fb::Connection IBDatabaseConfig;
    fb::DataSet IBRicorr;
    fb::DataSet IBPost;
    fb::DataSet IBOp;
    MemTable MemTB;
    QTimer Timer1;

    // Loads the database settings (a missing file name is told through `showMessage`) and starts
    // connecting.
    void DataModuleCreate(const ShowMessageFn& showMessage);
    void ConnectionDone();
    void StartEvaluation();
    void EvaluationDone();
    void Timer1Timer();
    // A row is being inserted: stored at once as an active daily reminder named "Memo".
    void IBRicorrNewRecord();

    // The due reminder with this ID, found without moving anything.
    std::optional<MemTBRow> LocateReminder(qint32 id) const { return MemTB.Locate(id); }
    // Records today's dismissal of reminder `id`; false (and a log line) when it cannot be written.
    // A dismissal that fails is tried again at the next tick of Timer1, and reported through
    // dismissalFailed when that fails too.
    bool RecordDismissal(qint32 id);
    // Dismissals waiting for the next tick.
    QList<qint32> PendingDismissals() const { return m_pendingDismissals; }

    // True once "config.ini" named a database file.
    bool DatabaseConfigured() const { return m_configured; }

signals:
    // Connected in editor mode: the program opens the editor.
    void editorRequested();
    // The connection or its datasets could not be opened; nothing further happens in this run.
    void connectionFailed(const QString& message);
    // Every due reminder has been handed to the popups.
    void popupsShown();
    // The run is over: no popup is left open at a tick of Timer1.
    void terminateRequested();
    // A dismissal could not be written at the click nor at the next tick; the reminder comes back.
    void dismissalFailed(qint32 id, const QString& reason);

private:
    const Clock& m_clock;
    ReminderPopups& m_popups;
    bool m_configured = false;
    QList<qint32> m_pendingDismissals;
    std::unique_ptr<TMyThread> m_connectThread;
    std::unique_ptr<TRicThread> m_ricThread;
    std::unique_ptr<TPopupThread> m_popupThread;
};

} // namespace vestrel::reminders
