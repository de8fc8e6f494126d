#include "tests/wine/ProbeCases.h"

#include "platform/Cp1252.h"
#include "platform/IniFile.h"
#include "platform/IniText.h"
#include "platform/RegistryFile.h"
#include "platform/ResourceLibrary.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <map>
#include <optional>

using namespace Qt::StringLiterals;

namespace vestrel::wineprobe {

namespace {

const QByteArray kProbeRoot = "HKEY_CURRENT_USER\\Software\\VestrelProbe";

struct Operation {
    QByteArrayList fields; // unescaped; fields[0] is the operation
    QByteArray field(qsizetype i) const { return i < fields.size() ? fields[i] : QByteArray(); }
};

struct Case {
    QByteArray name;
    std::vector<Operation> operations;
};

std::vector<Case> parseCases(const QByteArray& text) {
    std::vector<Case> cases;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        Operation op;
        for (const QByteArray& field : line.split('\t'))
            op.fields.append(unescape(field));
        if (op.fields[0] == "case") {
            cases.push_back(Case{op.field(1), {}});
        } else if (!cases.empty()) {
            cases.back().operations.push_back(std::move(op));
        }
    }
    return cases;
}

QByteArray joinEscaped(const QByteArrayList& names) {
    QByteArrayList escaped;
    for (const QByteArray& name : names)
        escaped.append(escape(name));
    return escaped.join('\t');
}

// The names our writes refuse, where Windows would write a line its reads do not find again.
bool refusedNames(const QByteArray& section, const QByteArray& key) {
    const QByteArray k = QByteArray(key).replace('\r', ' ').replace('\n', ' ').trimmed();
    return section.contains(']') || k.isEmpty() || k.contains('=') || k.startsWith(';') || k.startsWith('[');
}

bool isPlainDecimal(const QByteArray& text) {
    static const QRegularExpression decimal(u"^-?[0-9]{1,9}$"_s);
    return decimal.match(QString::fromLatin1(text)).hasMatch();
}

bool asciiEqualsIgnoreCase(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? char(c + 32) : c;
        };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Whether `name` matches one of `names` only when accented letters ignore case too.
bool matchesOnlyByAccentCase(const QByteArrayList& names, const QByteArray& name) {
    for (const QByteArray& candidate : names) {
        if (cp1252::equalsIgnoreCase(candidate, name) && !asciiEqualsIgnoreCase(candidate, name))
            return true;
    }
    return false;
}

// What the first copy of `section` holds besides its values: every name of a key line or of a line
// without '=', and whether a line "=value" is there, which Windows takes for a key without a name.
struct SectionScan {
    QByteArrayList names;
    bool nameless = false;
};

SectionScan scanSection(const QString& path, const QByteArray& section) {
    SectionScan scan;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return scan;
    bool inSection = section.isEmpty();
    bool done = false;
    for (const initext::Line& line : initext::parse(file.readAll()).lines) {
        if (line.kind == initext::Line::Kind::Section) {
            if (inSection)
                done = true;
            inSection = !done && cp1252::equalsIgnoreCase(line.name, section);
        } else if (inSection && line.kind != initext::Line::Kind::Other) {
            scan.names.append(line.name);
        } else if (inSection && line.raw.trimmed().startsWith('=')) {
            scan.nameless = true;
        }
    }
    return scan;
}

// Why our answer to `op` may differ from Windows' before it runs, by a rule we keep; empty if none.
QByteArray keptRule(const IniFile& ini, const QByteArray& kind, const QByteArray& section, const QByteArray& key) {
    const QByteArray s = section.trimmed();
    const QByteArray k = key.trimmed();
    if (matchesOnlyByAccentCase(ini.ReadSections(), s) ||
        (!key.isEmpty() && matchesOnlyByAccentCase(scanSection(ini.FileName(), s).names, k)))
        return "accented letters compare without regard to case, where Wine tells them apart";
    if ((kind == "K" || kind == "D" || kind == "E") && (section != s || (kind == "D" && key != k)))
        return "the names given to every call are trimmed, where Wine trims them only for reads and writes";
    if ((kind == "R" || kind == "I") && (k.isEmpty() || k.startsWith(';')))
        return "a line starting with ';' is a comment and a line without a name is no key; Windows reads both";
    if (kind == "K" && scanSection(ini.FileName(), s).nameless)
        return "a line without a name is no key; Windows lists an empty name, which ends the list early";
    return {};
}

bool hasRepeatedCopies(const IniFile& ini, const QByteArray& section) {
    int copies = 0;
    for (const QByteArray& name : ini.ReadSections())
        copies += cp1252::equalsIgnoreCase(name, section.trimmed()) ? 1 : 0;
    return copies > 1;
}

Answer answerIni(IniFile& ini, const Operation& op, QByteArray& taint) {
    const QByteArray& kind = op.fields[0];
    const QByteArray section = op.field(1);
    const QByteArray key = op.field(2);
    if (taint.isEmpty() && (kind == "W" || kind == "D" || kind == "E"))
        taint = keptRule(ini, kind, section, key);
    Answer answer{kind, {}, taint.isEmpty() ? keptRule(ini, kind, section, key) : taint};
    if (kind == "R") {
        answer.text = escape(ini.ReadString(section, key, "<default>"));
    } else if (kind == "I") {
        answer.text = QByteArray::number(ini.ReadInteger(section, key, -77));
        const QByteArray text = ini.ReadString(section, key, "<default>");
        if (answer.kept.isEmpty() && ini.ValueExists(section, key) && !isPlainDecimal(text.trimmed()))
            answer.kept = "an integer is read from the whole text, not from its leading digits";
    } else if (kind == "K") {
        answer.text = joinEscaped(ini.ReadSection(section));
    } else if (kind == "S") {
        answer.text = joinEscaped(ini.ReadSections());
    } else if (kind == "W" || kind == "D" || kind == "E") {
        const QByteArray value = op.field(3);
        if (kind == "W" && (value.contains('\r') || value.contains('\n')) && taint.isEmpty())
            taint = "a value with a line break is stored on one line, where Windows forges further lines";
        if (kind != "W" && hasRepeatedCopies(ini, section) && taint.isEmpty())
            taint = "a deletion removes every copy of a repeated section, where Windows leaves later copies";
        try {
            if (kind == "W")
                ini.WriteString(section, key, value);
            else if (kind == "D")
                ini.DeleteKey(section, key);
            else
                ini.EraseSection(section);
            answer.text = "ok";
        } catch (const IniWriteError&) {
            answer.text = "error";
        }
        if (kind == "W" && refusedNames(section, key) && taint.isEmpty())
            taint = "names a file cannot hold are refused, where Windows writes a line it cannot read back";
        answer.kept = taint;
    }
    return answer;
}

std::optional<QByteArray> relativeToProbeRoot(const QByteArray& path) {
    if (cp1252::equalsIgnoreCase(path, kProbeRoot))
        return QByteArray();
    if (path.size() > kProbeRoot.size() && path[kProbeRoot.size()] == '\\' &&
        cp1252::equalsIgnoreCase(path.left(kProbeRoot.size()), kProbeRoot))
        return path.mid(kProbeRoot.size() + 1);
    return std::nullopt;
}

// What the registry holds below the probe root after importing the file, as the probe dumps it.
std::vector<Answer> dumpProbeTree(const regfile::Hive& hive) {
    std::vector<Answer> answers;
    // Keys spelled as first made, parents included; a later spelling of a key names the same key.
    QHash<QString, QByteArray> spelling;
    const auto canonical = [&](const QByteArray& relative) {
        QByteArray path;
        for (const QByteArray& part : relative.split('\\')) {
            if (part.isEmpty())
                continue;
            const QByteArray candidate = path.isEmpty() ? part : path + '\\' + part;
            const QString folded = cp1252::toUnicode(candidate).toCaseFolded();
            if (!spelling.contains(folded)) {
                spelling.insert(folded, candidate);
                answers.push_back(Answer{"key", escape(candidate), {}});
            }
            path = spelling.value(folded);
        }
        return path;
    };
    bool any = false;
    for (const regfile::Key& key : hive.keys) {
        if (relativeToProbeRoot(key.path))
            any = true;
    }
    if (!any)
        return answers;
    answers.push_back(Answer{"key", QByteArray(), {}});
    for (const regfile::Key& key : hive.keys) {
        const auto relative = relativeToProbeRoot(key.path);
        if (!relative)
            continue;
        const QByteArray path = canonical(*relative);
        for (const regfile::Value& value : key.values) {
            answers.push_back(Answer{"value",
                                     escape(path) + '\t' + escape(value.name) + '\t' + QByteArray::number(value.type) +
                                         '\t' + value.data.toHex(),
                                     {}});
        }
    }
    return answers;
}

} // namespace

QByteArray escape(const QByteArray& bytes) {
    QByteArray out;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (u < 0x20 || u == 0x7F)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

QByteArray unescape(const QByteArray& text) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 't')
            out += '\t';
        else if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 'x' && i + 2 < text.size()) {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else
            out += c;
    }
    return out;
}

std::vector<CaseAnswers> answerIniCases(const QByteArray& cases, const QString& workDir) {
    std::vector<CaseAnswers> all;
    int number = 0;
    for (const Case& c : parseCases(cases)) {
        const QString path = workDir + u"/case%1.ini"_s.arg(++number);
        QFile::remove(path);
        CaseAnswers result{c.name, {}};
        QByteArray taint;
        std::optional<IniFile> ini;
        for (const Operation& op : c.operations) {
            if (op.fields[0] == "file" || op.fields[0] == "nofile") {
                QFile file(path);
                if (op.fields[0] == "file" && file.open(QIODevice::WriteOnly))
                    file.write(op.field(1));
                ini.reset();
                continue;
            }
            if (!ini)
                ini.emplace(path);
            result.answers.push_back(answerIni(*ini, op, taint));
        }
        all.push_back(std::move(result));
    }
    return all;
}

std::vector<CaseAnswers> answerRegistryCases(const QByteArray& cases) {
    std::vector<CaseAnswers> all;
    for (const Case& c : parseCases(cases)) {
        CaseAnswers result{c.name, {}};
        for (const Operation& op : c.operations) {
            if (op.fields[0] == "file")
                result.answers = dumpProbeTree(regfile::parse(op.field(1)));
        }
        all.push_back(std::move(result));
    }
    return all;
}

std::vector<CaseAnswers> answerStringCases(const QByteArray& cases, const QString& baseDir) {
    std::vector<CaseAnswers> all;
    for (const Case& c : parseCases(cases)) {
        CaseAnswers result{c.name, {}};
        std::optional<PeResources> library;
        for (const Operation& op : c.operations) {
            if (op.fields[0] == "dll") {
                library = PeResources::fromFile(baseDir + u'/' + QString::fromLocal8Bit(op.field(1)));
                result.answers.push_back(Answer{"dll", library ? "ok" : "missing", {}});
            } else if (op.fields[0] == "S") {
                const std::uint32_t id = op.field(1).toUInt();
                const QString text = library ? library->string(id) : QString();
                QByteArray kept;
                const auto block = std::uint16_t(id / 16 + 1);
                if (library && library->languages(RT_STRING_TYPE, block) !=
                                   std::vector<std::uint16_t>{library->defaultLanguage().value_or(0)}) {
                    if (!library->languages(RT_STRING_TYPE, block).empty())
                        kept = "a library in several languages answers in its own, where Windows picks the user's";
                }
                result.answers.push_back(Answer{"S", escape(cp1252::fromUnicode(text)), kept});
            }
        }
        all.push_back(std::move(result));
    }
    return all;
}

std::vector<CaseAnswers> readAnswers(const QByteArray& text) {
    std::vector<CaseAnswers> all;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        const qsizetype tab = line.indexOf('\t');
        const QByteArray op = tab < 0 ? line : line.left(tab);
        QByteArray rest = tab < 0 ? QByteArray() : line.mid(tab + 1);
        if (op == "case") {
            all.push_back(CaseAnswers{unescape(rest), {}});
        } else if (!all.empty()) {
            // Our answers may carry a third part: the kept rule, after a tab and "kept:".
            QByteArray kept;
            const qsizetype mark = rest.indexOf("\tkept:");
            if (mark >= 0) {
                kept = rest.mid(mark + 6);
                rest = rest.left(mark);
            }
            all.back().answers.push_back(Answer{op, rest, kept});
        }
    }
    return all;
}

QByteArray writeAnswers(const std::vector<CaseAnswers>& answers) {
    QByteArray out;
    for (const CaseAnswers& c : answers) {
        out += "case\t" + escape(c.name) + '\n';
        for (const Answer& a : c.answers) {
            out += a.op + '\t' + a.text;
            if (!a.kept.isEmpty())
                out += "\tkept:" + a.kept;
            out += '\n';
        }
    }
    return out;
}

Agreement compare(const std::vector<CaseAnswers>& ours, const std::vector<CaseAnswers>& windows, bool unordered) {
    Agreement result;
    for (std::size_t c = 0; c < windows.size(); ++c) {
        const CaseAnswers& theirs = windows[c];
        if (c >= ours.size() || ours[c].name != theirs.name) {
            result.differ += int(theirs.answers.size());
            result.differences.append(u"%1: case missing from our answers"_s.arg(QString::fromLatin1(theirs.name)));
            continue;
        }
        const CaseAnswers& mine = ours[c];
        const QString name = QString::fromLatin1(theirs.name);
        if (unordered) {
            std::map<QByteArray, int> counts;
            for (const Answer& a : theirs.answers)
                ++counts[a.op + '\t' + a.text];
            for (const Answer& a : mine.answers)
                --counts[a.op + '\t' + a.text];
            int missing = 0;
            for (const auto& [line, count] : counts) {
                if (count != 0) {
                    ++missing;
                    result.differences.append(u"%1: %2 %3"_s.arg(name, count > 0 ? u"windows only"_s : u"ours only"_s,
                                                                 QString::fromLatin1(line)));
                }
            }
            if (missing == 0)
                ++result.agree;
            else
                ++result.differ;
            continue;
        }
        for (std::size_t i = 0; i < theirs.answers.size(); ++i) {
            const Answer& t = theirs.answers[i];
            const Answer mineAnswer = i < mine.answers.size() ? mine.answers[i] : Answer{"?", "?", {}};
            if (mineAnswer.op == t.op && mineAnswer.text == t.text) {
                ++result.agree;
                continue;
            }
            const QString line = u"%1 #%2 %3: windows \"%4\", ours \"%5\""_s.arg(
                name, QString::number(i + 1), QString::fromLatin1(t.op), QString::fromLatin1(t.text),
                QString::fromLatin1(mineAnswer.text));
            if (!mineAnswer.kept.isEmpty()) {
                ++result.kept;
                result.differences.append(line + u" (kept: "_s + QString::fromLatin1(mineAnswer.kept) + u')');
            } else {
                ++result.differ;
                result.differences.append(line);
            }
        }
    }
    return result;
}

} // namespace vestrel::wineprobe
