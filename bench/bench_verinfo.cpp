// verinfo --json against python3-pefile over a folder of real PE files written by others, in one
// run: first both read every file once and their answers are compared file by file (every
// disagreement is printed), then each side runs five times in turn and the median wall and CPU
// times are compared, then Google Benchmark times each side over the whole set.
//
// Run by hand; the comparison side and the sample files are not build dependencies:
//   apt-get install python3-pefile wine      (wine ships hundreds of Windows DLLs)
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target bench_verinfo verinfo
//   build-bench/bin/bench_verinfo [--benchmark_min_time=1] [FOLDER...]
// The folders default to Wine's x86_64-windows and i386-windows library folders.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

const QString kVerinfo = QStringLiteral(VESTREL_VERINFO);
const QString kPefileScript = QStringLiteral(VESTREL_PEFILE_SCRIPT);
const QString kPython = u"/usr/bin/python3"_s;

constexpr int kTimedRuns = 5;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QStringList& files() {
    static QStringList list;
    return list;
}

// CPU time (user and system) of the child processes that have ended so far, in milliseconds.
double childCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval& t) {
        return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForFinished(-1))
        std::fprintf(stderr, "bench_verinfo: %s did not run\n", qPrintable(program));
    return process.readAllStandardOutput();
}

QHash<QString, QJsonObject> byFile(const QByteArray& output) {
    QHash<QString, QJsonObject> result;
    for (const QByteArray& line : output.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (!object.isEmpty())
            result.insert(object[u"file"_s].toString(), object);
    }
    return result;
}

// Prints every file on which the two disagree; an error on both sides counts as agreement.
int compare(const QByteArray& ours, const QByteArray& theirs) {
    const auto a = byFile(ours);
    const auto b = byFile(theirs);
    int disagreements = 0;
    for (const QString& file : files()) {
        QJsonObject x = a.value(file);
        QJsonObject y = b.value(file);
        if (x.contains(u"error"_s) && y.contains(u"error"_s))
            continue;
        if (x == y)
            continue;
        ++disagreements;
        std::printf("DISAGREE %s\n  verinfo: %s\n  pefile:  %s\n", qPrintable(file),
                    QJsonDocument(x).toJson(QJsonDocument::Compact).constData(),
                    QJsonDocument(y).toJson(QJsonDocument::Compact).constData());
    }
    return disagreements;
}

void BM_VerinfoJson(benchmark::State& state) {
    const QStringList arguments = QStringList{u"--json"_s} + files();
    const double cpuBefore = childCpuMs();
    for (auto _ : state)
        benchmark::DoNotOptimize(run(kVerinfo, arguments));
    state.counters["files"] = double(files().size());
    state.counters["child_cpu_ms"] = (childCpuMs() - cpuBefore) / double(state.iterations());
}
BENCHMARK(BM_VerinfoJson)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PefileJson(benchmark::State& state) {
    const QStringList arguments = QStringList{kPefileScript} + files();
    const double cpuBefore = childCpuMs();
    for (auto _ : state)
        benchmark::DoNotOptimize(run(kPython, arguments));
    state.counters["files"] = double(files().size());
    state.counters["child_cpu_ms"] = (childCpuMs() - cpuBefore) / double(state.iterations());
}
BENCHMARK(BM_PefileJson)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);
    QStringList folders = app.arguments().mid(1);
    if (folders.isEmpty())
        folders = {u"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"_s,
                   u"/usr/lib/x86_64-linux-gnu/wine/i386-windows"_s};
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList(QDir::Files, QDir::Name))
            files().append(dir.filePath(name));
    }
    if (files().isEmpty()) {
        std::fprintf(stderr, "bench_verinfo: no files in %s\n", qPrintable(folders.join(u", "_s)));
        return 1;
    }

    // The comparison run reads every file once on both sides, so the timed runs below find the
    // same files in the page cache whichever side goes first.
    const QByteArray ours = run(kVerinfo, QStringList{u"--json"_s} + files());
    const QByteArray theirs = run(kPython, QStringList{kPefileScript} + files());
    const int disagreements = compare(ours, theirs);

    // Wall time suffers from whatever else the machine runs; the CPU time of each side less so. Both
    // sides run in turn, several times, and the medians are compared.
    const auto timed = [](const QString& program, const QStringList& arguments) {
        QElapsedTimer timer;
        timer.start();
        const double cpu = childCpuMs();
        run(program, arguments);
        return std::pair{double(timer.nsecsElapsed()) / 1e6, childCpuMs() - cpu};
    };
    std::vector<double> oursWall, oursCpu, theirsWall, theirsCpu;
    for (int i = 0; i < kTimedRuns; ++i) {
        const auto [wall, cpu] = timed(kVerinfo, QStringList{u"--json"_s} + files());
        oursWall.push_back(wall);
        oursCpu.push_back(cpu);
        const auto [theirWall, theirCpu] = timed(kPython, QStringList{kPefileScript} + files());
        theirsWall.push_back(theirWall);
        theirsCpu.push_back(theirCpu);
    }
    const double ow = median(oursWall), oc = median(oursCpu), tw = median(theirsWall), tc = median(theirsCpu);
    std::printf("%lld files, %d disagreements\n"
                "  medians of %d runs each, one side after the other:\n"
                "  wall: verinfo %.1f ms, pefile %.0f ms: %.1f times faster\n"
                "  cpu:  verinfo %.1f ms, pefile %.0f ms: %.1f times faster\n",
                static_cast<long long>(files().size()), disagreements, kTimedRuns, ow, tw, ow > 0 ? tw / ow : 0.0, oc,
                tc, oc > 0 ? tc / oc : 0.0);
    std::fflush(stdout);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
