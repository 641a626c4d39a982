#!/usr/bin/env python3
"""The real updater on a private system bus: during an update it holds the login manager's
inhibitor lock against sleep, shutdown and logout, taken before the first block and given
back after the last; without a login manager, or with a slow one, the update is the same.

Usage: inhibitor.py lock|no-logind|slow-logind|command-line
"""
import os
import queue
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from acceptance import (Failure, binaries, check, close_window, holds_port,  # noqa: E402
                        run_named_case)
from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            Workspace, padded, read_first_line, wait_for)

BLOCKS = 480 + 96
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
"""


class SystemBus:
    """A dbus-daemon of our own, configured like a system bus."""

    def __init__(self, ws):
        config = ws.sub("bus", "system.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(socket=ws.sub("bus", "socket")))
        self.child = ws.start(["dbus-daemon", "--config-file", config, "--nofork",
                               "--print-address"])
        self.address = read_first_line(self.child.process, 20, "the bus")


def gio_python():
    """A Python that has the GLib bindings (python3-gi): this one, or the system's."""
    for python in dict.fromkeys([sys.executable, "/usr/bin/python3"]):
        if os.path.exists(python) and subprocess.run(
                [python, "-c", "from gi.repository import Gio"], stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL).returncode == 0:
            return python
    raise Failure("no Python with the GLib bindings (package python3-gi)")


class StandIn:
    """The login manager's stand-in; its reports are collected as they come."""

    def __init__(self, ws, bus, device_log, delay_ms=0):
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address)
        self.child = ws.start([gio_python(), os.path.join(HERE, "login1_standin.py"),
                               "--delay", str(delay_ms), "--device-log", device_log], env=env)
        check(read_first_line(self.child.process, 20, "the stand-in") == "ready",
              "the stand-in did not take the login manager's name")
        self.reports = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.child.process.stdout:
            self.reports.put(line.decode().strip())

    def next(self, timeout, what):
        try:
            return self.reports.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError(f"the stand-in reported no {what} within {timeout} s")


def run_update(delay_ms=None):
    """One whole update on the private bus; with a stand-in unless delay_ms is None."""
    with Workspace() as ws:
        updater_bin, sim_bin = binaries()
        bus = SystemBus(ws)
        device_log = ws.sub("device", "log.txt")
        standin = None if delay_ms is None else StandIn(ws, bus, device_log, delay_ms)
        server = UpdateServer(ws)
        device = SimDevice(ws, sim_bin, pace=False, log=device_log)
        display = VirtualDisplay(ws).display
        updater = Updater(ws, updater_bin, server.url, [device.port], display=display,
                          extra_env={"DBUS_SYSTEM_BUS_ADDRESS": bus.address})
        driver = Driver(display)
        driver.find_window()
        wait_for(updater.images_ready, 60, 0.1, "the unpacked firmware package")
        time.sleep(0.5)
        if standin:
            check(standin.reports.empty(), "a lock was taken before the update")
        started = time.monotonic()
        driver.click_update()
        if standin:
            taken = standin.next(30, "lock")
            fields, stored = taken.split(" ", 1)[1].rsplit(" ", 1)
            expected = f"sleep:shutdown:idle|Quillmoor Firmware Updater|" \
                       f"Writing firmware into the Quillmoor|block"
            check(fields == expected, f"the lock asked for is {fields!r}, not {expected!r}")
            check(stored == "0", f"the lock was asked for after {stored} blocks")
            granted = standin.next(30, "answer")
            if delay_ms:
                # The window waits a little for the lock, not until a slow bus answers.
                check(granted != "granted 0", "the update waited for the slow lock")
            else:
                check(granted == "granted 0", f"the update went on before its lock: {granted}")
        wait_for(lambda: device.received("ext"), 180, 0.2, "both images on the device")
        took = time.monotonic() - started
        check(device.received("os") == padded(server.image("QLM_OS.bin")),
              "the OS image on the device differs from the padded file")
        check(device.received("ext") == padded(server.image("QLM_EXT.bin")),
              "the external image on the device differs from the padded file")
        wait_for(lambda: not holds_port(updater.child.process.pid, device.port), 30, 0.1,
                 "the port to be closed after the update")
        if standin:
            released = standin.next(30, "release")
            check(released == f"released {BLOCKS}",
                  f"the lock was not held until the last block: {released!r}")
            time.sleep(0.5)
            more = [] if standin.reports.empty() else [standin.reports.get()]
            check(not more, f"the stand-in reported more: {more}")
        print(f"the update took {took:.1f} s" + (f"; {taken}; {released}" if standin else ""))
        close_window(driver, updater)
        return took


def run_command_line():
    """quillmoor-flash holds the same lock from before the first block to after the last."""
    with Workspace() as ws:
        _, sim_bin = binaries()
        flash = os.path.join(os.path.dirname(os.path.dirname(sim_bin)), "..", "src", "cli",
                             "quillmoor-flash")
        bus = SystemBus(ws)
        device_log = ws.sub("device", "log.txt")
        standin = StandIn(ws, bus, device_log)
        server = UpdateServer(ws)
        device = SimDevice(ws, sim_bin, pace=False, log=device_log)
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=bus.address, TMPDIR=ws.sub("tmp"))
        os.makedirs(env["TMPDIR"])
        done = subprocess.run([flash, "--port", device.port, "--server", server.url], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=240)
        check(done.returncode == 0, f"exit status {done.returncode}: {done.stderr}")
        check(device.received("ext") == padded(server.image("QLM_EXT.bin")),
              "the external image on the device differs from the padded file")
        taken = standin.next(5, "lock")
        fields, stored = taken.split(" ", 1)[1].rsplit(" ", 1)
        expected = "sleep:shutdown:idle|Quillmoor Firmware Updater|" \
                   "Writing firmware into a Quillmoor device|block"
        check(fields == expected and stored == "0", f"the lock asked for: {taken!r}")
        check(standin.next(5, "answer") == "granted 0", "the update went on before its lock")
        released = standin.next(5, "release")
        check(released == f"released {BLOCKS}",
              f"the lock was not held until the last block: {released!r}")


CASES = {
    "command-line": run_command_line,
    "lock": lambda: run_update(0),
    "no-logind": lambda: run_update(None),
    # Answers after the window stopped waiting for it: the update goes on, and the late lock
    # is still given back at its end.
    "slow-logind": lambda: run_update(4000),
}


def main(argv):
    return run_named_case(CASES, argv, __doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
