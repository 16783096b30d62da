#!/usr/bin/env python3
"""A plain home router for tests, written from UPnP's wire formats (SSDP,
the IGD device description, SOAP actions of WANIPConnection:1), not from any
client's code.

    plain_igd.py ADDRESS TABLE_FILE [--external ADDRESS] [--permanent-only]
                 [--seconds N]

Answers SSDP searches for a gateway on ADDRESS (UDP 1900, group
239.255.255.250), serves its description and control URL on ADDRESS:5002,
and keeps a table of TCP forwardings: GetExternalIPAddress (the --external
address, 203.0.113.20 by default), AddPortMapping (718 for a port another
client holds; with --permanent-only, 725 for any lease but 0),
GetSpecificPortMappingEntry and DeletePortMapping (714 for a port it does
not hold). After every change the table is written to TABLE_FILE as JSON:
{"PORT": {"client": ADDRESS, "port": PORT, "lease": SECONDS}}. Prints
"ready" once it listens; ends by itself after --seconds (120 by default).
"""
import argparse
import json
import os
import select
import socket
import socketserver
import struct
import threading
import time
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

GROUP = "239.255.255.250"
HTTP_PORT = 5002
SERVICE = "urn:schemas-upnp-org:service:WANIPConnection:1"
DESCRIPTION = """<?xml version="1.0"?>
<root xmlns="urn:schemas-upnp-org:device-1-0">
<specVersion><major>1</major><minor>0</minor></specVersion>
<device>
<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType>
<friendlyName>plain gateway</friendlyName>
<UDN>uuid:11111111-2222-3333-4444-555555555555</UDN>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType>
<UDN>uuid:11111111-2222-3333-4444-555555555556</UDN>
<deviceList><device>
<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType>
<UDN>uuid:11111111-2222-3333-4444-555555555557</UDN>
<serviceList><service>
<serviceType>%s</serviceType>
<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>
<controlURL>/ctl</controlURL>
<eventSubURL>/evt</eventSubURL>
<SCPDURL>/scpd.xml</SCPDURL>
</service></serviceList>
</device></deviceList>
</device></deviceList>
</device>
</root>
""" % SERVICE


class Gateway:
    def __init__(self, options):
        self.options = options
        self.table = {}
        self.lock = threading.Lock()
        self.save()

    def save(self):
        temporary = self.options.table + ".new"
        with open(temporary, "w") as out:
            json.dump(self.table, out)
        os.replace(temporary, self.options.table)

    # Each action returns (values, None) or (None, UPnP error code).
    def act(self, action, args):
        with self.lock:
            port = args.get("NewExternalPort", "")
            if action == "GetExternalIPAddress":
                return {"NewExternalIPAddress": self.options.external}, None
            if args.get("NewProtocol") != "TCP" or not port.isdigit():
                return None, 402
            held = self.table.get(port)
            if action == "AddPortMapping":
                lease = int(args.get("NewLeaseDuration", "0"))
                client = args.get("NewInternalClient", "")
                if held is not None and held["client"] != client:
                    return None, 718
                if self.options.permanent_only and lease != 0:
                    return None, 725
                self.table[port] = {"client": client, "lease": lease,
                                    "port": int(args.get("NewInternalPort", "0"))}
                self.save()
                return {}, None
            if held is None:
                return None, 714
            if action == "GetSpecificPortMappingEntry":
                return {"NewInternalPort": str(held["port"]), "NewInternalClient": held["client"],
                        "NewEnabled": "1", "NewPortMappingDescription": "test",
                        "NewLeaseDuration": str(held["lease"])}, None
            if action == "DeletePortMapping":
                del self.table[port]
                self.save()
                return {}, None
            return None, 401


def soap(action, values, error):
    if error is not None:
        body = ('<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>'
                '<detail><UPnPError xmlns="urn:schemas-upnp-org:control-1-0">'
                '<errorCode>%d</errorCode><errorDescription>refused</errorDescription>'
                '</UPnPError></detail></s:Fault>' % error)
    else:
        body = '<u:%sResponse xmlns:u="%s">%s</u:%sResponse>' % (
            action, SERVICE, "".join("<%s>%s</%s>" % (k, v, k) for k, v in values.items()), action)
    return ('<?xml version="1.0"?>\r\n<s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/"'
            ' s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>%s</s:Body>'
            '</s:Envelope>\r\n' % body).encode()


def handler_for(gateway):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def answer(self, status, body, kind="text/xml"):
            self.send_response(status)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
            self.close_connection = True

        def do_GET(self):
            if self.path != "/desc.xml":
                return self.answer(404, b"")
            self.answer(200, DESCRIPTION.encode())

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(min(length, 65536))
            soap_action = self.headers.get("SOAPAction", "").strip('"')
            service, _, action = soap_action.partition("#")
            if self.path != "/ctl" or service != SERVICE:
                return self.answer(404, b"")
            try:
                envelope = ET.fromstring(body)
            except ET.ParseError:
                return self.answer(400, b"")
            call = envelope.find(".//{%s}%s" % (SERVICE, action))
            if call is None:
                return self.answer(400, b"")
            args = {child.tag: (child.text or "") for child in call}
            values, error = gateway.act(action, args)
            print("%s %s -> %s" % (action, args.get("NewExternalPort", ""),
                                   "ok" if error is None else error), flush=True)
            self.answer(200 if error is None else 500, soap(action, values, error))

        def log_message(self, *_):
            pass

    return Handler


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def server_bind(self):
        # HTTPServer's own looks its name up, which waits for a name server
        # the test's machines do not have.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("address")
    parser.add_argument("table")
    parser.add_argument("--external", default="203.0.113.20")
    parser.add_argument("--permanent-only", action="store_true")
    parser.add_argument("--seconds", type=float, default=120)
    options = parser.parse_args()
    stop_at = time.time() + options.seconds
    gateway = Gateway(options)
    server = Server((options.address, HTTP_PORT), handler_for(gateway))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    ssdp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    ssdp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    ssdp.bind(("", 1900))
    membership = struct.pack("4s4s", socket.inet_aton(GROUP), socket.inet_aton(options.address))
    ssdp.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, membership)
    print("ready", flush=True)
    while time.time() < stop_at:
        ready, _, _ = select.select([ssdp], [], [], 0.2)
        if not ready:
            continue
        data, sender = ssdp.recvfrom(2048)
        if not data.startswith(b"M-SEARCH") or b"InternetGatewayDevice" not in data:
            continue
        reply = ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
                 "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                 "USN: uuid:11111111-2222-3333-4444-555555555555::"
                 "urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                 "EXT:\r\nSERVER: Plain/1.0 UPnP/1.0 Plain/1.0\r\n"
                 "LOCATION: http://%s:%d/desc.xml\r\n\r\n" % (options.address, HTTP_PORT))
        ssdp.sendto(reply.encode(), sender)


if __name__ == "__main__":
    main()
