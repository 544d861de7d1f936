#!/usr/bin/env bash
# Installs the build into a throw-away root and checks that the menu entry carries the same id as the
# desktop file name the program announces and its login entry: $1 build dir, $2 expected id.
set -euo pipefail
build=$1 id=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /opt/tarvolin >/dev/null
entry=$root/opt/tarvolin/share/applications/$id.desktop
test -f "$entry" || { echo "no menu entry $entry"; ls -R "$root/opt/tarvolin/share"; exit 1; }
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry"; fi
echo "menu entry $id.desktop"
