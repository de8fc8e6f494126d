#!/usr/bin/env bash
# Builds the Debian packages, unpacks them into a temporary root and tries the installed programs from
# there: every program answers --help, the relay server answers a login on loopback, vericorr-due lists
# the reminders of a small embedded database, verinfo reads the installed programs' version blocks and
# the chat client starts without a display and ends cleanly on SIGTERM. The packages must hold only the
# suite's files, and lintian must find nothing to report.
# Run as root, it then installs the packages with apt, tries them as an ordinary user (an embedded
# database while /tmp/firebird is the server's, settings over the administrator's), installs the same
# packages built with a higher version over them and checks that nothing of the office was lost and
# the services were restarted (where systemd runs), and finally removes everything as the user guide
# says. Not as root, or where Vestrel packages are installed already, that part is skipped.
# Usage: scripts/package-check.sh [build folder]   (default build-package/)
# A build folder that is already configured is used as it is (scripts/test.sh passes its own, which
# has the same build type; its tests and benchmarks have no install rules and stay out of the packages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${1:-$root/build-package}
mkdir -p "$build"
build=$(cd "$build" && pwd)
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESTREL_TESTS=OFF -DVESTREL_BENCH=OFF
fi
cmake --build "$build" --parallel "$(nproc)"

out="$build/packages"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out")

work=$(mktemp -d)
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

tree="$work/root"
mkdir -p "$tree"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

shopt -s nullglob
debs=("$out"/*.deb)
[ ${#debs[@]} -gt 0 ] || { echo "FAIL: no package built" >&2; exit 1; }
for deb in "${debs[@]}"; do
    echo "== $(basename "$deb")"
    dpkg-deb --field "$deb" Package Version Architecture Depends
    dpkg-deb -x "$deb" "$tree"
done

opt="$tree/opt/vestrel"
for program in chatclient chatserver VERicorr vericorr-due VEBackupd verinfo; do
    [ -x "$opt/$program" ] || fail "program $program not installed"
done
# Only the suite's own files: nothing of the tests, benchmarks or fuzzers, nothing outside its folders.
(cd "$tree" && find . ! -type d | sed 's|^\.||') >"$work/files.txt"
grep -Ev '^/(opt/vestrel/[^/]+|usr/bin/[^/]+|usr/share/(vestrel|man/man1|doc/vestrel-[a-z]+|applications|icons/hicolor/scalable/apps|lintian/overrides)/[^/]+|lib/systemd/system/[^/]+\.service|etc/xdg/autostart/[^/]+\.desktop)$' \
    "$work/files.txt" | sed 's/^/unexpected file in the packages: /' >&2 && fail "the packages hold files of no deliverable"
grep -E '/(test_|bench_|fuzz_)[^/]*$' "$work/files.txt" | sed 's/^/test program in the packages: /' >&2 &&
    fail "the packages hold test programs"
# Launchers point at /opt/vestrel; inside the temporary root they must land on an installed program.
# The programs must not need the build tree: nothing of it on their path, settings in a scratch folder.
export VESTREL_PROGRAM_DIR="$work/programdir"
mkdir -p "$VESTREL_PROGRAM_DIR"
export QT_QPA_PLATFORM=offscreen

if [ -x "$opt/chatserver" ]; then
    echo "== chatserver"
    "$opt/chatserver" --listen 127.0.0.1 --port 0 2>"$work/chatserver.err" &
    server_pid=$!
    port=
    for _ in $(seq 50); do
        port=$(sed -n 's/^chatserver: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/chatserver.err")
        [ -n "$port" ] && break
        sleep 0.1
    done
    if [ -z "$port" ]; then
        fail "chatserver did not start: $(cat "$work/chatserver.err")"
    else
        # A login record: six fields of a length byte and 255 characters. The server answers with the
        # list of who is connected.
        python3 - "$port" <<'PY' || fail "chatserver did not answer a login"
import socket, sys
def field(text):
    data = text.encode("cp1252")
    return bytes([len(data)]) + data + bytes(255 - len(data))
record = b"".join(field(t) for t in ("Login", "prova", "h", "pcprova", "", ""))
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=5) as s:
    s.sendall(record)
    reply = b""
    while len(reply) < 1536:
        chunk = s.recv(1536 - len(reply))
        if not chunk:
            sys.exit("connection closed after %d bytes" % len(reply))
        reply += chunk
text = reply[4 * 256 + 1 : 4 * 256 + 1 + reply[4 * 256]]
command = reply[1 : 1 + reply[0]]
print("reply:", command, text)
sys.exit(0 if command == b"Login" and b"prova=pcprova" in text else "unexpected reply")
PY
    fi
    kill "$server_pid"
    wait "$server_pid" 2>/dev/null || true
    server_pid=
fi

echo "== --help"
# Every program answers it with status 0 and without a display; the demo of the version widgets is
# not packaged and is tried from the build folder.
for program in "$opt"/chatclient "$opt"/chatserver "$opt"/VERicorr "$opt"/vericorr-due "$opt"/VEBackupd \
    "$opt"/verinfo "$build/bin/versionpack-demo"; do
    [ -x "$program" ] || continue
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help >"$work/help.txt" 2>&1 || status=$?
    [ "$status" -eq 0 ] || fail "$(basename "$program") --help exited $status: $(head -c 500 "$work/help.txt")"
    grep -qi "usage" "$work/help.txt" || fail "$(basename "$program") --help printed no usage: $(head -c 500 "$work/help.txt")"
done
if [ -x "$opt/VEBackupd" ]; then
    "$opt/VEBackupd" --help 2>&1 | grep -q -- "--run-now" || fail "VEBackupd --help does not list its options"
fi

if [ -x "$opt/vericorr-due" ]; then
    echo "== vericorr-due usage"
    status=0
    "$opt/vericorr-due" --date 2>"$work/due.err" || status=$?
    [ "$status" -eq 2 ] || fail "vericorr-due with a bad argument exited $status, not 2"
    grep -q "usage: vericorr-due" "$work/due.err" || fail "vericorr-due printed no usage: $(cat "$work/due.err")"

    echo "== vericorr-due on a demo database"
    # The demo's sample reminders in an embedded database; config.ini beside the program names it.
    reminders="$work/reminders"
    mkdir -p "$reminders/program" "$reminders/registry"
    (
        printf "SET NAMES UTF8; SET SQL DIALECT 1;\nCREATE DATABASE '%s' USER 'SYSDBA' DEFAULT CHARACTER SET WIN1252;\n" \
            "$reminders/office.fdb"
        cat tests/fixtures/schema.sql scripts/demo-reminders.sql
    ) | isql-fb -q -b >"$work/isql.out" 2>&1 || fail "cannot make the demo database: $(cat "$work/isql.out")"
    printf '[Database]\r\nFile=%s\r\nuser=SYSDBA\r\n' "$reminders/office.fdb" >"$reminders/program/config.ini"
    status=0
    VESTREL_PROGRAM_DIR="$reminders/program" VESTREL_REGISTRY_DIR="$reminders/registry" \
        "$opt/vericorr-due" OP=AN >"$work/due.out" 2>"$work/due.err" || status=$?
    [ "$status" -eq 0 ] || fail "vericorr-due on the demo database exited $status: $(cat "$work/due.err")"
    # Every operator's daily rule and Anna's weekly one are due whatever the day; the inactive one never.
    # (Descriptions are cut to the column width.)
    for title in "Benvenuti in Vestrel" "Controllare la posta" "Riunione del lunedì"; do
        grep -qF "$title" "$work/due.out" || fail "vericorr-due did not list \"$title\": $(cat "$work/due.out")"
    done
    grep -qF "Promemoria sospeso" "$work/due.out" && fail "vericorr-due listed an inactive reminder"
fi

if [ -x "$opt/verinfo" ]; then
    echo "== verinfo"
    # The version block must survive the stripping the packages do; the example of the manual page
    # (verinfo on itself and on libversionpack.so) is among them.
    for program in "$opt"/chatserver "$opt"/VEBackupd "$opt"/verinfo "$opt"/libversionpack.so; do
        [ -e "$program" ] || continue
        "$opt/verinfo" "$program" >"$work/verinfo.txt" 2>&1 || fail "verinfo cannot read $(basename "$program"): $(cat "$work/verinfo.txt")"
        grep -q "file version" "$work/verinfo.txt" || fail "$(basename "$program") has no version information"
    done
fi

if [ -x "$opt/chatclient" ]; then
    echo "== chatclient offscreen, SIGTERM"
    # No server to reach and no display: the client must still start, and end on SIGTERM with status 0.
    client="$work/chatclient"
    mkdir -p "$client/program" "$client/registry" "$client/runtime"
    chmod 700 "$client/runtime"
    printf '[Server]\r\nHost=127.0.0.1\r\n[Porta]\r\nPorta=9\r\n' >"$client/program/DovuziZez.ini"
    VESTREL_PROGRAM_DIR="$client/program" VESTREL_REGISTRY_DIR="$client/registry" XDG_RUNTIME_DIR="$client/runtime" \
        "$opt/chatclient" >"$work/chatclient.out" 2>&1 &
    client_pid=$!
    sleep 2
    if ! kill -0 "$client_pid" 2>/dev/null; then
        status=0
        wait "$client_pid" || status=$?
        fail "chatclient ended by itself with status $status: $(cat "$work/chatclient.out")"
    else
        kill -TERM "$client_pid"
        status=
        for _ in $(seq 50); do
            kill -0 "$client_pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$client_pid" 2>/dev/null; then
            kill -KILL "$client_pid"
            wait "$client_pid" 2>/dev/null || true
            fail "chatclient still ran 5 s after SIGTERM: $(cat "$work/chatclient.out")"
        else
            status=0
            wait "$client_pid" || status=$?
            [ "$status" -eq 0 ] || fail "chatclient exited $status on SIGTERM: $(cat "$work/chatclient.out")"
        fi
    fi
fi

echo "== lintian"
if command -v lintian >/dev/null; then
    # The packages carry overrides, each with its reason, for the tags we keep; any other tag, down to
    # the informational ones, is a failure.
    lintian --info --tag-display-limit 0 --fail-on error,warning,info "${debs[@]}" || fail "lintian found problems"
else
    fail "lintian is not installed (scripts/install-deps.sh installs it)"
fi

echo "== install, upgrade and removal"
scripts/package-install-check.sh "$build" "$out" || fail "the packages did not install, upgrade or go as they should"

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package check passed"
