#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// The twin of the Windows probes: answers the same case files through our stand-ins, and compares
// the answers with the ones the probes gave under Wine. Case files and answers are lines of
// tab-separated fields, escaped as escape.h describes.
//
// INI cases:     "case NAME", "file BYTES" or "nofile", then operations:
//                R sec key (read), I sec key (integer read), K sec (key list), S (section list),
//                W sec key value (write), D sec key (delete key), E sec (erase section).
// Registry cases: "case NAME", "file BYTES" (a .reg file to import below
//                HKEY_CURRENT_USER\Software\VestrelProbe), answered by a dump of that tree.
// String cases:  "case NAME", "dll FILE" (relative to a base folder), then "S id" (LoadString).
namespace vestrel::wineprobe {

struct Answer {
    QByteArray op;
    QByteArray text;
    // Why our answer may differ from Windows' here (a rule we keep on purpose); empty otherwise.
    QByteArray kept;
};

struct CaseAnswers {
    QByteArray name;
    std::vector<Answer> answers;
};

QByteArray escape(const QByteArray& bytes);
QByteArray unescape(const QByteArray& text);

std::vector<CaseAnswers> answerIniCases(const QByteArray& cases, const QString& workDir);
std::vector<CaseAnswers> answerRegistryCases(const QByteArray& cases);
std::vector<CaseAnswers> answerStringCases(const QByteArray& cases, const QString& baseDir);

// Answers as the probes print them (CR LF or LF line ends).
std::vector<CaseAnswers> readAnswers(const QByteArray& text);
QByteArray writeAnswers(const std::vector<CaseAnswers>& answers);

struct Agreement {
    int agree = 0;
    int kept = 0;            // differ where a kept rule says so
    int differ = 0;          // differ for no stated reason
    QStringList differences; // one line per differing or kept answer
};

// Compares answer by answer. Registry answers compare as sets of lines per case (the registry
// functions list in their own order).
Agreement compare(const std::vector<CaseAnswers>& ours, const std::vector<CaseAnswers>& windows, bool unordered);

// Reproducible case sets: hand-picked cases and `random` generated ones.
QByteArray generateIniCases(int random, unsigned seed);
QByteArray generateRegistryCases(int random, unsigned seed);
// LoadString over the test libraries, and over the language libraries when asked (their texts change
// as the programs do, so they are compared live, never frozen).
QByteArray generateStringCases(bool languageLibraries);

} // namespace vestrel::wineprobe
