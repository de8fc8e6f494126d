#!/usr/bin/env bash
# Builds the Debian packages, unpacks them into a temporary root and tries the installed programs from
# there: the relay server answers a login on loopback, VEBackupd prints its help, vericorr-due reports
# wrong usage, verinfo reads the installed programs' version blocks. Programs not built yet are
# skipped. lintian must find nothing to report.
# Usage: scripts/package-check.sh [build folder]   (default build-package/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

build=${1:-$root/build-package}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESTREL_TESTS=OFF -DVESTREL_BENCH=OFF
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
# Launchers point at /opt/vestrel; inside the temporary root they must land on an installed program.
for link in "$tree"/usr/bin/*; do
    target=$(readlink "$link")
    [ -x "$tree$target" ] || fail "launcher $(basename "$link") points at missing $target"
done
for dll in VE_ita VE_eng DAVerOdov_ita DAVerOdov_eng; do
    [ -f "$opt/$dll.dll" ] || fail "language library $dll.dll not installed"
done
if command -v desktop-file-validate >/dev/null; then
    for f in "$tree"/usr/share/applications/*.desktop "$tree"/etc/xdg/autostart/*.desktop; do
        desktop-file-validate "$f" || fail "invalid desktop entry $f"
    done
fi

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

if [ -x "$opt/VEBackupd" ]; then
    echo "== VEBackupd --help"
    "$opt/VEBackupd" --help >"$work/help.txt" 2>&1 || fail "VEBackupd --help failed"
    grep -q -- "--run-now" "$work/help.txt" || fail "VEBackupd --help does not list its options"
fi

if [ -x "$opt/vericorr-due" ]; then
    echo "== vericorr-due usage"
    status=0
    "$opt/vericorr-due" --date 2>"$work/due.err" || status=$?
    [ "$status" -eq 2 ] || fail "vericorr-due with a bad argument exited $status, not 2"
    grep -q "usage: vericorr-due" "$work/due.err" || fail "vericorr-due printed no usage: $(cat "$work/due.err")"
fi

if [ -x "$opt/verinfo" ]; then
    echo "== verinfo"
    # The version block must survive the stripping the packages do.
    for program in "$opt"/chatserver "$opt"/VEBackupd; do
        [ -x "$program" ] || continue
        "$opt/verinfo" "$program" >"$work/verinfo.txt" 2>&1 || fail "verinfo cannot read $(basename "$program"): $(cat "$work/verinfo.txt")"
    done
fi

if command -v lintian >/dev/null; then
    echo "== lintian"
    # The packages carry overrides for the tags that follow from our layout; anything else is an error.
    lintian --tag-display-limit 0 --fail-on error,warning "${debs[@]}" || fail "lintian found problems"
fi

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package check passed"
