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
# (EJABBERDCTL names another command, such as one with --node and --config).
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
    for room in $(rooms); do
      $ctl create_room_with_opts "$room" "rooms.$domain" "$domain" \
        "persistent:true,public:true,moderated:true,members_by_default:false,allow_change_subj:false,allow_private_messages:false,allow_query_users:false,allow_subscription:false,anonymous:true,logging:false,max_users:96" \
        >/dev/null 2>&1 || $ctl get_room_options "$room" "rooms.$domain" >/dev/null
    done
    ;;
  *) echo "usage: $0 prosody CONFIG | ejabberd DOMAIN" >&2; exit 2 ;;
esac
echo "48 rooms on rooms.$domain"
