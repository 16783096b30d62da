#!/usr/bin/env python3
"""Hostile occupants of a real room directory (prosody with the shipped
configuration), for the tests: each signs in anonymously like any client and
joins the directory's room with a presence no host of the game sends.

  hostile_occupants.py SERVER DOMAIN FLOOD_ADDRESS COUNT FORBIDDEN_PORT

  COUNT occupants announce rooms on FLOOD_ADDRESS (ports 30000 and up);
  others announce rooms on loopback, multicast, unspecified, broadcast and
  link-local addresses (port FORBIDDEN_PORT); one sends a 100 KB presence;
  some send garbage (another version, bad numbers, elements out of place).

Prints "ready" once every occupant that can join has joined, and one line
"big: ..." telling what the server did with the 100 KB presence; then stays
until it is ended. A plain connection (no TLS), as the configuration allows.
"""
import asyncio
import sys

MUC = "http://jabber.org/protocol/muc"
ROOM_NS = "urn:x-vellora:room"


def room(address, port, version="2", players="1", extra=""):
    return ("<room xmlns='%s' version='%s' instance='1' players='%s' max='6'>"
            "<reach address='%s' port='%d'/>%s</room>"
            % (ROOM_NS, version, players, address, port, extra))


class Occupant:
    def __init__(self, server, domain, nick, body):
        self.server, self.domain, self.nick, self.body = server, domain, nick, body
        self.tail = b""
        self.outcome = ""

    async def until(self, reader, token):
        while token not in self.tail:
            data = await reader.read(65536)
            if not data:
                raise ConnectionError("closed")
            self.tail = self.tail[-512:] + data
        self.tail = self.tail[self.tail.index(token) + len(token):]

    async def join(self, joined):
        header = ("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
                  "xmlns:stream='http://etherx.jabber.org/streams' to='%s' version='1.0'>"
                  % self.domain).encode()
        reader, writer = await asyncio.open_connection(self.server, 5222)
        try:
            writer.write(header)
            await self.until(reader, b"</stream:features>")
            writer.write(b"<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='ANONYMOUS'/>")
            await self.until(reader, b"<success")
            writer.write(header + b"<iq type='set' id='b'><bind "
                         b"xmlns='urn:ietf:params:xml:ns:xmpp-bind'/></iq>")
            await self.until(reader, b"</iq>")
            writer.write(("<presence to='vellora-00@rooms.%s/%s'><x xmlns='%s'><history "
                          "maxstanzas='0'/></x>%s</presence>"
                          % (self.domain, self.nick, MUC, self.body)).encode())
            await writer.drain()
            await self.until(reader, b"code='110'")
            self.outcome = "joined"
        except (ConnectionError, OSError) as error:
            self.outcome = "closed by the server (%s)" % error
            joined.set_result(None) if not joined.done() else None
            return
        joined.set_result(None)
        try:
            while await reader.read(65536):
                pass
        except OSError:
            pass
        self.outcome = "closed by the server"


async def main():
    server, domain, flood, count, forbidden = (sys.argv[1], sys.argv[2], sys.argv[3],
                                               int(sys.argv[4]), int(sys.argv[5]))
    occupants = []
    for i in range(count):
        occupants.append(Occupant(server, domain, "flood%d" % i,
                                  room(flood, 30000 + i)))
    for i, address in enumerate(["127.0.0.1", "224.0.0.1", "0.0.0.0", "255.255.255.255",
                                 "169.254.7.7", "::1", "ff02::1", "fe80::1", "::", "10.0.0.1",
                                 "192.168.1.20", "100.64.0.1", "fd00::20", "64:ff9b::7f00:1"]):
        occupants.append(Occupant(server, domain, "forbidden%d" % i, room(address, forbidden)))
    for i, body in enumerate([room("198.51.100.99", 1, version="1"),
                              room("198.51.100.99", 2, players="9"),
                              room("example.org", 3),
                              room("198.51.100.99", 4) + room("198.51.100.99", 5),
                              "<room xmlns='%s' version='2'/>" % ROOM_NS,
                              "<garbage xmlns='urn:x-garbage'>%s</garbage>" % ("z" * 3000)]):
        occupants.append(Occupant(server, domain, "junk%d" % i, body))
    big = Occupant(server, domain, "big", room("198.51.100.98", 1) +
                   "<x xmlns='urn:x-padding'>%s</x>" % ("y" * 100 * 1024))
    occupants.append(big)
    # A few at a time: the server's rate limit holds new connections anyway.
    waits = []
    for i, occupant in enumerate(occupants):
        joined = asyncio.get_running_loop().create_future()
        asyncio.create_task(occupant.join(joined))
        waits.append(joined)
        if i % 10 == 9:
            await asyncio.sleep(0)
    await asyncio.wait_for(asyncio.gather(*waits), 60)
    print("big: " + big.outcome, flush=True)
    print("joined: %d of %d" % (sum(o.outcome == "joined" for o in occupants), len(occupants)),
          flush=True)
    print("ready", flush=True)
    await asyncio.sleep(3600)


if __name__ == "__main__":
    asyncio.run(main())
