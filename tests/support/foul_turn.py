#!/usr/bin/env python3
"""A relay's server that plays foul, for the host's relay client
(internet/room_relay.h), written from the wire format (RFC 5389, 5766).

    foul_turn.py ADDRESS PORT MODE

Listens on ADDRESS:PORT (TCP), prints "ready", and answers every client as
MODE says:
  garbage    bytes that are no STUN message, at once
  oversized  a message header announcing 65,532 bytes, then those bytes
  endless    a proper 401 with realm and nonce, then after the second
             Allocate an endless stream of well-formed indications
  silent     takes the connection and never answers
Ends on SIGTERM.
"""
import os
import select
import signal
import socket
import struct
import sys

COOKIE = 0x2112A442


def message(mtype, transaction, attributes):
    body = b""
    for atype, value in attributes:
        body += struct.pack("!HH", atype, len(value)) + value + b"\0" * (-len(value) % 4)
    return struct.pack("!HHI", mtype, len(body), COOKIE) + transaction + body


def requests(buffer):
    """Whole requests in buffer: (type, transaction) each, and the rest."""
    found = []
    while len(buffer) >= 20:
        mtype, length = struct.unpack("!HH", buffer[:4])
        if len(buffer) < 20 + length:
            break
        found.append((mtype, buffer[8:20]))
        buffer = buffer[20 + length:]
    return found, buffer


def main():
    address, port, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(16)
    print("ready", flush=True)
    clients = {}  # socket -> [received bytes, Allocates seen]
    indication = message(0x001C, b"\x5a" * 12, [(0x002A, b"\0\0\0\1"),
                                                (0x0012, b"\0\1\0\0\1\2\3\4")])
    while True:
        writers = [c for c, state in clients.items() if mode == "endless" and state[1] >= 2]
        readable, writable, _ = select.select([listener, *clients], writers, [], 1.0)
        for sock in readable:
            if sock is listener:
                client, _ = listener.accept()
                client.setblocking(False)
                clients[client] = [b"", 0]
                if mode == "garbage":
                    client.send(b"\xff\xfeHTTP/1.1 200 OK\r\n\r\n" + os.urandom(512))
                elif mode == "oversized":
                    client.send(struct.pack("!HHI", 0x0113, 65532, COOKIE) + b"\0" * 4096)
                continue
            try:
                data = sock.recv(65536)
            except OSError:
                data = b""
            if not data:
                clients.pop(sock, None)
                sock.close()
                continue
            state = clients[sock]
            found, state[0] = requests(state[0] + data)
            for mtype, transaction in found:
                if mode == "endless" and mtype == 0x0003:
                    state[1] += 1
                    if state[1] == 1:
                        sock.send(message(0x0113, transaction,
                                          [(0x0009, b"\0\0\4\1Unauthorized"),
                                           (0x0014, b"foul.test"), (0x0015, b"nonce")]))
        for sock in writable:
            try:
                sock.send(indication * 64)
            except OSError:
                clients.pop(sock, None)
                sock.close()


if __name__ == "__main__":
    main()
