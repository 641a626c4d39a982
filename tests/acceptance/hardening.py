#!/usr/bin/env python3
"""The real updater against a hostile or stalling update server and the system's requests to
end: however it is asked to end, it ends within two seconds and leaves nothing behind.

Usage: hardening.py close-during-fetch|close-during-download|sigterm-idle|sigterm-update|
                    sigterm-zip-box|sigterm-file-dialog
"""
import http.server
import os
import signal
import socket
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from acceptance import Failure, binaries, check, holds_port, run_named_case  # noqa: E402
from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            Workspace, wait_for)

VERSION_PATH = "/~plinth-works/QLM/Firmware.dat"
PACKAGE_PATH = "/~plinth-works/QLM/QLMUpdate.zip"
EXIT_LIMIT = 2.0


class StallingServer:
    """Answers the version file, then the package, one byte every second: a server that never
    quite stops talking. Which of the two stalls is chosen per run."""

    def __init__(self, stall_version):
        self.requested = {VERSION_PATH: threading.Event(), PACKAGE_PATH: threading.Event()}
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                event = server.requested.get(self.path)
                if event:
                    event.set()
                stalls = self.path == (VERSION_PATH if stall_version else PACKAGE_PATH)
                body = b"Quillmoor firmware\n2.17\n" if self.path == VERSION_PATH else b""
                self.send_response(200)
                self.send_header("Content-Length", str(len(body) if not stalls else 10**8))
                self.end_headers()
                try:
                    if not stalls:
                        self.wfile.write(body)
                        return
                    while True:
                        self.wfile.write(b"x" * (4096 if self.path == PACKAGE_PATH else 1))
                        self.wfile.flush()
                        time.sleep(1.0)
                except OSError:
                    pass  # the client went away

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()


def ended_within(process, seconds):
    """How long the process took to end after now, or None when it did not."""
    started = time.monotonic()
    try:
        process.wait(seconds)
    except Exception:
        return None
    return time.monotonic() - started


def expect_clean_end(updater, process, how):
    took = ended_within(process, EXIT_LIMIT)
    check(took is not None, f"the program was still running {EXIT_LIMIT} s after {how}")
    check(process.returncode == 0, f"the program ended with status {process.returncode}")
    check(not os.path.exists(updater.work_dir), "the work directory is still there")
    leftovers = [name for name in os.listdir(updater.tmp) if name.startswith("QLMUpdate")]
    check(not leftovers, f"left behind in the temporary folder: {leftovers}")
    print(f"ended {took:.2f} s after {how}")


def close_during_flow(stall_version):
    with Workspace() as ws:
        updater_bin, _ = binaries()
        server = StallingServer(stall_version)
        try:
            display = VirtualDisplay(ws).display
            updater = Updater(ws, updater_bin, server.url, [], display=display)
            driver = Driver(display)
            driver.find_window()
            # The program searches (no ports), then starts the web update by itself.
            stalled = VERSION_PATH if stall_version else PACKAGE_PATH
            wait_for(server.requested[stalled].is_set, 30, 0.05, f"the request for {stalled}")
            if not stall_version:
                # Downloads land in the staging folder until their check has passed.
                package = os.path.join(updater.work_dir, "incoming", "QLMUpdate.zip")
                wait_for(lambda: os.path.exists(package), 30, 0.05, "the package file on disk")
            time.sleep(0.3)
            driver.click_close()
            expect_clean_end(updater, updater.child.process, "the close click")
        finally:
            server.close()


def sigterm_idle():
    with Workspace() as ws:
        updater_bin, _ = binaries()
        server = UpdateServer(ws)
        display = VirtualDisplay(ws).display
        updater = Updater(ws, updater_bin, server.url, [], display=display)
        Driver(display).find_window()
        wait_for(updater.images_ready, 60, 0.1, "the unpacked firmware package")
        time.sleep(0.5)
        updater.child.process.send_signal(signal.SIGTERM)
        expect_clean_end(updater, updater.child.process, "SIGTERM")


def sigterm_update():
    with Workspace() as ws:
        updater_bin, sim_bin = binaries()
        server = UpdateServer(ws)
        device = SimDevice(ws, sim_bin, options=["--silent-boot"], pace=False)
        display = VirtualDisplay(ws).display
        updater = Updater(ws, updater_bin, server.url, [device.port], display=display)
        driver = Driver(display)
        driver.find_window()
        wait_for(updater.images_ready, 60, 0.1, "the unpacked firmware package")
        time.sleep(0.5)
        process = updater.child.process
        driver.click_update()
        time.sleep(2.0)
        wait_for(lambda: holds_port(process.pid, device.port), 20, 0.1, "the boot loader wait")
        process.send_signal(signal.SIGTERM)
        # The first request stops the transfer; the window closes once the update unwound.
        expect_clean_end(updater, process, "SIGTERM during the boot loader wait")
        check(device.received("os") is None, "an image arrived although the device was silent")


def closed_port_url():
    """An address nobody answers on: the web update fails at once, without a box."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return f"http://127.0.0.1:{probe.getsockname()[1]}"


def sigterm_with_box_open(open_box, title):
    """SIGTERM while a modal box waits for its user: the box is answered as cancelled and
    the window closes as when idle."""
    with Workspace() as ws:
        updater_bin, _ = binaries()
        display = VirtualDisplay(ws).display
        args = open_box(ws)
        updater = Updater(ws, updater_bin, closed_port_url(), [], display=display, args=args)
        driver = Driver(display)
        driver.find_window()
        if not args:
            time.sleep(1.5)  # past the search and the failed web update
            driver.run("windowfocus", "--sync", driver.window)
            driver.run("key", "--clearmodifiers", "ctrl+o")
        wait_for(lambda: driver.run("search", "--name", f"^{title}$").stdout.split(), 30, 0.1,
                 f"the box '{title}'")
        time.sleep(0.5)
        check(updater.child.process.poll() is None, "the program ended before the signal")
        updater.child.process.send_signal(signal.SIGTERM)
        expect_clean_end(updater, updater.child.process, f"SIGTERM with '{title}' open")


def refused_package(ws):
    """A package the ZIP component refuses with its error box: it is no ZIP at all."""
    path = ws.sub("Downloads", "QLMUpdate.zip")
    with open(path, "wb") as f:
        f.write(os.urandom(5000))
    return [path]


CASES = {
    "close-during-fetch": lambda: close_during_flow(stall_version=True),
    "close-during-download": lambda: close_during_flow(stall_version=False),
    "sigterm-idle": sigterm_idle,
    "sigterm-update": sigterm_update,
    "sigterm-zip-box": lambda: sigterm_with_box_open(refused_package,
                                                     "Quillmoor Firmware Updater"),
    "sigterm-file-dialog": lambda: sigterm_with_box_open(lambda ws: [], "Open firmware file"),
}


def main(argv):
    return run_named_case(CASES, argv, __doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
