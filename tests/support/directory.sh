#!/usr/bin/env bash
# A room directory for the tests: Debian's prosody with the shipped
# configuration (directory/prosody.cfg.lua), for a domain of the test's own,
# inside a network namespace the test made; with TLS, a certificate from a
# test CA that only the test's namespaces trust. Needs root, prosody and
# openssl (tools/setup.sh: DIRECTORY_TEST_PACKAGES).
#
# Sourced:  . tests/support/directory.sh
#   directory_ca DIR DOMAIN          a test CA and a certificate for DOMAIN
#                                    signed by it (DIR/ca.pem, DIR/certs/DOMAIN.crt
#                                    and .key), and another CA's certificate
#                                    for DOMAIN that nobody trusts
#                                    (DIR/untrusted/DOMAIN.crt and .key)
#   directory_trust NAMESPACE CA     the namespace's view of /etc/ssl (what
#                                    `ip netns exec` and directory_mounts bind
#                                    there): the system's trust store with
#                                    CA added
#   directory_start NAMESPACE DOMAIN ADDRESS DATA [CERTS]
#                                    prosody inside NAMESPACE listening on
#                                    ADDRESS:5222, its data in DATA; with
#                                    CERTS (a folder of DOMAIN.crt and
#                                    DOMAIN.key) it offers TLS, without
#                                    (or with "none") it offers none. Waits until it
#                                    listens and the rooms exist.
#   directory_stop DATA              ends that prosody (by its pid)
#   directory_home NAMESPACE         sets DIRECTORY_HOME to the command prefix
#                                    that runs a program inside NAMESPACE
#                                    with its /etc/hosts and /etc/ssl from
#                                    /etc/netns/NAMESPACE, bound as `ip netns
#                                    exec` binds them (without remounting
#                                    /sys); every step execs the next, so the
#                                    program keeps the first one's process id
# Run:      tests/support/directory.sh ca|trust|start|stop ARGUMENTS...

# directory_ca DIR DOMAIN
directory_ca() {
    local dir=$1 domain=$2 which
    mkdir -p "$dir/certs" "$dir/untrusted" || return 1
    for which in trusted untrusted; do
        local ca=$dir/$which-ca out=$dir/certs
        [ $which = untrusted ] && out=$dir/untrusted
        openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Vellora test CA ($which)" \
            -keyout "$ca.key" -out "$ca.pem" 2>/dev/null || return 1
        openssl req -newkey rsa:2048 -nodes -subj "/CN=$domain" -keyout "$out/$domain.key" \
            -out "$out/$domain.csr" 2>/dev/null || return 1
        printf 'subjectAltName=DNS:%s,DNS:rooms.%s\n' "$domain" "$domain" > "$out/ext.cnf"
        openssl x509 -req -in "$out/$domain.csr" -CA "$ca.pem" -CAkey "$ca.key" \
            -CAcreateserial -days 2 -extfile "$out/ext.cnf" -out "$out/$domain.crt" \
            2>/dev/null || return 1
        rm -f "$out/$domain.csr" "$out/ext.cnf"
    done
    cp "$dir/trusted-ca.pem" "$dir/ca.pem"
    chmod 755 "$dir" "$dir/certs" "$dir/untrusted"
    chmod 644 "$dir"/certs/* "$dir"/untrusted/*
}

# directory_trust NAMESPACE CA
directory_trust() {
    local etc=/etc/netns/$1
    mkdir -p "$etc" || return 1
    rm -rf "$etc/ssl"
    cp -a /etc/ssl "$etc/ssl" || return 1
    cat "$2" >> "$etc/ssl/certs/ca-certificates.crt" &&
        cp "$2" "$etc/ssl/certs/vellora-test-ca.pem" &&
        ln -sf vellora-test-ca.pem "$etc/ssl/certs/$(openssl x509 -hash -noout -in "$2").0"
}

# directory_start NAMESPACE DOMAIN ADDRESS DATA [CERTS]
directory_start() {
    local ns=$1 domain=$2 address=$3 data=$4 certs=${5:-none}
    local root
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    mkdir -p "$data" && chown prosody:prosody "$data" || return 1
    # Started by its own pid (exec), as the prosody user: prosody refuses
    # to run as root.
    (exec env VELLORA_DOMAIN="$domain" VELLORA_LISTEN="$address" VELLORA_DATA="$data" \
        VELLORA_CERTS="$certs" nsenter --net="/var/run/netns/$ns" \
        setpriv --reuid=prosody --regid=prosody --init-groups prosody --config "$root/directory/prosody.cfg.lua" \
        > "$data/stdout.log" 2>&1) &
    echo $! > "$data/server.pid"
    local i
    for i in $(seq 100); do
        nsenter --net="/var/run/netns/$ns" bash -c "exec 3<>/dev/tcp/$address/5222" 2>/dev/null &&
            break
        sleep 0.1
    done
    [ "$i" -lt 100 ] || { echo "prosody did not come up:" >&2; cat "$data"/*.log >&2; return 1; }
    # The rooms, once (they are kept in DATA): directory/make-rooms.sh.
    VELLORA_DOMAIN=$domain VELLORA_DATA=$data "$root/directory/make-rooms.sh" prosody \
        "$root/directory/prosody.cfg.lua" >/dev/null || {
        echo "the directory's rooms could not be made" >&2
        return 1
    }
}

# directory_stop DATA
directory_stop() {
    local pid
    pid=$(cat "$1/server.pid" 2>/dev/null) || return 0
    kill "$pid" 2>/dev/null
    local i
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null
    return 0
}

# directory_home NAMESPACE
directory_home() {
    local ns=$1
    DIRECTORY_HOME=(nsenter --net="/var/run/netns/$ns" unshare --mount --propagation private
        bash -c 'for entry in /etc/netns/'"$ns"'/*; do
                     [ -e "$entry" ] && mount --bind "$entry" "/etc/${entry##*/}"
                 done
                 exec "$@"' _)
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    command=${1:-}
    shift
    case $command in
        ca) directory_ca "$@" ;;
        trust) directory_trust "$@" ;;
        start) directory_start "$@" ;;
        stop) directory_stop "$@" ;;
        *) echo "usage: $0 ca|trust|start|stop ARGUMENTS..." >&2; exit 2 ;;
    esac
fi
