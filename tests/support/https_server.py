#!/usr/bin/env python3
"""Loopback HTTPS (and plain HTTP) server for the update tests and benchmarks.

Prints "READY https=<port> http=<port>" once both listeners accept connections, then serves until
its standard input closes (so it never outlives the test that started it).

Paths (every method but GET answers 405):
  /files/NAME                  the file ROOT/NAME with its length
  /unannounced/NAME            the file without a length, ended by closing the connection
  /truncated/NAME              announces the file's length, sends half of it and closes
  /slow/NAME?delay=MS          the file in 16 KiB pieces, MS milliseconds apart
  /stall/NAME                  announces the length, sends half, then stops sending
  /declared/N                  announces N bytes and sends none
  /status/CODE                 that status with a short body
  /flaky/KEY/N/CODE/REST       CODE for the first N requests naming KEY, then /REST
  /redirect/N/REST             N relative redirects (302), then /REST
  /redirect-to?url=URL&code=C  one redirect (C, default 302) to URL
  /contents/NAME               {"content": Base64 of the file with line breaks, "encoding": "base64"}
Every connection, request and failed TLS handshake is appended to the --log file as one JSON line.
"""

import argparse
import base64
import http.server
import json
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse

PIECE = 1 << 20


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        pass  # clients that go away mid-reply are what several tests do on purpose


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QuelmarTest/1"
    scheme = "https"
    root = "."
    log_file = None
    log_lock = threading.Lock()
    counters = {}
    counters_lock = threading.Lock()
    files = {}

    def log_message(self, format, *args):
        pass

    def handle(self):
        self.write_log({"event": "connection", "scheme": self.scheme, "time": time.monotonic()})
        if self.scheme == "https":
            try:
                self.connection.do_handshake()
            except (ssl.SSLError, OSError) as error:
                self.write_log({"event": "tls-failure", "reason": str(error), "time": time.monotonic()})
                return
        super().handle()

    def record(self):
        self.write_log({
            "scheme": self.scheme,
            "method": self.command,
            "path": self.path,
            "headers": {k.lower(): v for k, v in self.headers.items()},
            "time": time.monotonic(),
        })

    def write_log(self, entry):
        if self.log_file is None:
            return
        with self.log_lock:
            with open(self.log_file, "a", encoding="utf-8") as out:
                out.write(json.dumps(entry) + "\n")

    def file(self, name):
        path = os.path.join(self.root, name)
        if "/" in name or not os.path.isfile(path):
            return None
        # Kept in memory while unchanged, so that large files are served at memory speed.
        stat = os.stat(path)
        key = (stat.st_mtime_ns, stat.st_size, stat.st_ino)
        cached = self.files.get(name)
        if cached is None or cached[0] != key:
            with open(path, "rb") as f:
                cached = (key, f.read())
            self.files[name] = cached
        return cached[1]

    def head(self, code, length=None, extra=()):
        self.send_response(code)
        if length is not None:
            self.send_header("Content-Length", str(length))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()

    def small(self, code, text, extra=()):
        body = text.encode()
        self.head(code, len(body), extra)
        self.wfile.write(body)

    def send(self, data):
        view = memoryview(data)
        for start in range(0, len(view), PIECE):
            self.wfile.write(view[start:start + PIECE])

    def do_GET(self):
        self.record()
        try:
            self.route(self.path)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, socket.timeout):
            self.close_connection = True

    def do_POST(self):
        self.record()
        self.small(405, "method not allowed")

    do_PUT = do_POST
    do_HEAD = do_POST

    def route(self, target):
        url = urllib.parse.urlsplit(target)
        query = urllib.parse.parse_qs(url.query)
        parts = url.path.lstrip("/").split("/")
        kind, rest = parts[0], parts[1:]

        if kind == "flaky" and len(rest) >= 4:
            key, count, code = rest[0], int(rest[1]), int(rest[2])
            with self.counters_lock:
                seen = self.counters.get(key, 0)
                self.counters[key] = seen + 1
            if seen < count:
                return self.small(code, "try again later")
            return self.route("/" + "/".join(rest[3:]) + ("?" + url.query if url.query else ""))
        if kind == "redirect" and rest:
            left = int(rest[0])
            tail = "/".join(rest[1:])
            # Relative references: the client resolves them against the address it asked for.
            location = f"/redirect/{left - 1}/{tail}" if left > 1 else "/" + tail
            return self.small(302, "moved", [("Location", location)])
        if kind == "redirect-to":
            code = int(query.get("code", ["302"])[0])
            return self.small(code, "moved", [("Location", query["url"][0])])
        if kind == "status" and rest:
            return self.small(int(rest[0]), f"status {rest[0]}")
        if kind == "declared" and rest:
            self.head(200, int(rest[0]))
            self.close_connection = True
            return None

        data = self.file(rest[0]) if len(rest) == 1 else None
        if data is None:
            return self.small(404, "not found")
        if kind == "files":
            self.head(200, len(data))
            return self.send(data)
        if kind == "unannounced":
            self.head(200)
            return self.send(data)
        if kind == "truncated":
            self.head(200, len(data))
            self.send(data[: len(data) // 2])
            self.close_connection = True
            return None
        if kind == "slow":
            delay = int(query.get("delay", ["20"])[0]) / 1000.0
            self.head(200, len(data))
            for start in range(0, len(data), 16384):
                self.wfile.write(data[start:start + 16384])
                time.sleep(delay)
            return None
        if kind == "stall":
            self.head(200, len(data))
            self.send(data[: len(data) // 2])
            # Keep the connection open without sending; the client's idle timeout must end it.
            self.connection.settimeout(120)
            try:
                self.connection.recv(1)
            except (OSError, ssl.SSLError):
                pass
            self.close_connection = True
            return None
        if kind == "contents":
            encoded = base64.b64encode(data).decode()
            lines = "\n".join(encoded[i:i + 60] for i in range(0, len(encoded), 60))
            body = json.dumps({"content": lines + "\n", "encoding": "base64"})
            return self.small(200, body, [("Content-Type", "application/json")])
        return self.small(404, "not found")


class PlainHandler(Handler):
    scheme = "http"


class TlsServer(Server):
    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def get_request(self):
        sock, address = self.socket.accept()
        # The handshake runs in the handler's thread, so a silent client cannot block the listener.
        return self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False), address


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--log")
    args = parser.parse_args()

    Handler.root = args.root
    Handler.log_file = args.log
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)

    secure = TlsServer(("127.0.0.1", 0), Handler, context)
    plain = Server(("127.0.0.1", 0), PlainHandler)
    for server in (secure, plain):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print(f"READY https={secure.server_address[1]} http={plain.server_address[1]}", flush=True)
    sys.stdin.read()


if __name__ == "__main__":
    main()
