#!/usr/bin/env bash
# Runs the checks of .clang-tidy over the program's own sources (not the tests, the benchmarks or the
# local cloud) and fails on any finding. Needs a configured build folder for its compile commands:
#   bash tools/tidy.sh [build-folder]      (default build-test; also: cmake --build <folder> -t tidy)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-test}
[ -f "$build/compile_commands.json" ] || {
    echo "No $build/compile_commands.json: configure the build first (bash tools/test.sh does)" >&2
    exit 2
}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy) || {
    echo "clang-tidy is missing: run bash tools/install-deps.sh" >&2
    exit 2
}

# clang does not know GCC's -fcoroutines (it has coroutines in C++20 anyway), so it reads a copy of the
# compile commands without it.
db=$(mktemp -d)
trap 'rm -rf "$db"' EXIT
sed 's/ -fcoroutines\b//g' "$build/compile_commands.json" >"$db/compile_commands.json"

dirs='app|cloud|core|pairing|platform|transfer|ui|update'
mapfile -t files < <(git ls-files -- '*.cpp' | grep -E "^($dirs)/")
printf '%s\n' "${files[@]}" |
    xargs -P "$(nproc 2>/dev/null || echo 2)" -n 4 \
        "$tidy" -p "$db" --quiet --warnings-as-errors='*' --header-filter="/($dirs)/[^/]*(/[^/]*)?\.h$" 2>&1 |
    { grep -vE '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter' || true; } |
    tee "$db/out"
if grep -qE 'warning:|error:' "$db/out"; then
    echo "clang-tidy found the above." >&2
    exit 1
fi
echo "clang-tidy: clean (${#files[@]} files)"
