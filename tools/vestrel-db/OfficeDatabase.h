#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>

namespace vestrel::officedb {

// A column the schema asks for, as its CREATE TABLE line declares it.
struct SchemaColumn {
    QByteArray table;
    QByteArray name;
    QByteArray type; // "VARCHAR", "INTEGER", "SMALLINT", "DOUBLE PRECISION", "BLOB", ...
    int length = 0;  // characters of a VARCHAR or CHAR
};

struct Schema {
    QList<SchemaColumn> columns;
    QByteArrayList generators;
};

// The tables, columns and generators a schema script creates (CREATE TABLE and CREATE GENERATOR or
// SEQUENCE statements); everything else in it is left to the engine.
Schema ParseSchema(const QByteArray& script);

// Where the installed schema lies: $VESTREL_SCHEMA_FILE, else share/vestrel/schema.sql above the program's
// folder (the build tree and /usr), else /usr/share/vestrel/schema.sql.
QString SchemaFile();

// Creates DATABASE (dialect 1, WIN1252) and runs the schema in it. Refuses, raising, a database that
// exists already: an embedded file found on disk, or whatever the server refuses to create.
void CreateDatabase(const QByteArray& database, const QByteArrayList& params, const QByteArray& script);

// What the database lacks of the schema, one line each ("table RICORRENZE: column MESSAGGIO missing");
// empty when it has everything. Raises when the database cannot be opened.
QStringList CheckDatabase(const QByteArray& database, const QByteArrayList& params, const Schema& schema);

// Creates the database user `name` and grants it only what the programs need: reading the operators,
// workstations and backup tables, reading and writing the reminders, and the reminders' generator.
// Raises for a name that is not a plain identifier, or when the server refuses.
void AddUser(const QByteArray& database, const QByteArrayList& adminParams, const QByteArray& name,
             const QByteArray& password);

} // namespace vestrel::officedb
