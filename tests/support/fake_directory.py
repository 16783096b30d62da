#!/usr/bin/env python3
"""A room directory that plays foul, for the tests of the directory's client
(tests/net_directory_test.cpp): a stand-in XMPP server that speaks just
enough of the protocol for a client to sign in anonymously, ask the
directory's shard rooms (vellora-00 to vellora-47) how many they hold and
join them, then sends what no real server would relay.

  fake_directory.py ADDRESS PORT DOMAIN MODE [ARGUMENTS]

Modes, per connection:
  flood REAL_ADDRESS REAL_PORT FLOOD_ADDRESS FORBIDDEN_PORT
        shard 0 holds 60 rooms on FLOOD_ADDRESS (ports 30000 and up),
        garbage, and the real room somewhere among them; shard 1 40 more
        flood rooms and rooms on loopback, multicast, unspecified,
        broadcast, link-local, private, shared and reserved addresses and
        wrapped forms of them (port FORBIDDEN_PORT); shard 2 says it holds
        1,000 (flooded past what a guest looks at) and holds 1,000 more
        flood rooms.
  big        shard 0 holds a 100 KB presence.
  deep | wide | entity | endless | garbage
        answers the stream's start with a stanza nested 300,000 deep, one
        with 200,000 children, an entity expansion (a document type
        declaration first), a stanza that never ends (1 KB every 10 ms), or
        100 MB of garbage.
  many REAL_ADDRESS REAL_PORT PREFIX COUNT
        COUNT rooms, one on each of PREFIX.0.1 and up (port 30000), and the
        real room, 63 to a shard from shard 0 on.
  silent     takes the connection and never says a word.
  drop       closes every connection as soon as it is made.
  stall      answers the stream's start, then never again.
  slow REAL_ADDRESS REAL_PORT
        shard 0's occupant list one presence per 100 ms, for 5 s.
  slowtls    offers STARTTLS (and nothing else), says proceed, takes the
        client's first TLS record, then answers with a TLS 1.2 ServerHello
        one byte every 1.9 s (its record header first), never getting
        further; prints "connection N: ClientHello of B bytes" as it
        begins to answer.

Prints "ready" once it listens; runs until it is ended. Every connection's
first bytes are read and answered in order; nothing is kept between
connections.
"""
import asyncio
import re
import sys

SASL = "urn:ietf:params:xml:ns:xmpp-sasl"
BIND = "urn:ietf:params:xml:ns:xmpp-bind"
MUC_USER = "http://jabber.org/protocol/muc#user"
ROOM_NS = "urn:x-vellora:room"
DISCO_INFO = "http://jabber.org/protocol/disco#info"
FORBIDDEN = ["127.0.0.1", "127.1.2.3", "224.0.0.1", "239.1.2.3", "0.0.0.0", "255.255.255.255",
             "169.254.7.7", "::1", "::", "ff02::1", "fe80::1", "::ffff:127.0.0.1", "10.0.0.1",
             "192.168.1.20", "172.16.0.5", "100.64.0.1", "fd00::20", "64:ff9b::7f00:1",
             "::7f00:1", "2002:c0a8:114::1", "240.0.0.1"]


def header(domain, n):
    return ("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
            "xmlns:stream='http://etherx.jabber.org/streams' id='s%d' from='%s' "
            "version='1.0' xml:lang='en'>" % (n, domain))


def announcement(address, port, instance=1, version="2", players="1", extra=""):
    return ("<room xmlns='%s' version='%s' instance='%d' players='%s' max='6'>"
            "<reach address='%s' port='%d'/>%s</room>"
            % (ROOM_NS, version, instance, players, address, port, extra))


def occupant(room, nick, to, body):
    return ("<presence from='%s/%s' to='%s'><x xmlns='%s'><item affiliation='none' "
            "role='visitor'/></x>%s</presence>" % (room, nick, to, MUC_USER, body))


def garbage(room, to):
    """Presences that carry no usable announcement."""
    out = []
    bad_rooms = [
        announcement("198.51.100.99", 1, version="1"),
        announcement("198.51.100.99", 2, players="9"),
        announcement("example.org", 3),
        "<room xmlns='%s' version='2'/>" % ROOM_NS,
        "<room xmlns='%s' version='2' instance='1' players='1' max='6'><name>a</name>"
        "<reach address='198.51.100.99' port='4'/></room>" % ROOM_NS,
        announcement("198.51.100.99", 5) + announcement("198.51.100.99", 6),
        "<x xmlns='urn:x-other'>" + announcement("198.51.100.99", 7).replace(ROOM_NS, "urn:x-other") + "</x>",
        "<room xmlns='%s' version='2' instance='1' players='1' max='6'>%s</room>"
        % (ROOM_NS, "<reach address='198.51.100.99' port='8'/>" * 50),
        "<status>" + "&amp;" * 500 + "</status>",
        "",
    ]
    for i, body in enumerate(bad_rooms):
        out.append(occupant(room, "junk%d" % i, to, body))
    # Presences of other kinds: an error, one gone, one from elsewhere.
    out.append("<presence from='%s/err' to='%s' type='error'><error type='cancel'/></presence>"
               % (room, to))
    out.append("<presence from='%s/gone' to='%s' type='unavailable'/>" % (room, to))
    out.append("<presence from='other@rooms.example/x' to='%s'>%s</presence>"
               % (to, announcement("198.51.100.99", 9)))
    out.append("<message from='%s/chat' to='%s' type='groupchat'><body>%s</body></message>"
               % (room, to, "x" * 2000))
    return out


class Session:
    count = 0

    def __init__(self, reader, writer, config):
        Session.count += 1
        self.n = Session.count
        self.reader = reader
        self.writer = writer
        self.config = config
        self.buffer = ""

    async def expect(self, pattern):
        while True:
            match = re.search(pattern, self.buffer, re.S)
            if match:
                self.buffer = self.buffer[match.end():]
                return match
            data = await self.reader.read(65536)
            if not data:
                raise ConnectionError("closed")
            self.buffer += data.decode("utf-8", "replace")

    async def send(self, text):
        self.writer.write(text.encode("utf-8"))
        await self.writer.drain()

    async def run(self):
        mode, args, domain = self.config["mode"], self.config["args"], self.config["domain"]
        if mode == "drop":
            return
        if mode == "silent":
            await asyncio.sleep(3600)
            return
        await self.expect(r"<stream:stream[^>]*>")
        if mode in HOSTILE:
            await HOSTILE[mode](self, header(domain, self.n))
            return
        await self.send(header(domain, self.n) +
                        "<stream:features><mechanisms xmlns='%s'><mechanism>ANONYMOUS"
                        "</mechanism></mechanisms></stream:features>" % SASL)
        if mode == "stall":
            await asyncio.sleep(3600)
            return
        await self.expect(r"<auth[^>]*ANONYMOUS[^>]*(/>|>.*?</auth>)")
        await self.send("<success xmlns='%s'/>" % SASL)
        await self.expect(r"<stream:stream[^>]*>")
        await self.send(header(domain, self.n) +
                        "<stream:features><bind xmlns='%s'/></stream:features>" % BIND)
        match = await self.expect(r"<iq[^>]*id=[\"']([^\"']+)[\"'][^>]*>.*?</iq>")
        jid = "guest%d@%s/r" % (self.n, domain)
        await self.send("<iq type='result' id='%s'><bind xmlns='%s'><jid>%s</jid></bind></iq>"
                        % (match.group(1), BIND, jid))
        shards = self.shards(mode, args, domain, jid)
        # What the client asks next: a shard room's count (disco#info), a
        # join (its occupant list, then its own presence), a leave, the end.
        asked = (r"<iq[^>]*/>|<iq[^>]*>.*?</iq>|<presence[^>]*/>|<presence[^>]*>.*?</presence>|"
                 r"</stream:stream>")
        while True:
            stanza = (await self.expect(asked)).group(0)
            if stanza == "</stream:stream>":
                await self.send("</stream:stream>")
                return
            to = re.search(r"to=[\"']([^\"']+)[\"']", stanza)
            shard = re.match(r"vellora-(\d\d)@rooms\.", to.group(1)) if to else None
            if shard is None:
                continue
            number = int(shard.group(1))
            room = to.group(1).split("/")[0]
            listed = shards.get(number, [])
            if stanza.startswith("<iq"):
                ident = re.search(r"id=[\"']([^\"']+)[\"']", stanza).group(1)
                count = self.counts.get(number, len([x for x in listed if x]))
                await self.send(
                    "<iq type='result' id='%s' from='%s' to='%s'><query xmlns='%s'>"
                    "<identity category='conference' type='text' name='r'/>"
                    "<feature var='http://jabber.org/protocol/muc'/><x xmlns='jabber:x:data' "
                    "type='result'><field var='FORM_TYPE' type='hidden'><value>"
                    "http://jabber.org/protocol/muc#roominfo</value></field>"
                    "<field var='muc#roominfo_occupants'><value>%d</value></field></x>"
                    "</query></iq>" % (ident, room, jid, DISCO_INFO, count))
                continue
            if re.search(r"type=[\"']unavailable[\"']", stanza):
                continue
            nick = to.group(1).split("/", 1)[1]
            for presence in listed:
                if presence is None:
                    await asyncio.sleep(0.1)
                    continue
                self.writer.write(presence.encode("utf-8"))
                await self.writer.drain()
            await self.send("<presence from='%s/%s' to='%s'><x xmlns='%s'><item affiliation='none' "
                            "role='visitor'/><status code='110'/></x></presence>"
                            % (room, nick, jid, MUC_USER))

    def shards(self, mode, args, domain, to):
        """The occupant lists of the shard rooms, by number (None: a pause)."""
        self.counts = {}

        def room(n):
            return "vellora-%02d@rooms.%s" % (n, domain)

        def flood_rooms(shard, flood, first, last):
            return [occupant(room(shard), "flood%d" % i, to,
                             announcement(flood, 30000 + i, 1000 + i))
                    for i in range(first, last)]

        if mode == "flood":
            real, real_port, flood, forbidden_port = args[0], int(args[1]), args[2], int(args[3])
            first = flood_rooms(0, flood, 0, 60) + garbage(room(0), to)
            # The real room among them, not first and not last.
            first.insert(len(first) // 3,
                         occupant(room(0), "real", to, announcement(real, real_port, 7)))
            second = flood_rooms(1, flood, 60, 100)
            for i, address in enumerate(FORBIDDEN):
                second.append(occupant(room(1), "forbidden%d" % i, to,
                                       announcement(address, forbidden_port)))
            # A shard flooded past what a guest looks at: never joined.
            self.counts[2] = 1000
            return {0: first, 1: second, 2: flood_rooms(2, flood, 100, 1100)}
        if mode == "many":
            real, real_port, prefix, count = args[0], int(args[1]), args[2], int(args[3])
            bodies = [("m%d" % i, announcement("%s.%d.%d" % (prefix, i // 250, i % 250 + 1), 30000,
                                               2000 + i)) for i in range(count)]
            bodies.insert(count // 2, ("real", announcement(real, real_port, 7)))
            out = {}
            for i, (nick, body) in enumerate(bodies):
                out.setdefault(i // 63, []).append(occupant(room(i // 63), nick, to, body))
            return out
        if mode == "big":
            padding = "<x xmlns='urn:x-padding'>%s</x>" % ("y" * 100 * 1024)
            return {0: [occupant(room(0), "big", to, announcement("198.51.100.98", 1) + padding)]}
        if mode == "slow":
            real, real_port = args[0], int(args[1])
            stanzas = [occupant(room(0), "real", to, announcement(real, real_port, 7))]
            for i in range(50):
                stanzas.append(None)  # a pause
                stanzas.append(occupant(room(0), "s%d" % i, to,
                                        announcement("198.51.100.97", 30000 + i)))
            return {0: stanzas}
        return {}


async def deep(session, head):
    await session.send(head + "<a>" * 300000)
    await asyncio.sleep(3600)


async def wide(session, head):
    await session.send(head + "<message>" + "<a/>" * 200000 + "</message>")
    await asyncio.sleep(3600)


async def entity(session, head):
    lol = "<!ENTITY a0 '" + "a" * 64 + "'>" + "".join(
        "<!ENTITY a%d '%s'>" % (i, ("&a%d;" % (i - 1)) * 10) for i in range(1, 10))
    await session.send("<?xml version='1.0'?><!DOCTYPE stream [%s]>" % lol +
                       head[len("<?xml version='1.0'?>"):] + "<message><body>&a9;</body></message>")
    await asyncio.sleep(3600)


async def endless(session, head):
    await session.send(head + "<message><body>")
    while True:
        await session.send("x" * 1024)
        await asyncio.sleep(0.01)


async def junk(session, head):
    chunk = bytes((i * 7919 + 13) % 256 for i in range(65536))
    for _ in range(100 * 1024 * 1024 // len(chunk)):
        session.writer.write(chunk)
        await session.writer.drain()
    await asyncio.sleep(3600)


HOSTILE = {"deep": deep, "wide": wide, "entity": entity, "endless": endless, "garbage": junk}


TLS_NS = "urn:ietf:params:xml:ns:xmpp-tls"
SLOW_TLS_INTERVAL_S = 1.9


def server_hello():
    """A TLS 1.2 ServerHello in its record (RFC 5246 7.4.1.3 and 6.2): no
    session id, ECDHE-RSA-AES128-GCM-SHA256, no compression, no extensions."""
    body = b"\x03\x03" + bytes(range(32)) + b"\x00" + b"\xc0\x2f" + b"\x00"
    handshake = b"\x02" + len(body).to_bytes(3, "big") + body
    return b"\x16\x03\x03" + len(handshake).to_bytes(2, "big") + handshake


async def slow_tls(session, head):
    await session.send(head + "<stream:features><starttls xmlns='%s'><required/></starttls>"
                       "</stream:features>" % TLS_NS)
    await session.expect(r"<starttls[^>]*(/>|>.*?</starttls>)")
    await session.send("<proceed xmlns='%s'/>" % TLS_NS)
    # The client's first record (nothing comes before the proceed): its
    # header's length says where it ends.
    record = b""
    while len(record) < 5 or len(record) < 5 + int.from_bytes(record[3:5], "big"):
        data = await session.reader.read(65536)
        if not data:
            raise ConnectionError("closed before its ClientHello")
        record += data
    print("connection %d: ClientHello of %d bytes" % (session.n, len(record)), flush=True)
    for byte in server_hello():
        session.writer.write(bytes([byte]))
        await session.writer.drain()
        await asyncio.sleep(SLOW_TLS_INTERVAL_S)
    await asyncio.sleep(3600)


HOSTILE["slowtls"] = slow_tls


async def main():
    address, port, domain, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    config = {"mode": mode, "args": sys.argv[5:], "domain": domain}

    async def serve(reader, writer):
        try:
            await Session(reader, writer, config).run()
        except (ConnectionError, OSError):
            pass
        finally:
            writer.close()

    server = await asyncio.start_server(serve, address, port)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
