#!/usr/bin/env python3
"""Loopback FTP fixture server for the tests: anonymous or any login, binary downloads.

Files come from a JSON file, {"/path": "body file relative to the routes file"}; the
arguments and the stop rule are those of every fixture server (fixture_server.py). Every command received is
appended to the log, one line each.
"""
import json
import os
import socket
import socketserver
import threading

import fixture_server


def main():
    args = fixture_server.arguments()
    with open(args.routes, "r", encoding="utf-8") as f:
        files = json.load(f)
    base = os.path.dirname(os.path.abspath(args.routes))
    log_lock = threading.Lock()

    class Handler(socketserver.StreamRequestHandler):
        def reply(self, text):
            self.wfile.write((text + "\r\n").encode("latin-1"))
            self.wfile.flush()

        def handle(self):
            passive = None
            active = None
            self.reply("220 fixture ready")
            while True:
                line = self.rfile.readline()
                if not line:
                    break
                text = line.decode("latin-1").rstrip("\r\n")
                with log_lock, open(args.log, "a", encoding="latin-1") as log:
                    log.write(text + "\n")
                command, _, argument = text.partition(" ")
                command = command.upper()
                path = argument if argument.startswith("/") else "/" + argument
                if command == "USER":
                    self.reply("331 password please")
                elif command == "PASS":
                    self.reply("230 logged in")
                elif command == "SYST":
                    self.reply("215 UNIX Type: L8")
                elif command == "PWD":
                    self.reply('257 "/" is the current folder')
                elif command in ("TYPE", "MODE", "STRU", "OPTS", "NOOP"):
                    self.reply("200 ok")
                elif command == "CWD":
                    self.reply("250 ok")
                elif command in ("PASV", "EPSV"):
                    passive = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                    passive.bind(("127.0.0.1", 0))
                    passive.listen(1)
                    port = passive.getsockname()[1]
                    if command == "PASV":
                        self.reply("227 Entering Passive Mode (127,0,0,1,%d,%d)" % (port >> 8, port & 255))
                    else:
                        self.reply("229 Entering Extended Passive Mode (|||%d|)" % port)
                elif command == "PORT":
                    numbers = [int(n) for n in argument.split(",")]
                    active = (".".join(str(n) for n in numbers[:4]), numbers[4] * 256 + numbers[5])
                    self.reply("200 PORT ok")
                elif command == "SIZE":
                    if path in files:
                        self.reply("213 %d" % os.path.getsize(os.path.join(base, files[path])))
                    else:
                        self.reply("550 no such file")
                elif command == "RETR":
                    if path not in files or (passive is None and active is None):
                        self.reply("550 no such file")
                        continue
                    self.reply("150 sending")
                    if passive is not None:
                        data, _ = passive.accept()
                        passive.close()
                        passive = None
                    else:
                        data = socket.create_connection(active)
                        active = None
                    with open(os.path.join(base, files[path]), "rb") as f:
                        data.sendall(f.read())
                    data.close()
                    self.reply("226 done")
                elif command == "QUIT":
                    self.reply("221 bye")
                    break
                else:
                    self.reply("502 not here")

    class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
        daemon_threads = True
        allow_reuse_address = True

    fixture_server.serve_until_stopped(Server(("127.0.0.1", 0), Handler), args)


if __name__ == "__main__":
    main()
