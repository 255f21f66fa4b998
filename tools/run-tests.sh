#!/usr/bin/env bash
# Installs what is missing; builds, side by side, the Debian package (as root, who can test
# it) and everything with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, and
# on the processor time left over the Windows program and its installer where a Qt for Windows
# is given (KIV3_WINDOWS_QT: its prefix or archive); runs every test (the Debian package's,
# and the Windows build's on Wine once it is built, among them), and beside them runs each
# fuzzing harness for 10 s.
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
# The Debian package builds beside the sanitized build, filling its idle moments
# (configuring, linking); the package's test then finds its build done. The Windows program
# builds only on processor time that nothing else wants: the tests leave it little, so most
# of it builds after them, and its tests run once it is built. A failed build's log is shown.
# start_build LOG COMMAND...: runs COMMAND in the background; its process id is in BUILD_PID.
start_build() {
    local log="$1"
    shift
    mkdir -p "$(dirname "$log")"
    "$@" >"$log" 2>&1 &
    BUILD_PID=$!
}
# await_build PID LOG
await_build() {
    wait "$1" && return 0
    tail -n 60 "$2"
    echo "A build failed (whole log: $2)" >&2
    return 1
}
# when_idle COMMAND...: runs COMMAND, and all it starts, under SCHED_IDLE where allowed.
when_idle() {
    chrt --idle -p 0 "$BASHPID" >/dev/null || echo "chrt --idle refused: at normal priority"
    "$@"
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
    start_build "$WINDOWS_BUILD/build.log" when_idle build_windows
    WINDOWS_BUILD_PID=$BUILD_PID
else
    echo "Windows tests skipped: no Qt for Windows given (KIV3_WINDOWS_QT: its prefix or archive)"
fi
# The package's test installs it, so only root builds it here.
PACKAGE_BUILD_PID=""
if [ "$(id -u)" -eq 0 ]; then
    start_build "$ROOT/build-package/build.log" "$ROOT/tools/build-package.sh"
    PACKAGE_BUILD_PID=$BUILD_PID
fi
BUILD_DIR="$ROOT/build-tests"
# The benchmarks are built by tools/run-benchmarks.sh, in release mode; no test needs them.
# clang compiles the sanitized build in half the time g++ takes, and lld links it; the Debian
# package and the Windows program, built with g++, are tested too. A folder configured before
# keeps its compiler.
CC=clang CXX=clang++ configure_and_build "$BUILD_DIR" Debug -DBUILD_TESTING=ON \
    -DKIV3_SANITIZE=address,undefined -DKIV3_BENCHMARKS=OFF -DKIV3_WINDOWS_BUILD="$WINDOWS_BUILD" \
    -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld
[ -z "$PACKAGE_BUILD_PID" ] || await_build "$PACKAGE_BUILD_PID" "$ROOT/build-package/build.log"
# Most tests spend their time waiting on sockets, spoolers and browsers: two at a time per core,
# and the fuzzers build and run beside them, their report shown once the tests are done.
mkdir -p "$ROOT/build-fuzz"
FUZZ_LOG="$ROOT/build-fuzz/run-fuzz.log"
"$ROOT/tools/run-fuzz.sh" 10 >"$FUZZ_LOG" 2>&1 &
FUZZ_PID=$!
TESTS_STATUS=0
# run_ctest [ctest arguments...]: a failure is kept in TESTS_STATUS.
run_ctest() {
    (cd "$BUILD_DIR" && ctest --output-on-failure "$@") || TESTS_STATUS=$?
}
run_ctest -j "$((2 * $(nproc)))" -LE windows
if [ -n "$WINDOWS_BUILD" ]; then
    if await_build "$WINDOWS_BUILD_PID" "$WINDOWS_BUILD/build.log"; then
        run_ctest -j "$(nproc)" -L windows
    else
        TESTS_STATUS=1
    fi
fi
FUZZ_STATUS=0
wait "$FUZZ_PID" || FUZZ_STATUS=$?
cat "$FUZZ_LOG"
[ "$TESTS_STATUS" -eq 0 ] && [ "$FUZZ_STATUS" -eq 0 ]
