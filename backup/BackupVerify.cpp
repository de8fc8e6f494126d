#include "backup/BackupVerify.h"

#include "backup/BackupLogging.h"
#include "backup/FileCopy.h"
#include "backup/backupFunction.h"
#include "fb/Attachment.h"
#include "fb/FbError.h"
#include "fb/Query.h"
#include "fb/ServiceManager.h"
#include "fb/Transaction.h"

#include <QFile>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

constexpr char LocalServer[] = "127.0.0.1";

QByteArray quotedIdentifier(const QByteArray& name) {
    QByteArray quoted = name.trimmed();
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}

// Reads every row of every user table (views and system tables aside).
void readEveryTable(const QByteArray& databaseName, const QByteArray& user, const QByteArray& password) {
    // Dialect 3, so that any table name can be quoted.
    constexpr int QuotingDialect = 3;
    fb::Attachment attachment =
        fb::Attachment::attach(databaseName, {"user_name=" + user, "password=" + password}, QuotingDialect);
    fb::Transaction transaction(attachment);
    QByteArrayList tables;
    {
        fb::Query query(attachment, transaction,
                        "select RDB$RELATION_NAME from RDB$RELATIONS where coalesce(RDB$SYSTEM_FLAG, 0) = 0 "
                        "and RDB$VIEW_BLR is null");
        query.Open();
        for (query.First(); !query.Eof(); query.Next())
            tables.append(query.Current().at(0).asText());
        query.Close();
    }
    for (const QByteArray& table : std::as_const(tables)) {
        fb::Query query(attachment, transaction, "select count(*) from " + quotedIdentifier(table));
        query.Open();
        query.First();
        query.Close();
    }
    transaction.commit();
    attachment.detach();
}

// The scratch database of a check: beside the backup. On this machine it has a temporary name that the
// next run removes should this one be killed; on a server elsewhere it has a fixed name that the next
// check replaces.
QByteArray scratchName(const QByteArray& backupFile, bool local) {
    if (local)
        return QFile::encodeName(TemporaryNameFor(QFile::decodeName(backupFile)));
    return backupFile + ".part-check";
}

// Drops the scratch database through the server, which also reaches a server on another machine.
// Its connect triggers are not run: a database that refuses to be opened is dropped all the same.
void dropScratch(const QByteArray& server, const QByteArray& scratch, const QByteArray& user,
                 const QByteArray& password, bool local) {
    try {
        fb::Attachment::attach(server + ':' + scratch,
                               {"user_name=" + user, "password=" + password, "no_db_triggers=1"})
            .drop();
    } catch (const std::exception& e) {
        if (local && QFile::remove(QFile::decodeName(scratch)))
            return;
        // A restore that failed before it created the file leaves nothing to drop.
        if (local && !QFile::exists(QFile::decodeName(scratch)))
            return;
        qCWarning(lcBackup) << "cannot drop the scratch database" << scratch << ":" << e.what();
    }
}

} // namespace

void VerifyServerBackup(const QByteArray& server, const QByteArray& user, const QByteArray& password,
                        const QByteArray& backupFile, bool local) {
    const QByteArray scratch = scratchName(backupFile, local);
    try {
        fb::ServiceManager manager = fb::ServiceManager::attach(server, user, password);
        manager.startRestore(backupFile, scratch, !local);
        manager.waitForEnd();
        manager.detach();
        readEveryTable(server + ':' + scratch, user, password);
    } catch (const std::exception& e) {
        dropScratch(server, scratch, user, password, local);
        throw BackupError(std::string("the backup does not restore: ") + e.what());
    }
    dropScratch(server, scratch, user, password, local);
}

void VerifyCopy(const QString& copy, const QByteArray& user, const QByteArray& password) {
    QByteArray output;
    try {
        fb::ServiceManager manager = fb::ServiceManager::attach(LocalServer, user, password);
        manager.startValidation(QFile::encodeName(copy));
        output = manager.waitForEnd();
        manager.detach();
    } catch (const std::exception& e) {
        throw BackupError(std::string("the copy does not pass validation: ") + e.what());
    }
    // The validation reports what it found as text; a clean database yields none.
    static const QRegularExpression errors(u"(errors?|corrupt)"_s, QRegularExpression::CaseInsensitiveOption);
    const QString text = QString::fromLatin1(output).simplified();
    if (errors.match(text).hasMatch())
        throw BackupError("the copy does not pass validation: " + text.toStdString());
}

} // namespace vestrel::backup
