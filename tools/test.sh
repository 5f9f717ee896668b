#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; exits non-zero on any
# failure. The fuzz targets are built with clang and each runs for a bounded number of inputs;
# the suite runs under ASan+UBSan; the plain unit and end-to-end tests run last, so CTest's
# summary closes the output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=$(nproc)

bash "$root/tools/deps.sh"
bash "$root/tools/build.sh"

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
status=0

# Parsers of device, file and network input: a short libFuzzer run each.
fuzz=$build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$fuzz" -G Ninja -DPELLWORTH_FUZZERS=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$fuzz" -j "$jobs"
(cd "$fuzz" && ctest --output-on-failure -j "$jobs" --no-tests=ignore) || status=1

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, and the discovery
# threads under ThreadSanitizer. It doubles the build, so a machine with fewer than 4 cores skips
# it unless PELLWORTH_SANITIZERS=1 asks.
sanitize=${PELLWORTH_SANITIZERS:-}
if [ -z "$sanitize" ]; then
    if [ "$jobs" -ge 4 ]; then sanitize=1; else sanitize=0; fi
fi
if [ "$sanitize" = 1 ]; then
    asan=$build-asan
    BUILD_DIR=$asan BUILD_TYPE=Debug bash "$root/tools/build.sh" -DCMAKE_CXX_FLAGS=-O1 \
        -DPELLWORTH_SANITIZE=address,undefined
    (cd "$asan" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j "$jobs") || status=1

    # The discovery library's and the USB layer's threads under ThreadSanitizer. (The USB
    # recipients mark their hand-over through Qt's event queue, whose locks Debian's Qt hides
    # from the sanitizer.)
    tsan=$build-tsan
    threaded='^(discovery|usb|recorder)_'
    cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
        -DPELLWORTH_SANITIZE=thread >/dev/null
    targets=$(cd "$tsan" && ctest -N -R "$threaded" | sed -n 's/^ *Test *#[0-9]*: *//p')
    cmake --build "$tsan" -j "$jobs" --target $targets
    (cd "$tsan" && ctest --output-on-failure -j "$jobs" -R "$threaded") || status=1
else
    echo "Sanitizer pass skipped on this $jobs-core machine (PELLWORTH_SANITIZERS=1 runs it)."
fi

(cd "$build" && ctest --output-on-failure -j "$jobs") || status=1

exit $status
