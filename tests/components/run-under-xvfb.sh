#!/usr/bin/env bash
# Runs one program on a real X screen: Xvfb (1280x1024), the openbox window manager and a tint2 panel
# at the bottom, so that the work area, the taskbar edge and the tray are real. The panel and the
# window manager are stopped when the program ends; its exit status is returned.
#
# Usage: run-under-xvfb.sh <program> [arguments...]
# VESTREL_XVFB_NO_TRAY=1 starts the panel without its tray (a taskbar but no tray host).
set -euo pipefail

if [ "${VESTREL_INSIDE_XVFB:-}" != 1 ]; then
    export VESTREL_INSIDE_XVFB=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

workdir=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$workdir"
}
trap cleanup EXIT

export HOME="$workdir" XDG_CONFIG_HOME="$workdir/config" XDG_RUNTIME_DIR="$workdir/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# The server may still be settling when xvfb-run hands over: wait until it answers before the window
# manager connects, since a window manager that cannot open the display gives up for good.
for _ in $(seq 1 100); do
    xprop -root >/dev/null 2>&1 && break
    sleep 0.1
done
openbox --sm-disable >"$workdir/openbox.log" 2>&1 &
openbox_pid=$!
pids+=($openbox_pid)

tint2rc="$workdir/tint2rc"
if [ "${VESTREL_XVFB_NO_TRAY:-}" = 1 ]; then
    sed 's/^panel_items = .*/panel_items = LTC/' /etc/xdg/tint2/tint2rc >"$tint2rc"
else
    cp /etc/xdg/tint2/tint2rc "$tint2rc"
fi
tint2 -c "$tint2rc" >"$workdir/tint2.log" 2>&1 &
tint2_pid=$!
pids+=($tint2_pid)

# The panel is up once the window manager publishes a work area that leaves room for it. On a busy
# machine that can take a while; a desktop that never gets there is an error, not a test result.
panel_up=0
for _ in $(seq 1 600); do
    if ! kill -0 "$openbox_pid" 2>/dev/null; then
        # It ended early (it could not reach the display yet): start it again.
        openbox --sm-disable >>"$workdir/openbox.log" 2>&1 &
        openbox_pid=$!
        pids+=($openbox_pid)
    fi
    if ! kill -0 "$tint2_pid" 2>/dev/null; then
        # The panel gives up the same way when the display is late.
        tint2 -c "$tint2rc" >>"$workdir/tint2.log" 2>&1 &
        tint2_pid=$!
        pids+=($tint2_pid)
    fi
    workarea=$(xprop -root _NET_WORKAREA 2>/dev/null || true)
    if [[ "$workarea" == *", 994"* ]]; then
        panel_up=1
        break
    fi
    sleep 0.1
done
if [ "$panel_up" != 1 ]; then
    echo "run-under-xvfb: the panel did not reserve its strip within 60 s (work area: ${workarea:-none})" >&2
    # What the window manager and the panel said is the only trace left once the folder is removed.
    for log in "$workdir/openbox.log" "$workdir/tint2.log"; do
        echo "--- $(basename "$log")" >&2
        cat "$log" >&2 || true
    done
    exit 1
fi

export QT_QPA_PLATFORM=xcb
status=0
"$@" || status=$?
exit "$status"
