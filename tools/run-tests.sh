#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

ensure_packages $BUILD_PACKAGES $TEST_PACKAGES
BUILD_DIR="$ROOT/build-tests"
configure_and_build "$BUILD_DIR" Debug -DBUILD_TESTING=ON
cd "$BUILD_DIR"
ctest --output-on-failure -j "$(nproc)"
