#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in build-fuzz/ and runs each one.
#   bash tools/fuzz.sh                      every target, FUZZ_RUNS runs each (default 20000; the
#                                           unpacker, which writes files, a quarter of that)
#   FUZZ_SECONDS=300 bash tools/fuzz.sh     every target for five minutes instead
#   bash tools/fuzz.sh file_naming          only the named targets
# Each target starts from its committed seeds in fuzz/corpus/<name>/ and keeps what it finds in
# build-fuzz/corpus/<name>/; crashes are written to build-fuzz/crashes/ and fail the script.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$dir" -G Ninja -DTARVOLIN_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "${launcher[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)"

targets=("$@")
if ((${#targets[@]} == 0)); then
    for source in fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/crashes"
for name in "${targets[@]}"; do
    mkdir -p "$dir/corpus/$name"
    log="$dir/fuzz_$name.log"
    if [ -n "${FUZZ_SECONDS:-}" ]; then
        limit=(-max_total_time="$FUZZ_SECONDS")
    elif [ "$name" = update_unpacker ]; then
        limit=(-runs=$((${FUZZ_RUNS:-20000} / 4)))
    else
        limit=(-runs="${FUZZ_RUNS:-20000}")
    fi
    if ! "$dir/fuzz/fuzz_$name" "${limit[@]}" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$dir/crashes/${name}-" "$dir/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1; then
        tail -n 40 "$log"
        echo "fuzz_$name: FAULT (input kept in $dir/crashes/)" >&2
        exit 1
    fi
    # The last status line: executions and time.
    stats=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    echo "fuzz_$name: ${stats:-no statistics}"
done
