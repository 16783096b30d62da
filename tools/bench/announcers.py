#!/usr/bin/env python3
"""Hosts announcing their rooms in a room directory, for the benchmark's
directory scene: COUNT occupants of the shard rooms vellora-NN@rooms.DOMAIN
on SERVER (64 a shard, as hosts fill them), each signed in anonymously as
the game's hosts are and announcing one room
(the game's announcement, urn:x-vellora:room) at PREFIX.(FIRST + i) port
PORT + i.

Usage: announcers.py SERVER DOMAIN COUNT PREFIX FIRST PORT

SERVER may list several addresses, comma-separated (the nodes of a cluster):
occupant i signs in on the (i mod n)th. PREFIX may be a whole address: every
occupant then announces that one (FIRST is ignored), as hosts on one machine
would.

Prints "ready" once all of them are in the room; stays until it is ended.
"""
import asyncio
import sys


async def occupant(server, domain, i, address, port, joined):
    header = ("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
              "xmlns:stream='http://etherx.jabber.org/streams' to='%s' version='1.0'>"
              % domain).encode()
    reader, writer = await asyncio.open_connection(server, 5222)
    tail = b""

    async def until(token):
        nonlocal tail
        while token not in tail:
            data = await reader.read(65536)
            if not data:
                raise ConnectionError("closed")
            tail = tail[-512:] + data
        tail = tail[tail.index(token) + len(token):]

    writer.write(header)
    await until(b"</stream:features>")
    writer.write(b"<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='ANONYMOUS'/>")
    await until(b"<success")
    writer.write(header + b"<iq type='set' id='b'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/></iq>")
    await until(b"</iq>")
    room = ("<room xmlns='urn:x-vellora:room' version='2' instance='%d' players='1' max='6'>"
            "<reach address='%s' port='%d'/></room>" % (1000 + i, address, port))
    # The shard a host takes: the first with fewer than 64 occupants.
    writer.write(("<presence to='vellora-%02d@rooms.%s/bench%d'><x xmlns='http://jabber.org/protocol/muc'>"
                  "<history maxstanzas='0'/></x>%s</presence>" % (i // 64, domain, i, room)).encode())
    await until(b"code='110'")
    joined.set_result(None)
    while await reader.read(65536):
        pass


async def main():
    servers, domain, count, prefix, first, port = (sys.argv[1].split(","), sys.argv[2],
                                                   int(sys.argv[3]), sys.argv[4], int(sys.argv[5]),
                                                   int(sys.argv[6]))
    loop = asyncio.get_running_loop()
    waits = []
    for i in range(count):
        joined = loop.create_future()
        address = prefix if prefix.count(".") == 3 else "%s.%d" % (prefix, first + i)
        asyncio.create_task(occupant(servers[i % len(servers)], domain, i, address, port + i,
                                     joined))
        waits.append(joined)
    await asyncio.wait_for(asyncio.gather(*waits), 60)
    print("ready", flush=True)
    await asyncio.sleep(3600)


if __name__ == "__main__":
    asyncio.run(main())
