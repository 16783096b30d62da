-- Vellora's room directory: Debian's prosody (0.12) as it is, with this file
-- as its whole configuration. No server code of the game's own.
--
--   VELLORA_DOMAIN=example.org prosody --config /path/to/prosody.cfg.lua
--   VELLORA_DOMAIN=example.org directory/make-rooms.sh prosody /path/to/prosody.cfg.lua
--                                                   # once, while it runs
--
-- Players write directory=example.org in RoomConfig.txt. What the game
-- expects of every directory (README, "Rooms found through a room
-- directory", convention 2): anonymous sign-in (SASL ANONYMOUS) on DOMAIN,
-- port 5222 unless the player names another, and the 48 multi-user chat
-- rooms vellora-00 to vellora-47@rooms.DOMAIN, each telling its number of
-- occupants (disco#info), where every host's presence carries its room's
-- announcement.
--
-- Settings read from the environment (prosody's own ENV_ lookup):
--   VELLORA_DOMAIN        the domain (required)
--   VELLORA_LISTEN        the address to listen on (every address when unset)
--   VELLORA_DATA          the folder for the server's data, pid file, log and
--                         admin socket (/var/lib/prosody when unset)
--   VELLORA_CERTS         the folder holding DOMAIN.crt and DOMAIN.key, or
--                         fullchain.pem and privkey.pem in DOMAIN/ (Let's
--                         Encrypt's layout); /etc/prosody/certs when unset.
--                         "none": the server offers no TLS at all, and the
--                         game signs in without it (prosody would otherwise
--                         offer TLS even without a certificate, and fail).
--   VELLORA_RELAY_SECRET_FILE
--                         a file whose first line is the secret shared with
--                         the relay (coturn with directory/turnserver.conf):
--                         the server then offers that relay (XEP-0215) with
--                         credentials made from the secret; no relay when
--                         unset
--   VELLORA_RELAY_HOST    the relay's name or address as clients reach it
--                         (the domain when unset)
--   VELLORA_RELAY_PORT    its TCP port (3478 when unset)

local domain = ENV_VELLORA_DOMAIN
assert(domain and domain ~= "", "set VELLORA_DOMAIN to the directory's domain")
local data = ENV_VELLORA_DATA or "/var/lib/prosody"

-- The process ----------------------------------------------------------------
daemonize = false
-- Lua 5.4's generational collector. With prosody's default (incremental,
-- a new cycle as soon as the heap grows by 5 %) most of the server's time at
-- a few thousand hosts went to sweeping the whole heap again and again: an
-- announcement cost 74 ms of CPU at 2,000 rooms against 27 at 20. Young
-- garbage (stanzas) is collected without walking the hosts' sessions:
-- 33 ms against 18.
gc = { mode = "generational" }
pidfile = data .. "/prosody.pid"
data_path = data
log = { info = data .. "/prosody.log"; error = "*stderr" }
admin_socket = data .. "/prosody.sock"
if ENV_VELLORA_LISTEN and ENV_VELLORA_LISTEN ~= "" then
	interfaces = { ENV_VELLORA_LISTEN }
end
local certs = ENV_VELLORA_CERTS or "/etc/prosody/certs"
if certs ~= "none" then
	certificates = certs
end

-- Client connections on 5222 only: no federation, no HTTP, no components
-- from outside.
c2s_ports = { 5222 }
s2s_ports = { }
http_ports = { }
https_ports = { }
component_ports = { }

local modules = {
	"saslauth";     -- SASL, for ANONYMOUS
	"disco";
	"ping";         -- answers the hosts' pings (XEP-0199)
	"smacks";       -- stream management (XEP-0198): how a vanished host is noticed
	"limits";       -- rate limits per connection
	"admin_shell";  -- prosodyctl shell, to create the room once
}
if certs ~= "none" then
	modules[#modules + 1] = "tls"  -- STARTTLS with the domain's certificate
end

-- The relay -----------------------------------------------------------------
-- A host that no router opens is relayed through coturn (TCP relays, RFC
-- 6062), which takes credentials made from the shared secret (its
-- use-auth-secret): every signed-in client may ask for them (XEP-0215,
-- urn:xmpp:extdisco:2), a host to allocate its relay, a guest to find the
-- relay's address. They last turn_external_ttl seconds: a host uses them
-- within a minute of asking, to allocate; an allocation outlives them.
local relay_secret_file = ENV_VELLORA_RELAY_SECRET_FILE
if relay_secret_file and relay_secret_file ~= "" then
	local file = assert(io.open(relay_secret_file), "cannot read VELLORA_RELAY_SECRET_FILE")
	turn_external_secret = assert(file:read("*l"), "no secret in VELLORA_RELAY_SECRET_FILE")
	file:close()
	turn_external_host = ENV_VELLORA_RELAY_HOST or domain
	turn_external_port = tonumber(ENV_VELLORA_RELAY_PORT or "3478")
	turn_external_ttl = 300
	turn_external_tcp = true
	modules[#modules + 1] = "turn_external"
end
modules_enabled = modules
modules_disabled = { "s2s"; "offline"; "roster"; "vcard"; "private"; "register" }

-- Nothing secret travels (anonymous sign-in, a public list): clients take
-- TLS when it is offered, and the server lets in those that do not.
c2s_require_encryption = false
s2s_require_encryption = false
allow_registration = false
storage = "internal"

-- Limits --------------------------------------------------------------------
-- A stanza larger than this ends the sender's connection; an announcement
-- is well under 1 KB.
c2s_stanza_size_limit = 8 * 1024
-- What the server reads from one client connection: at most 256 KB a
-- second (prosody pauses reading for as long as a read's bytes take at that
-- rate). Not lower: prosody 0.12 stops a connection's read timer after a
-- read that costs a pause of more than a millisecond, until a smaller read
-- comes, and the timer is how a vanished host is noticed (below); at this
-- rate a host's keep-alive traffic (pings, acknowledgements: well under
-- 256 bytes a read) never pauses, and a host sends a ping after each
-- announcement it updates.
limits = {
	c2s = { rate = "256kb/s" };
}

-- A host that vanishes without a word (a cable pulled, Wi-Fi gone) -------
-- A connection silent for read_timeout seconds is asked for an
-- acknowledgement (XEP-0198 <r/>); one still silent read_timeout seconds
-- later is closed, and its occupant leaves the room. The game's hosts ping
-- the server every 8 s and answer at once, so a live host is never silent
-- that long. A vanished host is gone 2 x 10 s after its last word, plus at
-- most smacks_hibernation_time if its client asked to resume: within about
-- 25 s of its link being cut.
network_settings = { read_timeout = 10 }
smacks_hibernation_time = 5
smacks_max_unacked_stanzas = 0

-- Sign-in: anonymous only ------------------------------------------------
VirtualHost (domain)
	authentication = "anonymous"
	allow_anonymous_s2s = false

-- The chat service and its rooms -------------------------------------------
-- Nobody but the server's administrators (there are none here) creates a
-- room: the 48 shard rooms are made once with directory/make-rooms.sh
-- (above) and stay (persistent), with no owner, so no occupant can lock
-- one (password, members only), rename it, change its subject, or gain any
-- power over the others. Every occupant is a visitor (a moderated room):
-- presences only, no chat messages. prosody has no limit of occupants a
-- room; the game keeps to 64 a shard by itself and leaves one that holds
-- more than 96 (a flood).
Component ("rooms." .. domain) "muc"
	name = "Vellora rooms"
	restrict_room_creation = true
	muc_room_locking = false
	muc_tombstones = false
	muc_room_default_public = true
	muc_room_default_persistent = true
	muc_room_default_members_only = false
	muc_room_default_moderated = true
	muc_room_default_public_jids = false
	muc_room_default_change_subject = false
	muc_room_default_history_length = 0
	max_history_messages = 0
	muc_room_allow_persistent = false
	muc_room_allow_public = false
