#!/usr/bin/env bash
# Lets several processes open one database through the embedded engine at once.
#
# With Firebird's default ServerMode (Super) the first process that opens a file through the embedded
# engine holds it exclusively, and a second VERicorr or vericorr-due on the same file fails with
# "Database already opened with engine instance, incompatible with current". In SuperClassic mode every
# process shares the lock table, so embedded processes and the server can all open the same file.
# Safe to run again; it restarts a running server so that it takes the same mode.
set -euo pipefail

conf=${FIREBIRD_CONF_FILE:-/etc/firebird/3.0/firebird.conf}
if [ ! -f "$conf" ]; then
    echo "firebird-setup: $conf not found (is firebird3.0-server-core installed?)" >&2
    exit 1
fi

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi

if grep -Eq '^[[:space:]]*ServerMode[[:space:]]*=[[:space:]]*SuperClassic[[:space:]]*$' "$conf"; then
    exit 0
fi

# Drop any other active ServerMode line, then state ours once at the end of the file.
$sudo sed -i -E '/^[[:space:]]*ServerMode[[:space:]]*=/d' "$conf"
printf '\n# Set by Vestrel scripts/firebird-setup.sh: embedded processes share databases.\nServerMode = SuperClassic\n' |
    $sudo tee -a "$conf" >/dev/null

# A server started before the change still runs in the old mode and would hold files exclusively.
if pgrep -x firebird >/dev/null 2>&1 && [ -x /etc/init.d/firebird3.0 ]; then
    $sudo /etc/init.d/firebird3.0 restart >/dev/null || true
fi
echo "firebird-setup: ServerMode = SuperClassic in $conf"
