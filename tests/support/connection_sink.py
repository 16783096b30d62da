#!/usr/bin/env python3
"""Where a test sends the connections to addresses that stand for rooms on
the internet (an iptables REDIRECT rule in the test's namespace): takes each
one, writes "ADDRESS PORT" of the place it was meant for (SO_ORIGINAL_DST)
on a line to standard output, and keeps it open without a word until the
other side closes it, as a room that never answers.

  connection_sink.py PORT

Prints "ready" once it listens; runs until it is ended.
"""
import asyncio
import socket
import struct
import sys

SO_ORIGINAL_DST = 80


async def main():
    port = int(sys.argv[1])

    async def take(reader, writer):
        sock = writer.get_extra_info("socket")
        try:
            raw = sock.getsockopt(socket.SOL_IP, SO_ORIGINAL_DST, 16)
            dst_port, = struct.unpack("!H", raw[2:4])
            print("%s %d" % (socket.inet_ntoa(raw[4:8]), dst_port), flush=True)
        except OSError:
            print("unknown 0", flush=True)
        try:
            while await reader.read(4096):
                pass
        except OSError:
            pass
        writer.close()

    server = await asyncio.start_server(take, "0.0.0.0", port, backlog=1024)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
