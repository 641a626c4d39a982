#!/usr/bin/env python3
"""The real updater started with a firmware package on its command line and no update server
at all: it finds the device, loads the package and writes both images byte for byte.

Usage: from_file.py
"""
import os
import shutil
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from acceptance import Failure, binaries, check, close_window, holds_port  # noqa: E402
from quillmoor_demo import (SERVER_DIR, Driver, SimDevice, Updater, VirtualDisplay,  # noqa: E402
                            Workspace, padded, wait_for)


def closed_port_url():
    """An address nobody answers on: the program must not need the server."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return f"http://127.0.0.1:{port}"


def main():
    started = time.monotonic()
    with Workspace() as ws:
        updater_bin, sim_bin = binaries()
        made = ws.sub("made")
        package = subprocess.run([sys.executable, os.path.join(SERVER_DIR, "make_package.py"),
                                  made, "--version", "2.20", "--seed", "5"],
                                 check=True, capture_output=True, text=True).stdout.strip()
        mine = ws.sub("Downloads", "Quillmoor firmware 2.20.zip")
        shutil.copyfile(package, mine)

        device = SimDevice(ws, sim_bin, pace=False)
        display = VirtualDisplay(ws).display
        updater = Updater(ws, updater_bin, closed_port_url(), [device.port], display=display,
                          args=[mine])
        driver = Driver(display)
        driver.find_window()
        wait_for(updater.images_ready, 60, 0.1, "the images unpacked from the named package")
        time.sleep(1.5)  # the automatic search has selected the device by now
        driver.click_update()
        wait_for(lambda: device.received("ext"), 180, 0.2, "both images on the device")

        def image(name):
            with open(os.path.join(made, "images", name), "rb") as f:
                return f.read()

        check(device.received("os") == padded(image("QLM_OS.bin")),
              "the OS image on the device differs from the package's")
        check(device.received("ext") == padded(image("QLM_EXT.bin")),
              "the external image on the device differs from the package's")
        check(os.path.exists(mine), "the user's package is gone")
        wait_for(lambda: not holds_port(updater.child.process.pid, device.port), 30, 0.1,
                 "the port to be closed after the update")
        close_window(driver, updater)
    print(f"passed from-file in {time.monotonic() - started:.1f} s")


if __name__ == "__main__":
    try:
        main()
    except (Failure, TimeoutError) as error:
        print(f"FAILED from-file: {error}", file=sys.stderr)
        sys.exit(1)
