#!/usr/bin/env bash
# Installs what is missing, builds the agent and starts it (offscreen without a display).
# A computer without any printer gets a private one for the agent that writes PDF files.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

ensure_packages $BUILD_PACKAGES $PRINT_PACKAGES
BUILD_DIR="$ROOT/build"
configure_and_build "$BUILD_DIR" Release -DBUILD_TESTING=OFF

# Whether the computer's own scheduler answers with at least one printer.
has_printers() {
    [ -n "$(env -u CUPS_SERVER timeout 10 lpstat -e 2>/dev/null)" ]
}

AGENT=("$BUILD_DIR/app/kiv3-device-proxy")
if ! has_printers; then
    PDF_OUTPUT="$ROOT/build/pdf-output"
    if [ "$(id -u)" -ne 0 ]; then
        echo "This computer has no printer, and only root can start the PDF printer that stands in"
        echo "for one: the agent runs without printers."
    elif exports=$("$ROOT/tools/private-cups.sh" start --out "$PDF_OUTPUT" --default PDF \
        --loglevel warn --watch $$ PDF); then
        eval "$exports"
        trap '"$ROOT/tools/private-cups.sh" stop "$PCUPS_DIR"' EXIT
        # The private HOME's lpoptions makes PDF the default; LPDEST or PRINTER would not.
        AGENT=(env -u LPDEST -u PRINTER CUPS_SERVER="$CUPS_SERVER" HOME="$PCUPS_HOME" "${AGENT[@]}")
        echo "This computer has no printer: the agent prints to \"PDF\", which writes PDF files to"
        echo "$PDF_OUTPUT/PDF."
    else
        echo "The PDF printer did not start: the agent runs without printers."
    fi
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "No display: the agent runs without a window; its log follows on this terminal."
fi
echo "Serving ws://localhost:54389 and wss://localhost:54390; stop with Ctrl+C."
# Not exec: the PDF printer is stopped once the agent has ended, with the agent's exit status.
status=0
"${AGENT[@]}" || status=$?
exit "$status"
