#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build-fuzz/ and runs each for SECONDS_EACH
# seconds (default 60) on a scratch copy of its seed corpus. Exits non-zero if any harness
# found a crash, a leak, undefined behaviour or a hang; the input is kept under
# build-fuzz/fuzz-findings/<harness>/ and its path printed.
#
#     tools/run-fuzz.sh [SECONDS_EACH]
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

SECONDS_EACH="${1:-60}"
case "$SECONDS_EACH" in
'' | *[!0-9]* | 0)
    echo "usage: $0 [SECONDS_EACH]" >&2
    exit 2
    ;;
esac

HARNESSES="message page-document row-document"
BUILD_DIR="$ROOT/build-fuzz"
RUNS_DIR="$BUILD_DIR/fuzz-runs"
FINDINGS_DIR="$BUILD_DIR/fuzz-findings"

ensure_packages $BUILD_PACKAGES $FUZZ_PACKAGES

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Debug \
    -DBUILD_TESTING=OFF -DKIV3_BENCHMARKS=OFF -DKIV3_FUZZ=ON >/dev/null
# shellcheck disable=SC2046
build_in "$BUILD_DIR" --target $(printf 'fuzz-%s ' $HARNESSES)

# Qt draws offscreen; leaks below our code are suppressed; every report ends the run.
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$ROOT/fuzz/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
if [ -x /usr/bin/llvm-symbolizer-14 ]; then
    export ASAN_SYMBOLIZER_PATH=/usr/bin/llvm-symbolizer-14
fi

# The last value that libFuzzer's log gives for a field such as "cov:" or "stat::...:".
log_value() {
    grep -o "$2 *[0-9][0-9/a-zA-Z]*" "$1" | tail -n 1 | awk '{print $NF}'
}

# fuzz_one HARNESS: runs it and prints its line of the summary; fails if it found something.
fuzz_one() {
    local harness="$1" run="$RUNS_DIR/$1" findings="$FINDINGS_DIR/$1"
    rm -rf "$run" "$findings"
    mkdir -p "$run" "$findings"
    cp -r "$ROOT/fuzz/corpus/$harness" "$run/corpus"
    local status=0
    # A hang is an input that takes longer than -timeout; drawing one document takes well
    # under a second, so the limit leaves room for a loaded machine.
    (cd "$run" && "$BUILD_DIR/fuzz/fuzz-$harness" -max_total_time="$SECONDS_EACH" \
        -timeout=25 -rss_limit_mb=2048 -max_len=8192 -detect_leaks=1 \
        -dict="$ROOT/fuzz/$harness.dict" -artifact_prefix="$findings/" \
        -print_final_stats=1 corpus >fuzz.log 2>&1) || status=$?
    local result="no crash"
    if [ "$status" -ne 0 ]; then
        local input
        input="$(find "$findings" -type f | head -n 1)"
        result="FOUND (exit $status): ${input:-no input kept}"
    else
        rmdir "$findings"
    fi
    printf '%-20s %12s %8s %6s %7s %14s  %s\n' "fuzz-$harness" \
        "$(log_value "$run/fuzz.log" 'stat::number_of_executed_units:')" \
        "$(log_value "$run/fuzz.log" 'stat::average_exec_per_sec:')" \
        "$(log_value "$run/fuzz.log" 'cov:')" "$(log_value "$run/fuzz.log" 'ft:')" \
        "$(log_value "$run/fuzz.log" 'corp:')" "$result"
    return "$status"
}

echo "Fuzzing each harness for $SECONDS_EACH s:"
printf '%-20s %12s %8s %6s %7s %14s  %s\n' harness executions exec/s cov ft corpus result
failed=0
for harness in $HARNESSES; do
    fuzz_one "$harness" || failed=1
done
if [ "$failed" -ne 0 ]; then
    echo "Each run's report is in $RUNS_DIR/<harness>/fuzz.log. Replay an input with"
    echo "  LSAN_OPTIONS=suppressions=$ROOT/fuzz/lsan.supp QT_QPA_PLATFORM=offscreen \\"
    echo "  $BUILD_DIR/fuzz/fuzz-<harness> INPUT"
fi
exit "$failed"
