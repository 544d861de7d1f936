#!/usr/bin/env bash
# Keeps the C++ sources in the one format of .clang-format, with the clang-format that
# tools/install-deps.sh installs (Debian 12's).
#   bash tools/format.sh           reformats every tracked .cpp and .h in place
#   bash tools/format.sh --check   changes nothing; names each file that differs and fails
set -euo pipefail
cd "$(dirname "$0")/.."

format=$(command -v clang-format-14 || command -v clang-format) || {
    echo "clang-format is missing: run bash tools/install-deps.sh" >&2
    exit 2
}
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -t files < <(git ls-files -- '*.cpp' '*.h')
else
    mapfile -t files < <(find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||' | sort)
fi

if [ "${1:-}" != --check ]; then
    "$format" -i --style=file "${files[@]}"
    exit 0
fi

drift=()
for f in "${files[@]}"; do
    "$format" --style=file "$f" | cmp -s - "$f" || drift+=("$f")
done
if ((${#drift[@]})); then
    echo "These files are not formatted (bash tools/format.sh mends them):" >&2
    printf '  %s\n' "${drift[@]}" >&2
    exit 1
fi
