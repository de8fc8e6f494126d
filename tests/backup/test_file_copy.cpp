// The copy route's file copy: the result, the permissions it keeps, and the temporary files of copies
// that were killed, which the next copy to the same destination removes while a live copy's stays.

#include "backup/FileCopy.h"
#include "tests/support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace vestrel;
using namespace vestrel::backup;

class TestFileCopy : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QStringList folderEntries() const { return QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

private slots:
    void init() {
        for (const QString& name : folderEntries())
            QFile::remove(path(name));
    }

    void copyReplacesAndKeepsPermissions() {
        const QByteArray bytes = QByteArray(3 << 20, 'x') + "fine";
        testing::writeFile(path(u"source.fdb"_s), bytes);
        testing::writeFile(path(u"copy.fdb"_s), "previous");
        QVERIFY(QFile::setPermissions(path(u"copy.fdb"_s),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        QCOMPARE(CopyFileAtomically(path(u"source.fdb"_s), path(u"copy.fdb"_s)), QString());
        QCOMPARE(testing::readFile(path(u"copy.fdb"_s)), bytes);
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(path(u"copy.fdb"_s)).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, 0640u);
        QCOMPARE(folderEntries(), QStringList({u"copy.fdb"_s, u"source.fdb"_s}));

        testing::writeFile(path(u"empty.fdb"_s), {});
        QCOMPARE(CopyFileAtomically(path(u"empty.fdb"_s), path(u"copy.fdb"_s)), QString());
        QCOMPARE(QFileInfo(path(u"copy.fdb"_s)).size(), 0);
    }

    void failureKeepsThePreviousCopy() {
        testing::writeFile(path(u"copy.fdb"_s), "previous");
        QVERIFY(!CopyFileAtomically(path(u"missing.fdb"_s), path(u"copy.fdb"_s)).isEmpty());
        QVERIFY(!CopyFileAtomically(m_dir.path(), path(u"copy.fdb"_s)).isEmpty());
        testing::writeFile(path(u"source.fdb"_s), "new");
        QVERIFY(!CopyFileAtomically(path(u"source.fdb"_s), path(u"no-such-folder/copy.fdb"_s)).isEmpty());
        QCOMPARE(testing::readFile(path(u"copy.fdb"_s)), QByteArray("previous"));
        QCOMPARE(folderEntries(), QStringList({u"copy.fdb"_s, u"source.fdb"_s}));
    }

    // A killed copy's file is unlocked and goes; a live copy holds its file locked and it stays, as do
    // files of other names and other destinations.
    void staleTemporariesOfTheDestinationGo() {
        testing::writeFile(path(u"source.fdb"_s), "new");
        const QStringList kept{u"copy.fdb.part-LiVe42"_s,  u"copy.fdb.part-notes"_s,   u"copy.fdb.part-ab_123"_s,
                               u"copy.fdb.part-abc1234"_s, u"other.fdb.part-abc123"_s, u"xcopy.fdb.part-abc123"_s};
        for (const QString& name : kept + QStringList{u"copy.fdb.part-abc123"_s, u"copy.fdb.part-ZZ0000"_s})
            testing::writeFile(path(name), "partial");
        const int live = ::open(QFile::encodeName(path(u"copy.fdb.part-LiVe42"_s)).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(live >= 0);
        QCOMPARE(::flock(live, LOCK_EX | LOCK_NB), 0);

        QCOMPARE(CopyFileAtomically(path(u"source.fdb"_s), path(u"copy.fdb"_s)), QString());
        ::close(live);
        QStringList expected = kept + QStringList{u"copy.fdb"_s, u"source.fdb"_s};
        expected.sort();
        QCOMPARE(folderEntries(), expected);
        QCOMPARE(testing::readFile(path(u"copy.fdb"_s)), QByteArray("new"));

        QVERIFY(IsCopyTemporaryName(u"a.fdb.part-Ab3dE9"_s, u"a.fdb"_s));
        QVERIFY(!IsCopyTemporaryName(u"a.fdb.part-Ab3dE9"_s, u"b.fdb"_s));
        QVERIFY(!IsCopyTemporaryName(u"a.fdb.part-Ab3dÈ9"_s, u"a.fdb"_s));
        QVERIFY(!IsCopyTemporaryName(u"a.fdb"_s, u"a.fdb"_s));
    }

    // A destination whose name nearly fills the file system's limit still gets a temporary file: the
    // name is shortened in it, and the leftovers of such a copy are still recognised.
    void longNamesFitTheLimit() {
        testing::writeFile(path(u"source.fdb"_s), "dati");
        const QString longName = QString(250, u'd') + u".fdb"_s;
        PendingCopy copy(path(u"source.fdb"_s), path(longName));
        QCOMPARE(copy.error(), QString());
        const QString temporary = QFileInfo(copy.temporaryPath()).fileName();
        QVERIFY(QFile::encodeName(temporary).size() <= 255);
        QVERIFY(IsCopyTemporaryName(temporary, longName));
        QVERIFY(IsTemporaryName(temporary));
        QCOMPARE(copy.commit(), QString());
        QCOMPARE(testing::readFile(path(longName)), QByteArray("dati"));
        // Two processes never choose the same temporary name.
        QVERIFY(TemporaryNameFor(path(u"a.gbk"_s)) != TemporaryNameFor(path(u"a.gbk"_s)));
    }

    // A copy that is never committed leaves nothing behind and the previous file as it was.
    void uncommittedCopyLeavesNothing() {
        testing::writeFile(path(u"source.fdb"_s), "new");
        testing::writeFile(path(u"copy.fdb"_s), "old");
        {
            PendingCopy copy(path(u"source.fdb"_s), path(u"copy.fdb"_s));
            QVERIFY(QFile::exists(copy.temporaryPath()));
        }
        QCOMPARE(folderEntries(), QStringList({u"copy.fdb"_s, u"source.fdb"_s}));
        QCOMPARE(testing::readFile(path(u"copy.fdb"_s)), QByteArray("old"));
    }
};

QTEST_GUILESS_MAIN(TestFileCopy)
#include "test_file_copy.moc"
