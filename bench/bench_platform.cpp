// What the programs do most with the platform layer: read INI keys through a reader kept open,
// read registry values (the parsed hive is kept while the file is unchanged), write settings one by
// one or in one batch, and look strings up in a library.
#include "platform/IniFile.h"
#include "platform/Registry.h"
#include "platform/ResourceLibrary.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace vestrel;

namespace {

QTemporaryDir& scratch() {
    static QTemporaryDir dir;
    return dir;
}

// Settings are read long after they were written, but a file changed within the last second is
// read again on every access: the files are stamped an hour back.
void age(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600), QFileDevice::FileModificationTime);
}

QString iniWithKeys(int keys) {
    const QString path = scratch().filePath(QStringLiteral("bench%1.ini").arg(keys));
    QByteArray text = "[GRCREATI]\r\n";
    for (int i = 0; i < keys; ++i)
        text += QByteArray::number(i) + "=Gruppo " + QByteArray::number(i) + "\r\n";
    text += "Count=" + QByteArray::number(keys - 1) + "\r\n";
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(text);
    }
    age(path);
    return path;
}

void BM_IniReadKey(benchmark::State& state) {
    IniFile ini(iniWithKeys(int(state.range(0))));
    const QByteArray last = QByteArray::number(state.range(0) - 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(ini.ReadString("grcreati", last, ""));
}
BENCHMARK(BM_IniReadKey)->Arg(10)->Arg(200);

void BM_IniWriteKey(benchmark::State& state) {
    IniFile ini(iniWithKeys(int(state.range(0))));
    int i = 0;
    for (auto _ : state)
        ini.WriteInteger("GRCREATI", "Count", ++i);
}
BENCHMARK(BM_IniWriteKey)->Arg(10)->Arg(200);

void BM_RegistryReadString(benchmark::State& state) {
    qputenv("VESTREL_REGISTRY_DIR", scratch().filePath(QStringLiteral("reg%1").arg(state.range(0))).toLocal8Bit());
    Registry registry;
    registry.OpenKey("\\software\\Pelk Software\\Vestrel\\Chat", true);
    for (int i = 0; i < state.range(0); ++i)
        registry.WriteString("Value" + QByteArray::number(i), "some text");
    age(registryHiveFile(RegistryHive::CurrentUser));
    for (auto _ : state)
        benchmark::DoNotOptimize(registry.ReadString("Value0"));
}
BENCHMARK(BM_RegistryReadString)->Arg(10)->Arg(100);

void BM_RegistryWriteString(benchmark::State& state) {
    qputenv("VESTREL_REGISTRY_DIR", scratch().filePath(QStringLiteral("regw")).toLocal8Bit());
    Registry registry;
    registry.OpenKey("\\software\\Pelk Software\\Vestrel\\Chat", true);
    int i = 0;
    for (auto _ : state)
        registry.WriteString("Popup", QByteArray::number(++i % 2));
}
BENCHMARK(BM_RegistryWriteString);

// Ten settings saved together: one value at a time against one batch.
void BM_RegistryWriteTen(benchmark::State& state) {
    qputenv("VESTREL_REGISTRY_DIR", scratch().filePath(QStringLiteral("regb")).toLocal8Bit());
    Registry registry;
    registry.OpenKey("\\software\\Pelk Software\\Vestrel\\Chat", true);
    const bool batch = state.range(0) != 0;
    int round = 0;
    for (auto _ : state) {
        RegistryValueList values;
        for (int i = 0; i < 10; ++i)
            values.append({"Value" + QByteArray::number(i), RegistryValue::fromInteger(++round)});
        if (batch) {
            registry.WriteValues(values);
        } else {
            for (const auto& [name, value] : values)
                registry.WriteValues({{name, value}});
        }
    }
}
BENCHMARK(BM_RegistryWriteTen)->ArgName("batch")->Arg(0)->Arg(1);

void BM_PeLoadString(benchmark::State& state) {
    // Built with the tests: build/tests/platform/pe/strings.dll.
    const auto library = ResourceLibrary::LoadLibrary(QStringLiteral(VESTREL_PE_FIXTURES "/strings.dll"));
    if (!library) {
        state.SkipWithError("strings.dll not built");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(library->LoadString(100));
}
BENCHMARK(BM_PeLoadString);

} // namespace

BENCHMARK_MAIN();
