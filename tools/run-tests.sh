#!/usr/bin/env bash
# Installs what is missing; builds, side by side, the Windows program and its installer where a
# Qt for Windows is given (KIV3_WINDOWS_QT: its prefix or archive), the Debian package (as root,
# who can test it), and everything with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer; runs every test (the Debian package's, and the Windows build's
# on Wine, among them), and beside them runs each fuzzing harness for 10 s.
# --long adds the long load run: 1,000 clients sending 100 version queries each.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

for argument in "$@"; do
    case "$argument" in
        --long) export KIV3_LONG_LOAD=1 ;;
        *) echo "usage: $0 [--long]" >&2; exit 2 ;;
    esac
done

ensure_packages $BUILD_PACKAGES $SANITIZED_BUILD_PACKAGES $TEST_PACKAGES $PACKAGE_TEST_PACKAGES \
    $FUZZ_PACKAGES
ensure_npm
# The Windows program and the Debian package build beside the sanitized build, each filling
# the others' idle moments (configuring, linking, making the installer); the package's test
# then finds its build done. A failed build's log is shown.
BUILD_PIDS=()
BUILD_LOGS=()
# start_build LOG COMMAND...
start_build() {
    local log="$1"
    shift
    mkdir -p "$(dirname "$log")"
    "$@" >"$log" 2>&1 &
    BUILD_PIDS+=($!)
    BUILD_LOGS+=("$log")
}
await_builds() {
    local i failed=0
    for i in "${!BUILD_PIDS[@]}"; do
        wait "${BUILD_PIDS[$i]}" && continue
        tail -n 60 "${BUILD_LOGS[$i]}"
        echo "A build failed (whole log: ${BUILD_LOGS[$i]})" >&2
        failed=1
    done
    return "$failed"
}
# Signed with a throwaway certificate, which the desk test verifies the signatures with; its
# installer is compressed quickly, as only the tests install it.
build_windows() {
    local signing="$ROOT/build-windows/test-signing"
    "$ROOT/tests/windows/test-signing-certificate.sh" "$signing"
    "$ROOT/tools/build-windows.sh" --qt "$KIV3_WINDOWS_QT" --tests --quick-installer \
        --sign "$signing/cert.pem" "$signing/key.pem"
}

WINDOWS_BUILD=""
if [ -n "${KIV3_WINDOWS_QT:-}" ]; then
    ensure_i386_architecture
    # Wine's X11 driver, GnuTLS and 32-bit graphics libraries come as its recommendations.
    ensure_packages --with-recommends $WINDOWS_TEST_PACKAGES
    WINDOWS_BUILD="$ROOT/build-windows"
    start_build "$WINDOWS_BUILD/build.log" build_windows
else
    echo "Windows tests skipped: no Qt for Windows given (KIV3_WINDOWS_QT: its prefix or archive)"
fi
# The package's test installs it, so only root builds it here.
if [ "$(id -u)" -eq 0 ]; then
    start_build "$ROOT/build-package/build.log" "$ROOT/tools/build-package.sh"
fi
BUILD_DIR="$ROOT/build-tests"
# The benchmarks are built by tools/run-benchmarks.sh, in release mode; no test needs them.
# clang compiles the sanitized build in half the time g++ takes, and lld links it; the Debian
# package and the Windows program, built with g++, are tested too. A folder configured before
# keeps its compiler.
CC=clang CXX=clang++ configure_and_build "$BUILD_DIR" Debug -DBUILD_TESTING=ON \
    -DKIV3_SANITIZE=address,undefined -DKIV3_BENCHMARKS=OFF -DKIV3_WINDOWS_BUILD="$WINDOWS_BUILD" \
    -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld
await_builds
# Most tests spend their time waiting on sockets, spoolers and browsers: two at a time per core,
# and the fuzzers build and run beside them, their report shown once the tests are done.
mkdir -p "$ROOT/build-fuzz"
FUZZ_LOG="$ROOT/build-fuzz/run-fuzz.log"
"$ROOT/tools/run-fuzz.sh" 10 >"$FUZZ_LOG" 2>&1 &
FUZZ_PID=$!
TESTS_STATUS=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$((2 * $(nproc)))") || TESTS_STATUS=$?
FUZZ_STATUS=0
wait "$FUZZ_PID" || FUZZ_STATUS=$?
cat "$FUZZ_LOG"
[ "$TESTS_STATUS" -eq 0 ] && [ "$FUZZ_STATUS" -eq 0 ]
