#!/usr/bin/env bash
# Installs what is missing, builds everything in build-test/, runs every test, runs the widget-free tests
# again under AddressSanitizer and UBSan (build-asan/), checks the Debian packages made from the first
# build, then runs every fuzzer.
# Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
# The backup tests talk to a real Firebird server on 127.0.0.1:3050; start one when none listens.
scripts/firebird-server.sh

build=${VESTREL_TEST_BUILD_DIR:-$root/build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESTREL_TESTS=ON -DVESTREL_BENCH=ON
cmake --build "$build" --parallel "$(nproc)"

export QT_QPA_PLATFORM=offscreen
# The server was started above: tests that need it fail instead of skipping when it does not answer.
export VESTREL_REQUIRE_FIREBIRD_SERVER=1
ctest --test-dir "$build" --output-on-failure --timeout 600 "$@"

# The widget-free tests once more, built with AddressSanitizer and UBSan: a memory or undefined-behaviour
# fault that happens to pass in the optimised build fails here.
asan=${VESTREL_ASAN_BUILD_DIR:-$root/build-asan}
cmake -S . -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESTREL_SANITIZE=ON -DVESTREL_TESTS=ON \
    -DVESTREL_BENCH=OFF >/dev/null
mapfile -t core_tests < <(ctest --test-dir "$asan" -N -L core | sed -n 's/^ *Test *#[0-9]*: *//p')
cmake --build "$asan" --parallel "$(nproc)" --target "${core_tests[@]}"
# The leak checker's own tracer now and then dies while it stops a process's threads at exit (seen with
# the database engine's threads); a test that fails so is run once more, a real finding fails twice.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$asan" --output-on-failure --timeout 600 -L core --repeat until-pass:2

# The packages of the same build, unpacked into a temporary root, with the installed programs tried there.
scripts/package-check.sh "$build"

# Every parser's fuzzer, briefly, on its seed corpus (needs clang, which install-deps.sh brings).
scripts/fuzz.sh --runs 20000
