// Where the embedded engine keeps its locks when the shared folder cannot serve this user.
#include "fb/LockFolder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace vestrel;

namespace {

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : mode_t(-1);
}

} // namespace

class TestLockFolder : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        qunsetenv("FIREBIRD_LOCK");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(u"run"_s)));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(path(u"cache"_s)));
        QVERIFY(QDir().mkpath(path(u"run"_s)));
    }
    void cleanupTestCase() { qunsetenv("FIREBIRD_LOCK"); }

    void aSetVariableOrAUsableSharedFolderIsKept() {
        qputenv("FIREBIRD_LOCK", "/srv/locks");
        QCOMPARE(fb::chooseEmbeddedLockFolder(path(u"missing"_s)), QString());
        QCOMPARE(qgetenv("FIREBIRD_LOCK"), QByteArray("/srv/locks"));

        // A shared folder this user may use keeps its locks in common with the server's.
        qunsetenv("FIREBIRD_LOCK");
        QVERIFY(QDir().mkpath(path(u"shared"_s)));
        QCOMPARE(fb::chooseEmbeddedLockFolder(path(u"shared"_s)), QString());
        QVERIFY(!qEnvironmentVariableIsSet("FIREBIRD_LOCK"));
        QVERIFY(!QFile::exists(path(u"run/firebird"_s)));
    }

    void anUnusableSharedFolderGivesAFolderOfThisUser() {
        const QString shared = path(u"not-a-folder"_s);
        QFile file(shared);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        const QString chosen = fb::chooseEmbeddedLockFolder(shared);
        QCOMPARE(chosen, path(u"run/firebird"_s));
        QCOMPARE(qEnvironmentVariable("FIREBIRD_LOCK"), chosen);
        QCOMPARE(modeOf(chosen), mode_t(0700));

        // The next process of the same user picks the same folder, and narrows one left open.
        qunsetenv("FIREBIRD_LOCK");
        QVERIFY(QFile::setPermissions(chosen, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                  QFile::ReadGroup | QFile::ExeGroup | QFile::ExeOther));
        QCOMPARE(fb::chooseEmbeddedLockFolder(shared), chosen);
        QCOMPARE(modeOf(chosen), mode_t(0700));
    }

    void withoutARuntimeFolderTheCacheServes() {
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(fb::chooseEmbeddedLockFolder(path(u"missing"_s)), path(u"cache/firebird"_s));
        QCOMPARE(modeOf(path(u"cache/firebird"_s)), mode_t(0700));

        // A relative runtime folder is no folder, and a link in its place could lead to another user's.
        qunsetenv("FIREBIRD_LOCK");
        qputenv("XDG_RUNTIME_DIR", "run");
        QCOMPARE(fb::chooseEmbeddedLockFolder(path(u"missing"_s)), path(u"cache/firebird"_s));
        qunsetenv("FIREBIRD_LOCK");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(u"run"_s)));
        QVERIFY(QFile::link(path(u"elsewhere"_s), path(u"run/firebird"_s)));
        QCOMPARE(fb::chooseEmbeddedLockFolder(path(u"missing"_s)), path(u"cache/firebird"_s));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString& name) const { return m_dir->filePath(name); }
};

QTEST_GUILESS_MAIN(TestLockFolder)
#include "tst_lockfolder.moc"
