#!/usr/bin/env bash
# The whole program on one machine, from a fresh Debian 12 install to documents arriving in a folder:
#   1. installs what is missing and builds the local cloud,
#   2. starts the local cloud (backend + product web site) on a fixed port with its data in a demo folder,
#   3. builds the program with that cloud's address, key and certificate authority compiled in,
#   4. starts it with a settings profile of its own (your own profile and secret store stay untouched),
#      in a real window when there is a display and under Xvfb otherwise,
#   5. reads the pairing code from a screenshot of the program's window with a QR decoder, as a phone
#      would (the local cloud's database only when that fails), pairs a stand-in phone and sends a PDF
#      and a JPEG,
#   6. tells you where they landed, and keeps running until you press Ctrl-C (or quit the program).
#
#   TARVOLIN_DEMO_DIR   where the demo keeps everything (default build-run/demo)
#   TARVOLIN_DEMO_PORT  the local cloud's port (default 54329); fixed, so the compiled-in values stay valid
#   TARVOLIN_BUILD_DIR  the build folder (default build-run); JOBS  parallel build jobs (default: all cores)
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

port="${TARVOLIN_DEMO_PORT:-54329}"
build="${TARVOLIN_BUILD_DIR:-$repo/build-run}"
demo="${TARVOLIN_DEMO_DIR:-$build/demo}"
# The settings file below names the target folder by its raw bytes; a path made of these characters
# needs no escaping there.
if [[ ! "$demo" =~ ^[A-Za-z0-9/._+-]+$ ]]; then
    demo="${TMPDIR:-/tmp}/tarvolin-demo-$(id -u)"
fi
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

say() { printf '\n==> %s\n' "$*"; }
fail() { printf '\nrun.sh: %s\n' "$*" >&2; exit 1; }

cloud_pid="" app_pid="" xvfb_pid=""
stop() {
    local pid
    for pid in "$app_pid" "$xvfb_pid" "$cloud_pid"; do
        [ -n "$pid" ] || continue
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "$app_pid" "$xvfb_pid" "$cloud_pid"; do
        [ -n "$pid" ] || continue
        # Give each a few seconds to finish cleanly, then insist.
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    app_pid="" xvfb_pid="" cloud_pid=""
}
trap stop EXIT
trap 'echo; echo "Stopping…"; exit 130' INT
trap 'exit 143' TERM

# Waits up to $1 seconds for the command in the remaining arguments to succeed.
wait_for() {
    local seconds=$1
    shift
    for _ in $(seq $((seconds * 5))); do
        "$@" && return 0
        sleep 0.2
    done
    return 1
}

alive() { kill -0 "$1" 2>/dev/null; }

say "Installing missing packages (if any)"
bash tools/install-deps.sh

say "Building the local cloud"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOLIN_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target localcloud
localcloud="$build/tools/localcloud/localcloud"

say "Starting the local cloud on 127.0.0.1:$port (data in $demo/cloud)"
mkdir -p "$demo/cloud" "$demo/config/Kavrendal" "$demo/home"
: >"$demo/cloud.out"
"$localcloud" serve --data "$demo/cloud" --port "$port" >"$demo/cloud.out" 2>"$demo/cloud.log" &
cloud_pid=$!
ready() { ! alive "$cloud_pid" || grep -q '"baseURL"' "$demo/cloud.out"; }
wait_for 30 ready || fail "the local cloud did not start; see $demo/cloud.log"
alive "$cloud_pid" || fail "the local cloud stopped (is port $port taken? TARVOLIN_DEMO_PORT picks another); see $demo/cloud.log"
field() { sed -n "s/.*\"$1\":\"\\([^\"]*\\)\".*/\\1/p" "$demo/cloud.out" | head -n 1; }
base_url=$(field baseURL)
ca_cert=$(field caCert)
anon_key=$(field anonKey)
site_url=$(field siteURL)
[ -n "$base_url" ] && [ -n "$ca_cert" ] && [ -n "$anon_key" ] || fail "unexpected answer from the local cloud: $(cat "$demo/cloud.out")"
echo "   backend $base_url, certificate authority $ca_cert"

say "Building Tarvolin Masaüstü for this cloud"
cmake -S . -B "$build" \
    -DTARVOLIN_SUPABASE_URL="$base_url" -DTARVOLIN_SUPABASE_ANON_KEY="$anon_key" \
    -DTARVOLIN_SITE_ORIGIN="$site_url" -DTARVOLIN_EXTRA_CA_CERT="$ca_cert" >/dev/null
cmake --build "$build" -j "$jobs" --target tarvolin
app="$build/ui/Tarvolin"

# A profile of its own: settings, login item and the default folder all live under the demo folder,
# and without a session bus the session stays in memory instead of your secret store.
target="$demo/home/Desktop/ROVEZADU/Gider"
mkdir -p "$target"
settings="$demo/config/Kavrendal/Tarvolin.conf"
if [ ! -f "$settings" ]; then
    # The remembered folder, so the first start does not stop at the folder chooser.
    printf '[General]\ntargetFolderBookmark=@ByteArray(%s)\n' "$target" >"$settings"
fi

# A runtime folder of its own too: the program runs once per runtime folder, and a Tarvolin of your own
# already running would otherwise take this start over (bring its own window forward and end this one).
mkdir -p "$demo/runtime"
chmod 700 "$demo/runtime"
env_for_app=(
    HOME="$demo/home"
    XDG_CONFIG_HOME="$demo/config"
    XDG_DATA_HOME="$demo/data"
    XDG_CACHE_HOME="$demo/cache"
    XDG_RUNTIME_DIR="$demo/runtime"
    DBUS_SESSION_BUS_ADDRESS=disabled:
    XAUTHORITY="${XAUTHORITY:-$HOME/.Xauthority}"
)
# The Wayland socket is named relative to the runtime folder; name it by its full path instead.
if [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${WAYLAND_DISPLAY#/}" = "$WAYLAND_DISPLAY" ]; then
    env_for_app+=(WAYLAND_DISPLAY="${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$WAYLAND_DISPLAY")
fi
# The X display the window is on, for the screenshot; none under Wayland.
screen_display=""
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    say "Starting Tarvolin Masaüstü in a window"
    [ -n "${WAYLAND_DISPLAY:-}" ] || screen_display=$DISPLAY
else
    say "No display found: starting Tarvolin Masaüstü under Xvfb (the window is not visible)"
    : >"$demo/xvfb.display"
    Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$demo/xvfb.display" 2>"$demo/xvfb.log" &
    xvfb_pid=$!
    wait_for 15 test -s "$demo/xvfb.display" || fail "Xvfb did not start; see $demo/xvfb.log"
    screen_display=":$(head -n 1 "$demo/xvfb.display")"
    env_for_app+=(DISPLAY="$screen_display" QT_QPA_PLATFORM=xcb)
fi
started_us=$(($(date +%s) * 1000000))
env "${env_for_app[@]}" "$app" >"$demo/app.log" 2>&1 &
app_pid=$!

say "Waiting for the pairing code the program shows"
# What a phone sees: the QR image in the window, read from a screenshot of the screen.
code_on_screen() {
    alive "$app_pid" || return 0
    import -display "$screen_display" -window root "$demo/screen.png" 2>/dev/null || return 1
    local text
    text=$(zbarimg --quiet --raw "$demo/screen.png" 2>/dev/null | head -n 1) || return 1
    [[ $text =~ [?\&]code=([A-Za-z0-9]+) ]] || return 1
    code=${BASH_REMATCH[1]}
}
# What the local cloud handed out last, for when no screenshot can be read.
latest_code() {
    alive "$app_pid" || return 0
    code=$(sqlite3 -cmd ".timeout 2000" "$demo/cloud/localcloud.sqlite3" \
        "SELECT code FROM pairing_codes WHERE created_us >= $started_us ORDER BY created_us DESC LIMIT 1;" \
        2>/dev/null || true)
    [ -n "$code" ]
}
code=""
if [ -z "$screen_display" ]; then
    why="no X display to take a screenshot of"
elif ! command -v import >/dev/null || ! command -v zbarimg >/dev/null; then
    why="import (imagemagick) or zbarimg (zbar-tools) is missing"
else
    why="no QR code could be read from the screen within 60 seconds (is the window covered?)"
    wait_for 60 code_on_screen || code=""
fi
if [ -n "$code" ]; then
    echo "   code $code, read from the QR image on the screen (screenshot: $demo/screen.png)"
else
    echo "   $why: taking the code from the local cloud's database instead"
    wait_for 60 latest_code || fail "no pairing code after 60 seconds; see $demo/app.log and $demo/cloud.log"
    echo "   code $code, read from the local cloud's database"
fi
alive "$app_pid" || fail "Tarvolin Masaüstü stopped; see $demo/app.log"

say "Pairing the phone and sending two documents, as the phone would"
phone=("$localcloud" phone --url "$base_url" --ca "$ca_cert")
"${phone[@]}" pair "$code" >/dev/null
sent=()
for file in tools/demo/fatura-2026-0042.pdf tools/demo/fis-kirtasiye.jpg; do
    "${phone[@]}" send --code "$code" "$file" >/dev/null
    sent+=("$(basename "$file")")
    echo "   sent $(basename "$file")"
done

say "Documents land in: $target"
# The program marks each queue row as downloaded once its file is in place.
arrived() {
    local finished
    finished=$(sqlite3 -cmd ".timeout 2000" "$demo/cloud/localcloud.sqlite3" \
        "SELECT count(*) FROM transfer_items WHERE created_us >= $started_us AND status = 'downloaded';" \
        2>/dev/null || echo 0)
    [ "${finished:-0}" -ge "${#sent[@]}" ]
}
if wait_for 60 arrived; then
    echo "   both arrived (a document already in the folder with the same bytes is not saved twice):"
    ls -l "$target"
else
    echo "   not there yet; the program checks every 20 seconds (its log: $demo/app.log)"
fi

echo
echo "Tarvolin Masaüstü is running. Send more with:"
echo "   ${phone[*]} send --code $code FILE"
echo "Press Ctrl-C to stop everything."
wait "$app_pid" || true
app_pid=""
