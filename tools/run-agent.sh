#!/usr/bin/env bash
# Installs what is missing, builds the agent and starts it (offscreen without a display).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

ensure_packages $BUILD_PACKAGES
BUILD_DIR="$ROOT/build"
configure_and_build "$BUILD_DIR" Release -DBUILD_TESTING=OFF

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "No display: the agent runs without a window; its log follows on this terminal."
fi
echo "Serving ws://localhost:54389 and wss://localhost:54390; stop with Ctrl+C."
exec "$BUILD_DIR/app/kiv3-device-proxy"
