#!/usr/bin/env python3
"""TLS servers for a client under test, each on a port of its own, until killed.

Usage: tls_peer.py ADDRESS CERTS UNTRUSTED DOMAIN
  CERTS and UNTRUSTED are folders holding DOMAIN.crt and DOMAIN.key
  (tests/support/directory.sh: directory_ca makes both).

  24431 echo       CERTS' certificate: reads one line, answers it reversed
                   (the newline kept last), then closes in order (close_notify)
  24432 untrusted  the same with UNTRUSTED's certificate
  24433 garbage    answers the ClientHello with an HTTP error, keeps the
                   connection open
  24434 huge       answers with a record header whose length passes TLS's
                   limit, keeps the connection open
  24435 slow       a real handshake answer, one byte every 1.9 s

Every connection has its own thread and ends when the client goes (or after
a minute); prints one line per connection. Written from Python's ssl
module and the record layout of RFC 5246 6.2, nothing of the client's.
"""
import os
import socket
import ssl
import sys
import threading
import time

PORTS = {"echo": 24431, "untrusted": 24432, "garbage": 24433, "huge": 24434, "slow": 24435}
LIMIT_S = 60
SLOW_INTERVAL_S = 1.9


def log(text):
    print(text, flush=True)


def context(folder, domain):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(folder, domain + ".crt"), os.path.join(folder, domain + ".key"))
    return ctx


def read_record(conn):
    """One whole TLS record (the ClientHello), or what came before the end."""
    data = b""
    while len(data) < 5 or len(data) < 5 + int.from_bytes(data[3:5], "big"):
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data


def wait_for_close(conn):
    while conn.recv(4096):
        pass


def echo(conn, ctx, name):
    tls = ctx.wrap_socket(conn, server_side=True)
    line = b""
    while not line.endswith(b"\n"):
        chunk = tls.recv(65536)
        if not chunk:
            raise ConnectionError("ended before a whole line")
        line += chunk
    tls.sendall(line[-2::-1] + b"\n")
    log(f"{name}: {len(line)} bytes of text answered")
    try:
        tls.unwrap()  # close_notify, then the client's or the connection's end
    except (OSError, ssl.SSLError):
        pass


def garbage(conn):
    read_record(conn)
    conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
    wait_for_close(conn)


def huge(conn):
    read_record(conn)
    conn.sendall(b"\x16\x03\x03\xff\xff" + bytes(200))
    wait_for_close(conn)


def slow(conn, ctx):
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    server = ctx.wrap_bio(incoming, outgoing, server_side=True)
    incoming.write(read_record(conn))
    try:
        server.do_handshake()
    except ssl.SSLWantReadError:
        pass
    answer = outgoing.read()
    conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    for i in range(len(answer)):
        conn.sendall(answer[i:i + 1])
        time.sleep(SLOW_INTERVAL_S)


def serve(name, listener, handler):
    while True:
        conn, _ = listener.accept()
        conn.settimeout(LIMIT_S)

        def run(conn=conn):
            try:
                handler(conn)
                log(f"{name}: done")
            except (OSError, ssl.SSLError, ConnectionError) as error:
                log(f"{name}: {error}")
            finally:
                conn.close()

        threading.Thread(target=run, daemon=True).start()


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    address, certs, untrusted, domain = sys.argv[1:]
    trusted_ctx, untrusted_ctx = context(certs, domain), context(untrusted, domain)
    handlers = {
        "echo": lambda conn: echo(conn, trusted_ctx, "echo"),
        "untrusted": lambda conn: echo(conn, untrusted_ctx, "untrusted"),
        "garbage": garbage,
        "huge": huge,
        "slow": lambda conn: slow(conn, trusted_ctx),
    }
    threads = []
    for name, port in PORTS.items():
        listener = socket.create_server((address, port))
        threads.append(threading.Thread(target=serve, args=(name, listener, handlers[name]),
                                        daemon=True))
    for thread in threads:
        thread.start()
    log("listening")
    for thread in threads:
        thread.join()


if __name__ == "__main__":
    main()
