// The backup schedule, rotation folders and file names, and the service object's life, with a clock
// the tests set and a run that only records itself.

#include "backup/BackupLog.h"
#include "backup/BackupMainD.h"
#include "backup/BackupPaths.h"
#include "backup/BackupPlan.h"
#include "backup/BackupSchedule.h"
#include "backup/BackupSettings.h"
#include "backup/BackupState.h"
#include "backup/JournalPriority.h"
#include "fb/DatabaseName.h"
#include "tests/support/TestFiles.h"

#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;
using namespace vestrel;
using namespace vestrel::backup;

namespace {

QDateTime at(int y, int m, int d, int hh, int mm, int ss = 0) {
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss));
}

QList<QByteArray> logLines() {
    QList<QByteArray> lines = testing::readFile(BackupLogPath()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// How many runs a service on `clock` starts over `ticks`, the clock set to each tick in turn.
int runsOverTicks(FixedClock& clock, const QList<QDateTime>& ticks) {
    TVEBackup service(clock);
    int made = 0;
    service.setRunPlan([&made](const BackupRunOptions&) {
        ++made;
        return BackupRunResult{};
    });
    for (const QDateTime& tick : ticks) {
        clock.set(tick);
        service.BackupTimerTick();
    }
    return made;
}

} // namespace

class TestBackupSchedule : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    void writeBackupIni(const QByteArray& text) { testing::writeFile(m_dir.filePath(u"backup.ini"_s), text); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(m_dir.path()));
    }
    void init() {
        QFile::remove(m_dir.filePath(u"backup.ini"_s));
        QFile::remove(BackupLogPath());
        QFile::remove(BackupState::path());
    }

    void backupDay_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QDate>("day");
        QTest::addColumn<bool>("due");
        // 2026-12-07 is a Monday, 2026-12-13 a Sunday.
        QTest::newRow("daily, no section, Sunday") << QByteArray() << QDate(2026, 12, 13) << true;
        QTest::newRow("daily, Sunday off") << QByteArray("[Daily]\r\n6=0\r\n") << QDate(2026, 12, 13) << false;
        QTest::newRow("daily, Sunday off, Monday") << QByteArray("[Daily]\r\n6=0\r\n") << QDate(2026, 12, 7) << true;
        QTest::newRow("weekly default Monday") << QByteArray("[Setup]\r\nFreq=1\r\n") << QDate(2026, 12, 7) << true;
        QTest::newRow("weekly default, Tuesday") << QByteArray("[Setup]\r\nFreq=1\r\n") << QDate(2026, 12, 8) << false;
        QTest::newRow("weekly Wednesday")
            << QByteArray("[Setup]\r\nFreq=1\r\n[Week]\r\nDay=2\r\n") << QDate(2026, 12, 9) << true;
        const QByteArray lastDay("[Setup]\r\nFreq=2\r\n[Month]\r\nDay=28\r\n");
        QTest::newRow("last day, 31 Jan") << lastDay << QDate(2026, 1, 31) << true;
        QTest::newRow("last day, 30 Jan") << lastDay << QDate(2026, 1, 30) << false;
        QTest::newRow("last day, 28 Feb") << lastDay << QDate(2026, 2, 28) << true;
        QTest::newRow("last day, 28 Feb leap") << lastDay << QDate(2024, 2, 28) << false;
        QTest::newRow("last day, 29 Feb leap") << lastDay << QDate(2024, 2, 29) << true;
        QTest::newRow("last day, 30 Apr") << lastDay << QDate(2026, 4, 30) << true;
        QTest::newRow("monthly default, 1st") << QByteArray("[Setup]\r\nFreq=2\r\n") << QDate(2026, 3, 1) << true;
        QTest::newRow("monthly default, 2nd") << QByteArray("[Setup]\r\nFreq=2\r\n") << QDate(2026, 3, 2) << false;
        QTest::newRow("monthly 28th") << QByteArray("[Setup]\r\nFreq=2\r\n[Month]\r\nDay=27\r\n") << QDate(2026, 3, 28)
                                      << true;
        QTest::newRow("unknown frequency") << QByteArray("[Setup]\r\nFreq=3\r\n") << QDate(2026, 12, 7) << false;
    }
    void backupDay() {
        QFETCH(QByteArray, ini);
        QFETCH(QDate, day);
        QFETCH(bool, due);
        writeBackupIni(ini);
        QCOMPARE(IsBackupDay(*OpenBackupIni(), day), due);
    }

    void rotationFolders_data() {
        QTest::addColumn<int>("freq");
        QTest::addColumn<QDate>("day");
        QTest::addColumn<QString>("name");
        QTest::newRow("Monday") << 0 << QDate(2026, 12, 7) << u"1d"_s;
        QTest::newRow("Sunday") << 0 << QDate(2026, 12, 13) << u"7d"_s;
        QTest::newRow("week of a Thursday on the 1st") << 1 << QDate(2026, 10, 1) << u"1w"_s;
        // Tuesday 29 September: its week's Thursday is 1 October.
        QTest::newRow("week counted in the next month") << 1 << QDate(2026, 9, 29) << u"1w"_s;
        // Friday 1 May: its week's Thursday is 30 April, the fifth Thursday of April.
        QTest::newRow("week counted in the month before") << 1 << QDate(2026, 5, 1) << u"5w"_s;
        QTest::newRow("fourth week") << 1 << QDate(2026, 5, 31) << u"4w"_s;
        QTest::newRow("December") << 2 << QDate(2026, 12, 7) << u"12m"_s;
        QTest::newRow("manual run, unknown frequency") << 7 << QDate(2026, 12, 8) << u"2d"_s;
    }
    void rotationFolders() {
        QFETCH(int, freq);
        QFETCH(QDate, day);
        QFETCH(QString, name);
        QCOMPARE(RotationFolderName(freq, day), name);
    }

    void targetFoldersAndNames() {
        const QDate monday(2026, 12, 7);
        QCOMPARE(BackupTargetFolder("D:\\bk\\", 0, monday), QByteArray("D:\\bk\\1d"));
        QCOMPARE(BackupTargetFolder("/var/backup", 0, monday), QByteArray("/var/backup/1d"));

        QCOMPARE(ServerBackupFileName("F", "C:\\data\\ditta.gdb"), QByteArray("F\\ditta.gbk"));
        QCOMPARE(ServerBackupFileName("F", "C:ditta.gdb"), QByteArray("F\\ditta.gbk"));
        QCOMPARE(ServerBackupFileName("F", "/srv/db/a.fdb"), QByteArray("F/a.gbk"));
        QCOMPARE(ServerBackupFileName("F", "/srv/db.d/archivio"), QByteArray("F/archivio.gbk"));
        QCOMPARE(CopyBackupFileName("F", "C:\\data\\a.gdb"), QByteArray("F\\a.gdb"));
        QCOMPARE(CopyBackupFileName("F", "/srv/db/a.fdb"), QByteArray("F\\a.fdb"));
        QCOMPARE(CopyBackupFileName("/bk/1d", "C:\\data\\a.gdb"), QByteArray("/bk/1d/a.gdb"));
    }

    void decomposer_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("tcp") << QByteArray("srv:C:\\data\\x.gdb") << QByteArray("srv") << QByteArray("C:\\data\\x.gdb");
        QTest::newRow("tcp unix") << QByteArray("127.0.0.1:/db/x.fdb") << QByteArray("127.0.0.1")
                                  << QByteArray("/db/x.fdb");
        QTest::newRow("pipes") << QByteArray("\\\\srv\\d:\\x.gdb") << QByteArray("srv") << QByteArray("d:\\x.gdb");
        QTest::newRow("drive") << QByteArray("C:\\data\\x.gdb") << QByteArray() << QByteArray("C:\\data\\x.gdb");
        QTest::newRow("unix") << QByteArray("/var/db/x:1.fdb") << QByteArray() << QByteArray("/var/db/x:1.fdb");
        QTest::newRow("bare") << QByteArray("x.gdb") << QByteArray() << QByteArray("x.gdb");
        QTest::newRow("port") << QByteArray("127.0.0.1/3050:/db/x.fdb") << QByteArray("127.0.0.1/3050")
                              << QByteArray("/db/x.fdb");
        QTest::newRow("port, drive") << QByteArray("srv/3051:C:\\x.gdb") << QByteArray("srv/3051")
                                     << QByteArray("C:\\x.gdb");
        QTest::newRow("folder, no port") << QByteArray("dati/x:1.fdb") << QByteArray() << QByteArray("dati/x:1.fdb");
    }
    void decomposer() {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, server);
        QFETCH(QByteArray, path);
        const fb::DatabaseNameParts parts = fb::DecomposeDatabaseName(name);
        QCOMPARE(parts.server, server);
        QCOMPARE(parts.path, path);
    }

    // Every tick of a day, as the service sees them; the run only counts itself.
    void ticksRunOncePerDueDay_data() {
        QTest::addColumn<QByteArray>("ora");
        QTest::addColumn<QDateTime>("started");
        QTest::addColumn<QList<QDateTime>>("ticks");
        QTest::addColumn<int>("runs");
        const QDateTime eight = at(2026, 12, 7, 8, 0);
        QTest::newRow("tick at Ora") << QByteArray("09.00") << eight << QList{at(2026, 12, 7, 9, 0)} << 1;
        QTest::newRow("tick at window end")
            << QByteArray("09:00") << eight << QList{at(2026, 12, 7, 8, 59, 59), at(2026, 12, 7, 9, 5)} << 1;
        QTest::newRow("both window ends, one run")
            << QByteArray("9.00") << eight << QList{at(2026, 12, 7, 9, 0), at(2026, 12, 7, 9, 5)} << 1;
        QTest::newRow("tick late by an hour") << QByteArray() << eight << QList{at(2026, 12, 7, 10, 0)} << 1;
        QTest::newRow("next day runs again")
            << QByteArray("09:30") << eight
            << QList{at(2026, 12, 7, 9, 30), at(2026, 12, 7, 9, 35), at(2026, 12, 8, 9, 31)} << 2;
        QTest::newRow("service started after the window") << QByteArray("09:00") << at(2026, 12, 7, 9, 30)
                                                          << QList{at(2026, 12, 7, 9, 35), at(2026, 12, 8, 9, 2)} << 1;
        QTest::newRow("unreadable Ora is 09:00")
            << QByteArray("nove") << eight << QList{at(2026, 12, 7, 8, 58), at(2026, 12, 7, 9, 1)} << 1;
        QTest::newRow("late evening window")
            << QByteArray("23.57") << eight << QList{at(2026, 12, 7, 23, 56), at(2026, 12, 7, 23, 59, 59)} << 1;
    }
    void ticksRunOncePerDueDay() {
        QFETCH(QByteArray, ora);
        QFETCH(QDateTime, started);
        QFETCH(QList<QDateTime>, ticks);
        QFETCH(int, runs);
        writeBackupIni(ora.isEmpty() ? QByteArray() : "[Setup]\r\nOra=" + ora + "\r\n");
        FixedClock clock;
        clock.set(started);
        QCOMPARE(runsOverTicks(clock, ticks), runs);
        // Nothing failed; only a run after its window says so.
        for (const QByteArray& line : logLines())
            QVERIFY2(line.contains(" Late run: the backup due "), line.constData());
    }

    void noRunOnDaysOff() {
        writeBackupIni("[Setup]\r\nFreq=2\r\n[Month]\r\nDay=28\r\n");
        FixedClock clock;
        clock.set(at(2026, 1, 30, 8, 0));
        TVEBackup service(clock);
        int made = 0;
        service.setRunPlan([&made](const BackupRunOptions&) {
            ++made;
            return BackupRunResult{};
        });
        clock.set(at(2026, 1, 30, 9, 0));
        service.BackupTimerTick();
        QCOMPARE(made, 0);
        clock.set(at(2026, 1, 31, 9, 0));
        service.BackupTimerTick();
        QCOMPARE(made, 1);
    }

    // A scheduled run missed while the machine was off runs late within its period, once; a period
    // with no run is named; a clock that goes back does not run a served period again.
    void missedRunsCatchUp_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QDate>("lastDue");
        QTest::addColumn<QList<QDateTime>>("ticks");
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("lateLines");
        QTest::addColumn<int>("missedLines");
        const QByteArray weekly("[Setup]\r\nFreq=1\r\n");
        const QByteArray monthly("[Setup]\r\nFreq=2\r\n[Month]\r\nDay=4\r\n");
        // 2026-12-07 is a Monday; the weekly plan is due on Mondays at 09:00.
        QTest::newRow("weekly, off on Monday, Wednesday catches up")
            << weekly << QDate(2026, 11, 30) << QList{at(2026, 12, 9, 8, 0), at(2026, 12, 9, 8, 5)} << 1 << 1 << 0;
        QTest::newRow("weekly, next week's Sunday is still no second run")
            << weekly << QDate(2026, 11, 30) << QList{at(2026, 12, 9, 8, 0), at(2026, 12, 13, 20, 0)} << 1 << 1 << 0;
        QTest::newRow("weekly, two weeks off: one named")
            << weekly << QDate(2026, 11, 23) << QList{at(2026, 12, 8, 8, 0)} << 1 << 1 << 1;
        QTest::newRow("daily catches up the same day only")
            << QByteArray() << QDate(2026, 12, 6) << QList{at(2026, 12, 7, 15, 0)} << 1 << 1 << 0;
        QTest::newRow("monthly, due the 5th, runs the 20th")
            << monthly << QDate(2026, 11, 5) << QList{at(2026, 12, 20, 9, 0)} << 1 << 1 << 0;
        QTest::newRow("clock back a day after a daily run")
            << QByteArray() << QDate(2026, 12, 9) << QList{at(2026, 12, 8, 9, 1), at(2026, 12, 8, 9, 30)} << 0 << 0
            << 0;
        QTest::newRow("clock back into a served week")
            << weekly << QDate(2026, 12, 7) << QList{at(2026, 12, 7, 9, 2)} << 0 << 0 << 0;
        QTest::newRow("no record: a new service leaves a past window alone")
            << weekly << QDate() << QList{at(2026, 12, 9, 8, 0)} << 0 << 0 << 0;
    }
    void missedRunsCatchUp() {
        QFETCH(QByteArray, ini);
        QFETCH(QDate, lastDue);
        QFETCH(QList<QDateTime>, ticks);
        QFETCH(int, runs);
        QFETCH(int, lateLines);
        QFETCH(int, missedLines);
        writeBackupIni(ini);
        if (lastDue.isValid())
            BackupState::markScheduledRun(lastDue, u"earlier"_s);
        FixedClock clock(ticks.first().addSecs(-60)); // the service starts just before the first tick
        QCOMPARE(runsOverTicks(clock, ticks), runs);
        int late = 0;
        int missed = 0;
        for (const QByteArray& line : logLines()) {
            late += line.contains(" Late run: ") ? 1 : 0;
            missed += line.contains(" Warning no backup was made on ") ? 1 : 0;
        }
        QCOMPARE(late, lateLines);
        QCOMPARE(missed, missedLines);
        // A new service object (a restart) finds the run recorded.
        if (runs > 0)
            QCOMPARE(runsOverTicks(clock, {clock.now()}), 0);
    }

    // Values that fall back to their default and lines that are ignored are named with file and key.
    void settingsProblems_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QByteArrayList>("expected");
        QTest::newRow("clean") << QByteArray("[Setup]\r\nFreq=1\r\nOra=21:30\r\nVerify=0\r\n[Week]\r\nDay=4\r\n"
                                             "[File]\r\nsrv:/a.fdb=\r\n; a comment\r\n")
                               << QByteArrayList{};
        QTest::newRow("bad values") << QByteArray("[Setup]\r\nFreq=abc\r\nOra=25.00\r\n[Month]\r\nDay=31\r\n")
                                    << QByteArrayList{"backup.ini [Setup] Freq=abc: not a number, 0 is used",
                                                      "backup.ini [Setup] Ora=25.00: not a time of day, 09.00 is used",
                                                      "backup.ini [Month] Day=31: outside 0 to 28, never due"};
        QTest::newRow("ignored lines")
            << QByteArray("stray=1\r\n[Setup]\r\nFrequenza=1\r\n[Files]\r\na=\r\n[File]\r\nsrv:/b.fdb\r\n")
            << QByteArrayList{"backup.ini line \"stray=1\" is outside any section and is ignored",
                              "backup.ini [Setup] Frequenza is not a known key and is ignored",
                              "backup.ini section [Files] is not used and is ignored",
                              "backup.ini [File] line \"srv:/b.fdb\" has no \"=\" and is ignored"};
    }
    void settingsProblems() {
        QFETCH(QByteArray, ini);
        QFETCH(QByteArrayList, expected);
        writeBackupIni(ini);
        QCOMPARE(CheckBackupIni(*OpenBackupIni()), expected);
    }

    void emptyPathIsRefused() {
        writeBackupIni("[Setup]\r\nPath=\r\n");
        QVERIFY_THROWS_EXCEPTION(BackupError, ReadBackupRoot(*OpenBackupIni()));
        writeBackupIni("[Setup]\r\n");
        QVERIFY(ReadBackupRoot(*OpenBackupIni()).endsWith("database/backup"));
    }

    // Databases whose backup files would collide get a distinguisher from their whole connection
    // string; others keep their name; one named twice is backed up once.
    void backupFileNames() {
        BackupPlan plan;
        plan.folder = "/bk/1d";
        const auto add = [&plan](const QByteArray& host, const QByteArray& path) {
            PlannedBackup entry;
            entry.host = host;
            entry.path = path;
            plan.databases.push_back(entry);
        };
        add("", "/srv/a/ditta.fdb");
        add("", "/srv/b/ditta.fdb");
        add("ufficio2", "/srv/a/DITTA.fdb");
        add("", "/srv/a/magazzino.fdb");
        add("", "/srv/a/ditta.fdb");
        AssignBackupFiles(plan);
        const auto& db = plan.databases;
        QCOMPARE(db[0].backupFile, "/bk/1d/ditta-" + Distinguisher("/srv/a/ditta.fdb") + ".gbk");
        QCOMPARE(db[1].backupFile, "/bk/1d/ditta-" + Distinguisher("/srv/b/ditta.fdb") + ".gbk");
        QCOMPARE(db[2].backupFile, "/bk/1d/DITTA-" + Distinguisher("ufficio2:/srv/a/DITTA.fdb") + ".gbk");
        QVERIFY(db[0].backupFile != db[1].backupFile && db[1].backupFile != db[2].backupFile);
        QCOMPARE(db[3].backupFile, QByteArray("/bk/1d/magazzino.gbk"));
        QVERIFY(db[3].distinguisher.isEmpty());
        QVERIFY(db[4].repeated);
        QCOMPARE(Distinguisher("/srv/a/ditta.fdb").size(), 8);
        QCOMPARE(Distinguisher("/srv/a/ditta.fdb"), Distinguisher("/srv/a/ditta.fdb"));
    }

    void journalPriorities() {
        QCOMPARE(JournalLines(QtCriticalMsg, "vestrel.backup", u"Error x"_s),
                 QByteArray("<3>vestrel.backup: Error x\n"));
        QCOMPARE(JournalLines(QtWarningMsg, "vestrel.backup", u"w"_s), QByteArray("<4>vestrel.backup: w\n"));
        QCOMPARE(JournalLines(QtInfoMsg, "default", u"a\nb"_s), QByteArray("<6>a\n<6>b\n"));
        QCOMPARE(JournalLines(QtDebugMsg, nullptr, u"d"_s), QByteArray("<7>d\n"));
    }

    // The timer rests while the plan runs and ticks again afterwards, also when the run fails; the
    // failure is one "Error " line.
    void failedRunIsLoggedAndTimerRestarts() {
        FixedClock clock;
        clock.set(at(2026, 12, 7, 8, 0));
        TVEBackup service(clock);
        bool timerDuringRun = true;
        service.setRunPlan([&](const BackupRunOptions&) -> BackupRunResult {
            timerDuringRun = service.BackupTimer()->Enabled();
            throw BackupError("disco pieno");
        });
        // The timer exists once the service runs; stop it at once so ServiceExecute returns.
        service.RequestStop();
        service.ServiceExecute();
        QVERIFY(service.BackupTimer());
        service.BackupTimer()->SetEnabled(true);
        clock.set(at(2026, 12, 7, 9, 0));
        service.CheckBackupTime(*OpenBackupIni());
        QVERIFY(!timerDuringRun);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(2).endsWith("Error disco pieno\r"));
    }

    // Start and stop on a real service thread: the start line, the lines of a run, the stop line; a
    // stop asked during a run ends it after the database in hand.
    void stopBetweenRuns() {
        FixedClock clock;
        clock.set(at(2026, 12, 7, 9, 1));
        auto service = std::make_unique<TVEBackup>(clock);
        QSemaphore inRun;
        QSemaphore stopAsked;
        int databases = 0;
        service->setRunPlan([&](const BackupRunOptions& options) {
            BackupRunResult result;
            for (int i = 0; i < 3; ++i) {
                if (options.stopRequested()) {
                    result.stopped = true;
                    break;
                }
                WriteBackupLog("db" + QByteArray::number(i));
                ++databases;
                if (i == 0) {
                    inRun.release();
                    stopAsked.acquire();
                }
            }
            return result;
        });
        std::unique_ptr<QThread> thread(QThread::create([&service] { service->ServiceExecute(); }));
        service->moveToThread(thread.get());
        thread->start();
        QMetaObject::invokeMethod(service.get(), &TVEBackup::BackupTimerTick, Qt::QueuedConnection);
        QVERIFY(inRun.tryAcquire(1, 10000));
        service->RequestStop();
        stopAsked.release();
        QVERIFY(thread->wait(10000));

        QCOMPARE(databases, 1);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.at(0).startsWith("Service started "));
        QVERIFY(lines.at(1).endsWith(" db0\r"));
        QVERIFY(lines.at(2).startsWith("Service stopped "));
    }

    void startAndStopAtOnce() {
        FixedClock clock;
        clock.set(at(2026, 12, 7, 9, 1));
        testing::writeFile(BackupLogPath(), "earlier line\r\n");
        TVEBackup service(clock);
        int made = 0;
        service.setRunPlan([&made](const BackupRunOptions&) {
            ++made;
            return BackupRunResult{};
        });
        service.RequestStop();
        service.ServiceExecute();
        QCOMPARE(made, 0);
        QVERIFY(!service.BackupTimer()->Enabled());
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines.at(0), QByteArray("earlier line\r"));
        QVERIFY(lines.at(1).startsWith("Service started "));
        QVERIFY(lines.at(2).startsWith("Service stopped "));
    }
};

QTEST_GUILESS_MAIN(TestBackupSchedule)
#include "test_backup_schedule.moc"
