#!/usr/bin/env python3
"""A local HTTPS (and plain HTTP) server for the update-check tests.

Usage: https_server.py CERT KEY ROOT. Prints "ports HTTPS HTTP" once listening, then
"request METHOD PATH" for every request. Files under ROOT are served as they are;
the built-in paths are listed in desktop_services.h (HttpsServer). Ends when standard input closes.
"""
import http.server
import os
import ssl
import sys
import threading
import time
import urllib.parse

CERT, KEY, ROOT = sys.argv[1:4]
MEMBER = b'"version": "9.9"'
PORTS = [0, 0]  # https, http; set once both listen
SLOW_SECONDS = 60  # longer than any time-out a test sets; the server is stopped first


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def send_body(self, code, body, headers=()):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass

    def do_GET(self):
        print("request GET " + self.path, flush=True)
        parts = urllib.parse.urlsplit(self.path).path.strip("/").split("/")
        if parts[0] == "status" and len(parts) > 1:
            self.send_body(int(parts[1]), MEMBER)
        elif parts[0] in ("redirect-to-https", "redirect-to-http"):
            secure = parts[0] == "redirect-to-https"
            port = PORTS[0] if secure else PORTS[1]
            target = "%s://127.0.0.1:%d/newer/version.json" % ("https" if secure else "http", port)
            self.send_body(302, b"", [("Location", target)])
        elif parts[0] == "slow":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.flush()
            time.sleep(SLOW_SECONDS)
        elif parts[0] == "big" and len(parts) > 2:
            size, at = int(parts[1]), int(parts[2])
            body = bytearray(b" " * size)
            body[at:at + len(MEMBER)] = MEMBER
            self.send_body(200, bytes(body[:size]))
        else:
            path = os.path.realpath(os.path.join(ROOT, self.path.lstrip("/")))
            if path.startswith(os.path.realpath(ROOT) + os.sep) and os.path.isfile(path):
                with open(path, "rb") as f:
                    self.send_body(200, f.read())
            else:
                self.send_body(404, b"not found")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # refused handshakes and cut connections are what some tests make


def main():
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(CERT, KEY)
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    plain = Server(("127.0.0.1", 0), Handler)
    PORTS[:] = [secure.server_address[1], plain.server_address[1]]
    for server in (secure, plain):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print("ports %d %d" % (secure.server_address[1], plain.server_address[1]), flush=True)
    sys.stdin.read()


main()
