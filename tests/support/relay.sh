#!/usr/bin/env bash
# A relay for the tests: Debian's coturn with the shipped configuration
# (directory/turnserver.conf) inside a network namespace the test made, with
# the settings that vary on its command line, and the secret it shares with
# the test's directory (tests/support/directory.sh reads it through
# VELLORA_RELAY_SECRET_FILE). Needs root and coturn (tools/setup.sh:
# DIRECTORY_TEST_PACKAGES).
#
# Sourced:  . tests/support/relay.sh
#   relay_secret DIR                 makes DIR/relay-secret (once) and exports
#                                    VELLORA_RELAY_SECRET_FILE for the
#                                    directory started next
#   relay_start NAMESPACE ADDRESS REALM DIR ALLOWED
#                                    coturn inside NAMESPACE on ADDRESS:3478,
#                                    relaying on ADDRESS, its log and state in
#                                    DIR; ALLOWED (a range "A-B") are the
#                                    test's own peers, which the shipped
#                                    configuration denies (documentation
#                                    addresses). The namespace's keep-alive
#                                    timers are those README's "Running a
#                                    directory" gives an operator. Waits until
#                                    it listens.
#   relay_stop DIR                   ends that coturn (by its pid)
# Run:      tests/support/relay.sh secret|start|stop ARGUMENTS...

relay_secret() {
    local dir=$1
    mkdir -p "$dir" || return 1
    [ -s "$dir/relay-secret" ] || openssl rand -hex 32 > "$dir/relay-secret" || return 1
    # prosody reads it as its own user.
    chmod 755 "$dir"
    chmod 644 "$dir/relay-secret"
    export VELLORA_RELAY_SECRET_FILE=$dir/relay-secret
}

relay_start() {
    local ns=$1 address=$2 realm=$3 dir=$4 allowed=$5 root i
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    relay_secret "$dir" || return 1
    # coturn asks the system for keep-alives on every connection; these
    # make a vanished host or guest go within about 14 s.
    nsenter --net="/var/run/netns/$ns" sysctl -qw net.ipv4.tcp_keepalive_time=5 \
        net.ipv4.tcp_keepalive_intvl=3 net.ipv4.tcp_keepalive_probes=3 || return 1
    (exec nsenter --net="/var/run/netns/$ns" turnserver -c "$root/directory/turnserver.conf" \
        --realm="$realm" --static-auth-secret="$(head -n 1 "$dir/relay-secret")" \
        --listening-ip="$address" --relay-ip="$address" --allowed-peer-ip="$allowed" \
        --log-file="$dir/turn.log" --pidfile="$dir/turn.pid" --userdb="$dir/turndb" \
        --no-stdout-log > "$dir/turn.out" 2>&1) &
    echo $! > "$dir/relay.pid"
    for i in $(seq 100); do
        nsenter --net="/var/run/netns/$ns" bash -c "exec 3<>/dev/tcp/$address/3478" 2>/dev/null &&
            return 0
        sleep 0.1
    done
    echo "coturn did not come up:" >&2
    cat "$dir/turn.out" "$dir"/turn*.log >&2 2>/dev/null
    return 1
}

relay_stop() {
    local pid i
    pid=$(cat "$1/relay.pid" 2>/dev/null) || return 0
    kill "$pid" 2>/dev/null
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
    return 0
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    command=${1:-}
    shift
    case $command in
        secret) relay_secret "$@" ;;
        start) relay_start "$@" ;;
        stop) relay_stop "$@" ;;
        *) echo "usage: $0 secret|start|stop ARGUMENTS..." >&2; exit 2 ;;
    esac
fi
