#pragma once

#include <QByteArray>
#include <QByteArrayList>

namespace vestrel::fb {

class Attachment;

// Splits an SQL script into its statements at ";" outside quotes and comments. Blank statements are dropped.
QByteArrayList splitScript(const QByteArray& script);

// Runs a script of DDL and DML statements in order, as the command-line tool would. "COMMIT" commits
// and goes on in a new transaction; "SET SQL DIALECT n" must match the attachment's dialect;
// "SET NAMES" is ignored (connections use WIN1252); "SET TERM" and "CREATE DATABASE" are refused.
// Whatever runs after the last COMMIT is committed at the end. Raises FbError with the statement.
void executeScript(Attachment& attachment, const QByteArray& script);

// Creates `databaseName` (dialect 1, WIN1252) and runs `script` in it.
void createDatabaseFromScript(const QByteArray& databaseName, const QByteArrayList& params, const QByteArray& script);

} // namespace vestrel::fb
