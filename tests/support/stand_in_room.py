#!/usr/bin/env python3
"""A stand-in room for the tests: answers a room query (00 00 00) on its TCP
port with a 712-byte room record named NAME (1 of 6 players), as a hosting
copy of the game does; with --lan it also answers the local network's room
search (UDP port 6248) as a hosting copy does.

  stand_in_room.py PORT NAME [--lan]

Prints "ready" once it listens; runs until it is ended.
"""
import asyncio
import random
import socket
import struct
import sys

SEARCH_PORT = 6248


def record(name, port):
    return (bytes(128) + name.encode()[:63].ljust(64, b"\0") + b"stand-in".ljust(512, b"\0") +
            struct.pack("<BBBBHH", 1, 6, 0, 0, port, 0))


class Search(asyncio.DatagramProtocol):
    def __init__(self, port):
        self.port = port
        self.instance = random.getrandbits(32)

    def connection_made(self, transport):
        self.transport = transport

    def datagram_received(self, data, sender):
        # A request: "VLRQ", version 1, zeros, a nonce, zeros; the answer
        # carries the room's port, the nonce and this room's instance.
        if len(data) != 16 or data[:5] != b"VLRQ\x01":
            return
        nonce = data[8:12]
        answer = b"VLRA\x01\x00" + struct.pack("<H", self.port) + nonce + struct.pack("<I", self.instance)
        self.transport.sendto(answer, sender)


async def main():
    port, name = int(sys.argv[1]), sys.argv[2]
    answer = record(name, port)

    async def serve(reader, writer):
        try:
            if await reader.readexactly(3) == b"\0\0\0":
                writer.write(answer)
                await writer.drain()
        except (asyncio.IncompleteReadError, OSError):
            pass
        writer.close()

    server = await asyncio.start_server(serve, "0.0.0.0", port)
    if "--lan" in sys.argv[3:]:
        loop = asyncio.get_running_loop()
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind(("0.0.0.0", SEARCH_PORT))
        await loop.create_datagram_endpoint(lambda: Search(port), sock=sock)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
