#!/usr/bin/env python3
"""What a room directory's shard room holds now, as any client of it sees it:
signs in anonymously, joins vellora-00@rooms.DOMAIN (the first shard, where
hosts announce while there are few), and prints one line per occupant:
"NICK ADDRESS:PORT... players/max" for one whose presence carries an
announcement, "NICK -" for another; then "end" once its own presence came
back, and leaves. Exits with 1 when the directory could not be joined within 10 s.

  directory_occupants.py SERVER DOMAIN
"""
import asyncio
import re
import sys


async def main():
    server, domain = sys.argv[1], sys.argv[2]
    room = "vellora-00@rooms." + domain
    header = ("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
              "xmlns:stream='http://etherx.jabber.org/streams' to='%s' version='1.0'>"
              % domain).encode()
    reader, writer = await asyncio.open_connection(server, 5222)
    buffer = ""

    async def until(pattern):
        nonlocal buffer
        while True:
            match = re.search(pattern, buffer, re.S)
            if match:
                buffer = buffer[match.end():]
                return match
            data = await reader.read(65536)
            if not data:
                raise ConnectionError("closed")
            buffer += data.decode("utf-8", "replace")

    writer.write(header)
    await until(r"</stream:features>")
    writer.write(b"<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='ANONYMOUS'/>")
    await until(r"<success[^>]*>")
    writer.write(header + b"<iq type='set' id='b'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/></iq>")
    await until(r"</iq>")
    nick = "observer"
    writer.write(("<presence to='%s/%s'><x xmlns='http://jabber.org/protocol/muc'><history "
                  "maxstanzas='0'/></x></presence>" % (room, nick)).encode())
    while True:
        match = await until(r"<presence\b.*?(?:/>|</presence>)")
        stanza = match.group(0)
        sender = re.search(r"from=['\"]%s/([^'\"]+)['\"]" % re.escape(room), stanza)
        if not sender:
            continue
        if sender.group(1) == nick:
            break
        if "type='unavailable'" in stanza or 'type="unavailable"' in stanza:
            continue
        counts = re.search(r"players=['\"](\d+)['\"][^>]*max=['\"](\d+)['\"]|"
                           r"max=['\"](\d+)['\"][^>]*players=['\"](\d+)['\"]", stanza)
        places = re.findall(r"<reach\b[^>]*>", stanza)
        if counts is None or not places:
            print("%s -" % sender.group(1), flush=True)
            continue
        players = counts.group(1) or counts.group(4)
        maximum = counts.group(2) or counts.group(3)
        where = []
        for place in places:
            address = re.search(r"address=['\"]([^'\"]+)['\"]", place)
            port = re.search(r"port=['\"](\d+)['\"]", place)
            if address and port:
                where.append("%s:%s" % (address.group(1), port.group(1)))
        print("%s %s %s/%s" % (sender.group(1), " ".join(where), players, maximum), flush=True)
    print("end", flush=True)
    writer.write(("<presence to='%s/%s' type='unavailable'/></stream:stream>"
                  % (room, nick)).encode())
    await writer.drain()
    writer.close()


if __name__ == "__main__":
    try:
        asyncio.run(asyncio.wait_for(main(), 10))
    except (asyncio.TimeoutError, ConnectionError, OSError) as error:
        print("failed: %s" % error, flush=True)
        sys.exit(1)
