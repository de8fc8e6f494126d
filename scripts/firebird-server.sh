#!/usr/bin/env bash
# Makes sure a Firebird server answers on 127.0.0.1:3050 with the SYSDBA password the programs use by
# default, for the backup tests and the demo. Works without systemd (CI containers):
#   - a server already listening is reused when that password works, and refused otherwise (it is
#     somebody else's server; we never reconfigure it);
#   - otherwise the password is set in the security database through the embedded engine, and the
#     server is started through its guardian, as the Debian init script does.
# Usage: scripts/firebird-server.sh   (environment: FIREBIRD_SYSDBA_PASSWORD, default "tavernfog")
set -euo pipefail

password=${FIREBIRD_SYSDBA_PASSWORD:-tavernfog}
host=127.0.0.1
port=3050
security_db=/var/lib/firebird/3.0/system/security3.fdb
password_file=/etc/firebird/3.0/SYSDBA.password
run_dir=/run/firebird3.0

if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
else
    sudo=
fi

listening() {
    (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null
}

password_works() {
    fbsvcmgr "$host:service_mgr" -user SYSDBA -password "$password" -info_server_version >/dev/null 2>&1
}

as_firebird() {
    if command -v runuser >/dev/null 2>&1 && [ -z "$sudo" ]; then
        runuser -u firebird -- "$@"
    else
        $sudo -u firebird "$@"
    fi
}

if listening; then
    if password_works; then
        echo "firebird-server: reusing the server on $host:$port"
        exit 0
    fi
    echo "firebird-server: a server listens on $host:$port but refuses SYSDBA with the expected password;" \
        "set its SYSDBA password to the one in FIREBIRD_SYSDBA_PASSWORD (default tavernfog) or stop it" >&2
    exit 1
fi

if [ ! -f "$security_db" ]; then
    echo "firebird-server: $security_db not found (is firebird3.0-server installed?)" >&2
    exit 1
fi

# The server is down, so the embedded engine may open the security database. Run as the server's
# own user, so that lock files it leaves belong to the server too.
sql_password=${password//\'/\'\'}
echo "create or alter user SYSDBA password '$sql_password' using plugin Srp; commit;" |
    as_firebird isql-fb -q -user SYSDBA "$security_db" >/dev/null

# Keep the package's note of the password in step, as its own tools do.
if [ -f "$password_file" ]; then
    $sudo sed -i -E "s/^[[:space:]]*ISC_PASSWORD=.*/ISC_PASSWORD=\"$password\"/" "$password_file"
fi

$sudo mkdir -p "$run_dir"
$sudo chown firebird:firebird "$run_dir"
$sudo chmod 0770 "$run_dir"
as_firebird /usr/sbin/fbguard -daemon -forever -pidfile "$run_dir/firebird.pid"

for _ in $(seq 1 60); do
    if listening && password_works; then
        echo "firebird-server: started on $host:$port"
        exit 0
    fi
    sleep 0.5
done
echo "firebird-server: the server did not come up on $host:$port; see /var/log/firebird/" >&2
exit 1
