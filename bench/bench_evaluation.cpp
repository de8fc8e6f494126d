// The evaluation of 100 000 reminders in an embedded database, against the command-line tool
// fetching "select * from RICORRENZE" from the same file. Run by hand from a Release build:
//   bench_evaluation [--benchmark_repetitions=5]
// The database is built once per run in a temporary folder from tests/fixtures/schema.sql.

#include "fb/Attachment.h"
#include "fb/Query.h"
#include "fb/Script.h"
#include "fb/Statement.h"
#include "fb/Transaction.h"
#include "reminders/DismissalRecord.h"
#include "reminders/ReminderMessages.h"
#include "reminders/RicThread.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vestrel;
using namespace vestrel::reminders;

namespace {

constexpr int ReminderCount = 100000;
const QByteArrayList user{"user_name=SYSDBA", "password=x"};

#ifndef VESTREL_SCHEMA_FILE
#error "VESTREL_SCHEMA_FILE must name tests/fixtures/schema.sql"
#endif

struct Fixture {
    QTemporaryDir dir;
    QByteArray path;

    Fixture() {
        qputenv("VESTREL_REGISTRY_DIR", QFile::encodeName(dir.filePath(QStringLiteral("registry"))));
        QFile schema(QStringLiteral(VESTREL_SCHEMA_FILE));
        if (!schema.open(QIODevice::ReadOnly))
            qFatal("cannot read the schema");
        path = QFile::encodeName(dir.filePath(QStringLiteral("bench.fdb")));
        fb::createDatabaseFromScript(path, user, schema.readAll());

        // A realistic mix: every criterion, details of every kind, a few inactive and restricted rows,
        // messages of a few lines, and one reminder in a hundred dismissed.
        fb::Attachment att = fb::Attachment::attach(path, user);
        fb::Transaction tr(att);
        fb::Statement insert(att, tr,
                             "insert into RICORRENZE (ID, POSTAZIONE, UTENTE, DESCRIZIONE, MESSAGGIO, CRITERIO, "
                             "SOTTOCRITERIO, FINACTIVE) values (?, ?, ?, ?, ?, ?, ?, ?)");
        const QByteArray message = "Ricordarsi di controllare le scadenze.\r\nTelefonare al fornitore \xe8 urgente.";
        for (int id = 1; id <= ReminderCount; ++id) {
            const int criterio = id % 5;
            const QByteArray detail = criterio == 2   ? QByteArray::number(id % 7)
                                      : criterio == 3 ? QByteArray::number(id % 31)
                                      : criterio == 4 ? QByteArray::number(id % 31) + ' ' + QByteArray::number(id % 12)
                                                      : QByteArray();
            insert.setParam(0, fb::Value::fromInteger(id));
            insert.setParam(1, fb::Value::fromText(id % 10 == 0 ? "01" : ""));
            insert.setParam(2, fb::Value::fromText(id % 7 == 0 ? "AB" : ""));
            insert.setParam(3, fb::Value::fromText("Promemoria numero " + QByteArray::number(id)));
            insert.setParam(4, fb::Value::fromText(message));
            insert.setParam(5, fb::Value::fromInteger(criterio));
            insert.setParam(6, fb::Value::fromText(detail));
            insert.setParam(7, fb::Value::fromText(id % 50 == 0 ? "1" : "0"));
            insert.execute();
        }
        tr.commit();
        for (int id = 100; id <= ReminderCount; id += 100)
            WriteDismissal(id, QDate(2024, 3, 1));
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_Evaluation(benchmark::State& state) {
    const QByteArray path = fixture().path;
    const FixedClock clock(QDate(2024, 3, 15));
    qint64 due = 0;
    for (auto _ : state) {
        fb::Attachment att = fb::Attachment::attach(path, user);
        fb::Transaction tr(att);
        fb::Query ricorr(att, tr, "select * from RICORRENZE");
        ricorr.Open();
        MemTable memTB;
        ReminderEvaluation(memTB, ricorr, {"CD", "02"}, clock).Execute([] { return false; });
        due = memTB.RecordCount();
        benchmark::DoNotOptimize(due);
    }
    state.counters["due"] = double(due);
    state.SetItemsProcessed(state.iterations() * ReminderCount);
}
BENCHMARK(BM_Evaluation)->Unit(benchmark::kMillisecond)->UseRealTime();

// The walk as the programs run it: every column but the message, read for due rows only.
void BM_EvaluationMessagesByID(benchmark::State& state) {
    const QByteArray path = fixture().path;
    const FixedClock clock(QDate(2024, 3, 15));
    qint64 due = 0;
    for (auto _ : state) {
        fb::Attachment att = fb::Attachment::attach(path, user);
        fb::Transaction tr(att);
        fb::Query ricorr(att, tr, ReminderMessages::WalkSQL);
        ricorr.Open();
        ReminderMessages messages(att, tr);
        MemTable memTB;
        ReminderEvaluation evaluation(memTB, ricorr, {"CD", "02"}, clock);
        evaluation.setMessageReader([&](qint64 id) { return messages.Read(id); });
        evaluation.Execute([] { return false; });
        due = memTB.RecordCount();
        benchmark::DoNotOptimize(due);
    }
    state.counters["due"] = double(due);
    state.SetItemsProcessed(state.iterations() * ReminderCount);
}
BENCHMARK(BM_EvaluationMessagesByID)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IsqlSelectAll(benchmark::State& state) {
    const QByteArray path = fixture().path;
    for (auto _ : state) {
        QProcess isql;
        isql.setStandardOutputFile(QProcess::nullDevice());
        isql.start(QStringLiteral("isql-fb"), {QStringLiteral("-q"), QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                                               QString::fromLocal8Bit(path)});
        isql.write("select * from RICORRENZE;\nquit;\n");
        isql.closeWriteChannel();
        if (!isql.waitForFinished(600000) || isql.exitCode() != 0) {
            state.SkipWithError("isql-fb failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * ReminderCount);
}
BENCHMARK(BM_IsqlSelectAll)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
