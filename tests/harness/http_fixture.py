#!/usr/bin/env python3
"""Loopback HTTP fixture server for the tests.

Routes come from a JSON file:
    {"GET /path": {"status": 200, "headers": {"Name": "value"}, "body": "text"},
     "POST /upload": {"status": 200, "body_file": "answer.xml", "delay": 0.5}}
A key is "METHOD PATH"; a path with a query string is matched exactly first, then
without its query. A request through a proxy names an absolute address
("GET http://host:80/path"); its path part is matched the same way. "body_file" is
relative to the routes file. Unknown routes answer 404.

Further route members, for answers a well-behaved server would not give:
    "cut": n          send the headers (Content-Length of the whole body), then only the
                      first n body bytes, and close the connection
    "raw": "text"     send this text instead of an HTTP answer, then close
    "pace": [n, s]    send the body in pieces of n bytes, s seconds apart
    "proxy_auth": "user:password"
                      answer 407 (Basic challenge) unless the request carries these
                      proxy credentials

Every request is appended to the log as
    === METHOD PATH LENGTH\\r\\n<header lines, each ending in \\r\\n>\\r\\n<body bytes>\\r\\n
The port goes to --port-file once the server listens. The server ends when a file named
"stop" appears beside the port file (then it writes "stopped"), or after --lifetime seconds.
"""
import base64
import http.server
import json
import os
import socketserver
import threading
import time

import fixture_server


def main():
    args = fixture_server.arguments()

    with open(args.routes, "r", encoding="utf-8") as f:
        routes = json.load(f)
    base = os.path.dirname(os.path.abspath(args.routes))
    log_lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *_):
            pass

        def handle_any(self):
            length = int(self.headers.get("Content-Length") or 0)
            body = self.rfile.read(length) if length > 0 else b""
            with log_lock, open(args.log, "ab") as log:
                log.write(("=== %s %s %d\r\n" % (self.command, self.path, len(body))).encode("latin-1"))
                for name, value in self.headers.items():
                    log.write(("%s: %s\r\n" % (name, value)).encode("latin-1"))
                log.write(b"\r\n" + body + b"\r\n")
            path = self.path
            if "://" in path.split("?", 1)[0]:
                rest = path.split("://", 1)[1]
                path = "/" + rest.split("/", 1)[1] if "/" in rest else "/"
            route = routes.get("%s %s" % (self.command, path))
            if route is None:
                route = routes.get("%s %s" % (self.command, path.split("?", 1)[0]))
            if route is None:
                route = {"status": 404, "body": "not found"}
            time.sleep(float(route.get("delay", 0)))
            if "raw" in route:
                self.wfile.write(route["raw"].encode("latin-1"))
                self.wfile.flush()
                self.close_connection = True
                return
            if "proxy_auth" in route:
                expected = "Basic " + base64.b64encode(route["proxy_auth"].encode("latin-1")).decode("ascii")
                if self.headers.get("Proxy-Authorization") != expected:
                    challenge = b"proxy credentials needed"
                    self.send_response(407)
                    self.send_header("Proxy-Authenticate", 'Basic realm="fixture"')
                    self.send_header("Content-Length", str(len(challenge)))
                    self.end_headers()
                    self.wfile.write(challenge)
                    return
            if "body_file" in route:
                with open(os.path.join(base, route["body_file"]), "rb") as f:
                    payload = f.read()
            else:
                payload = route.get("body", "").encode("utf-8")
            self.send_response(int(route.get("status", 200)))
            headers = route.get("headers", {})
            for name, value in headers.items():
                self.send_header(name, value)
            if "Content-Length" not in headers:
                self.send_header("Content-Length", str(len(payload)))
            if "cut" in route:
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command == "HEAD":
                return
            if "cut" in route:
                self.wfile.write(payload[: int(route["cut"])])
                self.wfile.flush()
                self.close_connection = True
                return
            if "pace" in route:
                size, pause = int(route["pace"][0]), float(route["pace"][1])
                for i in range(0, len(payload), size):
                    self.wfile.write(payload[i : i + size])
                    self.wfile.flush()
                    time.sleep(pause)
                return
            self.wfile.write(payload)

        do_GET = do_POST = do_PUT = do_HEAD = do_DELETE = handle_any

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        allow_reuse_address = True

    fixture_server.serve_until_stopped(Server(("127.0.0.1", 0), Handler), args)


if __name__ == "__main__":
    main()
