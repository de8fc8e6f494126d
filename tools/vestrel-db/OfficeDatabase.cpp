#include "tools/vestrel-db/OfficeDatabase.h"

#include "fb/Attachment.h"
#include "fb/FbError.h"
#include "fb/Script.h"
#include "fb/Statement.h"
#include "fb/Transaction.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <map>

using namespace Qt::StringLiterals;

namespace vestrel::officedb {

namespace {

// The items of a parenthesised list, split at commas outside inner parentheses.
QByteArrayList splitItems(const QByteArray& body) {
    QByteArrayList items;
    int depth = 0;
    QByteArray item;
    for (const char c : body) {
        if (c == '(')
            ++depth;
        else if (c == ')')
            --depth;
        if (c == ',' && depth == 0) {
            items.append(item.trimmed());
            item.clear();
        } else {
            item.append(c);
        }
    }
    if (!item.trimmed().isEmpty())
        items.append(item.trimmed());
    return items;
}

// The type names RDB$FIELDS gives by number; dialect 1 keeps DATE as a timestamp.
QByteArray typeName(int fieldType) {
    switch (fieldType) {
    case 7:
        return "SMALLINT";
    case 8:
        return "INTEGER";
    case 10:
        return "FLOAT";
    case 14:
        return "CHAR";
    case 16:
        return "BIGINT";
    case 27:
        return "DOUBLE PRECISION";
    case 35:
        return "DATE";
    case 37:
        return "VARCHAR";
    case 261:
        return "BLOB";
    default:
        return "type " + QByteArray::number(fieldType);
    }
}

QByteArray plainName(const QByteArray& text) {
    static const QRegularExpression identifier(u"^[A-Za-z][A-Za-z0-9_$]{0,30}$"_s);
    if (!identifier.match(QString::fromLatin1(text)).hasMatch())
        throw fb::FbError("not a plain name: " + text.toStdString());
    return text.toUpper();
}

} // namespace

Schema ParseSchema(const QByteArray& script) {
    static const QRegularExpression createTable(u"^CREATE\\s+TABLE\\s+(\\w+)\\s*\\((.*)\\)$"_s,
                                                QRegularExpression::DotMatchesEverythingOption |
                                                    QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression createGenerator(u"^CREATE\\s+(?:GENERATOR|SEQUENCE)\\s+(\\w+)$"_s,
                                                    QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression column(u"^(\\w+)\\s+(\\w+(?:\\s+PRECISION)?)\\s*(?:\\((\\d+)\\))?"_s,
                                           QRegularExpression::CaseInsensitiveOption);
    Schema schema;
    for (const QByteArray& statement : fb::splitScript(script)) {
        const QString text = QString::fromLatin1(statement.trimmed());
        if (const auto table = createTable.match(text); table.hasMatch()) {
            for (const QByteArray& item : splitItems(table.captured(2).toLatin1())) {
                const auto match = column.match(QString::fromLatin1(item));
                const QByteArray name = match.captured(1).toLatin1().toUpper();
                if (!match.hasMatch() || name == "PRIMARY" || name == "CONSTRAINT" || name == "FOREIGN" ||
                    name == "UNIQUE" || name == "CHECK")
                    continue;
                schema.columns.append({table.captured(1).toLatin1().toUpper(), name,
                                       match.captured(2).toLatin1().toUpper().simplified(), match.captured(3).toInt()});
            }
        } else if (const auto generator = createGenerator.match(text); generator.hasMatch()) {
            schema.generators.append(generator.captured(1).toLatin1().toUpper());
        }
    }
    return schema;
}

QString SchemaFile() {
    const QString fromEnvironment = qEnvironmentVariable("VESTREL_SCHEMA_FILE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(u"../share/vestrel/schema.sql"_s);
    if (QFileInfo::exists(beside))
        return QDir::cleanPath(beside);
    return u"/usr/share/vestrel/schema.sql"_s;
}

void CreateDatabase(const QByteArray& database, const QByteArrayList& params, const QByteArray& script) {
    if (!fb::Attachment::isRemoteName(database) && QFileInfo::exists(QFile::decodeName(database)))
        throw fb::FbError("the database " + database.toStdString() + " exists already; it is left as it is");
    fb::createDatabaseFromScript(database, params, script);
}

QStringList CheckDatabase(const QByteArray& database, const QByteArrayList& params, const Schema& schema) {
    fb::Attachment attachment = fb::Attachment::attach(database, params);
    fb::Transaction transaction(attachment, {"read_committed", "rec_version", "nowait", "read"});
    struct Found {
        QByteArray type;
        int length;
    };
    std::map<std::pair<QByteArray, QByteArray>, Found> found;
    {
        fb::Statement select(attachment, transaction,
                             "select trim(rf.RDB$RELATION_NAME), trim(rf.RDB$FIELD_NAME), f.RDB$FIELD_TYPE, "
                             "coalesce(f.RDB$CHARACTER_LENGTH, 0) from RDB$RELATION_FIELDS rf "
                             "join RDB$FIELDS f on f.RDB$FIELD_NAME = rf.RDB$FIELD_SOURCE");
        auto cursor = select.openCursor();
        fb::Row row;
        while (cursor->fetch(row))
            found[{row.at(0).asText(), row.at(1).asText()}] = {typeName(row.at(2).asInteger()), row.at(3).asInteger()};
    }
    QByteArrayList generators;
    {
        fb::Statement select(attachment, transaction, "select trim(RDB$GENERATOR_NAME) from RDB$GENERATORS");
        auto cursor = select.openCursor();
        fb::Row row;
        while (cursor->fetch(row))
            generators.append(row.at(0).asText());
    }
    transaction.commit();

    QStringList problems;
    QByteArrayList missingTables;
    for (const SchemaColumn& column : schema.columns) {
        const bool tableThere = std::any_of(found.begin(), found.end(),
                                            [&](const auto& entry) { return entry.first.first == column.table; });
        if (!tableThere) {
            if (!missingTables.contains(column.table)) {
                missingTables.append(column.table);
                problems.append(u"table %1 missing"_s.arg(QString::fromLatin1(column.table)));
            }
            continue;
        }
        const auto there = found.find({column.table, column.name});
        const QString where =
            u"table %1: column %2"_s.arg(QString::fromLatin1(column.table), QString::fromLatin1(column.name));
        if (there == found.end()) {
            problems.append(where + u" missing"_s);
            continue;
        }
        const Found& actual = there->second;
        const QByteArray wanted = column.type == "TIMESTAMP" ? QByteArray("DATE") : column.type;
        if (actual.type != wanted) {
            problems.append(
                where + u" is %1, needs %2"_s.arg(QString::fromLatin1(actual.type), QString::fromLatin1(column.type)));
        } else if (column.length > 0 && actual.length < column.length) {
            problems.append(where + u" holds %1 characters, needs %2"_s.arg(actual.length).arg(column.length));
        }
    }
    for (const QByteArray& generator : schema.generators) {
        if (!generators.contains(generator))
            problems.append(u"generator %1 missing"_s.arg(QString::fromLatin1(generator)));
    }
    return problems;
}

void AddUser(const QByteArray& database, const QByteArrayList& adminParams, const QByteArray& name,
             const QByteArray& password) {
    const QByteArray user = plainName(name);
    if (password.isEmpty())
        throw fb::FbError("the new user needs a password");
    QByteArray quoted = password;
    quoted.replace('\'', "''");
    fb::Attachment attachment = fb::Attachment::attach(database, adminParams);
    fb::Transaction transaction(attachment);
    attachment.execute(transaction, "create user " + user + " password '" + quoted + "'");
    // What VERicorr, vericorr-due and VEBackupd read and write, and nothing else.
    for (const char* table : {"OPERATORI", "POSTAZIONI", "DB", "IMP_CONTAB"})
        attachment.execute(transaction, QByteArray("grant select on ") + table + " to " + user);
    attachment.execute(transaction, "grant select, insert, update, delete on RICORRENZE to " + user);
    attachment.execute(transaction, "grant usage on generator RICORR_ID_GEN to " + user);
    transaction.commit();
    attachment.detach();
}

} // namespace vestrel::officedb
