#include "chat/ChatPassword.h"

#include "platform/Cp1252.h"
#include "platform/secrets/SecretStore.h"

#include <QHash>
#include <QMutex>

using namespace Qt::StringLiterals;

namespace vestrel::chat::ChatPassword {

namespace {

const QString Service = u"Vestrel chat"_s;

struct Memory {
    QMutex mutex;
    QHash<QByteArray, QByteArray> passwords; // by account
};

Memory& memory() {
    static Memory held;
    return held;
}

} // namespace

QByteArray get(const QByteArray& account, bool* storeAnswered) {
    if (storeAnswered)
        *storeAnswered = true;
    {
        const QMutexLocker lock(&memory().mutex);
        if (const auto it = memory().passwords.constFind(account); it != memory().passwords.cend())
            return *it;
    }
    const QByteArray demo = qgetenv("VESTREL_CHAT_PASSWORD");
    if (!demo.isEmpty())
        return cp1252::fromUnicode(QString::fromLocal8Bit(demo));
    const auto stored = SecretStore::read(Service, cp1252::toUnicode(account));
    if (storeAnswered)
        *storeAnswered = stored.has_value();
    if (stored && !stored->isEmpty())
        remember(account, *stored);
    return stored.value_or(QByteArray());
}

bool set(const QByteArray& account, const QByteArray& password) {
    remember(account, password);
    return SecretStore::write(Service, cp1252::toUnicode(account), password);
}

void remember(const QByteArray& account, const QByteArray& password) {
    const QMutexLocker lock(&memory().mutex);
    memory().passwords.insert(account, password);
}

} // namespace vestrel::chat::ChatPassword
