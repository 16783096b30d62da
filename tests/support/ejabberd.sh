#!/usr/bin/env bash
# A room directory on ejabberd for the tests: Debian's ejabberd with the
# shipped configuration (directory/ejabberd.yml, written for a node by
# directory/ejabberd-node.sh), one node per network namespace the test made,
# nodes joined into a cluster. Needs root and ejabberd (tools/setup.sh:
# DIRECTORY_TEST_PACKAGES); like the operator's, every ejabberdctl command
# runs as the ejabberd user.
#
# Sourced:  . tests/support/ejabberd.sh
#   ejabberd_cluster DIR NAME=ADDRESS...
#                        the cluster's shared parts in DIR: the nodes' cookie
#                        (a folder of the test's own stands for the ejabberd
#                        user's home) and their names, ejabberd@NAME at
#                        ADDRESS (resolved through each node's inetrc, so
#                        nothing of the machine's own /etc is touched)
#   ejabberd_start NAMESPACE NODEDIR NAME DOMAIN [CERTS]
#                        node ejabberd@NAME inside NAMESPACE, listening on
#                        NAME's address, its configuration and data in
#                        NODEDIR; with CERTS (a folder of DOMAIN.crt and
#                        DOMAIN.key) it offers TLS. Waits (at most 30 s)
#                        until it listens and answers ejabberdctl.
#   ejabberd_ctl NODEDIR COMMAND...
#                        ejabberdctl for that node
#   ejabberd_join NODEDIR NAME
#                        joins the node to the cluster of ejabberd@NAME
#   ejabberd_stop NODEDIR
#                        stops the node (ejabberdctl stop, then its pid,
#                        bounded): safe to call twice or for a node that
#                        never started
#   ejabberd_pid NODEDIR the node's process id (its pid file)
#   ejabberd_make_rooms NODEDIR DOMAIN
#                        the 48 shard rooms, made on that node with
#                        directory/make-rooms.sh
#   ejabberd_room_node NODEDIR NAME ROOM DOMAIN
#                        the node a chat room's process runs on, as node
#                        ejabberd@NAME sees it ("none" when it runs nowhere)
#   ejabberd_cpu_ms NODEDIR
#                        the CPU time the node has used (user and system), ms

EJABBERD_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# ejabberd_cluster DIR NAME=ADDRESS...
ejabberd_cluster() {
    EJABBERD_DIR=$1
    shift
    mkdir -p "$EJABBERD_DIR/home" || return 1
    head -c 15 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' > "$EJABBERD_DIR/home/.erlang.cookie"
    chmod 400 "$EJABBERD_DIR/home/.erlang.cookie"
    chown -R ejabberd:ejabberd "$EJABBERD_DIR/home"
    chmod 755 "$EJABBERD_DIR"
    : > "$EJABBERD_DIR/inetrc"
    : > "$EJABBERD_DIR/names"
    local pair name address
    for pair in "$@"; do
        name=${pair%%=*} address=${pair#*=}
        echo "{host, {${address//./,}}, [\"$name\"]}." >> "$EJABBERD_DIR/inetrc"
        echo "$name $address" >> "$EJABBERD_DIR/names"
    done
    echo "{lookup, [file, native]}." >> "$EJABBERD_DIR/inetrc"
}

# The node's ejabberdctl, as the ejabberd user inside its namespace.
ejabberd_ctl() {
    local dir=$1
    shift
    timeout 60 nsenter --net="/var/run/netns/$(cat "$dir/namespace")" \
        setpriv --reuid=ejabberd --regid=ejabberd --init-groups \
        env HOME="$EJABBERD_DIR/home" ejabberdctl --config-dir "$dir/etc" "$@"
}

ejabberd_pid() { cat "$1/data/ejabberd.pid" 2>/dev/null; }

# ejabberd_make_rooms NODEDIR DOMAIN
ejabberd_make_rooms() {
    EJABBERDCTL="timeout 60 nsenter --net=/var/run/netns/$(cat "$1/namespace") setpriv
        --reuid=ejabberd --regid=ejabberd --init-groups env HOME=$EJABBERD_DIR/home
        ejabberdctl --config-dir $1/etc" VELLORA_DATA=$1/data \
        sh "$EJABBERD_ROOT/directory/make-rooms.sh" ejabberd "$2"
}

# ejabberd_room_node NODEDIR NAME ROOM DOMAIN: a hidden Erlang node of the
# test's own asks ejabberd@NAME (mod_muc's own lookup of running rooms).
ejabberd_room_node() {
    local dir=$1 name=$2 room=$3 domain=$4
    timeout 20 nsenter --net="/var/run/netns/$(cat "$dir/namespace")" \
        setpriv --reuid=ejabberd --regid=ejabberd --init-groups \
        env HOME="$EJABBERD_DIR/home" ERL_INETRC="$dir/etc/inetrc" \
        erl -sname "look$$@$name" -hidden -erl_epmd_port 5210 -start_epmd false \
        -dist_listen false -noshell -eval "
            case rpc:call('ejabberd@$name', mod_muc, find_online_room,
                          [<<\"$room\">>, <<\"rooms.$domain\">>]) of
                {ok, Pid} -> io:format(\"~s~n\", [node(Pid)]);
                _ -> io:format(\"none~n\")
            end, halt()."
}

ejabberd_cpu_ms() {
    local pid ticks
    pid=$(ejabberd_pid "$1") || return 1
    ticks=$(awk '{ print $14 + $15 }' "/proc/$pid/stat") || return 1
    echo $((ticks * 1000 / $(getconf CLK_TCK)))
}

# ejabberd_start NAMESPACE NODEDIR NAME DOMAIN [CERTS]
ejabberd_start() {
    local ns=$1 dir=$2 name=$3 domain=$4 certs=${5:-none} address
    address=$(awk -v n="$name" '$1 == n { print $2 }' "$EJABBERD_DIR/names")
    [ -n "$address" ] || { echo "ejabberd: no address for $name" >&2; return 1; }
    mkdir -p "$dir/data" && echo "$ns" > "$dir/namespace" || return 1
    VELLORA_DOMAIN=$domain VELLORA_LISTEN=$address VELLORA_CERTS=$certs \
        VELLORA_DATA=$dir/data VELLORA_NODE=ejabberd@$name VELLORA_CLUSTER_LISTEN=$address \
        sh "$EJABBERD_ROOT/directory/ejabberd-node.sh" "$dir/etc" >/dev/null || return 1
    # The node's names, for the Erlang runtime (ejabberdctl points it here).
    cp "$EJABBERD_DIR/inetrc" "$dir/etc/inetrc"
    chown -R ejabberd:ejabberd "$dir/data"
    chmod 755 "$dir" "$dir/etc"
    ejabberd_ctl "$dir" start > "$dir/start.log" 2>&1 || {
        echo "ejabberd: ejabberd@$name did not start:" >&2
        cat "$dir/start.log" >&2
        return 1
    }
    local i
    for i in $(seq 150); do
        nsenter --net="/var/run/netns/$ns" bash -c "exec 3<>/dev/tcp/$address/5222" 2>/dev/null &&
            ejabberd_ctl "$dir" status >/dev/null 2>&1 && return 0
        ejabberd_pid "$dir" >/dev/null || [ "$i" -lt 50 ] || break
        sleep 0.2
    done
    echo "ejabberd: ejabberd@$name did not come up; its log:" >&2
    tail -n 30 "$dir/data/ejabberd.log" >&2
    return 1
}

# ejabberd_join NODEDIR NAME
ejabberd_join() {
    ejabberd_ctl "$1" join_cluster "ejabberd@$2" > "$1/join.log" 2>&1 || {
        echo "ejabberd: the node did not join ejabberd@$2:" >&2
        cat "$1/join.log" >&2
        return 1
    }
}

# ejabberd_stop NODEDIR
ejabberd_stop() {
    local dir=$1 pid i
    pid=$(ejabberd_pid "$dir") || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    timeout 15 bash -c "$(declare -f ejabberd_ctl); EJABBERD_DIR=$EJABBERD_DIR; ejabberd_ctl $dir stop" \
        >/dev/null 2>&1
    for i in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.2
    done
    kill -9 "$pid" 2>/dev/null
    return 0
}
