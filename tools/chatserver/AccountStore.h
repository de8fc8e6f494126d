#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace vestrel::chatserver {

// The relay's accounts: one a line, "name:hash", the name in UTF-8 and the hash an Argon2id string
// made by libsodium. Lines that are empty or start with '#' are kept as they are. The file is
// rewritten atomically and readable by its owner only.
class AccountStore {
public:
    struct Account {
        QByteArray name; // cp1252, as it travels on the wire
        QByteArray hash;
    };

    explicit AccountStore(QString path)
        : m_path(std::move(path)) {}

    // Reads the file; false with `error` set when it cannot be read or a line is not an account.
    bool load(QString* error);
    // Reads the file again when it changed on disk since the last load; keeps the old accounts and
    // returns false when the new content cannot be read.
    bool reloadIfChanged(QString* error);
    bool save(QString* error) const;

    const Account* find(const QByteArray& name) const;
    qsizetype count() const;
    // Adds the account or replaces its password.
    void setHash(const QByteArray& name, const QByteArray& hash);
    bool remove(const QByteArray& name);

    // Why `name` cannot be an account name, or empty when it can: it must be cp1252 text without
    // control characters, '=' or ':', and short enough for a client list line "name=name".
    static QString invalidName(const QString& name);

private:
    QString m_path;
    struct Line {
        QByteArray text; // a comment or empty line; unused for accounts
        Account account;
        bool isAccount = false;
    };
    QList<Line> m_lines;
    QDateTime m_modified;
    qint64 m_size = -1;
};

// Argon2id through libsodium. hash() and verify() are slow on purpose (tens of milliseconds and 64 MiB).
namespace password {
bool initialise();
QByteArray hash(const QByteArray& password);
bool verify(const QByteArray& hash, const QByteArray& password);
// The hash of a random password no one knows, checked in place of an account that does not exist.
QByteArray standInHash();
} // namespace password

} // namespace vestrel::chatserver
