#include "fb/Value.h"

#include "fb/FbError.h"

#include <cmath>
#include <limits>
#include <optional>

namespace vestrel::fb {

namespace {

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

[[noreturn]] void conversionError(const QByteArray& text, const char* what) {
    throw FbError("'" + text.toStdString() + "' is not a valid " + what + " value");
}

} // namespace

// Shared by the copies of one value, so the text is read at most once whichever copy asks first.
struct Value::LazyText {
    std::function<QByteArray()> load;
    std::optional<QByteArray> text;

    const QByteArray& get() {
        if (!text)
            text = load();
        return *text;
    }
};

Value Value::fromLazyText(std::function<QByteArray()> load) {
    auto lazy = std::make_shared<LazyText>();
    lazy->load = std::move(load);
    return Value(std::move(lazy));
}

bool Value::isLazy() const {
    return std::holds_alternative<std::shared_ptr<LazyText>>(m_data);
}

std::optional<QByteArray> Value::loadedText() const {
    if (const auto* lazy = std::get_if<std::shared_ptr<LazyText>>(&m_data))
        return (*lazy)->text;
    return std::nullopt;
}

Value::Kind Value::kind() const {
    if (isLazy())
        return Kind::Text;
    return static_cast<Kind>(m_data.index());
}

QByteArray Value::asText() const {
    return std::visit(
        Overloaded{
            [](std::monostate) { return QByteArray(); },
            [](qint64 v) { return QByteArray::number(v); },
            [](double v) { return QByteArray::number(v, 'g', 15); },
            [](const QByteArray& v) { return v; },
            [](const QDateTime& v) { return v.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1(); },
            [](const std::shared_ptr<LazyText>& v) { return v->get(); },
        },
        m_data);
}

qint64 Value::asInt64() const {
    return std::visit(
        Overloaded{
            [](std::monostate) -> qint64 { return 0; },
            [](qint64 v) { return v; },
            [](double v) -> qint64 {
                // 2^63 is exactly representable; anything at or beyond it does not fit.
                if (!std::isfinite(v) || std::fabs(v) >= 9223372036854775808.0)
                    conversionError(QByteArray::number(v), "integer");
                return std::llround(v);
            },
            [](const QByteArray& v) -> qint64 {
                bool ok = false;
                const qint64 n = v.trimmed().toLongLong(&ok, 10);
                if (!ok)
                    conversionError(v, "integer");
                return n;
            },
            [](const QDateTime& v) -> qint64 { conversionError(v.toString().toLatin1(), "integer"); },
            [this](const std::shared_ptr<LazyText>&) -> qint64 { return Value::fromText(asText()).asInt64(); },
        },
        m_data);
}

qint32 Value::asInteger() const {
    const qint64 v = asInt64();
    if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max())
        conversionError(QByteArray::number(v), "integer");
    return static_cast<qint32>(v);
}

double Value::asDouble() const {
    return std::visit(
        Overloaded{
            [](std::monostate) { return 0.0; },
            [](qint64 v) { return double(v); },
            [](double v) { return v; },
            [](const QByteArray& v) {
                bool ok = false;
                const double d = v.trimmed().toDouble(&ok);
                if (!ok)
                    conversionError(v, "floating point");
                return d;
            },
            [](const QDateTime& v) -> double { conversionError(v.toString().toLatin1(), "floating point"); },
            [this](const std::shared_ptr<LazyText>&) { return Value::fromText(asText()).asDouble(); },
        },
        m_data);
}

QDateTime Value::asDateTime() const {
    if (isNull())
        return {};
    if (const auto* dt = std::get_if<QDateTime>(&m_data))
        return *dt;
    conversionError(asText(), "date");
}

qsizetype Row::indexOf(QByteArrayView name) const {
    if (!m_names)
        return -1;
    for (qsizetype i = 0; i < m_names->size(); ++i) {
        if (m_names->at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

const Value& Row::FieldByName(QByteArrayView name) const {
    const qsizetype i = indexOf(name);
    if (i < 0)
        throw FbError("Field '" + name.toByteArray().toStdString() + "' not found");
    return m_values[size_t(i)];
}

bool Value::sameAs(const Value& other) const {
    if (isLazy() || other.isLazy())
        return isLazy() && other.isLazy() &&
               std::get<std::shared_ptr<LazyText>>(m_data) == std::get<std::shared_ptr<LazyText>>(other.m_data);
    if (isNull() || other.isNull())
        return isNull() && other.isNull();
    return asText() == other.asText();
}

} // namespace vestrel::fb
