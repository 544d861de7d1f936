#!/usr/bin/env bash
# Packs an application folder into the update archive and writes the manifest that announces it.
#   bash tools/package/make-update.sh <Tarvolin.app> <output-dir> <https-base-address>
# Writes <output-dir>/Tarvolin-<version>.zip (Tarvolin.app at its top level, links kept as links) and
# <output-dir>/macos.json, to be published as <site>/updates/macos.json, naming
# <https-base-address>/Tarvolin-<version>.zip and the archive's SHA-256.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 <Tarvolin.app> <output-dir> <https-base-address>" >&2
    exit 2
fi
bundle=$1
out=$2
base=${3%/}

if [ "$(basename "$bundle")" != Tarvolin.app ]; then
    echo "error: the folder must be named Tarvolin.app" >&2
    exit 1
fi
if [ ! -x "$bundle/Contents/MacOS/Tarvolin" ]; then
    echo "error: $bundle/Contents/MacOS/Tarvolin is missing or not executable" >&2
    exit 1
fi
version=$(head -n 1 "$bundle/Contents/version" 2>/dev/null | tr -d '[:space:]' || true)
# Both values go into JSON unescaped, so only plain characters are accepted.
if ! [[ $version =~ ^[0-9A-Za-z.+_-]+$ ]]; then
    echo "error: $bundle/Contents/version holds no usable version" >&2
    exit 1
fi
if ! [[ $base =~ ^https://[A-Za-z0-9.:/_~%+-]+$ ]]; then
    echo "error: the base address must be a plain https address" >&2
    exit 1
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
name="Tarvolin-$version.zip"
archive="$out/$name"
partial="$archive.partial"
rm -f "$partial"
# zip stores names relative to the working directory: change it in a subshell only.
(cd "$(dirname "$bundle")" && zip -q -r -y -X "$partial" Tarvolin.app)
mv -f "$partial" "$archive"

digest=$(sha256sum "$archive" | cut -d ' ' -f 1)
manifest="$out/macos.json"
printf '{\n  "version": "%s",\n  "macUniversalUrl": "%s/%s",\n  "macUniversalSha256": "%s"\n}\n' \
    "$version" "$base" "$name" "$digest" > "$manifest.partial"
mv -f "$manifest.partial" "$manifest"

echo "archive:  $archive"
echo "manifest: $manifest"
