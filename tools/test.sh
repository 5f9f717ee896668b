#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; exits non-zero on any
# failure. The fuzz targets are built with clang and each runs for a bounded number of inputs;
# every test runs under ASan+UBSan, and the threaded areas again under TSan; the ASan+UBSan
# build also compiles the program, its plug-ins, tools and benchmarks. On a machine too small
# for the sanitizer builds the plain build runs the tests instead. CTest's summary closes the
# output.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=$(nproc)

# Where the time goes, for whoever reads a slow run's output.
phase() { echo "== $1 (at ${SECONDS} s)"; }

bash "$root/tools/deps.sh"

# The sanitizer builds double the work, so a machine with fewer than 4 cores skips them unless
# PELLWORTH_SANITIZERS=1 asks.
sanitize=${PELLWORTH_SANITIZERS:-}
if [ -z "$sanitize" ]; then
    if [ "$jobs" -ge 4 ]; then sanitize=1; else sanitize=0; fi
fi

if [ "$sanitize" != 1 ]; then
    phase "build"
    bash "$root/tools/build.sh"
fi

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
status=0

# Every test runs in a network namespace of its own whose only interface is loopback, made
# multicast-capable: nothing a test sends can leave the machine, even by mistake. Without root
# a user namespace grants the right to one. Tests that make their own namespace nest inside.
isolated() {
    local unshare=(unshare -n)
    [ "$(id -u)" -eq 0 ] || unshare=(unshare -rn)
    "${unshare[@]}" -- bash -c '
        ip link set lo up && ip link set lo multicast on ||
            { echo "no loopback in the private network namespace: tests not run" >&2; exit 125; }
        exec "$@"' isolated "$@"
}

# Parsers of device, file and network input: a short libFuzzer run each.
phase "fuzz targets"
fuzz=$build-fuzz
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$fuzz" -G Ninja -DPELLWORTH_FUZZERS=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$fuzz" -j "$jobs"
(cd "$fuzz" && isolated ctest --output-on-failure -j "$jobs" --no-tests=ignore) || status=1

if [ "$sanitize" = 1 ]; then
    # The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer. Line tables (-g1)
    # are all their reports need, and build faster than full debug information. Unoptimised,
    # as it compiles a fifth faster: its tests end well before the ThreadSanitizer build beside
    # them, so the build is what the run waits for.
    phase "ASan+UBSan build"
    asan=$build-asan
    BUILD_DIR=$asan BUILD_TYPE=Debug bash "$root/tools/build.sh" -DCMAKE_CXX_FLAGS=-O0 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
        -DPELLWORTH_SANITIZE=address,undefined

    # The whole suite runs from the ASan build while the ThreadSanitizer build compiles beside
    # it: most of a test's time is spent waiting on devices, timers and the network, so the two
    # overlap well. Its output is held back and printed last, so CTest's summary of the whole
    # suite closes the output.
    asanlog=$(mktemp)
    (cd "$asan" && ASAN_OPTIONS=detect_leaks=0 isolated ctest --output-on-failure -j "$jobs" \
        >"$asanlog" 2>&1) &
    asanpid=$!

    # Every threaded area under ThreadSanitizer: the discovery threads, the USB layer and its
    # recipients, the device notifiers and updater threads of the plug-ins, and the web-view
    # transports' notifier and completion threads.
    phase "TSan build, ASan+UBSan tests beside it"
    tsan=$build-tsan
    threaded='^(discovery|usb|recorder|deck|webview)_'
    cmake -S "$root" -B "$tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
        -DPELLWORTH_SANITIZE=thread >/dev/null
    targets=$(cd "$tsan" && ctest -N -R "$threaded" | sed -n 's/^ *Test *#[0-9]*: *//p')
    cmake --build "$tsan" -j "$jobs" --target $targets || status=1
    phase "TSan tests"
    (cd "$tsan" && isolated ctest --output-on-failure -j "$jobs" -R "$threaded") || status=1
    phase "waiting for the ASan+UBSan tests"

    wait "$asanpid" || status=1
    phase "done"
    cat "$asanlog"
    rm -f "$asanlog"
else
    echo "Sanitizer builds skipped on this $jobs-core machine (PELLWORTH_SANITIZERS=1 runs them)."
    (cd "$build" && isolated ctest --output-on-failure -j "$jobs") || status=1
fi

exit $status
