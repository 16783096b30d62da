#!/usr/bin/env python3
"""A slow name server for the lookup tests, on 127.0.0.1:PORT (UDP).

Usage: slow_dns.py PORT DELAY_MS

roomNN.vellora.test: A 127.0.0.1 after DELAY_MS, each query answered on a
thread of its own so that slow answers overlap; AAAA answered at once with no
record (NOERROR). v6only.vellora.test: AAAA ::1 at once, A with no record.
Names with an address of each family, both answered at once, for the tests
of addresses tried side by side (tests/net_eyeballs_test.cpp):
v6silent.vellora.test: AAAA 2001:db8:77::2, A 127.0.0.1;
v4silent.vellora.test: A 198.51.100.2, AAAA fd00:77::1.
Any other name: NXDOMAIN. Prints "ready" once listening, then one line
"QTYPE NAME" per query received (flushed), and runs until killed.
"""
import re
import socket
import sys
import threading
import time

A, AAAA = 1, 28
ROOM = re.compile(r"^room\d\d\.vellora\.test$")
DUAL = {  # name: (A, AAAA)
    "v6silent.vellora.test": ("127.0.0.1", "2001:db8:77::2"),
    "v4silent.vellora.test": ("198.51.100.2", "fd00:77::1"),
}


def parse(packet):
    """The query's id, question bytes, name and type, or None."""
    if len(packet) < 12:
        return None
    pos, labels = 12, []
    while pos < len(packet) and packet[pos] != 0:
        length = packet[pos]
        labels.append(packet[pos + 1:pos + 1 + length].decode("ascii", "replace"))
        pos += 1 + length
    end = pos + 5
    if end > len(packet):
        return None
    qtype = int.from_bytes(packet[pos + 1:pos + 3], "big")
    return packet[:2], packet[12:end], ".".join(labels).lower(), qtype


def answer(qid, question, rcode, data=None, rtype=A):
    flags = 0x8180 | rcode  # a response, recursion desired and available
    count = 1 if data is not None else 0
    head = qid + flags.to_bytes(2, "big") + b"\x00\x01" + count.to_bytes(2, "big") + bytes(4)
    body = question
    if data is not None:
        body += (b"\xc0\x0c" + rtype.to_bytes(2, "big") + b"\x00\x01" +
                 (60).to_bytes(4, "big") + len(data).to_bytes(2, "big") + data)
    return head + body


def main():
    port, delay = int(sys.argv[1]), int(sys.argv[2]) / 1000.0
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", port))
    lock = threading.Lock()
    print("ready", flush=True)

    def send_later(reply, peer, wait):
        time.sleep(wait)
        with lock:
            server.sendto(reply, peer)

    while True:
        packet, peer = server.recvfrom(2048)
        parsed = parse(packet)
        if parsed is None:
            continue
        qid, question, name, qtype = parsed
        print(f"{'A' if qtype == A else 'AAAA' if qtype == AAAA else qtype} {name}", flush=True)
        wait = 0.0
        if ROOM.match(name):
            reply = answer(qid, question, 0, socket.inet_aton("127.0.0.1") if qtype == A else None)
            wait = delay if qtype == A else 0.0
        elif name == "v6only.vellora.test":
            v6 = socket.inet_pton(socket.AF_INET6, "::1")
            reply = answer(qid, question, 0, v6 if qtype == AAAA else None, AAAA)
        elif name in DUAL:
            v4, v6 = DUAL[name]
            if qtype == A:
                reply = answer(qid, question, 0, socket.inet_aton(v4))
            elif qtype == AAAA:
                reply = answer(qid, question, 0, socket.inet_pton(socket.AF_INET6, v6), AAAA)
            else:
                reply = answer(qid, question, 0)
        else:
            reply = answer(qid, question, 3)
        threading.Thread(target=send_later, args=(reply, peer, wait), daemon=True).start()


if __name__ == "__main__":
    main()
