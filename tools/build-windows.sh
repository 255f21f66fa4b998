#!/usr/bin/env bash
# Builds the Windows program (32-bit, cross-compiled with Debian's mingw-w64) in release mode
# into build-windows/: kiv3-device-proxy.exe and kiv3-render.exe, their program folder with
# every DLL and plugin they load (build-windows/stage/kiv3-device-proxy/), the installer
# build-windows/kiv3-device-proxy-VERSION-setup.exe and the portable
# build-windows/kiv3-device-proxy-VERSION-windows.zip of the same folder.
#
#   tools/build-windows.sh [--qt PATH] [--tests] [--quick-installer]
#                          [--sign CERT KEY [--timestamp URL]]
#       --qt PATH  Qt 5.15 for i686-w64-mingw32: its prefix (with lib/cmake/Qt5), or an
#                  archive (.tar.xz, .tar.gz) holding one, unpacked once into
#                  build-windows/qt/. Default: $KIV3_WINDOWS_QT.
#       --tests    also builds the Qt Test programs that run on Windows (for tests/windows/).
#       --quick-installer
#                  compresses the installer with zlib, in a fifth of the time LZMA takes
#                  and a third bigger: for an installer that is only tested.
#       --sign CERT KEY
#                  signs the agent, the renderer, the uninstaller and the installer
#                  (Authenticode, SHA-256, with osslsigncode) with the code-signing
#                  certificate CERT and its unencrypted private key KEY (PEM or DER files).
#       --timestamp URL
#                  has each signature timestamped by the RFC 3161 server at URL, so that it
#                  stays valid after the certificate expires.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

QT="${KIV3_WINDOWS_QT:-}"
TESTING=OFF
SIGN_CERT=""
SIGN_KEY=""
TIMESTAMP=""
COMPRESSOR="/SOLID lzma"
usage() {
    echo "usage: $0 [--qt PATH] [--tests] [--quick-installer] [--sign CERT KEY [--timestamp URL]]" \
        >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --qt) QT="${2:?--qt needs a path}"; shift 2 ;;
        --tests) TESTING=ON; shift ;;
        --quick-installer) COMPRESSOR=zlib; shift ;;
        --sign) [ $# -ge 3 ] || usage; SIGN_CERT="$(realpath "$2")"; SIGN_KEY="$(realpath "$3")"
            shift 3 ;;
        --timestamp) TIMESTAMP="${2:?--timestamp needs a URL}"; shift 2 ;;
        *) usage ;;
    esac
done
if [ -n "$TIMESTAMP" ] && [ -z "$SIGN_CERT" ]; then
    echo "$0: --timestamp needs --sign" >&2
    exit 2
fi
if [ -z "$QT" ]; then
    echo "$0: no Qt for Windows: give --qt PATH or set KIV3_WINDOWS_QT" >&2
    exit 2
fi

# shellcheck disable=SC2086
ensure_packages $WINDOWS_BUILD_PACKAGES
if [ -n "$SIGN_CERT" ]; then
    for file in "$SIGN_CERT" "$SIGN_KEY"; do
        [ -f "$file" ] || { echo "$0: --sign: no file $file" >&2; exit 2; }
    done
    # shellcheck disable=SC2086
    ensure_packages $WINDOWS_SIGN_PACKAGES
fi
BUILD_DIR="$ROOT/build-windows"
mkdir -p "$BUILD_DIR"

# The prefix is the folder that holds lib/cmake/Qt5, wherever the archive put it.
find_qt_prefix() {
    local config
    config="$(find "$1" -maxdepth 5 -path '*/lib/cmake/Qt5/Qt5Config.cmake' -print -quit)"
    [ -n "$config" ] || { echo "$0: no Qt (lib/cmake/Qt5) in $1" >&2; exit 1; }
    dirname "$(dirname "$(dirname "$(dirname "$config")")")"
}

if [ -f "$QT" ]; then
    # One folder per archive, unpacked again only when the archive changes.
    cache="$BUILD_DIR/qt/$(basename "$QT" | sed 's/\.tar\..*$//')"
    stamp="$(stat -c '%s %Y' "$QT")"
    if [ "$(cat "$cache.stamp" 2>/dev/null)" != "$stamp" ]; then
        echo "Unpacking $QT into $cache"
        rm -rf "$cache" "$cache.stamp"
        mkdir -p "$cache"
        tar -xf "$QT" -C "$cache"
        echo "$stamp" >"$cache.stamp"
    fi
    QT="$cache"
fi
QT_PREFIX="$(find_qt_prefix "$(cd "$QT" && pwd)")"

cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-i686.cmake" \
    -DCMAKE_PREFIX_PATH="$QT_PREFIX" -DBUILD_TESTING="$TESTING" -DKIV3_BENCHMARKS=OFF \
    -DKIV3_INSTALLER_COMPRESSOR="$COMPRESSOR" \
    -DKIV3_SIGN_CERT="$SIGN_CERT" -DKIV3_SIGN_KEY="$SIGN_KEY" -DKIV3_SIGN_TIMESTAMP="$TIMESTAMP"
TARGETS=(kiv3_windows_setup)
[ "$TESTING" = OFF ] || TARGETS+=(all)
build_in "$BUILD_DIR" --target "${TARGETS[@]}"
ls "$BUILD_DIR"/kiv3-device-proxy-*-setup.exe "$BUILD_DIR"/kiv3-device-proxy-*-windows.zip
