#include "fb/Statement.h"

#include "fb/Attachment.h"
#include "fb/SqlText.h"
#include "fb/Transaction.h"

#include <ibase.h>

#include <QDate>
#include <QTime>

#include <cmath>
#include <cstring>

namespace vestrel::fb {

using namespace detail;

namespace {

// The longest text a VARCHAR parameter carries; its length travels in 16 bits and the engine refuses more.
constexpr qsizetype MaxTextParam = 32765;

// Day 0 of the engine's date type.
const QDate engineEpoch(1858, 11, 17);

template <typename T> T readAt(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> void writeAt(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

QDateTime decodeTimestamp(ISC_DATE date, ISC_TIME time) {
    // The engine's time is in units of 1/10000 second.
    return QDateTime(engineEpoch.addDays(date), QTime::fromMSecsSinceStartOfDay(int(time / 10)));
}

ISC_DATE encodeDate(const QDate& date) {
    return ISC_DATE(engineEpoch.daysTo(date));
}

ISC_TIME encodeTime(const QTime& time) {
    return ISC_TIME(time.msecsSinceStartOfDay()) * 10;
}

} // namespace

QByteArray translateNamedParams(const QByteArray& sql, QByteArrayList& names) {
    QByteArray out;
    out.reserve(sql.size());
    const qsizetype n = sql.size();
    qsizetype i = 0;
    auto isNameChar = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
    };
    while (i < n) {
        const char c = sql.at(i);
        const qsizetype end = skipQuotedOrComment(sql, i);
        if (end > i) {
            out.append(sql.mid(i, end - i));
            i = end;
        } else if (c == '?') {
            names.append(QByteArray());
            out.append(c);
            ++i;
        } else if (c == ':' && i + 1 < n && isNameChar(sql.at(i + 1))) {
            qsizetype j = i + 1;
            while (j < n && isNameChar(sql.at(j)))
                ++j;
            names.append(sql.mid(i + 1, j - i - 1));
            out.append('?');
            i = j;
        } else {
            out.append(c);
            ++i;
        }
    }
    return out;
}

struct Statement::Input {
    Ref<Firebird::IMessageMetadata> metadata;
    std::vector<unsigned char> buffer;
};

Statement::Statement(Attachment& attachment, Transaction& transaction, const QByteArray& sql)
    : m_attachment(attachment)
    , m_transaction(transaction)
    , m_paramNames()
    , m_sql(translateNamedParams(sql, m_paramNames)) {
    if (!attachment.isAttached())
        throw FbError("database not attached");
    if (!transaction.isActive())
        throw FbError("transaction is not active");
    Status st;
    m_statement.reset(callFb([&] {
        return attachment.handle()->prepare(st.get(), transaction.handle(), 0, m_sql.constData(),
                                            unsigned(attachment.dialect()),
                                            Firebird::IStatement::PREPARE_PREFETCH_METADATA);
    }));
    const unsigned count = callFb([&] {
        Ref<Firebird::IMessageMetadata> in(m_statement->getInputMetadata(st.get()));
        return in->getCount(st.get());
    });
    m_params.resize(count);
}

Statement::~Statement() {
    if (m_statement) {
        Status st;
        try {
            callFb([&] { m_statement->free(st.get()); });
            m_statement.take();
        } catch (const FbError&) {
            // release() below frees it all the same
        }
    }
}

void Statement::setParam(int index, Value value) {
    if (index < 0 || size_t(index) >= m_params.size())
        throw FbError("parameter index " + std::to_string(index) + " out of range");
    m_params[size_t(index)] = std::move(value);
}

void Statement::setParam(QByteArrayView name, Value value) {
    bool found = false;
    for (qsizetype i = 0; i < m_paramNames.size() && size_t(i) < m_params.size(); ++i) {
        if (m_paramNames.at(i).compare(name, Qt::CaseInsensitive) == 0) {
            m_params[size_t(i)] = value;
            found = true;
        }
    }
    if (!found)
        throw FbError("parameter '" + name.toByteArray().toStdString() + "' not found");
}

void Statement::clearParams() {
    for (Value& v : m_params)
        v = Value();
}

bool Statement::hasResultSet() const {
    Status st;
    return callFb([&] { return (m_statement->getFlags(st.get()) & Firebird::IStatement::FLAG_HAS_CURSOR) != 0; });
}

void Statement::checkTextLength(unsigned index, qsizetype size, unsigned declaredType, unsigned declaredLength) const {
    const bool textColumn = declaredType == SQL_TEXT || declaredType == SQL_VARYING;
    const qsizetype limit = textColumn ? std::min<qsizetype>(declaredLength, MaxTextParam) : MaxTextParam;
    if (size <= limit)
        return;
    const QByteArray name = qsizetype(index) < m_paramNames.size() ? m_paramNames.at(index) : QByteArray();
    throw FbError("text parameter " + std::to_string(index + 1) +
                  (name.isEmpty() ? "" : " (" + name.toStdString() + ")") + " is " + std::to_string(size) +
                  " bytes long; it may hold at most " + std::to_string(limit));
}

Statement::Input Statement::buildInput() {
    Input input;
    if (m_params.empty())
        return input;
    Status st;
    callFb([&] {
        Ref<Firebird::IMessageMetadata> declared(m_statement->getInputMetadata(st.get()));
        Ref<Firebird::IMetadataBuilder> builder(declared->getBuilder(st.get()));
        // Each value travels in its own type; the engine converts it to the column's (and reports
        // overflow or truncation in its own words).
        for (unsigned i = 0; i < m_params.size(); ++i) {
            const Value& v = m_params[i];
            switch (v.kind()) {
            case Value::Kind::Null:
                break;
            case Value::Kind::Integer:
                builder->setType(st.get(), i, SQL_INT64);
                builder->setLength(st.get(), i, sizeof(ISC_INT64));
                builder->setScale(st.get(), i, 0);
                break;
            case Value::Kind::Double:
                builder->setType(st.get(), i, SQL_DOUBLE);
                builder->setLength(st.get(), i, sizeof(double));
                builder->setScale(st.get(), i, 0);
                break;
            case Value::Kind::Text: {
                const unsigned declaredType = declared->getType(st.get(), i) & ~1u;
                if (declaredType != SQL_BLOB) {
                    const qsizetype size = v.asText().size();
                    checkTextLength(i, size, declaredType, declared->getLength(st.get(), i));
                    builder->setType(st.get(), i, SQL_VARYING);
                    builder->setLength(st.get(), i, unsigned(std::max<qsizetype>(size, 1)));
                    builder->setScale(st.get(), i, 0);
                }
                break;
            }
            case Value::Kind::DateTime:
                builder->setType(st.get(), i, SQL_TIMESTAMP);
                builder->setLength(st.get(), i, sizeof(ISC_TIMESTAMP));
                builder->setScale(st.get(), i, 0);
                break;
            }
        }
        input.metadata.reset(builder->getMetadata(st.get()));
        input.buffer.assign(input.metadata->getMessageLength(st.get()), 0);
        for (unsigned i = 0; i < m_params.size(); ++i) {
            const Value& v = m_params[i];
            unsigned char* data = input.buffer.data() + input.metadata->getOffset(st.get(), i);
            writeAt<ISC_SHORT>(input.buffer.data() + input.metadata->getNullOffset(st.get(), i), v.isNull() ? -1 : 0);
            switch (v.kind()) {
            case Value::Kind::Null:
                break;
            case Value::Kind::Integer:
                writeAt<ISC_INT64>(data, v.asInt64());
                break;
            case Value::Kind::Double:
                writeAt<double>(data, v.asDouble());
                break;
            case Value::Kind::Text: {
                const QByteArray text = v.asText();
                if (input.metadata->getType(st.get(), i) == SQL_BLOB) {
                    ISC_QUAD id{};
                    Ref<Firebird::IBlob> blob(
                        m_attachment.handle()->createBlob(st.get(), m_transaction.handle(), &id, 0, nullptr));
                    for (qsizetype pos = 0; pos < text.size(); pos += 32768) {
                        const QByteArray part = text.mid(pos, 32768);
                        blob->putSegment(st.get(), unsigned(part.size()), part.constData());
                    }
                    blob->close(st.get());
                    blob.take();
                    writeAt(data, id);
                } else {
                    writeAt<ISC_USHORT>(data, ISC_USHORT(text.size()));
                    std::memcpy(data + sizeof(ISC_USHORT), text.constData(), size_t(text.size()));
                }
                break;
            }
            case Value::Kind::DateTime: {
                const QDateTime dt = v.asDateTime();
                writeAt(data, ISC_TIMESTAMP{encodeDate(dt.date()), encodeTime(dt.time())});
                break;
            }
            }
        }
    });
    return input;
}

quint64 Statement::execute() {
    Input input = buildInput();
    Status st;
    return callFb([&] {
        m_statement->execute(st.get(), m_transaction.handle(), input.metadata.get(),
                             input.buffer.empty() ? nullptr : input.buffer.data(), nullptr, nullptr);
        return quint64(m_statement->getAffectedRecords(st.get()));
    });
}

std::unique_ptr<Cursor> Statement::openCursor() {
    Input input = buildInput();
    Status st;
    return callFb([&] {
        Ref<Firebird::IMessageMetadata> output(m_statement->getOutputMetadata(st.get()));
        Firebird::IResultSet* rs =
            m_statement->openCursor(st.get(), m_transaction.handle(), input.metadata.get(),
                                    input.buffer.empty() ? nullptr : input.buffer.data(), output.get(), 0);
        return std::unique_ptr<Cursor>(new Cursor(m_attachment, m_transaction, rs, output.get()));
    });
}

// Reads blobs of one cursor. It holds its own references to the attachment and the transaction, so a
// value read after they are gone gets Firebird's error instead of touching freed memory.
struct Cursor::BlobReader {
    Ref<Firebird::IAttachment> attachment;
    Ref<Firebird::ITransaction> transaction;

    BlobReader(Firebird::IAttachment* a, Firebird::ITransaction* t) {
        a->addRef();
        attachment.reset(a);
        t->addRef();
        transaction.reset(t);
    }

    QByteArray read(ISC_QUAD id) const {
        Status st;
        return callFb([&] {
            Ref<Firebird::IBlob> blob(attachment->openBlob(st.get(), transaction.get(), &id, 0, nullptr));
            QByteArray data;
            char chunk[16384];
            for (;;) {
                unsigned got = 0;
                const int rc = blob->getSegment(st.get(), sizeof chunk, chunk, &got);
                if (rc == Firebird::IStatus::RESULT_NO_DATA)
                    break;
                data.append(chunk, qsizetype(got));
            }
            blob->close(st.get());
            blob.take();
            return data;
        });
    }
};

Cursor::Cursor(Attachment& attachment, Transaction& transaction, Firebird::IResultSet* resultSet,
               Firebird::IMessageMetadata* metadata)
    : m_resultSet(resultSet)
    , m_blobReader(std::make_shared<BlobReader>(attachment.handle(), transaction.handle()))
    , m_names(std::make_shared<QByteArrayList>()) {
    Status st;
    const unsigned count = metadata->getCount(st.get());
    m_columns.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        m_columns.push_back(Column{metadata->getType(st.get(), i), metadata->getSubType(st.get(), i),
                                   metadata->getScale(st.get(), i), metadata->getLength(st.get(), i),
                                   metadata->getOffset(st.get(), i), metadata->getNullOffset(st.get(), i)});
        m_names->append(QByteArray(metadata->getAlias(st.get(), i)));
    }
    m_buffer.assign(metadata->getMessageLength(st.get()), 0);
}

Cursor::~Cursor() {
    try {
        close();
    } catch (const FbError&) {
        // release() frees it all the same
    }
}

void Cursor::close() {
    if (!m_resultSet)
        return;
    Status st;
    detail::callFbReleasing(m_resultSet, [&] { m_resultSet->close(st.get()); });
}

bool Cursor::fetch(Row& row) {
    if (!m_resultSet)
        return false;
    Status st;
    const int rc = callFb([&] { return m_resultSet->fetchNext(st.get(), m_buffer.data()); });
    if (rc != Firebird::IStatus::RESULT_OK)
        return false;
    std::vector<Value> values;
    values.reserve(m_columns.size());
    for (const Column& c : m_columns)
        values.push_back(decode(c));
    row = Row(m_names, std::move(values));
    return true;
}

Value Cursor::decode(const Column& c) const {
    const unsigned char* p = m_buffer.data() + c.offset;
    if (readAt<ISC_SHORT>(m_buffer.data() + c.nullOffset) != 0)
        return Value();
    auto scaled = [&](qint64 v) {
        return c.scale == 0 ? Value::fromInteger(v) : Value::fromDouble(double(v) * std::pow(10.0, c.scale));
    };
    switch (c.type) {
    case SQL_TEXT: {
        // Fixed-length text comes padded with blanks; fields read it without them.
        qsizetype len = qsizetype(c.length);
        while (len > 0 && p[len - 1] == ' ')
            --len;
        return Value::fromText(QByteArray(reinterpret_cast<const char*>(p), len));
    }
    case SQL_VARYING: {
        const auto len = std::min<unsigned>(readAt<ISC_USHORT>(p), c.length);
        return Value::fromText(QByteArray(reinterpret_cast<const char*>(p + sizeof(ISC_USHORT)), qsizetype(len)));
    }
    case SQL_SHORT:
        return scaled(readAt<ISC_SHORT>(p));
    case SQL_LONG:
        return scaled(readAt<ISC_LONG>(p));
    case SQL_INT64:
        return scaled(readAt<ISC_INT64>(p));
    case SQL_FLOAT:
        return Value::fromDouble(readAt<float>(p));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return Value::fromDouble(readAt<double>(p));
    case SQL_BOOLEAN:
        return Value::fromInteger(readAt<FB_BOOLEAN>(p) ? 1 : 0);
    case SQL_TIMESTAMP: {
        const auto ts = readAt<ISC_TIMESTAMP>(p);
        return Value::fromDateTime(decodeTimestamp(ts.timestamp_date, ts.timestamp_time));
    }
    case SQL_TYPE_DATE:
        return Value::fromDateTime(decodeTimestamp(readAt<ISC_DATE>(p), 0));
    case SQL_TYPE_TIME:
        return Value::fromDateTime(
            QDateTime(QDate(1899, 12, 30), QTime::fromMSecsSinceStartOfDay(int(readAt<ISC_TIME>(p) / 10))));
    case SQL_BLOB:
        return Value::fromLazyText([reader = m_blobReader, id = readAt<ISC_QUAD>(p)] { return reader->read(id); });
    default:
        // Arrays and other types the programs never read come back as NULL rather than failing the row.
        return Value();
    }
}

} // namespace vestrel::fb
