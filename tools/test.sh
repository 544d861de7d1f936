#!/usr/bin/env bash
# Builds the program and runs every test, on a fresh Debian 12 machine too (installs what is missing).
#   bash tools/test.sh            warnings as errors, Debug build in build-test/
#   SANITIZE=1 bash tools/test.sh AddressSanitizer + UBSan build in build-asan/
#   FUZZ=0 bash tools/test.sh     without the short libFuzzer runs (tools/fuzz.sh) at the end
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
# Formatting drift fails the run before anything is built, naming the files.
bash tools/format.sh --check

if [ "${SANITIZE:-0}" = 1 ]; then
    dir=build-asan
    extra=(-DTARVOLIN_SANITIZE=ON)
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    dir=build-test
    extra=()
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVOLIN_WERROR=ON -DTARVOLIN_BUILD_BENCH=ON "${extra[@]}"
cmake --build "$dir" -j "$jobs"
ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300

# The fuzzers build with clang in their own folder; the sanitizer run leaves them to the plain one.
if [ "${FUZZ:-1}" = 1 ] && [ "${SANITIZE:-0}" != 1 ]; then
    bash tools/fuzz.sh
fi
