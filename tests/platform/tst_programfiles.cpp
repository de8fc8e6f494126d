// Files beside the program once it is installed where the user cannot write: the user's own copy holds
// what the user changed, over the program directory's file.
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void put(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(data), data.size());
}

} // namespace

class TestProgramFiles : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir(m_dir->path()).mkpath(u"prog"_s));
        qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(program()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->filePath(u"config"_s)));
        qunsetenv("VESTREL_PROGRAM_DIR_READONLY");
    }
    void cleanup() {
        QFile::setPermissions(program(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qunsetenv("VESTREL_PROGRAM_DIR_READONLY");
        qunsetenv("XDG_CONFIG_HOME");
    }

    void aWritableProgramDirectoryKeepsEverything() {
        put(program() + u"/DovuziZez.ini"_s, "[Server]\r\nHost=admin\r\n");
        QVERIFY(QDir().mkpath(own()));
        put(own() + u"/DovuziZez.ini"_s, "[Server]\r\nHost=mine\r\n"); // ignored while the folder is writable
        QVERIFY(programDirectoryWritable());
        QCOMPARE(programFileToRead(u"DovuziZez.ini"_s), programFile(u"DovuziZez.ini"_s));
        IniFile ini = programIniFile(u"DovuziZez.ini"_s);
        QCOMPARE(ini.FileName(), programFile(u"DovuziZez.ini"_s));
        QCOMPARE(ini.ReadString("Server", "Host", {}), QByteArray("admin"));
        ini.WriteString("Server", "Host", "admin2");
        QCOMPARE(contents(programFile(u"DovuziZez.ini"_s)), QByteArray("[Server]\r\nHost=admin2\r\n"));
        QCOMPARE(userFilesDirectory(), own() + u'/');

        // A program directory that does not exist is no reason to write elsewhere.
        qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(m_dir->filePath(u"nowhere"_s)));
        QVERIFY(programDirectoryWritable());
    }

    void installedTheUserKeepsOnlyWhatTheyChanged() {
        qputenv("VESTREL_PROGRAM_DIR_READONLY", "1");
        const QByteArray admin = "; set by the administrator\r\n[Server]\r\nHost=srv\r\n[Porta]\r\nPorta=4711\r\n";
        put(program() + u"/DovuziZez.ini"_s, admin);
        QVERIFY(!programDirectoryWritable());
        QCOMPARE(programFileToRead(u"DovuziZez.ini"_s), programFile(u"DovuziZez.ini"_s));

        IniFile ini = programIniFile(u"DovuziZez.ini"_s);
        const QString mine = own() + u"/DovuziZez.ini"_s;
        QCOMPARE(ini.FileName(), mine);
        ini.WriteString("Server", "Host", "srv"); // the administrator's value: nothing to keep
        QVERIFY(!QFile::exists(mine));
        ini.WriteString("Porta", "Porta", "5000");
        QCOMPARE(contents(mine), QByteArray("[Porta]\r\nPorta=5000\r\n"));
        QCOMPARE(contents(programFile(u"DovuziZez.ini"_s)), admin);
        QCOMPARE(programFileToRead(u"DovuziZez.ini"_s), mine);

        // A later default reaches the user where the user changed nothing.
        put(program() + u"/DovuziZez.ini"_s, "[Server]\r\nHost=nuovo\r\n[Porta]\r\nPorta=4711\r\n");
        const IniFile reread = programIniFile(u"DovuziZez.ini"_s);
        QCOMPARE(reread.ReadString("Server", "Host", {}), QByteArray("nuovo"));
        QCOMPARE(reread.ReadString("Porta", "Porta", {}), QByteArray("5000"));
        QCOMPARE(QDir(own()).entryList(QDir::Files | QDir::Hidden), QStringList{u"DovuziZez.ini"_s});
    }

    void aFolderThatCannotBeMadeIsReported() {
        qputenv("VESTREL_PROGRAM_DIR_READONLY", "1");
        put(m_dir->filePath(u"config"_s), "a file where the folder should be");
        IniFile ini = programIniFile(u"DovuziZez.ini"_s);
        try {
            ini.WriteString("Server", "Host", "mio");
            QFAIL("no error raised");
        } catch (const IniWriteError& failure) {
            const QString text = QString::fromUtf8(failure.what());
            QVERIFY2(text.contains(own() + u"/DovuziZez.ini"_s), failure.what());
            QVERIFY2(text.contains(u"Not a directory"_s), failure.what());
        }
        QCOMPARE(programFileToRead(u"DovuziZez.ini"_s), programFile(u"DovuziZez.ini"_s));
    }

    void aReadOnlyProgramDirectoryCountsAsInstalled() {
        if (::geteuid() == 0)
            QSKIP("root can write any folder; the forced case above covers the rest");
        put(program() + u"/gruppi.ini"_s, "[GRCREATI]\r\n0=Ufficio\r\nCount=0\r\n");
        QVERIFY(QFile::setPermissions(program(), QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY(!programDirectoryWritable());
        programIniFile(u"gruppi.ini"_s).WriteString("Ufficio", "0", "anna");
        const IniFile reread = programIniFile(u"gruppi.ini"_s);
        QCOMPARE(reread.FileName(), own() + u"/gruppi.ini"_s);
        QCOMPARE(reread.ReadString("GRCREATI", "0", {}), QByteArray("Ufficio"));
        QCOMPARE(reread.ReadString("Ufficio", "0", {}), QByteArray("anna"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString program() const { return m_dir->filePath(u"prog"_s); }
    QString own() const { return m_dir->filePath(u"config/vestrel"_s); }
};

QTEST_GUILESS_MAIN(TestProgramFiles)
#include "tst_programfiles.moc"
