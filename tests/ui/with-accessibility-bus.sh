#!/bin/sh
# Runs a test program on a virtual display with a private session bus and the desktop's accessibility
# bus on it, as a screen reader's desktop has: only there does Qt tell assistive technology anything.
set -eu
exec xvfb-run -a -s "-screen 0 1280x1024x24" dbus-run-session -- sh -c '
    /usr/libexec/at-spi-bus-launcher --launch-immediately &
    launcher=$!
    trap "kill $launcher 2>/dev/null" EXIT
    QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$@"' sh "$@"
