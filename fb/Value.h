#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>

#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace vestrel::fb {

// One column value of a fetched row, read the way the programs read fields: as text, as an integer,
// as a number or as a date. Text is cp1252 bytes (connections use the WIN1252 character set).
class Value {
public:
    Value() = default; // NULL
    static Value fromInteger(qint64 v) { return Value(v); }
    static Value fromDouble(double v) { return Value(v); }
    static Value fromText(QByteArray v) { return Value(std::move(v)); }
    static Value fromDateTime(QDateTime v) { return Value(std::move(v)); }
    // Text read only when first asked for, then kept: a blob is fetched as its id and read on demand,
    // so a walk that never needs a row's blob never reads it, and a blob that cannot be read fails
    // where it is asked for. `load` raises FbError when the text cannot be read.
    static Value fromLazyText(std::function<QByteArray()> load);
    // Whether the value is lazy text as read from the database, not one given since.
    bool isLazy() const;
    // The text of lazy text that has already been read, without reading it; nothing for lazy text
    // never read and for every other value.
    std::optional<QByteArray> loadedText() const;
    // Whether two values hold the same: both NULL, or the same text. Lazy text equals only a copy of
    // itself, so comparing never reads it.
    bool sameAs(const Value& other) const;

    enum class Kind { Null, Integer, Double, Text, DateTime };
    Kind kind() const;
    bool isNull() const { return kind() == Kind::Null; }

    // NULL reads as "", numbers in decimal, dates as "yyyy-MM-dd hh:mm:ss".
    QByteArray asText() const;
    // NULL reads as 0; text must be a whole decimal number (blanks around it allowed); a fractional
    // number is rounded. Anything else, or a value outside the type's range, raises FbError.
    qint32 asInteger() const;
    qint64 asInt64() const;
    // NULL reads as 0; text must be a number.
    double asDouble() const;
    // NULL reads as an invalid QDateTime; text and numbers raise FbError.
    QDateTime asDateTime() const;

private:
    struct LazyText;
    using Data = std::variant<std::monostate, qint64, double, QByteArray, QDateTime, std::shared_ptr<LazyText>>;
    template <typename T>
    explicit Value(T v)
        : m_data(std::move(v)) {}
    Data m_data;
};

// One fetched row: values in select-list order, looked up by column name without regard to case.
class Row {
public:
    Row() = default;
    Row(std::shared_ptr<const QByteArrayList> names, std::vector<Value> values)
        : m_names(std::move(names))
        , m_values(std::move(values)) {}

    qsizetype count() const { return qsizetype(m_values.size()); }
    const Value& at(qsizetype index) const { return m_values.at(size_t(index)); }
    QByteArrayList names() const { return m_names ? *m_names : QByteArrayList(); }
    // Index of the column, or -1.
    qsizetype indexOf(QByteArrayView name) const;
    // The column's value; a column the row does not have raises FbError.
    const Value& FieldByName(QByteArrayView name) const;

private:
    std::shared_ptr<const QByteArrayList> m_names;
    std::vector<Value> m_values;
};

} // namespace vestrel::fb
