#!/usr/bin/env python3
"""The real updater under a window manager, on a private session bus with a stand-in for the
desktop's notification service and dock: the program's launcher entry follows the update and
is cleared at its end; an update that ends while the window is minimized is told in a desktop
notification, which is taken back when the user returns to the window; a failure marks the
entry until then; without a notification service the update is the same.

Usage: notices.py updated-away|failed-away|in-front|no-service
"""
import json
import os
import queue
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from acceptance import binaries, check, close_with_key, run_named_case  # noqa: E402
from inhibitor import gio_python  # noqa: E402
from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            WindowManager, Workspace, padded, read_first_line, wait_for)

DESKTOP_ID = "example.quillmoor.FirmwareUpdater"
ENTRY = f"application://{DESKTOP_ID}.desktop"
# Blocks of both images; the device cancels the external image's block 20.
FAILING_BLOCK = 20
FAILED_AT = round((491516 + (FAILING_BLOCK - 1) * 1024) * 100 / 589824) / 100
# A session bus that starts no services: what answers is the stand-in or nothing.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


class SessionBus:
    """A dbus-daemon of our own, configured like a session bus."""

    def __init__(self, ws):
        config = ws.sub("bus", "session.conf")
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(socket=ws.sub("bus", "socket")))
        self.child = ws.start(["dbus-daemon", "--config-file", config, "--nofork",
                               "--print-address"], stderr=subprocess.DEVNULL)
        self.address = read_first_line(self.child.process, 20, "the bus")


class Desktop:
    """The stand-in's events, collected as they come."""

    def __init__(self, ws, bus, service):
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus.address)
        args = [gio_python(), os.path.join(HERE, "notifications_standin.py")]
        self.child = ws.start(args + ([] if service else ["--no-service"]), env=env)
        check(read_first_line(self.child.process, 20, "the stand-in") == "ready",
              "the stand-in is not ready")
        self.lines = queue.Queue()
        self.events = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.child.process.stdout:
            self.lines.put(json.loads(line.decode()))

    def collect(self):
        while not self.lines.empty():
            self.events.append(self.lines.get())
        return self.events

    def of(self, kind):
        return [e for e in self.collect() if e["event"] == kind]

    def wait(self, predicate, timeout, what):
        return wait_for(lambda: [e for e in self.collect() if predicate(e)], timeout, 0.1, what)


def shown(event):
    return event["event"] == "launcher" and event["properties"].get("progress-visible")


def hidden(event):
    return event["event"] == "launcher" and event["properties"].get("progress-visible") is False


def activate(driver):
    """The user returns to the window: the window manager raises and focuses it."""
    driver.find_window()
    driver.run("windowactivate", "--sync", driver.window)
    wait_for(lambda: driver.active_window() == driver.find_window(), 20, 0.1,
             "the window to be active again")


def run(away=True, fails=False, service=True):
    with Workspace() as ws:
        updater_bin, sim_bin = binaries()
        bus = SessionBus(ws)
        desktop = Desktop(ws, bus, service)
        server = UpdateServer(ws)
        device = SimDevice(ws, sim_bin, pace=False, options=[
            "--fault-image", "ext", "--can-block", str(FAILING_BLOCK)] if fails else [])
        display = VirtualDisplay(ws).display
        WindowManager(ws, display)
        updater = Updater(ws, updater_bin, server.url, [device.port], display=display,
                          extra_env={"DBUS_SESSION_BUS_ADDRESS": bus.address})
        driver = Driver(display)
        driver.find_window()
        wait_for(updater.images_ready, 60, 0.1, "the unpacked firmware package")
        time.sleep(0.5)
        check(not desktop.collect(), f"the desktop was told of no update: {desktop.events}")

        driver.click_update()
        desktop.wait(shown, 30, "the update on the launcher entry")
        if away:
            # The restart between the images alone takes 5 s: the window is down long before
            # the end.
            driver.run("windowminimize", driver.window)
            wait_for(lambda: driver.active_window() != driver.window, 20, 0.1,
                     "the window to lose the focus")
        desktop.wait(hidden, 180, "the end on the launcher entry")
        if fails:
            wait_for(lambda: not device.received("ext") and device.received("os"), 10, 0.1,
                     "the OS image alone on the device")
        else:
            check(device.received("os") == padded(server.image("QLM_OS.bin")),
                  "the OS image on the device differs from the padded file")
            check(device.received("ext") == padded(server.image("QLM_EXT.bin")),
                  "the external image on the device differs from the padded file")

        notices = desktop.wait(lambda e: e["event"] == "notify", 20, "the notification") \
            if away and service else []
        time.sleep(1.0)  # anything more would follow at once
        events = desktop.collect()
        check(all(e["uri"] == ENTRY for e in events if e["event"] == "launcher"),
              f"a launcher entry other than {ENTRY}: {events}")
        steps = [e["properties"] for e in events if shown(e)]
        progress = [step["progress"] for step in steps]
        check(progress[0] == 0 and progress == sorted(progress) and len(progress) > 50,
              f"the progress does not rise from 0 in steps: {progress}")
        check(abs(progress[-1] - (FAILED_AT if fails else 1.0)) < 1e-9,
              f"the progress ended at {progress[-1]}")
        ends = [e for e in events if hidden(e)]
        check(len(ends) == 1, f"the entry was hidden {len(ends)} times: {ends}")
        urgent = fails and away
        check(ends[0]["properties"] == {"progress-visible": False, "urgent": urgent},
              f"the end on the entry is {ends[0]['properties']}")
        check(events.index(ends[0]) > events.index([e for e in events if shown(e)][-1]),
              "the progress went on after the end")
        check(len(notices) == (1 if away and service else 0),
              f"{len(notices)} notifications: {notices}")
        if notices:
            notice = notices[0]
            expected = {
                "app_name": "Quillmoor Firmware Updater", "replaces_id": 0,
                "app_icon": DESKTOP_ID,
                "summary": "Quillmoor update failed" if fails else "Quillmoor updated",
                "body": "The device cancelled the transfer." if fails
                else "Both firmware images are in the device.",
                "actions": [], "expire_timeout": -1,
                "hints": {"desktop-entry": DESKTOP_ID, "urgency": 2 if fails else 1}}
            got = {k: v for k, v in notice.items() if k not in ("event", "id")}
            check(got == expected, f"the notification is {got}, not {expected}")
            check(events.index(notice) > events.index(ends[0]),
                  "the notification came before the end on the entry")
        told = len(events)

        if away:
            activate(driver)
            wanted = (1 if notices else 0) + (1 if urgent else 0)
            if wanted:
                wait_for(lambda: len(desktop.collect()) >= told + wanted, 20, 0.1,
                         "the desktop to be told that the user is back")
            time.sleep(1.0)
            back = desktop.collect()[told:]
            expected = ([{"event": "close", "id": notices[0]["id"]}] if notices else []) + \
                ([{"event": "launcher", "uri": ENTRY, "path": ends[0]["path"],
                   "properties": {"progress-visible": False, "urgent": False}}]
                 if urgent else [])
            check(sorted(map(json.dumps, back)) == sorted(map(json.dumps, expected)),
                  f"back in the window the desktop was told {back}, not {expected}")
        print(f"{len(progress)} progress steps, ended at {progress[-1]}, end {ends[0]['properties']}"
              + (f"; notification: {notices[0]['summary']}: {notices[0]['body']}" if notices
                 else "; no notification"))
        close_with_key(driver, updater)


CASES = {
    "updated-away": lambda: run(),
    "failed-away": lambda: run(fails=True),
    "in-front": lambda: run(away=False),
    # Nothing owns the notification service's name: the update and the entry are the same.
    "no-service": lambda: run(service=False),
}


def main(argv):
    return run_named_case(CASES, argv, __doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
