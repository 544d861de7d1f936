#!/usr/bin/env bash
# Builds and starts the program, on a fresh Debian 12 machine too (installs what is missing).
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVOLIN_BUILD_TESTS=OFF
cmake --build build-run -j "$(nproc 2>/dev/null || echo 2)" --target tarvolin

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running under Xvfb (the window is not visible)."
    exec xvfb-run -a build-run/ui/Tarvolin
fi
exec build-run/ui/Tarvolin
