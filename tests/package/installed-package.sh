#!/usr/bin/env bash
# Builds the Debian package from this build folder, unpacks it into a throw-away root and checks what a
# user would get: the layout, the menu entry, the metainfo, and a program that starts and leaves its
# updates to the package manager.   $1 build dir, $2 desktop id. Exit 77: tools missing (skipped).
set -euo pipefail
build=$1 id=$2
here=$(cd "$(dirname "$0")" && pwd)
for tool in cpack dpkg-deb dpkg-shlibdeps python3; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (tools/install-deps.sh)"; exit 77; }
done

work=$(mktemp -d)
pids=()
finish() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap finish EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack -G DEB -B "$work/out" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/tarvolin_*_*.deb)
echo "package $(basename "$deb")"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6core6' || fail "no computed dependencies: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -qw 'libarchive13' || fail "no dependency on the unpacker's library: $(dpkg-deb -f "$deb" Depends)"

root=$work/root
dpkg -x "$deb" "$root"
program=$root/usr/lib/tarvolin/Tarvolin
entry=$root/usr/share/applications/$id.desktop
metainfo=$root/usr/share/metainfo/$id.metainfo.xml
test -x "$program" || fail "no program at /usr/lib/tarvolin/Tarvolin"
test -f "$root/usr/lib/tarvolin/package-managed" || fail "no package-managed marker"
test "$(readlink "$root/usr/bin/tarvolin")" = ../lib/tarvolin/Tarvolin || fail "/usr/bin/tarvolin is not the relative link"
test -f "$root/usr/share/icons/hicolor/scalable/apps/tarvolin.svg" || fail "no icon"
test -f "$metainfo" || fail "no metainfo"
grep -qx 'Exec="/usr/bin/tarvolin"' "$entry" || fail "menu entry does not start /usr/bin/tarvolin: $(grep Exec "$entry")"
strays=$(cd "$root" && find . \( -name '*.app' -print \) -o -path ./usr/lib/tarvolin -prune -o -path './usr/lib/*' -print)
test -z "$strays" || fail "unexpected files: $strays"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry"; else echo "desktop-file-validate missing: entry not validated"; fi
if command -v appstreamcli >/dev/null; then appstreamcli validate --no-net "$metainfo"; else echo "appstreamcli missing: metainfo not validated"; fi

# Runs the unpacked program in a profile of its own, its connections sent through the logging proxy,
# until it has tried the backend twice: once preparing the connection, once in the first sync pass. The
# start-up update check runs between the two. $1: profile folder.
run_until_first_pass() {
    local profile=$1 port pid
    mkdir -p "$profile/home/Desktop/ROVEZADU/Gider" "$profile/config/Kavrendal" "$profile/runtime"
    chmod 700 "$profile/runtime"
    # A backend of the user's own that no one answers; the folder remembered, so no chooser opens.
    printf '[General]\nmanualCloudConfigurationEnabled=true\nsupabaseURL=https://backend.invalid\nsupabaseAnonKey=sb_publishable_packagetest0123456789abcdefghij\ntargetFolderBookmark=@ByteArray(%s)\n' \
        "$profile/home/Desktop/ROVEZADU/Gider" >"$profile/config/Kavrendal/Tarvolin.conf"
    python3 "$here/connect-log.py" >"$profile/connects" &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$profile/connects" ] && break; sleep 0.1; done
    port=$(head -n 1 "$profile/connects")
    env -i PATH="$PATH" HOME="$profile/home" XDG_CONFIG_HOME="$profile/config" XDG_DATA_HOME="$profile/data" \
        XDG_CACHE_HOME="$profile/cache" XDG_RUNTIME_DIR="$profile/runtime" DBUS_SESSION_BUS_ADDRESS=disabled: \
        QT_QPA_PLATFORM=offscreen https_proxy="http://127.0.0.1:$port" no_proxy= \
        "$root/usr/bin/tarvolin" >"$profile/program.log" 2>&1 &
    pid=$!
    pids+=("$pid")
    for _ in $(seq 600); do
        [ "$(grep -c '^CONNECT backend.invalid:443 ' "$profile/connects")" -ge 2 ] && break
        kill -0 "$pid" 2>/dev/null || { cat "$profile/program.log"; fail "the program stopped"; }
        sleep 0.1
    done
    [ "$(grep -c '^CONNECT backend.invalid:443 ' "$profile/connects")" -ge 2 ] \
        || { cat "$profile/connects" "$profile/program.log"; fail "no sync pass within 60 s"; }
    kill "$pid"
    wait "$pid" 2>/dev/null || true
}

# As installed: the check asks no web site and records no check.
run_until_first_pass "$work/packaged"
others=$(tail -n +2 "$work/packaged/connects" | grep -v '^CONNECT backend.invalid:443 ' || true)
test -z "$others" || fail "the packaged program reached out for an update: $others"
! grep -q '^lastUpdateCheck=' "$work/packaged/config/Kavrendal/Tarvolin.conf" || fail "the packaged program ran an update check"
test -f "$work/packaged/config/autostart/$id.desktop" || fail "no login entry $id.desktop"
grep -q '^Exec=.* --background$' "$work/packaged/config/autostart/$id.desktop" \
    || fail "the login entry opens the window: $(grep Exec "$work/packaged/config/autostart/$id.desktop")"

# Without the marker the same program does check, so the silence above is the marker's doing.
rm "$root/usr/lib/tarvolin/package-managed"
run_until_first_pass "$work/unmarked"
tail -n +2 "$work/unmarked/connects" | grep -v '^CONNECT backend.invalid:443 ' | grep -q '^CONNECT ' \
    || fail "without the marker no update check was seen: $(cat "$work/unmarked/connects")"
grep -q '^lastUpdateCheck=' "$work/unmarked/config/Kavrendal/Tarvolin.conf" || fail "without the marker no check was recorded"
echo "installed program leaves its updates to the package manager"
