#!/bin/sh
# Writes one ejabberd node's configuration folder from the shipped
# directory/ejabberd.yml: FOLDER/ejabberd.yml with the settings below written
# into its define_macro lines, and FOLDER/ejabberdctl.cfg (where the node
# keeps its data, its name, its cluster port). Then, as root:
#
#   ejabberdctl --config-dir FOLDER start      # and stop, status, join_cluster ...
#
# Settings read from the environment (the same names as for prosody):
#   VELLORA_DOMAIN   the domain (required)
#   VELLORA_LISTEN   the address the client port listens on (every address,
#                    "::", when unset)
#   VELLORA_CERTS    the folder holding DOMAIN.crt and DOMAIN.key, or
#                    fullchain.pem and privkey.pem in DOMAIN/ (Let's Encrypt's
#                    layout); /etc/ejabberd/certs when unset. "none": the
#                    server offers no TLS at all. The ejabberd user must be
#                    able to read the files.
#   VELLORA_DATA     the node's data (its database, the rooms among it), log
#                    and pid file: /var/lib/ejabberd when unset; owned by the
#                    ejabberd user
#   VELLORA_NODE     the node's name, ejabberd@HOST (ejabberd@ and this
#                    machine's short name when unset): HOST must resolve to
#                    this machine on every node of the cluster
#   VELLORA_RELAY_SECRET_FILE
#                    a file whose first line is the secret shared with the
#                    relay (coturn with directory/turnserver.conf): the
#                    node then offers that relay (XEP-0215); no relay when
#                    unset. The node's ejabberd.yml then holds the secret:
#                    it is made readable by root and the ejabberd user only.
#   VELLORA_RELAY_HOST, VELLORA_RELAY_PORT
#                    the relay's name or address as clients reach it (the
#                    domain when unset) and its TCP port (3478)
#   VELLORA_CLUSTER_LISTEN
#                    the address the nodes' link (Erlang distribution,
#                    TCP port 5210) listens on; every address when unset.
#                    Whoever reaches that port with the nodes' cookie
#                    (~ejabberd/.erlang.cookie) commands the node: open it
#                    between the nodes only.
set -eu
folder=${1:?usage: VELLORA_DOMAIN=example.org $0 FOLDER}
domain=${VELLORA_DOMAIN:?set VELLORA_DOMAIN to the domain of the directory}
listen=${VELLORA_LISTEN:-::}
certs=${VELLORA_CERTS:-/etc/ejabberd/certs}
data=${VELLORA_DATA:-/var/lib/ejabberd}
node=${VELLORA_NODE:-ejabberd@$(hostname -s)}
here=$(cd "$(dirname "$0")" && pwd)

case $domain in
  *[!A-Za-z0-9.-]* | "") echo "$0: not a domain: $domain" >&2; exit 2 ;;
esac
if [ "$certs" = none ]; then
  tls=false certfiles='[]'
elif [ -f "$certs/$domain/fullchain.pem" ]; then
  tls=true certfiles="[\"$certs/$domain/fullchain.pem\", \"$certs/$domain/privkey.pem\"]"
else
  tls=true certfiles="[\"$certs/$domain.crt\", \"$certs/$domain.key\"]"
fi

relay_secret='""' relay_services='[]'
if [ -n "${VELLORA_RELAY_SECRET_FILE:-}" ]; then
  secret=$(head -n 1 "$VELLORA_RELAY_SECRET_FILE")
  case $secret in
    *[!A-Za-z0-9+/=._-]* | "") echo "$0: the relay's secret must be letters, digits, +/=._-" >&2; exit 2 ;;
  esac
  relay_secret="\"$secret\""
  relay_services="[{host: \"${VELLORA_RELAY_HOST:-$domain}\", port: ${VELLORA_RELAY_PORT:-3478}, type: turn, transport: tcp, restricted: true}]"
fi

mkdir -p "$folder"
sed -e "s|^  DOMAIN: .*|  DOMAIN: \"$domain\"|" \
    -e "s|^  LISTEN: .*|  LISTEN: \"$listen\"|" \
    -e "s|^  TLS: .*|  TLS: $tls|" \
    -e "s|^  CERTFILES: .*|  CERTFILES: $certfiles|" \
    -e "s|^  RELAY_SECRET: .*|  RELAY_SECRET: $relay_secret|" \
    -e "s|^  RELAY_SERVICES: .*|  RELAY_SERVICES: $relay_services|" \
    "$here/ejabberd.yml" > "$folder/ejabberd.yml"
{
  echo "# One node of the room directory (directory/ejabberd-node.sh); read by ejabberdctl."
  echo "ERLANG_NODE=$node"
  echo "SPOOL_DIR=$data"
  echo "LOGS_DIR=$data"
  echo "EJABBERD_PID_PATH=$data/ejabberd.pid"
  echo "# The nodes talk on this one port, without epmd (every node uses the same)."
  echo "ERL_DIST_PORT=5210"
  [ -n "${VELLORA_CLUSTER_LISTEN:-}" ] && echo "INET_DIST_INTERFACE=$VELLORA_CLUSTER_LISTEN"
  echo "# A node that vanishes (its machine gone without a word) is given up by"
  echo "# the others after 15 to 25 s, not the default 45 to 75: its rooms then"
  echo "# come back on a node that runs."
  echo "ERL_OPTIONS=\"-env ERL_CRASH_DUMP_BYTES 0 -kernel net_ticktime 20\""
} > "$folder/ejabberdctl.cfg"
chmod 644 "$folder/ejabberd.yml" "$folder/ejabberdctl.cfg"
if [ -n "${VELLORA_RELAY_SECRET_FILE:-}" ]; then
  chgrp ejabberd "$folder/ejabberd.yml" && chmod 640 "$folder/ejabberd.yml"
fi
echo "$folder: node $node of $domain (TLS: $tls)"
