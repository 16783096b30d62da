#!/usr/bin/env python3
"""Hosts announcing their rooms in a room directory, for the benchmark's
directory scenes: COUNT occupants of the shard rooms vellora-NN@rooms.DOMAIN
on SERVER (64 a shard, as hosts fill them), each signed in anonymously as
the game's hosts are, asking every shard room's count as they do, and
announcing one room
(the game's announcement, urn:x-vellora:room) at PREFIX.(FIRST + i) port
PORT + i.

Usage: announcers.py [--without-counts] SERVER DOMAIN COUNT PREFIX FIRST PORT [AT_ONCE]

--without-counts: the occupants join without asking the counts first, when
they only stand in for a full directory (a test's load) rather than measure
what hosts cost the server (the bench).

SERVER may list several addresses, comma-separated (the nodes of a cluster):
occupant i signs in on the (i mod n)th. PREFIX may be a whole address: every
occupant then announces that one (FIRST is ignored), as hosts on one machine
would; or a block (A.B.C.D/BITS): occupant i then announces the block's
(FIRST + i)th address. AT_ONCE bounds how many occupants sign in at the same
time (all of them when not given), so that thousands of hosts arrive as a
steady stream rather than one burst of connections.

Prints "ready" once all of them are in the room, or one line saying which
occupant failed and why (and ends); stays until it is ended. An occupant
whose sign-in and join take over 10 s, or whose connection the server
closes meanwhile, starts again (four tries in all), as the game's host does;
while the fill lasts, standard error tells every few seconds how many are in
and where the first one missing waits. One process,
one thread, a few KB of state per occupant: 2,000 occupants cost a few
seconds of one core to sign in and little after.
"""
import asyncio
import ipaddress
import re
import sys

# The whole fill, however large, is given this long plus a little per occupant.
READY_LIMIT_S = 60
READY_LIMIT_PER_OCCUPANT_S = 0.1
# The shard rooms of the directory's convention (internet/directory.h).
SHARDS = 48
# A sign-in and join not done in this long is tried again, this many times
# in all (the game's host: 10 s, then again).
JOIN_LIMIT_S = 10
JOIN_ATTEMPTS = 4
# How often the count of occupants in their rooms is told (standard error).
PROGRESS_S = 5


def room_address(prefix, first, i):
    if "/" in prefix:
        block = ipaddress.ip_network(prefix)
        if first + i >= block.num_addresses:
            raise ValueError("block %s holds no address %d" % (prefix, first + i))
        return str(block.network_address + first + i)
    if prefix.count(".") == 3:
        return prefix
    return "%s.%d" % (prefix, first + i)


async def ask_counts(reader, writer, domain, tail):
    writer.write(b"".join(
        ("<iq type='get' id='n%d' to='vellora-%02d@rooms.%s'>"
         "<query xmlns='http://jabber.org/protocol/disco#info'/></iq>"
         % (shard, shard, domain)).encode() for shard in range(SHARDS)))
    answered = set(re.findall(rb"id='n(\d+)'", tail))
    while len(answered) < SHARDS:
        data = await reader.read(65536)
        if not data:
            raise ConnectionError("closed by the server")
        tail = tail[-16:] + data
        answered.update(re.findall(rb"id='n(\d+)'", tail))


async def sign_in_and_join(server, domain, i, address, port, counts, stages):
    """One connection: signs in, (asks the counts,) joins; returns it once in."""
    header = ("<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
              "xmlns:stream='http://etherx.jabber.org/streams' to='%s' version='1.0'>"
              % domain).encode()
    stages[i] = "connecting to %s" % server
    reader, writer = await asyncio.open_connection(server, 5222)
    try:
        tail = b""

        async def until(token):
            nonlocal tail
            stages[i] = "waiting for %s" % token.decode()
            while token not in tail:
                # An error the server sent instead is told when the fill fails.
                if b"type='error'" in tail or b"<stream:error" in tail:
                    stages[i] = "waiting for %s, after: %r" % (token.decode(), tail[-300:])
                data = await reader.read(65536)
                if not data:
                    raise ConnectionError("closed by the server")
                tail = tail[-512:] + data
            tail = tail[tail.index(token) + len(token):]

        writer.write(header)
        await until(b"</stream:features>")
        writer.write(b"<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='ANONYMOUS'/>")
        await until(b"<success")
        writer.write(header + b"<iq type='set' id='b'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/></iq>")
        await until(b"</iq>")
        # As the game's host does before it joins: every shard room asked how
        # many it holds (disco#info), the answers awaited.
        if counts:
            await ask_counts(reader, writer, domain, tail)
        room = ("<room xmlns='urn:x-vellora:room' version='2' instance='%d' players='1' max='6'>"
                "<reach address='%s' port='%d'/></room>" % (1000 + i, address, port))
        # The shard a host takes: the first with fewer than 64 occupants.
        writer.write(("<presence to='vellora-%02d@rooms.%s/bench%d'><x xmlns='http://jabber.org/protocol/muc'>"
                      "<history maxstanzas='0'/></x>%s</presence>" % (i // 64, domain, i, room)).encode())
        await until(b"code='110'")
        return reader, writer
    except BaseException:
        writer.close()
        raise


async def occupant(server, domain, i, address, port, joined, gate, counts, stages):
    # As the game's host does: a sign-in and join not done within its limit,
    # or a connection the server closed on the way, is tried again from the
    # start (a cluster under load now and then leaves a join unanswered).
    for attempt in range(1, JOIN_ATTEMPTS + 1):
        try:
            async with gate:
                reader, writer = await asyncio.wait_for(
                    sign_in_and_join(server, domain, i, address, port, counts, stages),
                    JOIN_LIMIT_S)
            break
        except (asyncio.TimeoutError, ConnectionError, OSError) as failure:
            if attempt == JOIN_ATTEMPTS:
                raise ConnectionError("%s (attempt %d, %s)" % (stages[i], attempt, failure))
            print("occupant %d: %s; trying again" % (i, stages[i]), file=sys.stderr, flush=True)
    stages[i] = "in"
    joined.set_result(None)
    # Everything the shard passes on is read (and dropped), as a host does.
    while await reader.read(65536):
        pass


async def main():
    args = sys.argv[1:]
    counts = "--without-counts" not in args
    args = [a for a in args if a != "--without-counts"]
    servers, domain, count, prefix, first, port = (args[0].split(","), args[1], int(args[2]),
                                                   args[3], int(args[4]), int(args[5]))
    at_once = int(args[6]) if len(args) > 6 else count
    gate = asyncio.Semaphore(max(1, at_once))
    loop = asyncio.get_running_loop()
    waits = []
    stages = ["not started"] * count  # where each occupant is, for a failed fill's report
    tasks = []  # the loop keeps only weak references to its tasks
    for i in range(count):
        joined = loop.create_future()
        task = asyncio.create_task(occupant(servers[i % len(servers)], domain, i,
                                            room_address(prefix, first, i), port + i, joined,
                                            gate, counts, stages))
        # A failed sign-in fails the whole fill at once, with its reason.
        task.add_done_callback(
            lambda t, f=joined, n=i: f.done() or t.cancelled() or t.exception() is None or
            f.set_exception(RuntimeError("occupant %d: %r" % (n, t.exception()))))
        waits.append(joined)
        tasks.append(task)
    def joined_so_far():
        return sum(1 for w in waits if w.done() and not w.cancelled() and w.exception() is None)

    async def progress():
        while True:
            await asyncio.sleep(PROGRESS_S)
            print("%d of %d in the room" % (joined_so_far(), count), file=sys.stderr, flush=True)
            waiting = [(n, s) for n, s in enumerate(stages) if s != "in"]
            if waiting:
                print("  occupant %d: %s" % waiting[0], file=sys.stderr, flush=True)

    reporter = asyncio.create_task(progress())
    try:
        await asyncio.wait_for(asyncio.gather(*waits),
                               READY_LIMIT_S + READY_LIMIT_PER_OCCUPANT_S * count)
    except asyncio.TimeoutError:
        print("failed: %d of %d in the room when time was up" % (joined_so_far(), count),
              flush=True)
        for n, stage in [(n, s) for n, s in enumerate(stages) if s != "in"][:5]:
            print("  occupant %d: %s" % (n, stage), flush=True)
        return
    except RuntimeError as failure:
        print("failed: %d of %d in the room: %s" % (joined_so_far(), count, failure), flush=True)
        return
    reporter.cancel()
    print("ready", flush=True)
    await asyncio.sleep(3600)


if __name__ == "__main__":
    asyncio.run(main())
