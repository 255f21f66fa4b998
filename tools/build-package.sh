#!/usr/bin/env bash
# Installs what is missing, builds the agent and kiv3-render in release mode with Debian's
# hardening flags into build-package/, and makes the Debian package there with CPack.
# Prints the package's path as its last line.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

# shellcheck disable=SC2086
ensure_packages $BUILD_PACKAGES $PACKAGE_PACKAGES
BUILD_DIR="$ROOT/build-package"
# dpkg-buildflags maps the working folder's paths out of the binaries: the same folder for
# every build keeps the flags, and so the build, unchanged.
cd "$ROOT"
# Every hardening flag that Debian knows, immediate binding (bindnow) included.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
# CPack strips the programs, so the debugging information that -g makes would be thrown away.
export DEB_CXXFLAGS_MAINT_STRIP=-g
# The benchmarks and tests are not packaged, so only the package's own targets are built.
cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKIV3_BENCHMARKS=OFF \
    -DKIV3_PACKAGE=ON -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
build_in "$BUILD_DIR" --target kiv3-device-proxy kiv3-render kiv3_package_files
rm -f "$BUILD_DIR"/*.deb
(cd "$BUILD_DIR" && cpack -G DEB)
ls "$BUILD_DIR"/kiv3-device-proxy_*.deb
