"""What the loopback fixture servers share: their arguments, and serving until told to stop.

A server writes its port to --port-file once it listens, and ends when a file named "stop"
appears beside the port file (then it writes "stopped"), or after --lifetime seconds.
"""
import argparse
import os
import threading
import time


def arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--routes", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--lifetime", type=float, default=300)
    return parser.parse_args()


def serve_until_stopped(server, args):
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(args.port_file + ".tmp", "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(args.port_file + ".tmp", args.port_file)
    folder = os.path.dirname(os.path.abspath(args.port_file))
    deadline = time.time() + args.lifetime
    while time.time() < deadline and not os.path.exists(os.path.join(folder, "stop")):
        time.sleep(0.05)
    server.shutdown()
    server.server_close()
    with open(os.path.join(folder, "stopped"), "w") as f:
        f.write("stopped\n")
