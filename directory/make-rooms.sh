#!/bin/sh
# Makes the directory's 48 shard rooms, vellora-00 to vellora-47 on the chat
# service rooms.DOMAIN, once, on a server that runs (they are kept across
# restarts). The game expects exactly these rooms.
#
#   VELLORA_DOMAIN=example.org directory/make-rooms.sh prosody directory/prosody.cfg.lua
#   directory/make-rooms.sh ejabberd example.org     # on one node of the cluster
#
# prosody: VELLORA_DATA as the server was started with (/var/lib/prosody
# when unset). ejabberd: ejabberdctl on the PATH reaches the running node
# (EJABBERDCTL names another command, such as "ejabberdctl --config-dir
# FOLDER"), and VELLORA_DATA is that node's data folder (/var/lib/ejabberd
# when unset), on this machine. Running it again changes nothing.
set -eu
server=${1:?prosody or ejabberd}
rooms() { i=0; while [ $i -lt 48 ]; do printf 'vellora-%02d\n' $i; i=$((i + 1)); done; }
case $server in
  prosody)
    config=${2:?the configuration file}
    domain=${VELLORA_DOMAIN:?set VELLORA_DOMAIN}
    made=$(rooms | sed "s/.*/muc:create(\"&@rooms.$domain\")/" |
           prosodyctl --config "$config" shell 2>&1 | grep -c 'MUC room\|exists') || true
    [ "$made" -eq 48 ] || { echo "only $made of 48 rooms made" >&2; exit 1; }
    ;;
  ejabberd)
    domain=${2:?the domain}
    ctl=${EJABBERDCTL:-ejabberdctl}
    # The node reads the list itself: it goes where the node keeps its data
    # (a service's own /tmp is private), and the rooms take the options of
    # the configuration's default_room_options. Rooms already made are
    # written again with the same options.
    list=${VELLORA_DATA:-/var/lib/ejabberd}/vellora-rooms.txt
    trap 'rm -f "$list"' EXIT
    rooms | sed "s/\$/@rooms.$domain/" > "$list"
    chmod 644 "$list"
    made=$($ctl create_rooms_file "$list" 2>&1 | grep -c '^Creating room') || true
    [ "$made" -eq 48 ] || { echo "only $made of 48 rooms made" >&2; exit 1; }
    ;;
  *) echo "usage: $0 prosody CONFIG | ejabberd DOMAIN" >&2; exit 2 ;;
esac
echo "48 rooms on rooms.$domain"
