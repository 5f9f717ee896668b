#!/usr/bin/env bash
# Configures and builds the program, its plug-ins and tests into ./build (or $BUILD_DIR);
# BUILD_TARGETS narrows what is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build" -j "$(nproc)" ${BUILD_TARGETS:+--target $BUILD_TARGETS}
