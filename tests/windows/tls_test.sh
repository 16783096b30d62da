#!/usr/bin/env bash
# TLS through Schannel under Wine (tests/windows/tls_test.cpp) against the
# Linux servers of tests/support/tls_peer.py, inside a network namespace of
# its own whose /etc/ssl trusts a test CA (tests/support/directory.sh), where
# Wine's crypt32 finds it. Wine's sockets are made by its wineserver, and
# crypt32 keeps the roots it read in the wineserver's registry: the shared
# server is stopped and the test gets one of its own inside the namespace; a
# persistent one is started again at the end. About 10 s.
# Usage: tls_test.sh BIN_DIR (the Windows build's programs and DLLs)
# Needs WINEPREFIX prepared by wine_prepare, root, python3 and openssl
# (skipped, saying why, without them).
set -u
bin=$(realpath "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/windows/wine.sh"
. "$root/tests/support/directory.sh"

if [ "$(id -u)" -ne 0 ] || ! command -v python3 openssl >/dev/null; then
    echo "TLS through Schannel: skipped (needs root, python3 and openssl)"
    exit 77
fi
[ -f "$bin/windows_tls_test.exe" ] || { echo "FAIL: no $bin/windows_tls_test.exe"; exit 1; }

ns=vellora-tls-$$
work=$(mktemp -d)
server=
finish() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    wine_server_stop
    ip netns del "$ns" 2>/dev/null
    rm -rf "/etc/netns/$ns" "$work"
    # Detached from our streams, or the server would hold a caller's pipe.
    wine_server_start </dev/null >/dev/null 2>&1
}
trap finish EXIT

ip netns add "$ns" && ip -n "$ns" link set lo up || { echo "FAIL: no namespace"; exit 1; }
directory_ca "$work/ca" tls.test && directory_trust "$ns" "$work/ca/ca.pem" ||
    { echo "FAIL: no test CA"; exit 1; }
ip netns exec "$ns" python3 "$root/tests/support/tls_peer.py" 127.0.0.1 "$work/ca/certs" \
    "$work/ca/untrusted" tls.test >"$work/peer.log" 2>&1 &
server=$!
for i in $(seq 50); do
    grep -q listening "$work/peer.log" && break
    sleep 0.1
done
grep -q listening "$work/peer.log" || { echo "FAIL: the servers did not start:"; cat "$work/peer.log"; exit 1; }

wine_server_stop
directory_home "$ns"
(cd "$bin" && exec timeout 120 "${DIRECTORY_HOME[@]}" "$WINE64" windows_tls_test.exe 127.0.0.1 \
    </dev/null)
status=$?
echo "The servers' side:"
sed 's/^/  /' "$work/peer.log"
if [ $status -eq 0 ]; then
    echo "TLS through Schannel: all checks passed"
else
    echo "FAIL: TLS through Schannel (status $status)"
fi
exit $(( status != 0 ))
