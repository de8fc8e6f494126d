#!/usr/bin/env bash
# An ordinary user opens an embedded database with vericorr-due while /tmp/firebird, the engine's
# shared lock folder, is not theirs (the server package makes it firebird's, mode 0770): the program
# keeps its locks in a folder of that user instead. Run as root, it runs the program as the user
# nobody; run as an ordinary user, it runs it as that user.
# Usage: embedded-as-user.sh BIN_DIR SOURCE_DIR      exit 77: skipped
set -euo pipefail
bin=$1
source=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
home="$work/home"
mkdir -p "$home/program" "$home/registry"
# A copy of the program: the build folder may be closed to other users.
cp "$bin/vericorr-due" "$home/program/"
printf '[Database]\r\nFile=%s\r\nuser=SYSDBA\r\n' "$home/office.fdb" >"$home/program/config.ini"

if [ "$(id -u)" -eq 0 ]; then
    run() { setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env env "$@"; }
else
    run() { env -i PATH="$PATH" "$@"; }
fi
if [ -d /tmp/firebird ] && run test -w /tmp/firebird; then
    echo "skipped: this user may write /tmp/firebird, so the engine's own folder serves"
    exit 77
fi

# The database is made with a lock folder of its own: the tool has no choice of folder.
(
    printf "SET NAMES UTF8; SET SQL DIALECT 1;\nCREATE DATABASE '%s' USER 'SYSDBA' DEFAULT CHARACTER SET WIN1252;\n" \
        "$home/office.fdb"
    cat "$source/tests/fixtures/schema.sql" "$source/scripts/demo-reminders.sql"
) | FIREBIRD_LOCK="$work/isql-lock" isql-fb -q -b >"$work/isql.out" 2>&1 || {
    echo "cannot make the database: $(cat "$work/isql.out")" >&2
    exit 1
}
[ "$(id -u)" -ne 0 ] || chown -R nobody:nogroup "$home"

status=0
run HOME="$home" VESTREL_PROGRAM_DIR="$home/program" VESTREL_REGISTRY_DIR="$home/registry" \
    "$home/program/vericorr-due" OP=AN >"$work/due.out" 2>"$work/due.err" || status=$?
if [ "$status" -ne 0 ] || ! grep -qF "Benvenuti in Vestrel" "$work/due.out"; then
    echo "vericorr-due exited $status: $(cat "$work/due.err") $(cat "$work/due.out")" >&2
    exit 1
fi
mode=$(stat -c '%U %a' "$home/.cache/firebird" 2>/dev/null || echo missing)
if [ "$mode" != "$(run id -un) 700" ]; then
    echo "the lock folder $home/.cache/firebird is $mode, not the user's with mode 0700" >&2
    exit 1
fi
echo "vericorr-due ran as $(run id -un) with its locks in $home/.cache/firebird"
