#!/usr/bin/env bash
# The Debian package end to end: builds it (tools/build-package.sh, a release build of its
# own), installs it with apt on this computer, asks the installed agent for its version over
# ws and wss in a network namespace of its own, checks the autostart entry and lintian's
# verdict, then purges the package and checks that nothing it installed is left. An agent
# still running and the package are removed on the way out, whatever happened; a package
# installed before the test is purged too. Needs root (status 77 otherwise: skipped).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
. "$ROOT/tools/common.sh"

PACKAGE=kiv3-device-proxy
AGENT=/usr/bin/kiv3-device-proxy
AUTOSTART=/etc/xdg/autostart/kiv3-device-proxy.desktop
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installs a package and makes a network namespace, so needs root"
    exit 77
fi

WORK="$(mktemp -d)"
agent_pid=""
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
apt() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -qq "$@"
}
# Installed, or removed with its configuration left.
package_present() {
    dpkg-query -W -f='${Status}' "$PACKAGE" 2>/dev/null | grep -qv 'not-installed$'
}
cleanup() {
    if [ -n "$agent_pid" ]; then kill -KILL "$agent_pid" 2>/dev/null || true; fi
    if package_present; then apt purge "$PACKAGE" >/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

echo "Building the package (log: $WORK/build.log is shown on failure)"
if ! "$ROOT/tools/build-package.sh" >"$WORK/build.log" 2>&1; then
    tail -n 40 "$WORK/build.log" >&2
    fail "tools/build-package.sh failed"
fi
DEB="$(tail -n 1 "$WORK/build.log")"
VERSION="$(dpkg-deb -f "$DEB" Version)"
echo "Package: $DEB"

lintian_status=0
lintian --fail-on error "$DEB" >"$WORK/lintian.log" 2>&1 || lintian_status=$?
echo "lintian: $(grep -cv 'root privileges' "$WORK/lintian.log") tags, status $lintian_status"
grep -v 'root privileges' "$WORK/lintian.log" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors"

if package_present; then apt purge "$PACKAGE" >/dev/null; fi
# Every path of the package, and those of them that only the package brings.
dpkg-deb -c "$DEB" | awk '{ sub(/^\./, "", $6); sub(/\/$/, "", $6); print substr($1, 1, 1), $6 }' \
    >"$WORK/entries"
while read -r type path; do [ -e "$path" ] || echo "$type $path"; done <"$WORK/entries" >"$WORK/new"
apt install "$DEB" >/dev/null
while read -r _ path; do [ -e "$path" ] || fail "$path is missing once installed"; done <"$WORK/entries"

desktop-file-validate "$AUTOSTART" || fail "$AUTOSTART is not a valid desktop entry"
grep -qx "Exec=$AGENT" "$AUTOSTART" || fail "$AUTOSTART does not run $AGENT: $(grep '^Exec=' "$AUTOSTART")"

# The installed agent alone on a loopback of its own; clients join its namespace.
# shellcheck disable=SC2016
unshare -n sh -c 'ip link set lo up && exec "$@"' sh env QT_QPA_PLATFORM=offscreen "$AGENT" \
    >"$WORK/agent.log" 2>&1 &
agent_pid=$!
# Until unshare has made the namespace, the agent's pid is still in this one.
for _ in $(seq 100); do
    [ "$(readlink "/proc/$agent_pid/ns/net")" = "$(readlink /proc/self/ns/net)" ] || break
    sleep 0.1
done
if ! nsenter -t "$agent_pid" -n /usr/bin/python3 - "$ROOT/resources/kvx.crt" "$VERSION" <<'PY'; then
import json, socket, sys, time
import websocket

ca_file, version = sys.argv[1:3]
expected = {"device": socket.gethostname(), "version": version}
deadline = time.monotonic() + 60
# wss is checked against the compiled-in certificate, made for 127.0.0.1.
for url in ("ws://127.0.0.1:54389", "wss://127.0.0.1:54390"):
    while True:
        try:
            client = websocket.create_connection(url, timeout=10, sslopt={"ca_certs": ca_file})
            break
        except ConnectionRefusedError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.2)
    client.send("")
    reply = json.loads(client.recv())
    client.close()
    print(f"{url}: {reply}")
    if reply != expected:
        sys.exit(f"{url} answered {reply}, not {expected}")
PY
    cat "$WORK/agent.log" >&2
    fail "no version reply from the installed agent"
fi

# SIGTERM ends the agent's event loop, and it exits with status 0.
kill -TERM "$agent_pid"
for _ in $(seq 100); do kill -0 "$agent_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$agent_pid" 2>/dev/null && fail "the agent still runs 10 s after SIGTERM"
status=0
wait "$agent_pid" || status=$?
agent_pid=""
[ "$status" -eq 0 ] || fail "the agent exited with status $status after SIGTERM"

apt purge "$PACKAGE" >/dev/null
package_present && fail "$PACKAGE is still known to dpkg after apt-get purge"
while read -r type path; do
    [ "$type" = d ] || [ ! -e "$path" ] || fail "$path is left after purge"
done <"$WORK/entries"
while read -r _ path; do
    [ ! -e "$path" ] || fail "$path, made by the package, is left after purge"
done <"$WORK/new"
echo "Installed $(grep -c '^-' "$WORK/entries") files, served ws and wss, and purged them all"
