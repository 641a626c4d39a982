#!/usr/bin/env python3
"""The real updater as a screen reader reads it: the program on a virtual display of its own,
with a D-Bus session and an accessibility bus of its own, its tree read over AT-SPI: names,
roles, descriptions and label ties of the controls, no hidden control, and the progress
figures as they change during an update.

Usage: accessibility.py
       accessibility.py --tree TITLE | --watch TITLE NAME SECONDS   (the reader's side)

The reader's side needs the AT-SPI bindings for Python (python3-gi, gir1.2-atspi-2.0), which
only the system's Python may have; the checks start it with a Python that has them. Exits with
77 (skipped) when a program or package the run needs is not installed.
"""
import json
import os
import re
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from acceptance import Failure, binaries, check, close_window  # noqa: E402
from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            Workspace, read_first_line, wait_for)

SKIPPED = 77
TITLE = "QLM Firmware Updater"
A11Y_SERVICE = "/usr/share/dbus-1/services/org.a11y.Bus.service"
PROGRESS = re.compile(r"^Total progress (\d+) %, Block: (\d+)$")


# The reader's side: runs under a Python with the AT-SPI bindings.

def atspi():
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
    return Atspi


def find_window(Atspi, title, timeout=30.0):
    """The frame of that title, once the program has put its tree on the bus."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            for j in range(app.get_child_count() if app else 0):
                window = app.get_child_at_index(j)
                if window and window.get_name() == title:
                    return window
        time.sleep(0.2)
    raise TimeoutError(f"no window named {title!r} on the accessibility bus")


def node(Atspi, acc):
    states = acc.get_state_set()
    relations = {}
    for relation in acc.get_relation_set() or []:
        targets = [relation.get_target(i).get_name() for i in range(relation.get_n_targets())]
        relations.setdefault(relation.get_relation_type().value_nick, []).extend(targets)
    return {
        "role": acc.get_role_name(),
        "name": acc.get_name(),
        "description": acc.get_description(),
        "states": sorted(Atspi.StateType(s).value_nick for s in states.get_states()),
        "relations": relations,
        "children": [node(Atspi, acc.get_child_at_index(i))
                     for i in range(acc.get_child_count())],
    }


def find_named(acc, name):
    if acc.get_name() == name:
        return acc
    for i in range(acc.get_child_count()):
        found = find_named(acc.get_child_at_index(i), name)
        if found:
            return found
    return None


def read_tree(title):
    Atspi = atspi()
    print(json.dumps(node(Atspi, find_window(Atspi, title))))


def watch_description(title, name, seconds):
    """Prints the description of the object of that name each time it changes."""
    Atspi = atspi()
    target = find_named(find_window(Atspi, title), name)
    if target is None:
        raise LookupError(f"nothing named {name!r}")
    last = None
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        target.clear_cache()  # no event loop runs here to keep the cache current
        try:
            description = target.get_description()
        except Exception:  # the program is busy past the call's time limit: ask again
            continue
        if description != last:
            print(json.dumps(description), flush=True)
            last = description
        time.sleep(0.02)


# The checks' side.

def reader_python():
    """A Python that has the AT-SPI bindings: this one, or the system's."""
    probe = "import gi; gi.require_version('Atspi', '2.0'); from gi.repository import Atspi"
    for python in dict.fromkeys([sys.executable, "/usr/bin/python3"]):
        if os.path.exists(python) and subprocess.run(
                [python, "-c", probe], stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL).returncode == 0:
            return python
    return None


def missing():
    import shutil
    if not shutil.which("dbus-daemon"):
        return "dbus-daemon (package dbus-daemon)"
    if not os.path.exists(A11Y_SERVICE):
        return "the accessibility bus (package at-spi2-core)"
    if not reader_python():
        return "the AT-SPI bindings for Python (packages python3-gi, gir1.2-atspi-2.0)"
    return None


def flatten(tree, path=""):
    here = f"{path}/{tree['role']}:{tree['name']}"
    yield here, tree
    for child in tree["children"]:
        yield from flatten(child, here)


def tree_problems(tree, port):
    """What a screen reader would miss or be misled by in the window's tree."""
    problems = []

    def expect(condition, message):
        if not condition:
            problems.append(message)

    nodes = list(flatten(tree))
    expect(tree["role"] == "frame", f"the window is a {tree['role']}, not a frame")

    def named(role, name):
        found = [n for _, n in nodes if n["role"] == role and n["name"] == name]
        expect(len(found) == 1, f"{len(found)} {role} named {name!r} instead of one")
        return found[0] if found else {"description": "", "states": []}

    for role, name, described in [
            ("image", "Quillmoor symbol", False), ("image", "Quillmoor device", True),
            ("text", "Introduction", False), ("text", "Monitor", True),
            ("progress bar", "Image progress", True),
            ("push button", "Download web update", True),
            ("push button", "Update Quillmoor", True), ("push button", "Close", True),
            ("label", "COMPort", False)]:
        found = named(role, name)
        expect(found["description"] or not described, f"the {role} {name!r} has no description")
    expect("editable" not in named("text", "Introduction")["states"],
           "the introduction can be edited")
    expect(named("progress bar", "Image progress")["description"] ==
           "Total progress 0 %, Block: 0", "the progress bar does not carry the figures at rest")

    # A selector is named by its choice here; the label beside it is tied to it.
    selectors = [n for _, n in nodes if n["role"] == "combo box"]
    expect(len(selectors) == 1, f"{len(selectors)} port selectors")
    for selector in selectors[:1]:
        expect(selector["name"] == port,
               f"the port selector reads {selector['name']!r}, not the device's port {port}")
        expect(selector["relations"].get("labelled-by") == ["COMPort"],
               f"the port selector is labelled by {selector['relations'].get('labelled-by')}")
        expect(selector["description"], "the port selector has no description")

    expect(not [n for _, n in nodes if n["name"] == "UpdateExt"],
           "the hidden UpdateExt button is in the tree")
    for path, n in nodes:
        if {"focusable", "showing"} <= set(n["states"]):
            expect(n["name"], f"{path} can take the focus but has no name")
    return problems


def main():
    lacking = missing()
    if lacking:
        print(f"SKIPPED: {lacking} is not installed")
        return SKIPPED
    python = reader_python()
    started = time.monotonic()
    with Workspace() as ws:
        updater_bin, sim_bin = binaries()
        # A session bus of the run's own; it starts the accessibility bus when asked, and
        # everything it starts ends with it.
        bus = ws.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                       stderr=subprocess.DEVNULL)
        address = read_first_line(bus.process, 20, "the session bus")
        server = UpdateServer(ws)
        device = SimDevice(ws, sim_bin, pace=False)
        display = VirtualDisplay(ws).display
        session = {"DBUS_SESSION_BUS_ADDRESS": address, "DISPLAY": display}
        updater = Updater(ws, updater_bin, server.url, [device.port], display=display,
                          extra_env=dict(session, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
        driver = Driver(display)
        driver.find_window()
        wait_for(updater.images_ready, 60, 0.1, "the unpacked firmware package")
        time.sleep(1.5)  # the automatic search has selected the device by now
        reader_env = dict(os.environ, **session)
        reader_env.pop("AT_SPI_BUS_ADDRESS", None)

        tree = subprocess.run([python, __file__, "--tree", TITLE], env=reader_env,
                              capture_output=True, text=True, timeout=90)
        check(tree.returncode == 0, f"the tree could not be read: {tree.stderr.strip()}")
        problems = tree_problems(json.loads(tree.stdout), device.port)
        check(not problems, "; ".join(dict.fromkeys(problems)))

        # The figures beside the bar, read from it while the update runs.
        progress_log = ws.sub("progress.jsonl")
        with open(progress_log, "w") as log:
            watch = ws.start([python, __file__, "--watch", TITLE, "Image progress", "170"],
                             env=reader_env, stdout=log, stderr=subprocess.DEVNULL)

        def readings():
            with open(progress_log) as f:
                return [json.loads(line) for line in f if line.endswith("\n")]

        def moving():
            figures = [PROGRESS.match(r) for r in readings()]
            check(all(figures), f"progress descriptions out of form: {readings()}")
            return [(int(m.group(1)), int(m.group(2))) for m in figures if int(m.group(2)) > 0]

        wait_for(readings, 30, 0.1, "the first progress reading")
        driver.click_update()
        wait_for(lambda: device.received("ext"), 180, 0.2, "both images on the device")
        wait_for(lambda: moving() and readings()[-1].startswith("Total progress 0 %"), 30, 0.1,
                 "the progress to be read back at rest")
        watch.stop()
        check(len(moving()) >= 3, f"only {len(moving())} readings during the update")
        check(any(percent > 50 for percent, _ in moving()),
              f"the percentage never passed half way: {readings()}")
        print(f"{len(readings())} progress readings, e.g. {readings()[len(readings()) // 2]!r}")
        close_window(driver, updater)
    print(f"passed accessibility in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--tree":
        read_tree(sys.argv[2])
        sys.exit(0)
    if len(sys.argv) == 5 and sys.argv[1] == "--watch":
        watch_description(sys.argv[2], sys.argv[3], float(sys.argv[4]))
        sys.exit(0)
    try:
        sys.exit(main())
    except (Failure, TimeoutError) as error:
        print(f"FAILED accessibility: {error}", file=sys.stderr)
        sys.exit(1)
