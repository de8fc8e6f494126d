#include "fb/Script.h"

#include "fb/Attachment.h"
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
        const char c = script.at(i);
        if (c == '\'' || c == '"') {
            // Quoted text or identifier; a doubled quote stays inside.
            qsizetype j = i + 1;
            while (j < n) {
                if (script.at(j) == c) {
                    if (j + 1 < n && script.at(j + 1) == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            current.append(script.mid(i, j + 1 - i));
            i = j + 1;
        } else if (c == '-' && i + 1 < n && script.at(i + 1) == '-') {
            const qsizetype end = script.indexOf('\n', i);
            i = end < 0 ? n : end;
        } else if (c == '/' && i + 1 < n && script.at(i + 1) == '*') {
            const qsizetype end = script.indexOf("*/", i + 2);
            i = end < 0 ? n : end + 2;
        } else if (c == ';') {
            flush();
            ++i;
        } else {
            current.append(c);
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
