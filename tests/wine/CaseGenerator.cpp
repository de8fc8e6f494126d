// The case sets the Windows probes and our twin answer: hand-picked cases for each reading rule
// the users' files meet, then random files mixing the same ingredients.
#include "tests/wine/ProbeCases.h"

#include <QByteArrayList>

#include <random>

namespace vestrel::wineprobe {

namespace {

class CaseWriter {
public:
    void begin(const QByteArray& name) { m_out += "case\t" + escape(name) + '\n'; }
    void file(const QByteArray& bytes) { m_out += "file\t" + escape(bytes) + '\n'; }
    void noFile() { m_out += "nofile\n"; }
    void op(const QByteArrayList& fields) {
        QByteArrayList escaped;
        for (const QByteArray& f : fields)
            escaped.append(escape(f));
        m_out += escaped.join('\t') + '\n';
    }
    QByteArray text() const { return m_out; }

private:
    QByteArray m_out;
};

// Picks from the pools with the generator's raw output, which is the same on every platform.
class Dice {
public:
    explicit Dice(unsigned seed)
        : m_engine(seed) {}
    unsigned below(unsigned n) { return unsigned(m_engine() % n); }
    bool chance(unsigned percent) { return below(100) < percent; }
    QByteArray pick(const QByteArrayList& pool) { return pool[below(unsigned(pool.size()))]; }

private:
    std::mt19937 m_engine;
};

const QByteArrayList kSections = {"Server", "server", "SERVER", "Porta", "Citt\xE0", "CITT\xC0",
                                  "a",      "A",      "b",      "File",  "GRCREATI", "Ufficio Due"};
const QByteArrayList kKeys = {
    "Host",      "host",  "k",   "K", "srv:/data/Ditta.fdb", "srv:/data/ditta.fdb", "C:\\db\\a.gdb", "perch\xE9",
    "PERCH\xC9", "Count", "x y", "0"};
const QByteArrayList kValues = {"1",           "0",         "-5",         "0x1F",         "12abc",      " 7 ",
                                "abc",         "",          "\"q\"",      "'s'",          "\"odd'",     "a=b",
                                "perch\xE8",   "C:\\dir\\", "2147483648", "\" spaced \"", "semi;colon", "tab\there",
                                "\xE8\x80\xFF"};
const QByteArrayList kBlanks = {"", "", "", " ", "  ", "\t"};

QByteArray headerLine(Dice& dice) {
    const QByteArray name = dice.pick(kSections);
    switch (dice.below(10)) {
    case 0:
        return " [" + name + "] ";
    case 1:
        return "[ " + name + " ]";
    case 2:
        return '[' + name; // unclosed
    case 3:
        return '[' + name + "] ; comment";
    default:
        return '[' + name + ']';
    }
}

QByteArray keyLine(Dice& dice) {
    switch (dice.below(14)) {
    case 0:
        return "; " + dice.pick(kKeys) + '=' + dice.pick(kValues);
    case 1:
        return "#" + dice.pick(kKeys) + "=1";
    case 2:
        return dice.pick(kKeys); // no '='
    case 3:
        return "=" + dice.pick(kValues);
    case 4:
        return QByteArray();
    case 5:
        return dice.pick(kKeys) + '=' + QByteArray(200 + dice.below(300), char('a' + dice.below(26)));
    default:
        return dice.pick(kBlanks) + dice.pick(kKeys) + dice.pick(kBlanks) + '=' + dice.pick(kBlanks) +
               dice.pick(kValues) + dice.pick(kBlanks);
    }
}

QByteArray randomIniFile(Dice& dice) {
    const QByteArrayList ends = {"\r\n", "\n", "\r"};
    const unsigned style = dice.below(4); // one line end for the file, or mixed
    QByteArray bytes;
    const unsigned lines = 1 + dice.below(25);
    for (unsigned i = 0; i < lines; ++i) {
        const bool header = i == 0 ? !dice.chance(15) : dice.chance(25);
        bytes += header ? headerLine(dice) : keyLine(dice);
        if (i + 1 < lines || !dice.chance(20))
            bytes += style < 3 ? ends[style] : dice.pick(ends);
    }
    return bytes;
}

QByteArray nameWithBlanks(Dice& dice, const QByteArrayList& pool) {
    const QByteArray name = dice.pick(pool);
    return dice.chance(15) ? " " + name + ' ' : name;
}

void randomIniOperations(Dice& dice, CaseWriter& out) {
    const unsigned count = 3 + dice.below(12);
    for (unsigned i = 0; i < count; ++i) {
        const unsigned kind = dice.below(100);
        const QByteArray section = nameWithBlanks(dice, kSections);
        const QByteArray key = nameWithBlanks(dice, kKeys);
        if (kind < 40)
            out.op({"R", section, key});
        else if (kind < 48)
            out.op({"I", section, key});
        else if (kind < 58)
            out.op({"K", section});
        else if (kind < 63)
            out.op({"S"});
        else if (kind < 88)
            out.op({"W", section, key, dice.pick(kValues)});
        else if (kind < 95)
            out.op({"D", section, key});
        else
            out.op({"E", section});
    }
    // What the writes left behind, as every reader sees it afterwards.
    out.op({"S"});
    out.op({"K", dice.pick(kSections)});
}

void handPickedIniCases(CaseWriter& out) {
    out.begin("lone CR line ends");
    out.file("[S1]\ra=1\rb=2\r[S2]\ra=3\r");
    out.op({"R", "S1", "a"});
    out.op({"R", "S2", "a"});
    out.op({"W", "S1", "c", "4"});
    out.op({"R", "S1", "c"});
    out.op({"K", "S1"});
    out.op({"K", "S2"});

    out.begin("names given are trimmed");
    out.noFile();
    out.op({"W", " Ufficio ", "count", "0"});
    out.op({"R", " Ufficio ", "count"});
    out.op({"R", "Ufficio", " count\t"});
    out.op({"S"});

    out.begin("repeated sections");
    out.file("[A]\r\nk1=1\r\n[B]\r\nx=2\r\n[a]\r\nk2=3\r\nk1=9\r\n");
    out.op({"R", "A", "k2"});
    out.op({"R", "a", "k1"});
    out.op({"K", "A"});
    out.op({"S"});
    out.op({"W", "a", "k2", "new"});
    out.op({"R", "A", "k2"});
    out.op({"K", "A"});

    out.begin("deleting in repeated sections");
    out.file("[A]\r\nk=1\r\n[B]\r\n[a]\r\nk=2\r\n");
    out.op({"D", "A", "k"});
    out.op({"R", "A", "k"});
    out.op({"E", "a"});
    out.op({"S"});

    out.begin("key lists keep case-distinct keys");
    out.file("[File]\r\nsrv:/data/Ditta.fdb=\r\nsrv:/data/ditta.fdb=\r\nC:\\DB\\x.gdb=1\r\nk=1\r\nk=2\r\n");
    out.op({"K", "file"});
    out.op({"R", "File", "SRV:/DATA/DITTA.FDB"});
    out.op({"R", "File", "c:\\db\\X.GDB"});

    out.begin("keys above every header");
    out.file("pre=1\r\n[a]\r\nk=2\r\n");
    out.op({"R", "", "pre"});
    out.op({"K", ""});
    out.op({"S"});

    out.begin("blanks quotes and odd lines");
    out.file("  [ Porta ]  \n  Porta  =  47110  \nq=\" spaced \"\ns='x'\nodd=\"x'\nnoequals\n=5\n;c=1\nk==v\nempty=\n");
    for (const char* key : {"Porta", "q", "s", "odd", "noequals", "", ";c", "c", "k", "empty"})
        out.op({"R", "porta", key});
    out.op({"K", "Porta"});

    out.begin("unclosed and trailing headers");
    out.file("[s]\n[a\nk=1\n[b] ; note\nj=2\n");
    out.op({"R", "s", "k"});
    out.op({"R", "a", "k"});
    out.op({"R", "b", "j"});
    out.op({"S"});

    out.begin("cp1252 names ignore case");
    out.file("[Citt\xC0]\r\nPerch\xC9=s\xEC\r\n");
    out.op({"R", "citt\xE0", "perch\xE9"});
    out.op({"W", "CITT\xC0", "PERCH\xC9", "no"});
    out.op({"R", "Citt\xE0", "Perch\xE9"});
    out.op({"K", "citt\xE0"});

    out.begin("integers");
    out.file("[n]\r\na=42\r\nb=-1\r\nc=0x1F\r\nd=12abc\r\ne= 7 \r\nf=\r\ng=2147483648\r\nh=abc\r\n");
    for (const char* key : {"a", "b", "c", "d", "e", "f", "g", "h", "missing"})
        out.op({"I", "n", key});

    out.begin("value with a line break");
    out.noFile();
    out.op({"W", "a", "k", "x\r\n[evil]\r\nk=1"});
    out.op({"S"});
    out.op({"R", "a", "k"});

    out.begin("names the file cannot hold");
    out.noFile();
    out.op({"W", "a", "x=y", "v"});
    out.op({"K", "a"});

    out.begin("mixed line ends and a long line");
    out.file("[a]\nk=1\r\n\r\r\nj=2\r" + QByteArray(4000, 'z') + "=long\n[b]\r\nl=" + QByteArray(3000, 'v'));
    out.op({"R", "a", "j"});
    out.op({"K", "a"});
    out.op({"R", "b", "l"});
    out.op({"W", "b", "m", "1"});
    out.op({"R", "b", "m"});
    out.op({"R", "b", "l"});
}

} // namespace

QByteArray generateIniCases(int random, unsigned seed) {
    CaseWriter out;
    handPickedIniCases(out);
    Dice dice(seed);
    for (int i = 0; i < random; ++i) {
        out.begin("random " + QByteArray::number(i + 1));
        if (dice.chance(5))
            out.noFile();
        else
            out.file(randomIniFile(dice));
        randomIniOperations(dice, out);
    }
    return out.text();
}

namespace {

const QByteArray kRoot = "HKEY_CURRENT_USER\\Software\\VestrelProbe";

QByteArray utf16(const QByteArray& cp1252Text) {
    QByteArray bytes("\xFF\xFE");
    const QString text = QString::fromLatin1(cp1252Text); // ASCII and Latin-1 letters only below
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

void handPickedRegistryCases(CaseWriter& out) {
    const QByteArray head = "REGEDIT4\r\n\r\n[" + kRoot + "\\A]\r\n";
    out.begin("escapes");
    out.file(head + "\"n\"=\"a\\nb\"\r\n\"rn\"=\"a\\r\\nb\"\r\n\"t\"=\"a\\tb\"\r\n\"q\"=\"a\\\"b\\\\c\"\r\n");

    out.begin("value deletions");
    out.file(head + "\"x\"=\"1\"\r\n\"y\"=\"2\"\r\n\"X\"=-\r\n@=\"d\"\r\n@=-\r\n");

    out.begin("key deletions");
    out.file(head + "\"x\"=\"1\"\r\n[" + kRoot + "\\B\\C]\r\n\"z\"=\"3\"\r\n[-" + kRoot + "\\b]\r\n\"w\"=\"4\"\r\n[" +
             kRoot + "\\D]\r\n\"v\"=\"5\"\r\n");

    const QByteArray body = "\r\n\r\n[" + kRoot +
                            "\\A]\r\n\"s\"=\"perch\xE9 \xE8\"\r\n\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                            "\"d\"=dword:0000002a\r\n\"b\"=hex:01,02,\\\r\n  03\r\n;c\r\n"
                            "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n@=\"default\"\r\n";
    out.begin("later format in UTF-16");
    out.file(utf16("Windows Registry Editor Version 5.00" + body));

    out.begin("string data in hex stays ANSI in REGEDIT4");
    out.file(head + "\"e\"=hex(2):25,41,25,00\r\n\"s\"=hex(1):41,42,00\r\n\"m\"=hex(7):61,00,62,00,00\r\n");

    out.begin("names ignore case, first spelling kept");
    out.file("REGEDIT4\r\n\r\n[" + kRoot + "\\Chat]\r\n\"Popup\"=\"1\"\r\n[" + kRoot + "\\CHAT\\Sub]\r\n[" +
             kRoot.toLower() + "\\chat]\r\n\"POPUP\"=\"0\"\r\n\"Nick\"=\"anna\"\r\n");

    out.begin("types");
    out.file(head + "\"d\"=dword:FFFFFFFF\r\n\"b\"=hex:\r\n\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                    "\"n\"=hex(0):\r\n\"x\"=hex(2):\r\n\"emp\"=\"\"\r\n");

    out.begin("damaged lines");
    out.file(head +
             "; comment\r\n\"Good1\"=\"one\"\r\n\"Unterminated\"=\"abc\r\n\"BadDword\"=dword:xyz\r\n"
             "\"LongDword\"=dword:123456789\r\n\"NotHex\"=hex:zz\r\ngarbage line\r\n\"Good2\"=dword:2a\r\n"
             "[" +
             kRoot + "\\unterminated\r\n\"After\"=\"x\"\r\n");

    out.begin("blanks around the parts of a line");
    out.file(head + "  \"a\" = \"1\"  \r\n\"b\"=  dword:00000002\r\n\t\"c\"=hex: 01 , 02\r\n[ " + kRoot +
             "\\Blank ]\r\n\"d\"=\"4\"\r\n");

    out.begin("line feeds only");
    out.file("REGEDIT4\n\n[" + kRoot + "\\Lf]\n\"a\"=\"1\"\n\"b\"=hex:01,\\\n  02\n");
}

} // namespace

QByteArray generateRegistryCases(int random, unsigned seed) {
    CaseWriter out;
    handPickedRegistryCases(out);
    Dice dice(seed);
    const QByteArrayList keys = {"A", "a", "A\\B", "Chat", "CHAT", "Vestrel\\Ricorrenze", "Citt\xE0"};
    const QByteArrayList names = {"Nick", "nick", "Popup", "Locale", "perch\xE9", "a\\b", "q\"q", ""};
    for (int i = 0; i < random; ++i) {
        out.begin("random " + QByteArray::number(i + 1));
        QByteArray file = "REGEDIT4\r\n\r\n";
        const unsigned sections = 1 + dice.below(5);
        for (unsigned s = 0; s < sections; ++s) {
            file += (dice.chance(10) ? "[-" : "[") + kRoot + '\\' + dice.pick(keys) + "]\r\n";
            const unsigned values = dice.below(5);
            for (unsigned v = 0; v < values; ++v) {
                const QByteArray rawName = dice.pick(names);
                QByteArray name = rawName.isEmpty()
                                      ? QByteArray("@")
                                      : '"' + QByteArray(rawName).replace("\\", "\\\\").replace("\"", "\\\"") + '"';
                switch (dice.below(6)) {
                case 0:
                    file += name + "=dword:" + QByteArray::number(dice.below(100000), 16).rightJustified(8, '0');
                    break;
                case 1:
                    file += name + "=hex:" + QByteArray::number(dice.below(256), 16) + ",ff";
                    break;
                case 2:
                    file += name + "=-";
                    break;
                default:
                    file += name + "=\"" + dice.pick({"x", "perch\xE8", "C:\\\\dir\\\\", "a\\\"b", ""}) + '"';
                    break;
                }
                file += "\r\n";
            }
            file += "\r\n";
        }
        out.file(file);
    }
    return out.text();
}

} // namespace vestrel::wineprobe

namespace vestrel::wineprobe {

QByteArray generateStringCases(bool languageLibraries) {
    CaseWriter out;
    QByteArrayList libraries = {"tests/platform/pe/strings.dll", "tests/platform/pe/twolang.dll"};
    if (languageLibraries)
        libraries += {"bin/DAVerOdov_ita.dll", "bin/DAVerOdov_eng.dll", "bin/VE_ita.dll", "bin/VE_eng.dll"};
    // Every block the libraries fill, with its neighbours, and the ends of the range.
    const std::pair<unsigned, unsigned> ranges[] = {{0, 40},        {90, 110},      {3990, 4010},  {45120, 45140},
                                                    {49740, 49870}, {54020, 54090}, {65530, 65535}};
    for (const QByteArray& library : libraries) {
        out.begin(library);
        out.op({"dll", library});
        for (const auto& [first, last] : ranges) {
            for (unsigned id = first; id <= last; ++id)
                out.op({"S", QByteArray::number(id)});
        }
    }
    return out.text();
}

} // namespace vestrel::wineprobe
