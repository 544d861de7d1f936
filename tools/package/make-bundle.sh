#!/usr/bin/env bash
# Installs a build as the relocatable application folder that the self-updater swaps.
#   bash tools/package/make-bundle.sh <build-dir> <output-dir>
# Leaves <output-dir>/Tarvolin.app (executable at Contents/MacOS/Tarvolin, version at Contents/version)
# and prints its path.
set -euo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 <build-dir> <output-dir>" >&2
    exit 2
fi
build=$1
out=$2

cmake --build "$build" --target tarvolin
mkdir -p "$out"
out=$(cd "$out" && pwd)
# A stale folder would keep files the new build no longer has.
rm -rf "$out/Tarvolin.app"
cmake --install "$build" --prefix "$out"

bundle="$out/Tarvolin.app"
if [ ! -x "$bundle/Contents/MacOS/Tarvolin" ] || [ ! -s "$bundle/Contents/version" ]; then
    echo "error: $bundle is incomplete" >&2
    exit 1
fi
printf '%s\n' "$bundle"
