#pragma once

// Whole-file reads and writes for tests that check what lands on disk.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

namespace vestrel::testing {

// The file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file's content with `bytes`; the test fails when it cannot.
inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace vestrel::testing
