#!/usr/bin/env bash
# Installs what is missing, builds everything in build-test/, runs every test, checks the Debian packages
# made from that build, then runs every fuzzer.
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

# The packages of the same build, unpacked into a temporary root, with the installed programs tried there.
scripts/package-check.sh "$build"

# Every parser's fuzzer, briefly, on its seed corpus (needs clang, which install-deps.sh brings).
scripts/fuzz.sh --runs 20000
