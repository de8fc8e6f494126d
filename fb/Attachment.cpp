#include "fb/Attachment.h"

#include "fb/Transaction.h"
#include "fb/XpbBuilder.h"

#include <ibase.h>

#include <QRegularExpression>

namespace vestrel::fb {

using namespace detail;

namespace {

QByteArray buildDpb(const QByteArray& databaseName, const QByteArrayList& params, int dialect, bool create) {
    XpbBuilder dpb(Firebird::IXpbBuilder::DPB);
    bool charsetGiven = false;
    for (const QByteArray& line : params) {
        if (line.trimmed().isEmpty())
            continue;
        const qsizetype eq = line.indexOf('=');
        QByteArray name = (eq < 0 ? line : line.left(eq)).trimmed().toLower();
        const QByteArray value = eq < 0 ? QByteArray() : line.mid(eq + 1);
        if (name.startsWith("isc_dpb_"))
            name = name.mid(8);
        if (name == "user_name") {
            dpb.string(isc_dpb_user_name, value);
        } else if (name == "password") {
            dpb.string(isc_dpb_password, value);
        } else if (name == "sql_role_name") {
            dpb.string(isc_dpb_sql_role_name, value);
        } else if (name == "lc_ctype") {
            dpb.string(isc_dpb_lc_ctype, value);
            charsetGiven = true;
        } else if (name == "no_db_triggers") {
            dpb.integer(isc_dpb_no_db_triggers, value.trimmed() == "0" ? 0 : 1);
        } else {
            throw FbError("unknown database parameter '" + line.toStdString() + "'");
        }
    }
    if (!charsetGiven)
        dpb.string(isc_dpb_lc_ctype, "WIN1252");
    dpb.integer(isc_dpb_sql_dialect, dialect);
    if (create) {
        dpb.integer(isc_dpb_set_db_sql_dialect, dialect);
        dpb.string(isc_dpb_set_db_charset, "WIN1252");
    }
    // Choose the provider ourselves: a local name must never be tried on a server (nor the other way),
    // and the error reported is then the one of the engine that was meant.
    dpb.string(isc_dpb_config, Attachment::isRemoteName(databaseName) ? "Providers=Remote" : "Providers=Engine12");
    return dpb.bytes();
}

} // namespace

Attachment::~Attachment() {
    detachQuietly();
}

void Attachment::detachQuietly() noexcept {
    try {
        detach();
    } catch (const FbError&) {
        // Nothing to report here; the handle has been given up regardless.
    }
}

Attachment& Attachment::operator=(Attachment&& other) noexcept {
    if (this != &other) {
        detachQuietly();
        m_handle = std::move(other.m_handle);
        m_dialect = other.m_dialect;
    }
    return *this;
}

bool Attachment::isRemoteName(const QByteArray& databaseName) {
    if (databaseName.startsWith("\\\\")) // \\host\path
        return true;
    const qsizetype colon = databaseName.indexOf(':');
    const qsizetype at = databaseName.indexOf('@');
    const qsizetype separator = [&] {
        for (qsizetype i = 0; i < databaseName.size(); ++i) {
            if (databaseName.at(i) == '/' || databaseName.at(i) == '\\')
                return i;
        }
        return databaseName.size();
    }();
    if (colon > 0 && (at < 0 || colon < at)) {
        // A drive is one letter, a colon and a folder separator; one letter without one is a host.
        if (colon == 1 && colon + 1 < databaseName.size() && separator == colon + 1)
            return false;
        // "host:path" or "host/port:path": at most one '/' before the colon, with a host before it and
        // a port or service name after it.
        if (separator > colon)
            return true;
        const QByteArray head = databaseName.left(colon);
        return databaseName.at(separator) == '/' && separator > 0 && separator + 1 < colon && head.count('/') == 1 &&
               !head.contains('\\');
    }
    // "host@path" (a host before any folder separator).
    return at > 0 && at < separator;
}

Attachment Attachment::attach(const QByteArray& databaseName, const QByteArrayList& params, int dialect) {
    return open(databaseName, params, dialect, false);
}

Attachment Attachment::create(const QByteArray& databaseName, const QByteArrayList& params, int dialect) {
    return open(databaseName, params, dialect, true);
}

Attachment Attachment::open(const QByteArray& databaseName, const QByteArrayList& params, int dialect, bool create) {
    if (databaseName.isEmpty())
        throw FbError("no database name given");
    const QByteArray dpb = buildDpb(databaseName, params, dialect, create);
    Status st;
    Attachment result;
    result.m_dialect = dialect;
    result.m_handle.reset(callFb([&] {
        const auto length = unsigned(dpb.size());
        const auto* bytes = reinterpret_cast<const unsigned char*>(dpb.constData());
        return create ? dispatcher()->createDatabase(st.get(), databaseName.constData(), length, bytes)
                      : dispatcher()->attachDatabase(st.get(), databaseName.constData(), length, bytes);
    }));
    return result;
}

void Attachment::detach() {
    if (!m_handle)
        return;
    Status st;
    detail::callFbReleasing(m_handle, [&] { m_handle->detach(st.get()); });
}

void Attachment::drop() {
    if (!m_handle)
        throw FbError("database not attached");
    Status st;
    // On failure the database is still attached and the destructor detaches.
    callFb([&] { m_handle->dropDatabase(st.get()); });
    m_handle.take(); // dropDatabase() released it
}

void Attachment::execute(Transaction& transaction, const QByteArray& sql) {
    if (!m_handle)
        throw FbError("database not attached");
    Status st;
    callFb([&] {
        m_handle->execute(st.get(), transaction.handle(), 0, sql.constData(), unsigned(m_dialect), nullptr, nullptr,
                          nullptr, nullptr);
    });
}

qint64 Attachment::generatorValue(Transaction& transaction, const QByteArray& generatorName, qint64 increment) {
    static const QRegularExpression identifier(QStringLiteral("^[A-Za-z][A-Za-z0-9_$]{0,30}$"));
    if (!identifier.match(QString::fromLatin1(generatorName)).hasMatch())
        throw FbError("'" + generatorName.toStdString() + "' is not a generator name");
    if (!m_handle)
        throw FbError("database not attached");

    const QByteArray sql =
        "select gen_id(" + generatorName + ", " + QByteArray::number(increment) + ") from rdb$database";
    Status st;
    return callFb([&] {
        Ref<Firebird::IMetadataBuilder> builder(master()->getMetadataBuilder(st.get(), 1));
        builder->setType(st.get(), 0, SQL_INT64);
        builder->setLength(st.get(), 0, sizeof(ISC_INT64));
        builder->setScale(st.get(), 0, 0);
        Ref<Firebird::IMessageMetadata> meta(builder->getMetadata(st.get()));
        struct {
            ISC_INT64 value;
            ISC_SHORT null;
        } out{};
        // The buffer layout above matches a one-column INT64 message (value, then its null flag).
        if (meta->getOffset(st.get(), 0) != 0 || meta->getNullOffset(st.get(), 0) != offsetof(decltype(out), null))
            throw FbError("unexpected message layout for a generator value");
        m_handle->execute(st.get(), transaction.handle(), 0, sql.constData(), unsigned(m_dialect), nullptr, nullptr,
                          meta.get(), &out);
        return qint64(out.value);
    });
}

} // namespace vestrel::fb
