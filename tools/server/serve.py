#!/usr/bin/env python3
"""A local update server: serves ROOT over HTTP on 127.0.0.1.

Prints its base URL (http://127.0.0.1:PORT) as the first line of output, then serves until
it is stopped. With --port 0 (the default) the system picks a free port. --trickle-body NAME
and --trickle-head NAME serve the file NAME two bytes a second (its headers at once, or those
too), as a stalled server does.
"""
import argparse
import functools
import http.server
import os
import sys
import time


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):
        if self.server.verbose:
            super().log_message(format, *args)

    def do_GET(self):
        name = os.path.basename(self.path)
        if name in self.server.trickle_body or name in self.server.trickle_head:
            self.trickle(name in self.server.trickle_head)
        else:
            super().do_GET()

    def trickle(self, head_too):
        path = self.translate_path(self.path)
        with open(path, "rb") as f:
            body = f.read()
        head = (f"HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n"
                f"Content-Length: {len(body)}\r\nConnection: close\r\n\r\n").encode()
        data, at = (head + body, 0) if head_too else (body, 0)
        self.close_connection = True
        try:
            if not head_too:
                self.wfile.write(head)
                self.wfile.flush()
            while at < len(data):
                self.wfile.write(data[at:at + 2])
                self.wfile.flush()
                at += 2
                time.sleep(1)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up, as it should


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("root", help="folder to serve")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--verbose", action="store_true", help="log every request")
    parser.add_argument("--trickle-body", action="append", default=[], metavar="NAME")
    parser.add_argument("--trickle-head", action="append", default=[], metavar="NAME")
    args = parser.parse_args(argv)

    handler = functools.partial(QuietHandler, directory=args.root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    server.verbose = args.verbose
    server.trickle_body = set(args.trickle_body)
    server.trickle_head = set(args.trickle_head)
    print(f"http://127.0.0.1:{server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
