#!/usr/bin/env bash
# Vestrel demo: builds everything in build-demo/, makes an embedded Firebird database with sample
# reminders, shows which are due today (vericorr-due), backs it up both ways (VEBackupd --run-now)
# and shows the rotation folder and backup.log, starts VERicorr on it so that the reminders slide in as
# popups, then starts the chat relay server on loopback with TLS and the accounts "anna" and "bruno"
# and two chat clients logged in to them, each with its own program folder, registry store and
# machine name, so that they can message each other, use a group and ask for read receipts, and
# finally the version widgets' demo (versionpack-demo) on the chat client's program file.
# Real windows when a display is available; otherwise under Xvfb, or on the offscreen platform.
# Usage: scripts/demo.sh            (Ctrl+C ends the demo; the clients log out first)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

build="$root/build-demo"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESTREL_TESTS=OFF -DVESTREL_BENCH=OFF
cmake --build "$build" --parallel "$(nproc)" --target chatserver chatclient vericorr-due vestrel-db VERicorr vestrel_lang \
    VEBackupd versionpack-demo
bin="$build/bin"
# shellcheck source=scripts/demo-setup.sh
source "$root/scripts/demo-setup.sh"

# Without a display: a virtual one when Xvfb is there, else Qt's offscreen platform.
if [ -z "${DISPLAY:-}" ] && [ -z "${VESTREL_DEMO_UNDER_XVFB:-}" ]; then
    if command -v xvfb-run >/dev/null; then
        echo "demo: no display found; running under a virtual X display (xvfb-run), windows are not visible." >&2
        export VESTREL_DEMO_UNDER_XVFB=1
        exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
    fi
    echo "demo: no display and no xvfb-run; running on the offscreen platform, windows are not visible." >&2
    export QT_QPA_PLATFORM=offscreen
fi

# The virtual display may still be settling when xvfb-run hands over; the windows need it to answer.
if [ -n "${VESTREL_DEMO_UNDER_XVFB:-}" ]; then
    for _ in $(seq 1 100); do
        xprop -root >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! xprop -root >/dev/null 2>&1; then
        echo "demo: the virtual X display $DISPLAY does not answer; run the demo again" >&2
        exit 1
    fi
fi

demo=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-demo.XXXXXX")
port=${VESTREL_DEMO_CHAT_PORT:-47110}
pids=()
cleanup() {
    # The clients first, so that they log out while the server still listens.
    for pid in "${pids[@]:2}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]:2}"; do wait "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]:0:2}"; do kill -TERM "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$demo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Reminders: an embedded database built from the schema and the sample rows, and what is due today.
reminders="$demo/reminders"
prepare_demo_reminders "$reminders"
due() { VESTREL_PROGRAM_DIR="$reminders/program" VESTREL_REGISTRY_DIR="$reminders/registry" "$bin/vericorr-due" "$@"; }
echo "demo: reminders due today for every operator (ID, criterion, title):" >&2
due | sed 's/^/    /' >&2
echo "demo: for operator AN at workstation P2 (vericorr-due OP=AN PC=P2):" >&2
due OP=AN PC=P2 | sed 's/^/    /' >&2
first=$(due | head -n 1 | cut -f 1)
due --dismiss "$first"
echo "demo: after dismissing reminder $first (vericorr-due --dismiss $first):" >&2
due | sed 's/^/    /' >&2

show_backups() {
    echo "demo: rotation folder $1:" >&2
    (cd "$1" && find . -mindepth 1 -printf '%M %8s %p\n' | sort -k3) | sed 's/^/    /' >&2
    echo "demo: $2:" >&2
    tr -d '\r' < "$2" | sed 's/^/    /' >&2
}

# Backups of the demo database, as the backup service's daily run would make them, when a Firebird
# server answers on 127.0.0.1:3050 with the password the programs use by default: both routes need it
# (a copy is taken under the database's own backup lock, which the server holds). The demo does not
# start one: that would set the server's SYSDBA password and leave a daemon running after the demo.
if (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null &&
    fbsvcmgr 127.0.0.1:service_mgr -user SYSDBA -password tavernfog -info_server_version >/dev/null 2>&1; then
    # The server runs as its own user: it must reach the database and write in the backup folders.
    served="$demo/served"
    mkdir -p "$served/copy" "$served/program"
    chmod 711 "$demo"
    chmod 777 "$served"
    cp "$reminders/office.fdb" "$served/office.fdb"
    chmod 666 "$served/office.fdb"
    printf '[Setup]\r\nCompressed=1\r\nFile default=0\r\nPath=%s\r\n[File]\r\n%s=\r\n' \
        "$served/copy-backup" "$served/office.fdb" > "$served/copy/backup.ini"
    echo "demo: one backup of the demo database by copying its file under its backup lock (VEBackupd --run-now, backup.ini: Compressed=1):" >&2
    (umask 000 && VESTREL_PROGRAM_DIR="$served/copy" "$bin/VEBackupd" --run-now) 2>&1 | sed 's/^/    /' >&2 || true
    show_backups "$served/copy-backup" "$served/copy/backup.log"
    printf '[Setup]\r\nCompressed=0\r\nFile default=0\r\nPath=%s\r\n[File]\r\n127.0.0.1:%s=\r\n' \
        "$served/backup" "$served/office.fdb" > "$served/program/backup.ini"
    echo "demo: the same database through the Firebird server's backup service (backup.ini: Compressed=0):" >&2
    (umask 000 && VESTREL_PROGRAM_DIR="$served/program" "$bin/VEBackupd" --run-now --pause-ms 0) 2>&1 |
        sed 's/^/    /' >&2 || true
    show_backups "$served/backup" "$served/program/backup.log"
else
    echo "demo: no Firebird server answers on 127.0.0.1:3050, so the backups are left out" >&2
    echo "demo: (scripts/firebird-server.sh starts one; the demo then shows both routes)." >&2
fi

# The reminders client as a login script starts it: today's reminders slide in at the bottom right.
# It copies its program folder's files beside the program, as an installation has them.
cp "$bin"/VE_ita.dll "$bin"/VE_eng.dll "$reminders/program/"
VESTREL_PROGRAM_DIR="$reminders/program" VESTREL_REGISTRY_DIR="$reminders/registry" "$bin/VERicorr" x \
    2> >(sed -u 's/^/[VERicorr] /' >&2) &
pids+=($!)
echo "demo: VERicorr x started; its popups stay until clicked (click the text to read one)." >&2
echo "demo: to edit the reminders: VESTREL_PROGRAM_DIR=$reminders/program VESTREL_REGISTRY_DIR=$reminders/registry $bin/VERicorr" >&2

# The relay with a certificate of its own and two accounts. The clients trust the certificate without
# asking: its fingerprint goes into their registry stores below.
server="$demo/server"
mkdir -p "$server"
fingerprint=$("$bin/chatserver" --make-cert "$server" --cert-host 127.0.0.1 | sed -n 's/^SHA-256 fingerprint: //p')
for account in anna bruno; do
    printf '%s\n' "$account-demo" | "$bin/chatserver" --accounts "$server/accounts" --set-password "$account" 2>/dev/null
done
echo "demo: chat server certificate SHA-256 fingerprint $fingerprint" >&2
"$bin/chatserver" --listen 127.0.0.1 --port "$port" --tls-cert "$server/chatserver.crt" \
    --tls-key "$server/chatserver.key" --accounts "$server/accounts" 2> >(sed -u 's/^/[chatserver] /' >&2) &
pids+=($!)
sleep 0.5
if ! kill -0 "${pids[1]}" 2>/dev/null; then
    echo "demo: the chat server could not start on 127.0.0.1:$port (set VESTREL_DEMO_CHAT_PORT to another port)" >&2
    exit 1
fi

# One client as the demo prepares it (settings, group "Ufficio", language libraries, registry store).
prepare_client() {
    prepare_demo_client "$demo/$1" "$1" "$2" "$3" "$port" '"Timer"=dword:00000028' '"TLS"="1"' '' \
        '[HKEY_LOCAL_MACHINE\software\Pelk Software\Vestrel\Chat\Certificati]' \
        "\"127.0.0.1:$port\"=\"$fingerprint\""
}

start_client() {
    local nick=$1 machine=$2 dir="$demo/$1"
    # VESTREL_CHAT_PASSWORD is for this demo only: an office keeps passwords in the desktop's secret store.
    VESTREL_PROGRAM_DIR="$dir/program" VESTREL_REGISTRY_DIR="$dir/registry" VESTREL_HOSTNAME="$machine" \
        VESTREL_CHAT_PASSWORD="$nick-demo" "$bin/chatclient" &
    pids+=($!)
}

prepare_client anna pc-anna 0
prepare_client bruno pc-bruno 1
start_client anna pc-anna
start_client bruno pc-bruno

# Both windows open at the same place; move bruno's beside anna's where an X display allows it.
if [ "${QT_QPA_PLATFORM:-}" != offscreen ] && command -v xdotool >/dev/null; then
    for window in $(timeout 15 xdotool search --sync --onlyvisible --pid "${pids[3]}" 2>/dev/null); do
        xdotool windowmove "$window" 730 135 2>/dev/null || true
    done
fi

# The version widgets' demo, on one of our programs: its version block, read by libversionpack.
"$bin/versionpack-demo" "$bin/chatclient" 2> >(sed -u 's/^/[versionpack-demo] /' >&2) &
pids+=($!)

cat >&2 <<TEXT
demo: relay server on 127.0.0.1:$port with TLS and accounts; chat clients "anna" (machine pc-anna,
demo: Italian) and "bruno" (pc-bruno, English), logged in with the passwords anna-demo and bruno-demo. Pick a name in the list on the right, type a message and press Enter; tick
demo: "Gruppo" to send to the group "Ufficio", or "Richiedi Notifica Messaggio" to ask for a read receipt.
demo: File > Impostazioni edits a client's settings, File > Gestione Gruppi its groups. Closing a window
demo: hides it in the notification area: new messages then pop up at the bottom right with a sound.
demo: File > Disconnetti, then File > Esci dal programma ends a client; Ctrl+C ends the demo.
demo: The window "Informazioni sulla versione" (versionpack-demo) shows the version information
demo: of $bin/chatclient, read by the widgets of libversionpack.
TEXT

# The demo ends when both clients have ended (or on Ctrl+C).
wait "${pids[2]}" "${pids[3]}" 2>/dev/null || true
