#!/usr/bin/env bash
# Takes the screenshots in docs/screenshots/: the demo's windows on a virtual desktop (Xvfb, the
# openbox window manager and a tint2 panel with its tray), driven with xdotool and captured from the
# screen with ImageMagick's import, each cropped to its window (with its frame) or to the screen
# corner where the popups slide in.
# Usage: scripts/screenshots.sh [BUILD]   (the programs of build folder BUILD, by default build-demo/,
#                                          configured as the demo does when new; needs no display)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=$(realpath -m "${1:-$root/build-demo}")
bin="$build/bin"
# shellcheck source=scripts/demo-setup.sh
source "$root/scripts/demo-setup.sh"
out="$root/docs/screenshots"

if [ "${VESTREL_SCREENSHOTS_INSIDE:-}" != 1 ]; then
    scripts/install-deps.sh
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESTREL_TESTS=OFF -DVESTREL_BENCH=OFF
    fi
    cmake --build "$build" --parallel "$(nproc)" --target chatserver chatclient vestrel-db VERicorr vestrel_lang \
        versionpack-demo
    export VESTREL_SCREENSHOTS_INSIDE=1
    # A desktop that did not come up on a busy machine gets one more try.
    tests/components/run-under-xvfb.sh "$0" "$build" || tests/components/run-under-xvfb.sh "$0" "$build"
    exit
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-shots.XXXXXX")
port=${VESTREL_SCREENSHOTS_CHAT_PORT:-47119}
pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill -TERM "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$out"

# A calm background instead of the bare server's black.
convert -size 1280x1024 xc:'#5b7b94' png:- | display -window root - 2>/dev/null &
pids+=($!)
sleep 1

# The first visible window of a process whose title matches, once it is there.
find_window() {
    local pid=$1 title=$2 id
    for _ in $(seq 1 150); do
        id=$(xdotool search --all --onlyvisible --pid "$pid" --name "$title" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    echo "screenshots: no window \"$title\" of process $pid" >&2
    return 1
}

# Prints "x y width height" of a window with its frame, in screen coordinates.
frame_geometry() {
    local id=$1 x y width height left=0 right=0 top=0 bottom=0 extents
    read -r x y width height < <(xwininfo -id "$id" | awk '
        /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, w, h }')
    extents=$(xprop -id "$id" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
    [ -n "$extents" ] && IFS=, read -r left right top bottom <<<"$extents"
    echo "$((x - left)) $((y - top)) $((width + left + right)) $((height + top + bottom))"
}

# Saves the screen area "x y width height" as docs/screenshots/NAME.png, small.
shoot_area() {
    local name=$1 x=$2 y=$3 w=$4 h=$5
    import -window root -crop "${w}x${h}+${x}+${y}" +repage -strip -define png:compression-level=9 \
        "$out/$name.png"
    echo "screenshots: $out/$name.png (${w}x${h})" >&2
}

shoot_window() {
    local name=$1 id=$2
    sleep 1 # let it finish drawing
    # shellcheck disable=SC2046
    shoot_area "$name" $(frame_geometry "$id")
}

# The smallest area that holds every visible window of a process, widened to the screen's right and
# bottom edges so that the panel and its tray show below the popups.
shoot_corner() {
    local name=$1 pid=$2 left=1280 top=1024 x y width height
    sleep 1.5 # the popups slide in
    for id in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        read -r x y width height < <(frame_geometry "$id")
        ((width < 40)) && continue # the tray icon
        ((x < left)) && left=$x
        ((y < top)) && top=$y
    done
    left=$((left - 12)) top=$((top - 12))
    shoot_area "$name" "$left" "$top" $((1280 - left)) $((1024 - top))
}

start() { # start NAME PROGRAM ARGS... (in the background, its pid in $started)
    local name=$1
    shift
    "$@" 2> >(sed -u "s/^/[$name] /" >&2) &
    started=$!
    pids+=("$started")
}

stop() {
    kill -TERM "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# ---- Reminders: the popups, the message window and the editor on the demo database ----------------
reminders="$work/reminders"
prepare_demo_reminders "$reminders"
cp "$bin"/VE_ita.dll "$bin"/VE_eng.dll "$reminders/program/"
# Italian texts, whatever the machine's locale.
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\software\\pelk software\\vestrel]\r\n"Locale"=dword:00000000\r\n\r\n' \
    >"$reminders/registry/HKEY_CURRENT_USER.reg"
reminders_env=(env VESTREL_PROGRAM_DIR="$reminders/program" VESTREL_REGISTRY_DIR="$reminders/registry")

start VERicorr "${reminders_env[@]}" "$bin/VERicorr" x
vericorr=$started
find_window "$vericorr" "" >/dev/null # the popups carry no title
sleep 3 # one popup after the other
shoot_corner reminder-popups "$vericorr"

# A click on the text of the lowest popup (the first reminder) opens its message window.
lowest=0
for id in $(xdotool search --onlyvisible --pid "$vericorr" 2>/dev/null); do
    read -r x y width height < <(frame_geometry "$id")
    if ((y > lowest)); then
        lowest=$y popup_x=$((x + width / 2)) popup_y=$((y + height * 45 / 100))
    fi
done
xdotool mousemove "$popup_x" "$popup_y" click 1
shoot_window reminder-message "$(find_window "$vericorr" "Benvenuti")"
stop "$vericorr"

start editor "${reminders_env[@]}" "$bin/VERicorr"
editor=$started
shoot_window reminders-editor "$(find_window "$editor" "ricorrenze")"
stop "$editor"

# ---- Chat: anna's window, bruno hidden in the tray with popups, and a third peer ----------------------
start chatserver "$bin/chatserver" --listen 127.0.0.1 --port "$port"
server=$started
sleep 0.5

# One client as the demo prepares it (settings, group "Ufficio", language libraries, registry store).
prepare_client() {
    prepare_demo_client "$work/$1" "$1" "$2" "$3" "$port" '"Check"="0"' '"Suono"="0"' '"Timer"=dword:0000003c'
}
client_env() {
    echo env VESTREL_PROGRAM_DIR="$work/$1/program" VESTREL_REGISTRY_DIR="$work/$1/registry" VESTREL_HOSTNAME="$2"
}

# A chat peer in a few lines of Perl: logs in as NICK from MACHINE, sends each "KEY|TEXT" argument as a
# message to routing key KEY (empty: everybody), one a second, then stays connected and reads.
chat_peer() {
    local nick=$1 machine=$2 converted=() message
    shift 2
    for message in "$@"; do converted+=("$(printf '%s' "$message" | iconv -f UTF-8 -t CP1252)"); done
    exec perl -MIO::Socket::INET -e '
        my ($port, $nick, $machine, @messages) = @ARGV;
        my $server = IO::Socket::INET->new(PeerAddr => "127.0.0.1", PeerPort => $port) or die "connect: $!\n";
        $server->autoflush(1);
        sub record { join "", map { my $t = substr($_, 0, 255); pack("C a255", length $t, $t) } @_ }
        print $server record("Login", $nick, $machine, $machine, "", "");
        for (@messages) {
            sleep 1;
            my ($to, $text) = split /\|/, $_, 2;
            print $server record("MESSAGE", $nick, $machine, $machine, $text, $to);
        }
        1 while read($server, my $buffer, 1536);
    ' "$port" "$nick" "$machine" "${converted[@]}"
}

prepare_client anna pc-anna 0
prepare_client bruno pc-bruno 1
start anna $(client_env anna pc-anna) "$bin/chatclient"
anna=$started
start bruno $(client_env bruno pc-bruno) "$bin/chatclient" x
bruno=$started
anna_window=$(find_window "$anna" "Chat")
sleep 2
start carla chat_peer carla pc-carla \
    "pc-anna|Riunione alle 10!" \
    "pc-bruno|Bruno, the new price list is in the shared folder." \
    "pc-bruno|Can you call the supplier before noon?" \
    "pc-anna|Mi mandi il verbale?"
carla=$started
sleep 5
xdotool windowactivate --sync "$anna_window"
xdotool type --delay 20 "Certo, arriva subito."
xdotool key Return
sleep 1
shoot_window chat-window "$anna_window"
shoot_corner chat-popups "$bruno"

xdotool windowactivate --sync "$anna_window"
xdotool key alt+f i
settings=$(find_window "$anna" "Impostazioni Client")
shoot_window chat-settings "$settings"
xdotool key Escape
sleep 0.5

xdotool windowactivate --sync "$anna_window"
xdotool key ctrl+g
groups=$(find_window "$anna" "Gestione Gruppi")
xdotool mousemove --window "$groups" 30 32 click 1
shoot_window chat-groups "$groups"
xdotool key alt+m
shoot_window chat-group-editor "$(find_window "$anna" "CreaGruppi")"
xdotool key Escape
sleep 0.5
xdotool key Escape

# The clients log out while the server still listens.
for pid in "$carla" "$bruno" "$anna" "$server"; do stop "$pid"; done

# ---- Version widgets, on the chat client's program file -----------------------------------------------
start versionpack-demo "$bin/versionpack-demo" "$bin/chatclient"
shoot_window version-widgets "$(find_window "$started" "Informazioni sulla versione")"

du -ch "$out"/*.png | tail -n 1 >&2
