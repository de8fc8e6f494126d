#include "fb/Script.h"

#include "fb/Attachment.h"
#include "fb/SqlText.h"
#include "fb/Transaction.h"

namespace vestrel::fb {

QByteArrayList splitScript(const QByteArray& script) {
    QByteArrayList statements;
    QByteArray current;
    const qsizetype n = script.size();
    qsizetype i = 0;
    auto flush = [&] {
        const QByteArray s = current.trimmed();
        if (!s.isEmpty())
            statements.append(s);
        current.clear();
    };
    while (i < n) {
        bool comment = false;
        const qsizetype end = detail::skipQuotedOrComment(script, i, &comment);
        if (end > i) {
            if (!comment)
                current.append(script.mid(i, end - i));
            i = end;
        } else if (script.at(i) == ';') {
            flush();
            ++i;
        } else {
            current.append(script.at(i));
            ++i;
        }
    }
    flush();
    return statements;
}

void executeScript(Attachment& attachment, const QByteArray& script) {
    Transaction transaction(attachment);
    for (const QByteArray& statement : splitScript(script)) {
        const QByteArray words = statement.simplified().toUpper();
        try {
            if (words == "COMMIT" || words == "COMMIT WORK") {
                transaction.commit();
                transaction.start(attachment);
            } else if (words.startsWith("SET SQL DIALECT ")) {
                if (words.mid(16).toInt() != attachment.dialect())
                    throw FbError("the script asks for another SQL dialect");
            } else if (words.startsWith("SET NAMES ")) {
                continue;
            } else if (words.startsWith("SET TERM") || words.startsWith("CREATE DATABASE")) {
                throw FbError("not supported in scripts");
            } else {
                attachment.execute(transaction, statement);
            }
        } catch (const FbError& e) {
            throw FbError(std::string(e.what()) + "\nin statement: " + statement.toStdString(), e.errorCode());
        }
    }
    transaction.commit();
}

void createDatabaseFromScript(const QByteArray& databaseName, const QByteArrayList& params, const QByteArray& script) {
    Attachment attachment = Attachment::create(databaseName, params);
    executeScript(attachment, script);
    attachment.detach();
}

} // namespace vestrel::fb
