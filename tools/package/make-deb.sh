#!/usr/bin/env bash
# Builds the Debian package: a Release build in its own folder with the Linux install layout, packed
# by CPack, which also works out the package's dependencies (dpkg-shlibdeps).
#   bash tools/package/make-deb.sh [build-dir]      (default build-deb)
# Prints the path of the .deb; install it with  sudo apt install ./<that path>
# Extra arguments for the configure step (compiled-in cloud values, say) go in CMAKE_ARGS; JOBS sets the
# parallel build jobs (default: all cores).
set -euo pipefail

repo="$(cd "$(dirname "$0")/../.." && pwd)"
build=${1:-$repo/build-deb}
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "error: $tool is missing (bash tools/install-deps.sh installs it)" >&2; exit 1; }
done

case " ${CMAKE_ARGS:-} " in
*TARVOLIN_EXTRA_CA_CERT*) echo "error: a package trusts the system's authorities only; drop TARVOLIN_EXTRA_CA_CERT from CMAKE_ARGS" >&2; exit 1 ;;
esac
# The test-only values are named after CMAKE_ARGS, so a reused build folder (one the demo or the
# tests configured) cannot carry an extra authority or the sanitizers into the package.
# shellcheck disable=SC2086  # CMAKE_ARGS is a list of words on purpose
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVOLIN_INSTALL_LAYOUT=linux \
    -DTARVOLIN_BUILD_TESTS=OFF -DTARVOLIN_BUILD_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    ${CMAKE_ARGS:-} -DTARVOLIN_EXTRA_CA_CERT= -DTARVOLIN_SANITIZE=OFF -DTARVOLIN_FUZZ=OFF >/dev/null
grep -qx 'TARVOLIN_EXTRA_CA_CERT:FILEPATH=' "$build/CMakeCache.txt" \
    || { echo "error: $build still names an extra authority" >&2; exit 1; }
cmake --build "$build" -j "$jobs" --target tarvolin
build=$(cd "$build" && pwd)
rm -f "$build"/tarvolin_*.deb
(cd "$build" && cpack -G DEB >/dev/null)

deb=$(ls "$build"/tarvolin_*.deb)
dpkg-deb --info "$deb" >/dev/null
printf '%s\n' "$deb"
