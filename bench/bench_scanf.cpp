// ScanFormatted against the C library's sscanf on the reminders' two formats.
#include "reminders/Scanf.h"

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace vestrel;
using namespace vestrel::reminders;

namespace {

void ScanFormattedOneNumber(benchmark::State& state) {
    std::int32_t day = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ScanFormatted("30", "%d", {&day}));
        benchmark::DoNotOptimize(day);
    }
}

void SscanfOneNumber(benchmark::State& state) {
    int day = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::sscanf("30", "%d", &day));
        benchmark::DoNotOptimize(day);
    }
}

void ScanFormattedTwoNumbers(benchmark::State& state) {
    std::int32_t day = 0, month = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ScanFormatted("14 2", "%d %d", {&day, &month}));
        benchmark::DoNotOptimize(day);
        benchmark::DoNotOptimize(month);
    }
}

void SscanfTwoNumbers(benchmark::State& state) {
    int day = 0, month = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::sscanf("14 2", "%d %d", &day, &month));
        benchmark::DoNotOptimize(day);
        benchmark::DoNotOptimize(month);
    }
}

void ScanFormattedLongNumber(benchmark::State& state) {
    std::int32_t value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ScanFormatted("  -2147483647", "%d", {&value}));
        benchmark::DoNotOptimize(value);
    }
}

void SscanfLongNumber(benchmark::State& state) {
    int value = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::sscanf("  -2147483647", "%d", &value));
        benchmark::DoNotOptimize(value);
    }
}

} // namespace

BENCHMARK(ScanFormattedOneNumber);
BENCHMARK(SscanfOneNumber);
BENCHMARK(ScanFormattedTwoNumbers);
BENCHMARK(SscanfTwoNumbers);
BENCHMARK(ScanFormattedLongNumber);
BENCHMARK(SscanfLongNumber);

BENCHMARK_MAIN();
