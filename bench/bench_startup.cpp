// Start-up of the chat client against a minimal Qt Widgets program: time from starting the process to
// its window being shown, and the resident memory once it is idle. The client is started with its
// settings in place and no automatic connect; its start-up pause of one second (the single-instance
// wait) is taken off its time, since it waits on purpose.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

constexpr int instancePauseMs = 1000;

struct Run {
    double shownMs = 0;
    double rssKb = 0;
};

Run startOnce(const QString& program, const QTemporaryDir& dir) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("VESTREL_BENCH_STARTUP"), QStringLiteral("1"));
    env.insert(QStringLiteral("VESTREL_PROGRAM_DIR"), dir.path());
    env.insert(QStringLiteral("VESTREL_REGISTRY_DIR"), dir.path());
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    QProcess process;
    process.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    process.start(program, {});
    Run run;
    QByteArray output;
    while (process.waitForReadyRead(10000)) {
        output += process.readAllStandardOutput();
        if (run.shownMs == 0 && output.contains("shown\n"))
            run.shownMs = double(clock.nsecsElapsed()) / 1e6;
        if (output.contains("rss "))
            break;
    }
    process.waitForFinished(10000);
    output += process.readAllStandardOutput();
    const qsizetype at = output.indexOf("rss ");
    if (at >= 0)
        run.rssKb = output.mid(at + 4).split('\n').first().toDouble();
    return run;
}

void measure(benchmark::State& state, const QString& name, int pauseMs) {
    const QString program = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    QTemporaryDir dir;
    // Settings in place and no automatic connect: the client shows its window and waits.
    QFile registry(dir.filePath(QStringLiteral("HKEY_LOCAL_MACHINE.reg")));
    if (registry.open(QIODevice::WriteOnly))
        registry.write("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\software\\Pelk Software\\Vestrel\\Chat]\r\n"
                       "\"Nick\"=\"bench\"\r\n\"Host\"=\"h\"\r\n\"Mostra\"=\"0\"\r\n\r\n");
    registry.close();
    double rss = 0;
    for (auto _ : state) {
        const Run run = startOnce(program, dir);
        if (run.shownMs == 0) {
            state.SkipWithError("the program never reported its window shown");
            return;
        }
        state.SetIterationTime((run.shownMs - pauseMs) / 1000.0);
        rss = run.rssKb;
    }
    state.counters["rss_kB"] = rss;
}

void BM_StartupMinimalWidgets(benchmark::State& state) {
    measure(state, QStringLiteral("minimal_widgets"), 0);
}
void BM_StartupChatClient(benchmark::State& state) {
    measure(state, QStringLiteral("chatclient"), instancePauseMs);
}
BENCHMARK(BM_StartupMinimalWidgets)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StartupChatClient)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
