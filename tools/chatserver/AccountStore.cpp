#include "tools/chatserver/AccountStore.h"

#include "platform/Cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sodium.h>

using namespace Qt::StringLiterals;

namespace vestrel::chatserver {

namespace {
// A list line "name=name\r\n" must fit in one record's text field.
constexpr int MaxNameBytes = 126;
} // namespace

bool AccountStore::load(QString* error) {
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = u"cannot read %1: %2"_s.arg(m_path, file.errorString());
        return false;
    }
    QList<Line> lines;
    int number = 0;
    for (QByteArray raw : file.readAll().split('\n')) {
        ++number;
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QByteArray trimmed = raw.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#')) {
            lines.append({raw, {}, false});
            continue;
        }
        const qsizetype colon = raw.lastIndexOf(':');
        const QString name = QString::fromUtf8(raw.left(std::max<qsizetype>(colon, 0)));
        const QByteArray hash = raw.mid(colon + 1);
        if (colon <= 0 || !invalidName(name).isEmpty() || !hash.startsWith("$argon2")) {
            *error = u"%1, line %2: not an account (name:hash)"_s.arg(m_path).arg(number);
            return false;
        }
        lines.append({{}, {cp1252::fromUnicode(name), hash}, true});
    }
    // The split leaves one empty piece after the last newline.
    if (!lines.isEmpty() && !lines.last().isAccount && lines.last().text.isEmpty())
        lines.removeLast();
    m_lines = std::move(lines);
    const QFileInfo info(m_path);
    m_modified = info.lastModified();
    m_size = info.size();
    return true;
}

bool AccountStore::reloadIfChanged(QString* error) {
    const QFileInfo info(m_path);
    if (info.lastModified() == m_modified && info.size() == m_size)
        return true;
    const QList<Line> previous = m_lines;
    if (load(error))
        return true;
    m_lines = previous;
    return false;
}

bool AccountStore::save(QString* error) const {
    QByteArray content;
    for (const Line& line : m_lines) {
        content += line.isAccount ? cp1252::toUnicode(line.account.name).toUtf8() + ':' + line.account.hash : line.text;
        content += '\n';
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(content) != content.size() || !file.commit()) {
        *error = u"cannot write %1: %2"_s.arg(m_path, file.errorString());
        return false;
    }
    return true;
}

qsizetype AccountStore::count() const {
    return std::count_if(m_lines.begin(), m_lines.end(), [](const Line& line) { return line.isAccount; });
}

const AccountStore::Account* AccountStore::find(const QByteArray& name) const {
    for (const Line& line : m_lines) {
        if (line.isAccount && line.account.name == name)
            return &line.account;
    }
    return nullptr;
}

void AccountStore::setHash(const QByteArray& name, const QByteArray& hash) {
    for (Line& line : m_lines) {
        if (line.isAccount && line.account.name == name) {
            line.account.hash = hash;
            return;
        }
    }
    m_lines.append({{}, {name, hash}, true});
}

bool AccountStore::remove(const QByteArray& name) {
    return m_lines.removeIf([&](const Line& line) { return line.isAccount && line.account.name == name; }) > 0;
}

QString AccountStore::invalidName(const QString& name) {
    if (name.trimmed().isEmpty())
        return u"the name is empty"_s;
    if (name.trimmed() != name)
        return u"the name begins or ends with blanks"_s;
    if (const QStringList bad = cp1252::unrepresentable(name); !bad.isEmpty())
        return u"the name holds characters the chat cannot carry: %1"_s.arg(bad.join(u' '));
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c == u'=' || c == u':' || c.unicode() == 0x7f)
            return u"the name holds '=', ':' or a control character"_s;
    }
    if (cp1252::fromUnicode(name).size() > MaxNameBytes)
        return u"the name is longer than %1 characters"_s.arg(MaxNameBytes);
    return {};
}

namespace password {

bool initialise() {
    return sodium_init() >= 0;
}

QByteArray hash(const QByteArray& password) {
    QByteArray out(crypto_pwhash_STRBYTES, '\0');
    if (crypto_pwhash_str(out.data(), password.constData(), quint64(password.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    out.truncate(qsizetype(qstrnlen(out.constData(), out.size())));
    return out;
}

bool verify(const QByteArray& hash, const QByteArray& password) {
    return crypto_pwhash_str_verify(hash.constData(), password.constData(), quint64(password.size())) == 0;
}

QByteArray standInHash() {
    QByteArray random(32, '\0');
    randombytes_buf(random.data(), size_t(random.size()));
    return hash(random);
}

} // namespace password

} // namespace vestrel::chatserver
