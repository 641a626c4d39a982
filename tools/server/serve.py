#!/usr/bin/env python3
"""A local update server: serves ROOT over HTTP on 127.0.0.1.

Prints its base URL (http://127.0.0.1:PORT) as the first line of output, then serves until
it is stopped. With --port 0 (the default) the system picks a free port.
"""
import argparse
import functools
import http.server
import sys


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, format, *args):
        if self.server.verbose:
            super().log_message(format, *args)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("root", help="folder to serve")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--verbose", action="store_true", help="log every request")
    args = parser.parse_args(argv)

    handler = functools.partial(QuietHandler, directory=args.root)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), handler)
    server.verbose = args.verbose
    print(f"http://127.0.0.1:{server.server_address[1]}", flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
