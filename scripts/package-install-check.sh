#!/usr/bin/env bash
# Installs the packages of a build on this machine as an administrator would, tries them as an ordinary
# user, installs the same packages built with a higher version over them, checks that nothing of the
# office was lost, then removes everything as the user guide says. Run by scripts/package-check.sh
# after it made the packages; prints one "skipped:" line where it cannot run (not root, or Vestrel
# packages of someone else's installed here).
# Usage: scripts/package-install-check.sh BUILD_FOLDER PACKAGE_FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$2

if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing the packages needs root"
    exit 0
fi
# Checks of several worktrees on one machine take turns; each leaves the machine as it found it.
mkdir -p /run/lock
exec 9>/run/lock/vestrel-package-check.lock
flock 9
packages=(vestrel-common vestrel-chatclient vestrel-reminders vestrel-tools vestrel-chatserver vestrel-backup)
installed_version() {
    dpkg-query -W -f '${db:Status-Status} ${Version}\n' "$1" 2>/dev/null | sed -n 's/^installed //p'
}
for package in "${packages[@]}"; do
    if [ -n "$(installed_version "$package")" ]; then
        echo "skipped: $package is installed on this machine; the check installs only on a machine without Vestrel"
        exit 0
    fi
done

work=$(mktemp -d)
chmod 755 "$work" # the ordinary user's home lies below it
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
export DEBIAN_FRONTEND=noninteractive
apt_install() {
    apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "$@" >"$work/apt.out" 2>&1 ||
        { cat "$work/apt.out" >&2; return 1; }
}
# The guide's removal: what apt purge keeps on purpose, then the rest by hand.
remove_all() {
    apt-get purge -y -qq -o DPkg::Lock::Timeout=600 "${packages[@]}" >"$work/purge.out" 2>&1 ||
        { cat "$work/purge.out" >&2; return 1; }
}
remove_what_purge_keeps() {
    rm -rf /var/lib/vestrel-backup /var/log/vestrel-backup /opt/vestrel
    if getent passwd vestrel-backup >/dev/null; then
        deluser --system --quiet vestrel-backup
    fi
}
cleanup() {
    if [ -n "$(installed_version vestrel-common)$(installed_version vestrel-backup)" ]; then
        remove_all || true
    fi
    remove_what_purge_keeps
    rm -rf "$work"
}
trap cleanup EXIT

systemd=
if [ -d /run/systemd/system ]; then
    systemd=1
fi

echo "== apt install of the packages"
start=$(date +%s)
apt_install "$out"/*.deb || { fail "apt install of the packages failed"; exit 1; }
for package in "${packages[@]}"; do
    [ -n "$(installed_version "$package")" ] || fail "$package not installed"
done
version=$(installed_version vestrel-common)

# The backup service's folders are there before the service ever ran, as its unit expects them.
for entry in "/var/lib/vestrel-backup vestrel-backup:firebird 2770" "/var/log/vestrel-backup vestrel-backup:firebird 2750"; do
    read -r folder owner mode <<<"$entry"
    found=$(stat -c '%U:%G %a' "$folder" 2>/dev/null || echo missing)
    [ "$found" = "$owner $mode" ] || fail "$folder is $found after install, not $owner $mode"
done
backup_uid=$(id -u vestrel-backup 2>/dev/null || echo none)
[ "$backup_uid" != none ] || fail "the user vestrel-backup was not created"

# What an administrator and the users leave behind: settings beside the programs and in the service's
# folder, a user's own files.
printf '[Server]\r\nHost=192.168.1.10\r\n[Porta]\r\nPorta=47110\r\n' >/opt/vestrel/DovuziZez.ini
printf '[Database]\r\nFile=/nowhere/ufficio.fdb\r\nuser=SYSDBA\r\n' >/opt/vestrel/config.ini
printf '[Setup]\r\nFreq=0\r\nOra=03.00\r\nPath=/nowhere\r\n' >/var/lib/vestrel-backup/backup.ini

# An ordinary user (nobody, with a home of its own below $work) runs the installed vericorr-due on an
# embedded database of its own, named in its own config.ini over the administrator's, and dismisses a
# reminder (a file in its registry store).
user_home="$work/home"
mkdir -p "$user_home/.config/vestrel" "$user_home/run"
isql-fb -q -b >"$work/isql.out" 2>&1 <<SQL || fail "cannot make the user's database: $(cat "$work/isql.out")"
SET NAMES UTF8; SET SQL DIALECT 1;
CREATE DATABASE '$user_home/office.fdb' USER 'SYSDBA' DEFAULT CHARACTER SET WIN1252;
$(cat "$root/tests/fixtures/schema.sql" "$root/scripts/demo-reminders.sql")
SQL
printf '[Database]\r\nFile=%s\r\n' "$user_home/office.fdb" >"$user_home/.config/vestrel/config.ini"
chown -R nobody:nogroup "$user_home"
chmod 700 "$user_home/run"
as_user() {
    setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env \
        env HOME="$user_home" LANG=C.UTF-8 "$@"
}
if [ -d /tmp/firebird ] && ! as_user test -w /tmp/firebird; then
    echo "(/tmp/firebird belongs to $(stat -c %U:%G /tmp/firebird), which the user cannot write)"
else
    echo "(/tmp/firebird is missing or writable by the user: the folder of this user is chosen all the same)"
fi
user_due() {
    local label=$1
    shift
    status=0
    as_user "$@" /usr/bin/vericorr-due OP=AN >"$work/due.out" 2>"$work/due.err" || status=$?
    [ "$status" -eq 0 ] || fail "vericorr-due as an ordinary user ($label) exited $status: $(cat "$work/due.err")"
    grep -qF "Benvenuti in Vestrel" "$work/due.out" ||
        fail "vericorr-due as an ordinary user ($label) did not list today's reminders: $(cat "$work/due.out")"
}
echo "== the installed programs as an ordinary user"
user_due "runtime folder" XDG_RUNTIME_DIR="$user_home/run"
[ "$(stat -c %a "$user_home/run/firebird" 2>/dev/null)" = 700 ] ||
    fail "no lock folder $user_home/run/firebird of mode 0700"
user_due "no runtime folder"
[ "$(stat -c '%U %a' "$user_home/.cache/firebird" 2>/dev/null)" = "nobody 700" ] ||
    fail "no lock folder $user_home/.cache/firebird of the user with mode 0700"
dismissed=$(sed -n 's/^\([0-9]*\)\t.*Controllare la posta.*/\1/p' "$work/due.out" | head -n 1)
[ -n "$dismissed" ] || fail "vericorr-due as an ordinary user did not list the daily reminder to dismiss"
as_user /usr/bin/vericorr-due --dismiss "$dismissed" 2>"$work/due.err" ||
    fail "vericorr-due --dismiss as an ordinary user failed: $(cat "$work/due.err")"
[ -s "$user_home/.config/vestrel/HKEY_CURRENT_USER.reg" ] || fail "the dismissal left no registry file"

(cd "$user_home" && find . -type f ! -path './.cache/*' ! -path './run/*' -exec sha256sum {} +) | sort >"$work/user-files.before"
sha256sum /opt/vestrel/*.ini /var/lib/vestrel-backup/backup.ini >"$work/admin-files.before"

if [ -n "$systemd" ]; then
    systemctl start chatserver.service vebackupd.service
    sleep 1
    pids_before="$(systemctl show -p MainPID --value chatserver.service) $(systemctl show -p MainPID --value vebackupd.service)"
fi

echo "== the same packages with a higher version, installed over them"
rm -rf "$work/higher"
(cd "$build" && cpack -G DEB -D CPACK_DEBIAN_PACKAGE_RELEASE=2 -B "$work/higher" >"$work/cpack.out" 2>&1) ||
    { cat "$work/cpack.out" >&2; fail "cannot make the packages with a higher version"; exit 1; }
apt_install "$work/higher"/*.deb || fail "apt install of the higher version failed"
for package in "${packages[@]}"; do
    new=$(installed_version "$package")
    dpkg --compare-versions "$new" gt "$version" || fail "$package is at $new after the upgrade, not above $version"
done
(cd "$user_home" && find . -type f ! -path './.cache/*' ! -path './run/*' -exec sha256sum {} +) | sort >"$work/user-files.after"
diff "$work/user-files.before" "$work/user-files.after" >&2 || fail "the user's files changed in the upgrade"
sha256sum -c --quiet "$work/admin-files.before" >&2 || fail "an administrator's settings changed in the upgrade"
for entry in "/var/lib/vestrel-backup vestrel-backup:firebird 2770" "/var/log/vestrel-backup vestrel-backup:firebird 2750"; do
    read -r folder owner mode <<<"$entry"
    found=$(stat -c '%U:%G %a' "$folder" 2>/dev/null || echo missing)
    [ "$found" = "$owner $mode" ] || fail "$folder is $found after the upgrade, not $owner $mode"
done
[ "$(id -u vestrel-backup 2>/dev/null || echo none)" = "$backup_uid" ] || fail "the user vestrel-backup changed in the upgrade"
user_due "after the upgrade" XDG_RUNTIME_DIR="$user_home/run"
grep -q "^$dismissed"$'\t' "$work/due.out" && fail "the dismissal was lost in the upgrade"

if [ -n "$systemd" ]; then
    pids_after="$(systemctl show -p MainPID --value chatserver.service) $(systemctl show -p MainPID --value vebackupd.service)"
    for pair in "chatserver $(echo "$pids_before" | cut -d' ' -f1) $(echo "$pids_after" | cut -d' ' -f1)" \
        "vebackupd $(echo "$pids_before" | cut -d' ' -f2) $(echo "$pids_after" | cut -d' ' -f2)"; do
        read -r unit before after <<<"$pair"
        systemctl is-active --quiet "$unit" || fail "$unit does not run after the upgrade"
        [ "$before" != "$after" ] || fail "$unit was not restarted by the upgrade (process $before)"
    done
else
    echo "skipped: systemd does not run here, so the restart of the services on upgrade is not checked"
fi

echo "== apt purge, as the guide says"
remove_all || fail "apt purge failed"
[ ! -e /opt/vestrel/chatclient ] || fail "apt purge left the programs"
[ ! -e /lib/systemd/system/vebackupd.service ] || fail "apt purge left the units"
[ -f /var/lib/vestrel-backup/backup.ini ] || fail "apt purge removed the backup service's settings"
[ -d /var/log/vestrel-backup ] || fail "apt purge removed the backup service's log folder"
getent passwd vestrel-backup >/dev/null || fail "apt purge removed the user vestrel-backup"
sha256sum -c --quiet "$work/admin-files.before" >&2 || fail "apt purge changed an administrator's settings"
[ -f "$user_home/.config/vestrel/HKEY_CURRENT_USER.reg" ] || fail "apt purge touched a user's files"
remove_what_purge_keeps
getent passwd vestrel-backup >/dev/null && fail "deluser left the user vestrel-backup"
echo "install, upgrade and removal took $(($(date +%s) - start)) s"

if [ "$failures" -gt 0 ]; then
    echo "$failures install check(s) failed" >&2
    exit 1
fi
echo "install check passed"
