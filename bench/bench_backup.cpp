// The two backup routes against the tools an administrator would use by hand. Run from a Release
// build, with the Firebird server of scripts/firebird-server.sh on 127.0.0.1:
//   bench_backup --benchmark_repetitions=3 --benchmark_enable_random_interleaving=true
// Copy: CopyFileAtomically against cp on a 1 GB file, and the whole copy route (the database's backup
// lock, the copy, the fix-up) against cp of the same database (target: at least 0.9 x cp's throughput),
// on the 50 MB reminders database and on a 1 GB archive database of documents.
// Server route: BackupDatabase through the services manager, without and with the check by a test
// restore, against gbak -b -se on the same database (targets: at most 1.05 x and 2.2 x gbak's time). Everything lives
// in a temporary folder under /tmp that is removed at the end; set TMPDIR to measure another disk.

#include "backup/FileCopy.h"
#include "backup/backupFunction.h"
#include "fb/Attachment.h"
#include "fb/Script.h"
#include "fb/Transaction.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <unistd.h>

using namespace vestrel;
using namespace vestrel::backup;
using namespace Qt::StringLiterals;

namespace {

#ifndef VESTREL_SCHEMA_FILE
#error "VESTREL_SCHEMA_FILE must name tests/fixtures/schema.sql"
#endif

constexpr qint64 CopySize = qint64(1) << 30;
constexpr int ReminderRows = 300000;
constexpr int ArchiveDocuments = 1000; // of 1 MB each
const QByteArrayList ServerUser{"user_name=SYSDBA", "password=tavernfog"};

struct Fixture {
    QTemporaryDir dir;
    QString source;
    QString database;

    Fixture() {
        QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)); // the server writes here too
        qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(dir.path()));
        source = dir.filePath(u"source.bin"_s);
        QByteArray block(1 << 20, '\0');
        QRandomGenerator(1).fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write the copy source");
        for (qint64 written = 0; written < CopySize; written += block.size()) {
            block[0] = char(written >> 20); // no two blocks alike
            file.write(block);
        }
        // Let the written gigabyte reach the disk first, so the copies do not compete with its write-back.
        file.flush();
        ::fsync(file.handle());
        file.close();

        database = dir.filePath(u"bench.fdb"_s);
        QFile schema(QStringLiteral(VESTREL_SCHEMA_FILE));
        if (!schema.open(QIODevice::ReadOnly))
            qFatal("cannot read the schema");
        const QByteArray name = "127.0.0.1:" + QFile::encodeName(database);
        fb::createDatabaseFromScript(name, ServerUser, schema.readAll());
        fb::Attachment attachment = fb::Attachment::attach(name, ServerUser);
        fb::Transaction transaction(attachment);
        attachment.execute(transaction, "execute block as declare i integer = 0; begin while (i < " +
                                            QByteArray::number(ReminderRows) +
                                            ") do begin insert into RICORRENZE (ID, DESCRIZIONE, MESSAGGIO, "
                                            "CRITERIO, SOTTOCRITERIO) values (:i, 'Scadenza ' || :i, "
                                            "'Pagare il fornitore entro fine mese', 3, '27'); i = i + 1; end end");
        transaction.commit();
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

// A database the size of an office's document archive, made only when a benchmark asks for it.
const QString& archiveDatabase() {
    static const QString name = [] {
        const QString path = fixture().dir.filePath(u"archive.fdb"_s);
        const QByteArray name = "127.0.0.1:" + QFile::encodeName(path);
        fb::createDatabaseFromScript(name, ServerUser,
                                     "CREATE TABLE ARCHIVIO (ID INTEGER NOT NULL PRIMARY KEY, DATI BLOB SUB_TYPE 0);");
        fb::Attachment attachment = fb::Attachment::attach(name, ServerUser);
        fb::Transaction transaction(attachment);
        attachment.execute(transaction, "execute block as declare i integer = 0; declare chunk blob sub_type 0; begin "
                                        "chunk = lpad('', 32000, 'abcdefghijklmnopqrstuvwxyz0123456789'); "
                                        "chunk = chunk || chunk || chunk || chunk; "
                                        "chunk = chunk || chunk || chunk || chunk; "
                                        "chunk = chunk || chunk; "
                                        "while (i < " +
                                            QByteArray::number(ArchiveDocuments) +
                                            ") do begin insert into ARCHIVIO (ID, DATI) values (:i, :chunk || :i); "
                                            "i = i + 1; end end");
        transaction.commit();
        attachment.detach();
        return path;
    }();
    return name;
}

const QString& benchDatabase(const benchmark::State& state) {
    return state.range(0) == 0 ? fixture().database : archiveDatabase();
}

void BM_CopyRoute(benchmark::State& state) {
    Fixture& f = fixture();
    const QString target = f.dir.filePath(u"copy.bin"_s);
    for (auto _ : state) {
        const QString failure = CopyFileAtomically(f.source, target);
        if (!failure.isEmpty())
            state.SkipWithError(qPrintable(failure));
    }
    state.SetBytesProcessed(state.iterations() * CopySize);
    QFile::remove(target);
}

void BM_Cp(benchmark::State& state) {
    Fixture& f = fixture();
    const QString target = f.dir.filePath(u"cp.bin"_s);
    for (auto _ : state) {
        // cp does not flush to disk on its own; sync the file as the copy route does.
        if (QProcess::execute(u"sh"_s, {u"-c"_s, u"cp \"$0\" \"$1\" && sync \"$1\""_s, f.source, target}) != 0)
            state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(state.iterations() * CopySize);
    QFile::remove(target);
}

void BM_CopyRouteLocked(benchmark::State& state) {
    const QString& database = benchDatabase(state);
    const QByteArray folder = QFile::encodeName(fixture().dir.filePath(u"copies"_s));
    QDir().mkpath(QFile::decodeName(folder));
    for (auto _ : state) {
        try {
            BackupDatabase("", QFile::encodeName(database), "SYSDBA", "tavernfog", folder, false, 0, false);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
        }
    }
    state.SetBytesProcessed(state.iterations() * QFile(database).size());
}

void BM_CpDatabase(benchmark::State& state) {
    const QString& database = benchDatabase(state);
    const QString target = fixture().dir.filePath(u"cp.fdb"_s);
    for (auto _ : state) {
        if (QProcess::execute(u"sh"_s, {u"-c"_s, u"cp \"$0\" \"$1\" && sync \"$1\""_s, database, target}) != 0)
            state.SkipWithError("cp failed");
    }
    state.SetBytesProcessed(state.iterations() * QFile(database).size());
    QFile::remove(target);
}

void serverRoute(benchmark::State& state, bool verify) {
    Fixture& f = fixture();
    const QByteArray folder = QFile::encodeName(f.dir.path());
    for (auto _ : state) {
        try {
            BackupDatabase("127.0.0.1", QFile::encodeName(f.database), "SYSDBA", "tavernfog", folder, true, 0, verify);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
        }
    }
}

void BM_ServerRoute(benchmark::State& state) {
    serverRoute(state, false);
}

void BM_ServerRouteVerified(benchmark::State& state) {
    serverRoute(state, true);
}

void BM_GbakSe(benchmark::State& state) {
    Fixture& f = fixture();
    const QString target = f.dir.filePath(u"gbak.gbk"_s);
    for (auto _ : state) {
        QFile::remove(target);
        if (QProcess::execute(u"gbak"_s, {u"-b"_s, u"-se"_s, u"127.0.0.1:service_mgr"_s, u"-user"_s, u"SYSDBA"_s,
                                          u"-password"_s, u"tavernfog"_s, f.database, target}) != 0)
            state.SkipWithError("gbak failed");
    }
}

// The reminders database, then the archive.
void onBothDatabases(benchmark::internal::Benchmark* benchmark) {
    benchmark->ArgName("archive")->Arg(0)->Arg(1);
}

} // namespace

BENCHMARK(BM_CopyRoute)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_Cp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_CopyRouteLocked)->Apply(onBothDatabases)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CpDatabase)->Apply(onBothDatabases)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ServerRoute)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_ServerRouteVerified)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_GbakSe)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

BENCHMARK_MAIN();
