#include "fb/Attachment.h"
#include "reminders/dbNameUtils.h"
#include "tests/fb/SchemaDatabase.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace vestrel::reminders;

class TestDbNameUtils : public QObject {
    Q_OBJECT

private slots:
    void composeDatabaseName_data();
    void composeDatabaseName();
    void openConfigIniReadsBesideTheProgram();
    void missingConfigIniReadsEmpty();
    void nonAsciiProgramFolder();
};

void TestDbNameUtils::composeDatabaseName_data() {
    QTest::addColumn<QByteArray>("programDir");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QByteArray>("name");

    const QByteArray dir = "/opt/vestrel/";
    QTest::newRow("local path unchanged")
        << dir << QByteArray() << QByteArray("C:\\dati\\archivio.gdb") << 0 << QByteArray("C:\\dati\\archivio.gdb");
    QTest::newRow("tcp") << dir << QByteArray("server") << QByteArray("d:/dati/archivio.gdb") << 0
                         << QByteArray("server:d:/dati/archivio.gdb");
    QTest::newRow("named pipes") << dir << QByteArray("server") << QByteArray("e:\\dati\\a.gdb") << 1
                                 << QByteArray("\\\\server\\e:\\dati\\a.gdb");
    QTest::newRow("spx") << dir << QByteArray("server") << QByteArray("vol1\\a.gdb") << 2
                         << QByteArray("server@vol1\\a.gdb");
    QTest::newRow("unknown protocol") << dir << QByteArray("server") << QByteArray("x\\a.gdb") << 3
                                      << QByteArray("serverx\\a.gdb");
    QTest::newRow("negative protocol") << dir << QByteArray("server") << QByteArray("/srv/a.fdb") << -1
                                       << QByteArray("server/srv/a.fdb");
    QTest::newRow("relative, local") << dir << QByteArray() << QByteArray("archivio.gdb") << 0
                                     << QByteArray("/opt/vestrel/database/archivio.gdb");
    QTest::newRow("relative, remote host") << dir << QByteArray("server") << QByteArray("archivio.gdb") << 0
                                           << QByteArray("server:/opt/vestrel/database/archivio.gdb");
    QTest::newRow("relative, empty host ignores protocol")
        << dir << QByteArray() << QByteArray("a.gdb") << 1 << QByteArray("/opt/vestrel/database/a.gdb");
    QTest::newRow("program dir without slash") << QByteArray("/opt/vestrel") << QByteArray() << QByteArray("a.gdb") << 0
                                               << QByteArray("/opt/vestrel/database/a.gdb");
    QTest::newRow("linux absolute path") << dir << QByteArray("localhost") << QByteArray("/srv/db/a.fdb") << 0
                                         << QByteArray("localhost:/srv/db/a.fdb");
    QTest::newRow("cp1252 bytes kept") << dir << QByteArray("citt\xE0") << QByteArray("d:\\r\xE8s.gdb") << 0
                                       << QByteArray("citt\xE0:d:\\r\xE8s.gdb");
}

void TestDbNameUtils::composeDatabaseName() {
    QFETCH(QByteArray, programDir);
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, file);
    QFETCH(int, protocol);
    QFETCH(QByteArray, name);

    qputenv("VESTREL_PROGRAM_DIR", programDir);
    QCOMPARE(ComposeDatabaseName(host, file, protocol), name);
}

void TestDbNameUtils::openConfigIniReadsBesideTheProgram() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(dir.path()));
    QFile file(dir.filePath(QStringLiteral("config.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Database]\r\nFile=archivio.gdb\r\nprotocollo=1\r\n");
    file.close();

    const std::unique_ptr<IniFile> ini = OpenConfigIni();
    QVERIFY(ini);
    QCOMPARE(ini->ReadString("Database", "file", ""), QByteArray("archivio.gdb"));
    QCOMPARE(ini->ReadInteger("Database", "protocollo", 0), 1);

    // Installed where the user cannot write: a user's own copy is read instead.
    qputenv("VESTREL_PROGRAM_DIR_READONLY", "1");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));
    QCOMPARE(OpenConfigIni()->ReadString("Database", "File", ""), QByteArray("archivio.gdb"));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("config/vestrel"))));
    QFile own(dir.filePath(QStringLiteral("config/vestrel/config.ini")));
    QVERIFY(own.open(QIODevice::WriteOnly));
    own.write("[Database]\r\nFile=prova.gdb\r\n");
    own.close();
    QCOMPARE(OpenConfigIni()->ReadString("Database", "File", ""), QByteArray("prova.gdb"));
    qunsetenv("VESTREL_PROGRAM_DIR_READONLY");
    qunsetenv("XDG_CONFIG_HOME");
}

void TestDbNameUtils::missingConfigIniReadsEmpty() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(dir.path()));

    const std::unique_ptr<IniFile> ini = OpenConfigIni();
    QCOMPARE(ini->ReadString("Database", "File", ""), QByteArray());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("config.ini"))));
}

void TestDbNameUtils::nonAsciiProgramFolder() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath(QStringLiteral("nicol\u00f2/vestrel/"));
    QVERIFY(QDir().mkpath(program + QStringLiteral("database")));
    qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(program));

    // Opened in this process: the file system's spelling, so the embedded engine finds the file.
    const QByteArray local = ComposeDatabaseName("", "archivio.fdb", 0);
    QCOMPARE(local, QFile::encodeName(program + QStringLiteral("database/archivio.fdb")));
    testing::createSchemaDatabase(local);
    QVERIFY(QFile::exists(program + QStringLiteral("database/archivio.fdb")));
    fb::Attachment::attach(local, testing::SchemaUser).detach();
    // A path from config.ini (cp1252) names the same file.
    QCOMPARE(
        ComposeDatabaseName("", QByteArray(dir.path().toLocal8Bit()) + "/nicol\xf2/vestrel/database/archivio.fdb", 0),
        local);
    // Sent to a server: the connection's cp1252, as composed.
    QCOMPARE(ComposeDatabaseName("server", "archivio.fdb", 0),
             "server:" + QByteArray(dir.path().toLocal8Bit()) + "/nicol\xf2/vestrel/database/archivio.fdb");
}

QTEST_GUILESS_MAIN(TestDbNameUtils)
#include "test_dbnameutils.moc"
