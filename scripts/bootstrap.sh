#!/usr/bin/env bash
# Sets up a Debian 12 machine for Tolv-Archiver, builds it, and then either
# runs the application ("run") or the whole test suite ("test"). Safe to run
# again: it installs only what is missing and rebuilds incrementally.
set -euo pipefail

usage() { echo "usage: $0 run [application arguments...] | test" >&2; exit 2; }
[ $# -ge 1 ] || usage
mode=$1; shift

top=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLV_BUILD_DIR:-$top/build}

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libplist-dev libplist++-dev libssl-dev
          bfs rsync openssh-server openssh-client faketime strace dosfstools fusefat libfuse3-dev xvfb xauth dbus-daemon desktop-file-utils appstream man-db libgtest-dev libgmock-dev libbenchmark-dev)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_all() {
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLV_BUILD_TESTS=ON
    cmake --build "$build" -j"$(nproc)"
}

install_missing
build_all

case "$mode" in
run)
    app="$build/Tolv-Archiver.app/Contents/MacOS/Tolv-Archiver"
    exec "$app" "$@"
    ;;
test)
    # Tests drive widgets on Qt's offscreen platform; nothing needs a display.
    export QT_QPA_PLATFORM=offscreen
    cd "$build"
    exec ctest --output-on-failure -j"$(nproc)" --timeout 600
    ;;
*)
    usage
    ;;
esac
