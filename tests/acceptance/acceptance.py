#!/usr/bin/env python3
"""Acceptance runs of the real updater program on a virtual display, driven with the mouse
and keyboard against a local update server and the simulated device.

Usage: acceptance.py update|faults|silent-boot
"""
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))

from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            Workspace, build_dir, padded, wait_for)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def binaries():
    build = build_dir()
    return (os.path.join(build, "src", "updater", "quillmoor-updater"),
            os.path.join(build, "tools", "sim", "quillmoor-sim"))


def holds_port(pid, port):
    """Whether the process has the device open."""
    fd_dir = f"/proc/{pid}/fd"
    try:
        return any(os.path.realpath(os.path.join(fd_dir, fd)) == port for fd in os.listdir(fd_dir))
    except FileNotFoundError:
        return False


def start(ws, sim_options):
    updater_bin, sim_bin = binaries()
    server = UpdateServer(ws)
    device = SimDevice(ws, sim_bin, options=sim_options, pace=False)
    display = VirtualDisplay(ws).display
    updater = Updater(ws, updater_bin, server.url, [device.port], display=display)
    driver = Driver(display)
    driver.find_window()
    # The program finds the device and fetches the package by itself.
    wait_for(updater.images_ready, 60, 0.1, "the unpacked firmware package")
    time.sleep(0.5)
    return server, device, updater, driver


def close_window(driver, updater):
    """Clicks Close until the program has ended; the click is refused while it is busy."""
    process = updater.child.process
    deadline = time.monotonic() + 30
    while process.poll() is None and time.monotonic() < deadline:
        driver.click_close()
        try:
            process.wait(2)
        except Exception:
            pass
    check(process.poll() == 0, f"the program did not end cleanly (status {process.poll()})")
    check(not os.path.exists(updater.work_dir), "the work directory is still there")


def full_update(sim_options):
    with Workspace() as ws:
        server, device, updater, driver = start(ws, sim_options)
        driver.click_update()
        wait_for(lambda: device.received("ext"), 180, 0.2, "both images on the device")
        check(device.received("os") == padded(server.image("QLM_OS.bin")),
              "the OS image on the device differs from the padded file")
        check(device.received("ext") == padded(server.image("QLM_EXT.bin")),
              "the external image on the device differs from the padded file")
        wait_for(lambda: not holds_port(updater.child.process.pid, device.port), 30, 0.1,
                 "the port to be closed after the update")
        stats = device.read_stats()
        print("device figures:", {k: stats.get(k) for k in
                                  ("packets_received", "packets_bad", "naks_sent")})
        close_window(driver, updater)


def silent_boot():
    with Workspace() as ws:
        _, device, updater, driver = start(ws, ["--silent-boot"])
        pid = updater.child.process.pid
        driver.click_update()
        # The updater waits in the boot loader phase with the port open at 115200 baud.
        time.sleep(2.0)
        wait_for(lambda: holds_port(pid, device.port), 20, 0.1, "the boot loader wait")
        driver.emergency_key()
        wait_for(lambda: not holds_port(pid, device.port), 20, 0.1,
                 "the transfer to stop after the emergency key")
        time.sleep(0.5)
        check(updater.child.process.poll() is None, "the first emergency key closed the window")
        check(device.received("os") is None, "an image arrived although the device was silent")
        driver.emergency_key()
        updater.child.process.wait(20)
        check(updater.child.process.returncode == 0, "the second emergency key did not close")
        check(not os.path.exists(updater.work_dir), "the work directory is still there")


CASES = {
    "update": lambda: full_update([]),
    # About one packet in 200 lost and one in 200 corrupted, plus NAKs on two blocks.
    "faults": lambda: full_update(["--drop-rate", "200", "--corrupt-rate", "200", "--seed", "7",
                                   "--nak-block", "3,250", "--char-timeout", "300"]),
    "silent-boot": silent_boot,
}


def main(argv):
    if len(argv) != 1 or argv[0] not in CASES:
        print(__doc__, file=sys.stderr)
        return 2
    started = time.monotonic()
    try:
        CASES[argv[0]]()
    except (Failure, TimeoutError) as error:
        print(f"FAILED {argv[0]}: {error}", file=sys.stderr)
        return 1
    print(f"passed {argv[0]} in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
