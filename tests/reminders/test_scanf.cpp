#include "reminders/Scanf.h"

#include <QTest>

#include <cmath>
#include <cstring>

using namespace vestrel;
using namespace vestrel::reminders;

namespace {

constexpr std::int32_t Untouched = -777;

QByteArray bytes(const char* text, int size) {
    return QByteArray(text, size);
}

} // namespace

class TestScanf : public QObject {
    Q_OBJECT

private slots:
    // Three 32-bit targets preset to Untouched; `values` is what each holds afterwards.
    void integers_data();
    void integers();
    // One target of the size the prefix asks for, or of another size.
    void sizes_data();
    void sizes();
    void floats_data();
    void floats();
    void texts_data();
    void texts();
    void real48_data();
    void real48();
    void unusableTargetsEndScanning();
};

void TestScanf::integers_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("result");
    QTest::addColumn<QList<int>>("values");
    const int U = Untouched;

    QTest::newRow("two numbers") << QByteArray("14 2") << QByteArray("%d %d") << 2 << QList<int>{14, 2, U};
    QTest::newRow("empty input") << QByteArray() << QByteArray("%d") << -1 << QList<int>{U, U, U};
    QTest::newRow("no digit") << QByteArray("x") << QByteArray("%d") << 0 << QList<int>{U, U, U};
    QTest::newRow("only blanks") << QByteArray(" \t\r\n") << QByteArray("%d") << -1 << QList<int>{U, U, U};
    QTest::newRow("leading blanks") << QByteArray("  \t 12") << QByteArray("%d") << 1 << QList<int>{12, U, U};
    QTest::newRow("negative") << QByteArray("-42") << QByteArray("%d") << 1 << QList<int>{-42, U, U};
    QTest::newRow("plus sign") << QByteArray("+7") << QByteArray("%u") << 1 << QList<int>{7, U, U};
    QTest::newRow("sign only") << QByteArray("-") << QByteArray("%d") << 0 << QList<int>{U, U, U};
    QTest::newRow("second missing") << QByteArray("12") << QByteArray("%d %d") << 1 << QList<int>{12, U, U};
    QTest::newRow("second unreadable") << QByteArray("12 x") << QByteArray("%d %d") << 1 << QList<int>{12, U, U};
    QTest::newRow("stops at letter") << QByteArray("12abc") << QByteArray("%d") << 1 << QList<int>{12, U, U};
    QTest::newRow("width splits") << QByteArray("12345") << QByteArray("%3d%d") << 2 << QList<int>{123, 45, U};
    QTest::newRow("width after sign") << QByteArray("-123") << QByteArray("%2d%d") << 2 << QList<int>{-12, 3, U};
    QTest::newRow("upper case letter") << QByteArray("ff 10") << QByteArray("%X %D") << 2 << QList<int>{255, 10, U};
    QTest::newRow("octal") << QByteArray("777") << QByteArray("%o") << 1 << QList<int>{511, U, U};
    QTest::newRow("octal stops at 8") << QByteArray("78") << QByteArray("%o%d") << 2 << QList<int>{7, 8, U};
    QTest::newRow("hex") << QByteArray("1aF") << QByteArray("%x") << 1 << QList<int>{431, U, U};
    QTest::newRow("hex takes no 0x") << QByteArray("0x1A") << QByteArray("%x") << 1 << QList<int>{0, U, U};
    QTest::newRow("pointer-sized needs int64") << QByteArray("ff") << QByteArray("%p") << 0 << QList<int>{U, U, U};
    QTest::newRow("i decimal") << QByteArray("-19") << QByteArray("%i") << 1 << QList<int>{-19, U, U};
    QTest::newRow("i 0x") << QByteArray("0x1F") << QByteArray("%i") << 1 << QList<int>{31, U, U};
    QTest::newRow("i dollar") << QByteArray("-$ff") << QByteArray("%i") << 1 << QList<int>{-255, U, U};
    QTest::newRow("i octal") << QByteArray("017") << QByteArray("%i") << 1 << QList<int>{15, U, U};
    QTest::newRow("i zero") << QByteArray("0") << QByteArray("%i") << 1 << QList<int>{0, U, U};
    QTest::newRow("i octal stops at 9") << QByteArray("09") << QByteArray("%i%i") << 2 << QList<int>{0, 9, U};
    QTest::newRow("i 0x without digit") << QByteArray("0xg") << QByteArray("%i") << 0 << QList<int>{U, U, U};
    QTest::newRow("wraps in 64 bits") << QByteArray("18446744073709551617") << QByteArray("%d") << 1
                                      << QList<int>{1, U, U};
    QTest::newRow("cut to 32 bits") << QByteArray("4294967298") << QByteArray("%d") << 1 << QList<int>{2, U, U};
    QTest::newRow("2^31 wraps negative") << QByteArray("2147483648") << QByteArray("%d") << 1
                                         << QList<int>{int(0x80000000u), U, U};
    QTest::newRow("literal separators") << QByteArray("10,20") << QByteArray("%d,%d") << 2 << QList<int>{10, 20, U};
    QTest::newRow("separator mismatch") << QByteArray("10;20") << QByteArray("%d,%d") << 1 << QList<int>{10, U, U};
    QTest::newRow("literal before") << QByteArray("a10") << QByteArray("a%d") << 1 << QList<int>{10, U, U};
    QTest::newRow("literal mismatch") << QByteArray("b10") << QByteArray("a%d") << 0 << QList<int>{U, U, U};
    QTest::newRow("literal only, all read") << QByteArray("abc") << QByteArray("abc") << -1 << QList<int>{U, U, U};
    QTest::newRow("blank matches none") << QByteArray("1,2") << QByteArray("%d , %d") << 2 << QList<int>{1, 2, U};
    QTest::newRow("blank matches many") << QByteArray("1 \t\n 2") << QByteArray("%d %d") << 2 << QList<int>{1, 2, U};
    QTest::newRow("percent literal") << QByteArray("%5") << QByteArray("%%%d") << 1 << QList<int>{5, U, U};
    QTest::newRow("percent mismatch") << QByteArray("5") << QByteArray("%%%d") << 0 << QList<int>{U, U, U};
    QTest::newRow("suppressed") << QByteArray("1 2 3") << QByteArray("%d %*d %d") << 2 << QList<int>{1, 3, U};
    QTest::newRow("count of consumed") << QByteArray("12abc") << QByteArray("%d%n") << 1 << QList<int>{12, 2, U};
    QTest::newRow("count at end ends") << QByteArray("12") << QByteArray("%d%n") << 1 << QList<int>{12, U, U};
    QTest::newRow("count keeps blanks") << QByteArray("1  x") << QByteArray("%d%n") << 1 << QList<int>{1, 1, U};
    QTest::newRow("count takes its own target")
        << QByteArray("7 8") << QByteArray("%n%d %n%d") << 1 << QList<int>{0, 7, 2};
    QTest::newRow("width zero invalid") << QByteArray("5") << QByteArray("%0d") << 0 << QList<int>{U, U, U};
    QTest::newRow("letter m invalid") << QByteArray("5") << QByteArray("%md") << 0 << QList<int>{U, U, U};
    QTest::newRow("unknown letter") << QByteArray("5") << QByteArray("%q") << 0 << QList<int>{U, U, U};
    QTest::newRow("lone percent") << QByteArray("5") << QByteArray("%") << 0 << QList<int>{U, U, U};
    QTest::newRow("invalid stops later") << QByteArray("1 2") << QByteArray("%d %y %d") << 1 << QList<int>{1, U, U};
    QTest::newRow("targets exhausted") << QByteArray("1 2 3 4") << QByteArray("%d %d %d %d") << 3
                                       << QList<int>{1, 2, 3};
    QTest::newRow("input ends at zero") << bytes("1\0 2", 4) << QByteArray("%d %d") << 1 << QList<int>{1, U, U};
    QTest::newRow("format ends at zero") << QByteArray("1 2") << bytes("%d\0 %d", 6) << 1 << QList<int>{1, U, U};
    QTest::newRow("cp1252 blank range") << bytes("\x01\x1f"
                                                 "7",
                                                 3)
                                        << QByteArray("%d") << 1 << QList<int>{7, U, U};
    QTest::newRow("high byte is no blank") << QByteArray("\xA0"
                                                         "7")
                                           << QByteArray("%d") << 0 << QList<int>{U, U, U};
}

void TestScanf::integers() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, format);
    QFETCH(int, result);
    QFETCH(QList<int>, values);

    std::int32_t a = Untouched, b = Untouched, c = Untouched;
    QCOMPARE(ScanFormatted(input, format, {&a, &b, &c}), result);
    QCOMPARE((QList<int>{a, b, c}), values);
}

void TestScanf::sizes_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("bits"); // size of the one target given
    QTest::addColumn<int>("result");
    QTest::addColumn<qint64>("value");

    QTest::newRow("H is 8-bit") << QByteArray("300") << QByteArray("%Hd") << 8 << 1 << qint64(44);
    QTest::newRow("l8") << QByteArray("-1") << QByteArray("%l8u") << 8 << 1 << qint64(-1);
    QTest::newRow("h is 16-bit") << QByteArray("70000") << QByteArray("%hd") << 16 << 1 << qint64(4464);
    QTest::newRow("l16") << QByteArray("7fff") << QByteArray("%l16x") << 16 << 1 << qint64(32767);
    QTest::newRow("l is 32-bit") << QByteArray("-5") << QByteArray("%ld") << 32 << 1 << qint64(-5);
    QTest::newRow("l32") << QByteArray("5") << QByteArray("%l32d") << 32 << 1 << qint64(5);
    QTest::newRow("L is 64-bit") << QByteArray("9223372036854775807") << QByteArray("%Ld") << 64 << 1
                                 << qint64(9223372036854775807LL);
    QTest::newRow("ll") << QByteArray("-9223372036854775808") << QByteArray("%lld") << 64 << 1
                        << qint64(std::numeric_limits<qint64>::min());
    QTest::newRow("l64 hex") << QByteArray("FFFFFFFFFFFFFFFF") << QByteArray("%l64x") << 64 << 1 << qint64(-1);
    QTest::newRow("p is 64-bit") << QByteArray("7fffffffffff") << QByteArray("%p") << 64 << 1
                                 << qint64(0x7fffffffffffLL);
    QTest::newRow("n sized") << QByteArray("abc") << QByteArray("ab%hn") << 16 << 0 << qint64(2);
    QTest::newRow("h given 32-bit target") << QByteArray("5") << QByteArray("%hd") << 32 << 0 << qint64(-777);
    QTest::newRow("default given 64-bit target") << QByteArray("5") << QByteArray("%d") << 64 << 0 << qint64(-777);
    QTest::newRow("p takes no prefix") << QByteArray("5") << QByteArray("%lp") << 32 << 0 << qint64(-777);
    QTest::newRow("c takes no prefix") << QByteArray("5") << QByteArray("%lc") << 32 << 0 << qint64(-777);
}

void TestScanf::sizes() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, format);
    QFETCH(int, bits);
    QFETCH(int, result);
    QFETCH(qint64, value);

    std::int8_t v8 = -7;
    std::int16_t v16 = -777;
    std::int32_t v32 = -777;
    std::int64_t v64 = -777;
    ScanTarget target;
    switch (bits) {
    case 8:
        target = &v8;
        break;
    case 16:
        target = &v16;
        break;
    case 32:
        target = &v32;
        break;
    default:
        target = &v64;
        break;
    }
    QCOMPARE(ScanFormatted(input, format, {target}), result);
    const qint64 got = bits == 8 ? v8 : bits == 16 ? v16 : bits == 32 ? v32 : v64;
    QCOMPARE(got, value);
}

void TestScanf::floats_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("result");
    QTest::addColumn<double>("value"); // 99 means untouched

    const double inf = std::numeric_limits<double>::infinity();
    const QString f = QStringLiteral("float"), d = QStringLiteral("double"), ld = QStringLiteral("extended"),
                  r = QStringLiteral("real48");
    QTest::newRow("plain") << QByteArray("3.5") << QByteArray("%f") << f << 1 << 3.5;
    QTest::newRow("h single") << QByteArray("0.25") << QByteArray("%hg") << f << 1 << 0.25;
    QTest::newRow("l double") << QByteArray("-2.5e3") << QByteArray("%lf") << d << 1 << -2500.0;
    QTest::newRow("exponent sign") << QByteArray("15E-1") << QByteArray("%le") << d << 1 << 1.5;
    QTest::newRow("leading point") << QByteArray(".5") << QByteArray("%lg") << d << 1 << 0.5;
    QTest::newRow("trailing point") << QByteArray("7.") << QByteArray("%lg") << d << 1 << 7.0;
    QTest::newRow("point alone") << QByteArray(".") << QByteArray("%lf") << d << 0 << 99.0;
    QTest::newRow("bare exponent stays") << QByteArray("2e") << QByteArray("%lf") << d << 1 << 2.0;
    QTest::newRow("width") << QByteArray("12.5") << QByteArray("%3lf") << d << 1 << 12.0;
    QTest::newRow("INF") << QByteArray("INF") << QByteArray("%lf") << d << 1 << inf;
    QTest::newRow("-INF") << QByteArray("-INF") << QByteArray("%lf") << d << 1 << -inf;
    QTest::newRow("lower case inf") << QByteArray("inf") << QByteArray("%lf") << d << 0 << 99.0;
    QTest::newRow("too large") << QByteArray("1e400") << QByteArray("%lf") << d << 1 << inf;
    QTest::newRow("too large negative") << QByteArray("-1e400") << QByteArray("%lf") << d << 1 << -inf;
    QTest::newRow("too small") << QByteArray("1e-400") << QByteArray("%lf") << d << 1 << 0.0;
    QTest::newRow("many digits too large")
        << QByteArray("1" + QByteArray(400, '0')) << QByteArray("%lf") << d << 1 << inf;
    QTest::newRow("too large for single") << QByteArray("1e39") << QByteArray("%f") << f << 1 << inf;
    QTest::newRow("L extended") << QByteArray("1.5") << QByteArray("%Lf") << ld << 1 << 1.5;
    QTest::newRow("H six-byte real") << QByteArray("-1.5") << QByteArray("%Hf") << r << 1 << -1.5;
    QTest::newRow("six-byte real has no INF") << QByteArray("INF") << QByteArray("%Hf") << r << 0 << 99.0;
    QTest::newRow("six-byte real too large") << QByteArray("1e300") << QByteArray("%Hf") << r << 0 << 99.0;
    QTest::newRow("wrong size target") << QByteArray("2.5") << QByteArray("%f") << d << 0 << 99.0;
    QTest::newRow("ll is no float size") << QByteArray("2.5") << QByteArray("%llf") << d << 0 << 99.0;
}

void TestScanf::floats() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, format);
    QFETCH(QString, kind);
    QFETCH(int, result);
    QFETCH(double, value);

    float vf = 99;
    double vd = 99;
    long double vl = 99;
    Real48 vr = *Real48::fromDouble(99);
    ScanTarget target = &vd;
    if (kind == QLatin1StringView("float"))
        target = &vf;
    else if (kind == QLatin1StringView("extended"))
        target = &vl;
    else if (kind == QLatin1StringView("real48"))
        target = &vr;
    QCOMPARE(ScanFormatted(input, format, {target}), result);

    double got = vd;
    if (kind == QLatin1StringView("float"))
        got = vf;
    else if (kind == QLatin1StringView("extended"))
        got = double(vl);
    else if (kind == QLatin1StringView("real48"))
        got = vr.toDouble();
    QCOMPARE(got, value);
}

void TestScanf::texts_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QString>("kind"); // buffer (8 bytes, zero-filled), value, short
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("text");

    const QString buffer = QStringLiteral("buffer"), value = QStringLiteral("value"),
                  shortString = QStringLiteral("short");
    QTest::newRow("word") << QByteArray("  hello world") << QByteArray("%s") << buffer << 1 << QByteArray("hello");
    QTest::newRow("skip a word") << QByteArray("hello world") << QByteArray("%*s %ls") << value << 1
                                 << QByteArray("world");
    QTest::newRow("width") << QByteArray("abcdef") << QByteArray("%3s") << buffer << 1 << QByteArray("abc");
    QTest::newRow("cut to the buffer") << QByteArray("abcdefghijkl") << QByteArray("%s") << buffer << 1
                                       << QByteArray("abcdefg");
    QTest::newRow("value keeps all") << QByteArray("abcdefghijkl") << QByteArray("%ls") << value << 1
                                     << QByteArray("abcdefghijkl");
    QTest::newRow("short string") << QByteArray("caf\xE8 bar") << QByteArray("%hs") << shortString << 1
                                  << QByteArray("caf\xE8");
    QTest::newRow("short string cut at 255")
        << QByteArray(300, 'x') << QByteArray("%hs") << shortString << 1 << QByteArray(255, 'x');
    QTest::newRow("H string invalid") << QByteArray("abc") << QByteArray("%Hs") << buffer << 0 << QByteArray();
    QTest::newRow("L string invalid") << QByteArray("abc") << QByteArray("%Ls") << buffer << 0 << QByteArray();
    QTest::newRow("char keeps blanks") << QByteArray("  ab") << QByteArray("%c") << buffer << 1 << QByteArray(" ");
    QTest::newRow("chars with width") << QByteArray("abcdef") << QByteArray("%4c") << buffer << 1 << QByteArray("abcd");
    QTest::newRow("chars stop at end") << QByteArray("ab") << QByteArray("%5c") << buffer << 1 << QByteArray("ab");
    QTest::newRow("chars cut to the buffer")
        << QByteArray("abcdefghijkl") << QByteArray("%12c") << buffer << 1 << QByteArray("abcdefgh");
    QTest::newRow("set") << QByteArray("abc123") << QByteArray("%[a-z]") << buffer << 1 << QByteArray("abc");
    QTest::newRow("negated set") << QByteArray("ab c,def") << QByteArray("%l[^,]") << value << 1 << QByteArray("ab c");
    QTest::newRow("set no skip") << QByteArray(" abc") << QByteArray("%[a-z]") << buffer << 0 << QByteArray();
    QTest::newRow("bracket first") << QByteArray("]]x") << QByteArray("%[]]") << buffer << 1 << QByteArray("]]");
    QTest::newRow("dash first") << QByteArray("--a-b") << QByteArray("%[-a]") << buffer << 1 << QByteArray("--a-");
    QTest::newRow("dash last") << QByteArray("a-b") << QByteArray("%[a-]") << buffer << 1 << QByteArray("a-");
    QTest::newRow("set matches nothing") << QByteArray("123") << QByteArray("%[a-z]") << buffer << 0 << QByteArray();
    QTest::newRow("set unterminated") << QByteArray("abc") << QByteArray("%[abc") << buffer << 0 << QByteArray();
    QTest::newRow("set with width") << QByteArray("aaaa") << QByteArray("%2[a]") << buffer << 1 << QByteArray("aa");
    QTest::newRow("set into short string")
        << QByteArray("xyz!") << QByteArray("%h[xyz]") << shortString << 1 << QByteArray("xyz");
}

void TestScanf::texts() {
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, format);
    QFETCH(QString, kind);
    QFETCH(int, result);
    QFETCH(QByteArray, text);

    // The guard bytes after the buffer must survive every row.
    char memory[12];
    std::memset(memory, 0, 8);
    std::memset(memory + 8, 'G', 4);
    QByteArray value;
    ShortString shortString{};
    ScanTarget target = CharBuffer{memory, 8};
    if (kind == QLatin1StringView("value"))
        target = &value;
    else if (kind == QLatin1StringView("short"))
        target = &shortString;

    QCOMPARE(ScanFormatted(input, format, {target}), result);
    if (kind == QLatin1StringView("value"))
        QCOMPARE(value, text);
    else if (kind == QLatin1StringView("short"))
        QCOMPARE(QByteArray(shortString.data() + 1, static_cast<unsigned char>(shortString[0])), text);
    else
        QCOMPARE(QByteArray(memory, int(strnlen(memory, 8))), text);
    QCOMPARE(QByteArray(memory + 8, 4), QByteArray("GGGG"));
}

void TestScanf::real48_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("zero") << 0.0 << QByteArray::fromHex("000000000000");
    QTest::newRow("one") << 1.0 << QByteArray::fromHex("810000000000");
    QTest::newRow("minus two") << -2.0 << QByteArray::fromHex("820000000080");
    QTest::newRow("one and a half") << 1.5 << QByteArray::fromHex("810000000040");
    QTest::newRow("a tenth") << 0.1 << QByteArray::fromHex("7dcdcccccc4c");
}

void TestScanf::real48() {
    QFETCH(double, value);
    QFETCH(QByteArray, stored);

    const auto real = Real48::fromDouble(value);
    QVERIFY(real);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(real->bytes.data()), 6), stored);
    QVERIFY(std::fabs(real->toDouble() - value) <= std::fabs(value) * 1e-11);
}

void TestScanf::unusableTargetsEndScanning() {
    std::int32_t* nothing = nullptr;
    std::int32_t later = Untouched;
    QCOMPARE(ScanFormatted("1 2", "%d %d", {nothing, &later}), 0);
    QCOMPARE(later, Untouched);

    char none[1] = {'Z'};
    QCOMPARE(ScanFormatted("abc", "%s", {CharBuffer{none, 0}}), 0);
    QCOMPARE(none[0], 'Z');

    QCOMPARE(ScanFormatted("5", "%d", {}), 0);
}

QTEST_GUILESS_MAIN(TestScanf)
#include "test_scanf.moc"
