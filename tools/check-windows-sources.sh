#!/usr/bin/env bash
# Checks that the sources the Windows build compiles still parse and type-check against Qt's
# API on Windows: Debian's mingw-w64 cross compiler for 32-bit Windows (the Windows build's
# target, where the caller-ID library's __stdcall types matter) runs -fsyntax-only over every
# *_win.cpp and every shared source, against Debian's Qt headers, with _WIN32 set by the
# compiler. It does not prove that they link or run. Prints each file checked; fails if any
# file does not compile.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$ROOT/tools/common.sh"

# shellcheck disable=SC2086
ensure_packages $WINDOWS_CHECK_PACKAGES
CXX=i686-w64-mingw32-g++-posix
QT=/usr/include/x86_64-linux-gnu/qt5
QT_TOOLS=/usr/lib/qt5/bin
QT_MODULES=(Core Gui Widgets Network WebSockets PrintSupport SerialPort Test)
FOLDERS=(app service print devices render resources bench tests)
INCLUDE_FOLDERS=(app service print devices render resources bench tests/support)
# Built only on POSIX systems, under if(UNIX) (or Linux only) in their CMake files; fuzz/ is left out too, its
# harnesses being built with clang's libFuzzer on POSIX systems only.
POSIX_ONLY=(bench/ReaderLatency.cpp bench/BroadcastServer.cpp bench/ClientThread.cpp
    bench/EchoServer.cpp bench/HiddenAgent.cpp bench/LogView.cpp bench/WebSocketClients.cpp
    bench/Requests.cpp bench/Fanout.cpp bench/IdleBaseline.cpp bench/Idle.cpp
    bench/ProcessSample.cpp bench/AgentProgram.cpp bench/Soak.cpp
    tests/support/SimulatedReader.cpp tests/support/PrivateNetwork.cpp tests/app/TestLockDown.cpp
    tests/support/RawWebSocket.cpp
    tests/support/SimulatedSerialPorts.cpp tests/support/TestPrivateSpooler.cpp
    tests/print/TestSpoolerPrinting.cpp tests/render/TestRender.cpp tests/devices/TestReader.cpp
    tests/service/TestDeviceEvents.cpp tests/service/TestReaderFaults.cpp
    tests/service/TestVanishingClients.cpp tests/service/TestClientLoad.cpp
    tests/app/TestAgentProcess.cpp tests/app/TestAgentRequests.cpp tests/app/TestTrayReader.cpp
    tests/app/TestSpoolerFaults.cpp tests/web/WebTestHost.cpp)

cd "$ROOT"
SOURCES=()
while IFS= read -r file; do
    [[ " ${POSIX_ONLY[*]} " == *" $file "* ]] || SOURCES+=("$file")
done < <(find "${FOLDERS[@]}" -name '*.cpp' ! -name '*_unix.cpp' | LC_ALL=C sort)

# Headers that the build generates: the form's, from uic, the version's, from the project's,
# and the moc output that test programs include at their end.
GENERATED="$(mktemp -d)"
trap 'rm -rf "$GENERATED"' EXIT
"$QT_TOOLS/uic" app/MForm.ui -o "$GENERATED/ui_MForm.h"
VERSION="$(sed -n 's/^project(.* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
sed "s/@PROJECT_VERSION@/$VERSION/" service/AgentVersion.h.in >"$GENERATED/AgentVersion.h"
for file in "${SOURCES[@]}"; do
    moc_name="$(basename "${file%.cpp}").moc"
    if grep -q "^#include \"$moc_name\"" "$file"; then
        "$QT_TOOLS/moc" "$file" -o "$GENERATED/$moc_name"
    fi
done

FLAGS=(-fsyntax-only -std=c++17 -Wall -Wextra -I"$GENERATED" -isystem "$QT")
for module in "${QT_MODULES[@]}"; do
    # As CMake defines them for targets that link the module (QTEST_MAIN picks its
    # application class by them).
    module_upper="$(echo "$module" | tr '[:lower:]' '[:upper:]')"
    FLAGS+=(-isystem "$QT/Qt$module" "-DQT_${module_upper}_LIB")
done
for folder in "${INCLUDE_FOLDERS[@]}"; do
    FLAGS+=(-I"$folder")
done
# Paths that CMake compiles into the test programs; their values do not matter here.
for name in KIV3_AGENT_PATH KIV3_FAKE_AD101_PATH KIV3_PRIVATE_CUPS_SCRIPT KIV3_RENDER_PATH; do
    FLAGS+=("-D$name=\"$name\"")
done

echo "Checking ${#SOURCES[@]} sources with $CXX -fsyntax-only against Qt's headers in $QT:"
# Each file's verdict and messages go to a report of its own, shown in the order of the list.
mkdir "$GENERATED/reports"
export CXX GENERATED
# shellcheck disable=SC2016
printf '%s\n' "${SOURCES[@]}" |
    xargs -P "$(nproc)" -I {} sh -c '
        report="$GENERATED/reports/$(echo "$0" | tr / _)"
        if output=$("$CXX" "$@" -I"$(dirname "$0")" "$0" 2>&1); then
            echo "  ok      $0" >"$report"
        else
            echo "  FAILED  $0" >"$report"
        fi
        [ -z "$output" ] || printf "%s\n" "$output" | sed "s/^/      /" >>"$report"
    ' {} "${FLAGS[@]}"
failed=0
for file in "${SOURCES[@]}"; do
    report="$GENERATED/reports/$(echo "$file" | tr / _)"
    cat "$report"
    if grep -q '^  FAILED' "$report"; then failed=$((failed + 1)); fi
done
if [ "$failed" -ne 0 ]; then
    echo "$failed of ${#SOURCES[@]} sources do not compile for Windows." >&2
    exit 1
fi
echo "All ${#SOURCES[@]} sources parse and type-check for Windows (not linked, not run)."
