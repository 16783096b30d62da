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
    args = [a for a in sys.argv[1:] if a != "--all"]
    every = "--all" in sys.argv[1:]
    server, domain = args[0], args[1]
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
    rooms = ["vellora-00@rooms." + domain]
    if every:
        writer.write(b"".join(
            ("<iq type='get' id='n%d' to='vellora-%02d@rooms.%s'><query "
             "xmlns='http://jabber.org/protocol/disco#info'/></iq>" % (i, i, domain)).encode()
            for i in range(48)))
        rooms = []
        for _ in range(48):
            answer = (await until(r"<iq\b[^>]*\bid=['\"]n(\d+)['\"].*?</iq>")).group(0)
            shard = int(re.search(r"\bid=['\"]n(\d+)['\"]", answer).group(1))
            count = re.search(r"muc#roominfo_occupants['\"][^>]*>\s*<value>(\d+)</value>", answer)
            if count and int(count.group(1)) > 0:
                rooms.append("vellora-%02d@rooms.%s" % (shard, domain))
    nick = "observer"
    for room in rooms:
        writer.write(("<presence to='%s/%s'><x xmlns='http://jabber.org/protocol/muc'><history "
                      "maxstanzas='0'/></x></presence>" % (room, nick)).encode())
    waiting = set(rooms)
    while waiting:
        match = await until(r"<presence\b.*?(?:/>|</presence>)")
        stanza = match.group(0)
        sender = re.search(r"from=['\"]([^'\"/]+)/([^'\"]+)['\"]", stanza)
        if not sender or sender.group(1) not in waiting:
            continue
        if sender.group(2) == nick:
            waiting.discard(sender.group(1))
            continue
        if "type='unavailable'" in stanza or 'type="unavailable"' in stanza:
            continue
        counts = re.search(r"players=['\"](\d+)['\"][^>]*max=['\"](\d+)['\"]|"
                           r"max=['\"](\d+)['\"][^>]*players=['\"](\d+)['\"]", stanza)
        places = re.findall(r"<reach\b[^>]*>", stanza)
        if counts is None or not places:
            print("%s -" % sender.group(2), flush=True)
            continue
        players = counts.group(1) or counts.group(4)
        maximum = counts.group(2) or counts.group(3)
        where = []
        for place in places:
            address = re.search(r"address=['\"]([^'\"]+)['\"]", place)
            port = re.search(r"port=['\"](\d+)['\"]", place)
            if address and port:
                where.append("%s:%s" % (address.group(1), port.group(1)))
        print("%s %s %s/%s" % (sender.group(2), " ".join(where), players, maximum), flush=True)
    print("end", flush=True)
    writer.write("".join("<presence to='%s/%s' type='unavailable'/>" % (room, nick)
                         for room in rooms).encode() + b"</stream:stream>")
    await writer.drain()
    writer.close()


if __name__ == "__main__":
    try:
        asyncio.run(asyncio.wait_for(main(), 10))
    except (asyncio.TimeoutError, ConnectionError, OSError) as error:
        print("failed: %s" % error, flush=True)
        sys.exit(1)
