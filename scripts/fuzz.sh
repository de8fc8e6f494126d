#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a short time on its seed
# corpus in fuzz/corpus/, so that a parser regression fails the run. New inputs go to a scratch
# folder; the seeds in the repository stay as they are.
# Usage: scripts/fuzz.sh [seconds per fuzzer, default 30]
#        scripts/fuzz.sh --runs N    N inputs per fuzzer from a fixed seed: the same inputs on every run,
#                                    so a test run fails for a regression, never by chance
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if [ "${1:-}" = --runs ]; then
    limit=(-seed=1 -runs="${2:?--runs needs a count}")
    label="${2} runs"
else
    limit=(-max_total_time="${1:-30}")
    label="${1:-30}s"
fi
build=${VESTREL_FUZZ_BUILD_DIR:-$root/build-fuzz}

command -v clang++ >/dev/null || { echo "clang++ missing: fuzzers not run" >&2; exit 0; }

fuzzers=()
for source in fuzz/fuzz_*.cpp; do
    fuzzers+=("$(basename "$source" .cpp)")
done
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DVESTREL_FUZZ=ON -DVESTREL_TESTS=OFF -DVESTREL_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${fuzzers[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# Qt seeds its hashes at random per process; a fixed seed keeps a --runs run the same on every machine.
export QT_HASH_SEED=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
for fuzzer in "${fuzzers[@]}"; do
    mkdir -p "$scratch/$fuzzer"
    seeds=()
    [ -d "fuzz/corpus/$fuzzer" ] && seeds=("fuzz/corpus/$fuzzer")
    echo "== $fuzzer: $label"
    "$build/bin/$fuzzer" "${limit[@]}" -print_final_stats=0 -artifact_prefix="$scratch/" \
        "$scratch/$fuzzer" "${seeds[@]}" >"$scratch/$fuzzer.log" 2>&1 || {
        tail -n 40 "$scratch/$fuzzer.log"
        echo "$fuzzer failed; the input that broke it:" >&2
        ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* 2>/dev/null | head -n 1 | xargs -r base64 >&2
        exit 1
    }
    tail -n 1 "$scratch/$fuzzer.log"
done
