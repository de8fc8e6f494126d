#pragma once

// Test support for VERicorr's windows: message boxes that record what they show, and an embedded
// office database with reminders named by the test.

#include "components/ui/MessageBoxes.h"
#include "fb/Attachment.h"
#include "fb/Statement.h"
#include "fb/Transaction.h"

#include <QFile>
#include <QStringList>

namespace vestrel::testing {

class RecordingBoxes : public MessageBoxes {
public:
    QStringList information_, warnings, errors, questions;
    bool answer = true;
    void information(const QString& text) override { information_.append(text); }
    void warning(const QString& text) override { warnings.append(text); }
    void error(const QString& text) override { errors.append(text); }
    bool question(const QString& text) override {
        questions.append(text);
        return answer;
    }
};

struct ReminderRow {
    qint64 id;
    int criterio;
    QByteArray detail;
    QByteArray title;
    QByteArray message = "Messaggio";
};

// Replaces the reminders of the database with `rows`.
inline void storeReminders(const QByteArray& path, const QByteArrayList& user, const QList<ReminderRow>& rows) {
    fb::Attachment att = fb::Attachment::attach(path, user);
    fb::Transaction tr(att);
    att.execute(tr, "delete from RICORRENZE");
    fb::Statement insert(att, tr,
                         "insert into RICORRENZE (ID, DESCRIZIONE, MESSAGGIO, CRITERIO, SOTTOCRITERIO, FINACTIVE) "
                         "values (?, ?, ?, ?, ?, '0')");
    for (const ReminderRow& row : rows) {
        insert.setParam(0, fb::Value::fromInteger(row.id));
        insert.setParam(1, fb::Value::fromText(row.title));
        insert.setParam(2, fb::Value::fromText(row.message));
        insert.setParam(3, fb::Value::fromInteger(row.criterio));
        insert.setParam(4, row.detail.isEmpty() ? fb::Value() : fb::Value::fromText(row.detail));
        insert.execute();
    }
    tr.commit();
}

// The value of one column of one reminder as committed, read on a connection of its own.
inline QByteArray committedField(const QByteArray& path, const QByteArrayList& user, qint64 id,
                                 const QByteArray& column) {
    fb::Attachment att = fb::Attachment::attach(path, user);
    fb::Transaction tr(att, {"read_committed", "rec_version", "nowait", "read"});
    fb::Statement select(att, tr, "select " + column + " from RICORRENZE where ID = ?");
    select.setParam(0, fb::Value::fromInteger(id));
    auto cursor = select.openCursor();
    fb::Row row;
    if (!cursor->fetch(row))
        return "<missing>";
    return row.at(0).asText();
}

} // namespace vestrel::testing
