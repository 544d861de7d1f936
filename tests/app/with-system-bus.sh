#!/bin/sh
# Runs a test program with a private bus in the place of the system bus, so that the test can stand
# in for a system service (logind) without touching the real one. The session bus stays off.
set -eu
exec dbus-run-session -- sh -c '
    export DBUS_SYSTEM_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" DBUS_SESSION_BUS_ADDRESS=disabled:
    exec "$@"' sh "$@"
