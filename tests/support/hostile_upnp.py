#!/usr/bin/env python3
"""A device on a test's local network that answers UPnP searches badly.

    hostile_upnp.py MODE ADDRESS [SECONDS]

Listens for SSDP searches (UDP 1900, group 239.255.255.250) on ADDRESS, its
own address, and answers each one according to MODE:

    garbage   with a datagram of random bytes
    silent    as a gateway would, pointing at its own HTTP port, which takes
              connections and never sends a byte
    endless   the same, and its HTTP port sends a status line and then a
              header line every 50 ms, forever
    flood     the same, and its HTTP port sends a status line, headers and a
              body without end, as fast as it is taken
    repeat    as silent, and sends its answer again to everyone who searched
              every 0.5 s, whether asked or not

Ends by itself after SECONDS (60 when not given).
"""
import os
import select
import socket
import struct
import sys
import threading
import time

GROUP = "239.255.255.250"
HTTP_PORT = 5001


def serve_http(mode, address, stop_at):
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((address, HTTP_PORT))
    server.listen(16)
    held = []

    def talk(connection):
        try:
            connection.recv(4096)
            if mode == "endless":
                connection.sendall(b"HTTP/1.1 200 OK\r\n")
                while time.time() < stop_at:
                    connection.sendall(b"X-More: yes\r\n")
                    time.sleep(0.05)
            elif mode == "flood":
                connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n\r\n<root>")
                chunk = b"<device>" * 4096
                while time.time() < stop_at:
                    connection.sendall(chunk)
        except OSError:
            pass

    while time.time() < stop_at:
        ready, _, _ = select.select([server], [], [], 0.2)
        if not ready:
            continue
        connection, _ = server.accept()
        held.append(connection)  # silent: kept open, never answered
        if mode not in ("silent", "repeat"):
            threading.Thread(target=talk, args=(connection,), daemon=True).start()


def main():
    mode, address = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 60
    stop_at = time.time() + seconds
    ssdp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ssdp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ssdp.bind(("", 1900))
    membership = struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(address))
    ssdp.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
    if mode != "garbage":
        threading.Thread(target=serve_http, args=(mode, address, stop_at), daemon=True).start()
    print("ready", flush=True)
    gateway = (
        "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
        "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
        "USN: uuid:00000000-0000-0000-0000-000000000001::"
        "urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
        "EXT:\r\nSERVER: Test/1.0 UPnP/1.1 Test/1.0\r\n"
        "LOCATION: http://%s:%d/rootDesc.xml\r\n\r\n" % (address, HTTP_PORT)
    ).encode()
    searchers = set()
    next_repeat = time.time() + 0.5
    while time.time() < stop_at:
        if mode == "repeat" and time.time() >= next_repeat:
            for searcher in searchers:
                ssdp.sendto(gateway, searcher)
            next_repeat += 0.5
        ready, _, _ = select.select([ssdp], [], [], 0.05)
        if not ready:
            continue
        data, sender = ssdp.recvfrom(2048)
        if not data.startswith(b"M-SEARCH"):
            continue
        searchers.add(sender)
        ssdp.sendto(os.urandom(600) if mode == "garbage" else gateway, sender)


if __name__ == "__main__":
    main()
