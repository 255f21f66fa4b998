#!/usr/bin/env bash
# Installs what is missing, checks that the Windows sources still compile for Windows, builds
# everything with AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer, runs every
# test (the Debian package's among them), then runs each fuzzing harness for 20 s.
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

ensure_packages $BUILD_PACKAGES $TEST_PACKAGES $PACKAGE_TEST_PACKAGES $WINDOWS_CHECK_PACKAGES
ensure_npm
"$ROOT/tools/check-windows-sources.sh"
BUILD_DIR="$ROOT/build-tests"
configure_and_build "$BUILD_DIR" Debug -DBUILD_TESTING=ON -DKIV3_SANITIZE=address,undefined
(cd "$BUILD_DIR" && ctest --output-on-failure -j "$(nproc)")
"$ROOT/tools/run-fuzz.sh" 20
