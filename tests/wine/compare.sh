#!/usr/bin/env bash
# Compares our INI reader, registry file reader and string tables with the Windows functions, run
# under Wine: small Windows console programs of ours (iniprobe.c, regprobe.c, strprobe.c, built here
# with mingw-w64) answer the case sets that wineprobe-twin generates, the twin answers them through
# our code, and the agreement per area is reported. With --freeze, Wine's answers for the fixed case
# sets become the golden data in tests/fixtures/wine that every test run checks.
#
# Needs, installed by hand (CI needs none of them, only the frozen data):
#   apt-get install wine wine64 gcc-mingw-w64-x86-64
# and a configured build of this tree in $BUILD (default: build/).
# Usage: tests/wine/compare.sh [--freeze]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$root/build}
freeze=0
[ "${1:-}" = --freeze ] && freeze=1

for tool in wine x86_64-w64-mingw32-gcc; do
    command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install wine wine64 gcc-mingw-w64-x86-64" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

cmake --build "$build" --target wineprobe-twin vestrel_lang pe_strings pe_twolang >/dev/null
twin=$build/tests/wineprobe-twin
for probe in iniprobe regprobe strprobe; do
    x86_64-w64-mingw32-gcc -O1 -Wall -Wextra -o "$work/$probe.exe" "$root/tests/wine/$probe.c"
done

# A prefix of our own, an ANSI code page of 1252 (as the office's Windows), no debug chatter.
export WINEPREFIX=${WINEPREFIX:-$HOME/.wine-vestrel} WINEDEBUG=-all LANG=en_US.UTF-8
report=$build/wine-report.txt
: >"$report"

# area PROBE CASES BASEDIR: Windows' answers in $work/$area.windows, ours in $work/$area.ours.
run_area() {
    local area=$1 probe=$2 cases=$3 base=$4
    mkdir -p "$work/$area-win" "$work/$area-ours"
    local winbase=$base ourbase=$base
    [ -z "$base" ] && winbase=$work/$area-win ourbase=$work/$area-ours
    wine "$work/$probe.exe" "$(winpath "$cases")" "$(winpath "$winbase")" 2>>"$work/wine.log" | tr -d '\r' >"$work/$area.windows"
    "$twin" answer "${area%%-*}" "$cases" "$ourbase" >"$work/$area.ours"
    echo "== $area" >>"$report"
    "$twin" compare "${area%%-*}" "$work/$area.ours" "$work/$area.windows" >"$work/$area.report" || true
    cat "$work/$area.report" >>"$report"
    tail -n 1 "$work/$area.report"
}

"$twin" generate ini >"$work/ini.cases"
"$twin" generate reg >"$work/reg.cases"
"$twin" generate strings --all >"$work/strings.cases"
run_area ini iniprobe "$work/ini.cases" ""
run_area reg regprobe "$work/reg.cases" ""
run_area strings strprobe "$work/strings.cases" "$build"
echo "differences: $report"

if [ "$freeze" = 1 ]; then
    fixtures=$root/tests/fixtures/wine
    mkdir -p "$fixtures"
    "$twin" generate strings >"$work/strings-fixed.cases"
    run_area strings-fixed strprobe "$work/strings-fixed.cases" "$build" >/dev/null
    cp "$work/ini.cases" "$fixtures/ini.cases"
    cp "$work/ini.windows" "$fixtures/ini.windows"
    cp "$work/reg.cases" "$fixtures/reg.cases"
    cp "$work/reg.windows" "$fixtures/reg.windows"
    cp "$work/strings-fixed.cases" "$fixtures/strings.cases"
    cp "$work/strings-fixed.windows" "$fixtures/strings.windows"
    echo "golden data written to $fixtures"
fi
