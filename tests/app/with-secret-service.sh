#!/bin/sh
# Runs a test program against a private Secret Service: its own session bus, and a keyring daemon
# unlocked with an empty password in a throw-away home folder, so the user's keyring is never touched.
set -eu
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
       XDG_RUNTIME_DIR="$home/run" TARVOLIN_PRIVATE_KEYRING=1
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS
exec dbus-run-session -- sh -c '
    printf "\n" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
    exec "$@"' sh "$@"
