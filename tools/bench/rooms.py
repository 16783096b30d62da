#!/usr/bin/env python3
"""Stand-in rooms for the benchmark's refresh scene, all on 127.0.0.1.

Usage: rooms.py FIRST_PORT SILENT ANSWERING LIST_FILE CLOSED

Listens on SILENT ports that take connections and never answer, then on
ANSWERING ports that answer a room query (00 00 00) with a 712-byte room
record, and writes LIST_FILE: a RoomList.txt naming the silent ports, then
CLOSED ports nobody listens on, then the answering ports, interleaved so that
every page mixes them. Runs until killed.
"""
import selectors
import socket
import struct
import sys


def record(port, index):
    name = f"Bench{index:02d}".encode()
    comment = b"answers at once"
    return (bytes(128) + name.ljust(64, b"\0") + comment.ljust(512, b"\0") +
            struct.pack("<BBBBHH", 1, 6, 0, 0, port, 0))


def main():
    first, silent, answering, list_file, closed = (int(sys.argv[1]), int(sys.argv[2]),
                                                   int(sys.argv[3]), sys.argv[4],
                                                   int(sys.argv[5]))
    sel = selectors.DefaultSelector()
    held = []
    ports = {"silent": [], "answering": [], "closed": []}
    port = first
    for kind, count in (("silent", silent), ("answering", answering), ("closed", closed)):
        for _ in range(count):
            if kind != "closed":
                s = socket.socket()
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind(("127.0.0.1", port))
                s.listen(64)
                s.setblocking(False)
                sel.register(s, selectors.EVENT_READ, (kind, port, len(ports[kind])))
            ports[kind].append(port)
            port += 1
    order = []
    lists = [ports["silent"], ports["closed"], ports["answering"]]
    while any(lists):
        for lst in lists:
            # Two silent rooms for each closed and answering one.
            for _ in range(2 if lst is ports["silent"] else 1):
                if lst:
                    order.append(lst.pop(0))
    with open(list_file, "w") as f:
        f.writelines(f"127.0.0.1:{p}\n" for p in order)
    print("ready", flush=True)
    while True:
        for key, _ in sel.select():
            if key.data[0] == "query":
                conn, answer = key.fileobj, key.data[1]
                try:
                    data = conn.recv(16)
                except OSError:
                    data = b""
                sel.unregister(conn)
                if data[:3] == b"\0\0\0":
                    conn.sendall(answer)
                conn.close()
                continue
            kind, room_port, index = key.data
            conn, _ = key.fileobj.accept()
            if kind == "silent":
                held.append(conn)  # taken, never answered
            else:
                conn.setblocking(False)
                sel.register(conn, selectors.EVENT_READ, ("query", record(room_port, index)))

if __name__ == "__main__":
    main()
