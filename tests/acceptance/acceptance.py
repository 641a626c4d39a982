#!/usr/bin/env python3
"""Acceptance runs of the real updater program on a virtual display, driven with the mouse
and keyboard against a local update server and the simulated device.

Usage: acceptance.py [--updater PROGRAM] [--hide DIR]... [--windows BUILD]
                     update|faults|silent-boot|emergency-key-wm|update-wm|session-end|console

--updater runs another updater program than the build tree's (an installed one, say);
--hide covers a folder with an empty one for the updater alone, so that it cannot read it;
--windows runs the Windows program gathered by a cross build under Wine, with the simulated
device on the prefix's COM1; session-end and console run it only.
"""
import argparse
import os
import shlex
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))

from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            WindowManager, WineUpdater, Workspace, build_dir, holds_port, padded,
                            wait_for, windows_program)


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# Which updater runs and how it is started; set from the command line.
UPDATER = {"program": None, "launcher": (), "windows": None}


def binaries():
    build = build_dir()
    return (UPDATER["program"] or os.path.join(build, "src", "updater", "quillmoor-updater"),
            os.path.join(build, "tools", "sim", "quillmoor-sim"))


def hiding_launcher(folders):
    """A command that runs the program in a mount namespace of its own, where each folder is
    covered by an empty read-only one. Without root, a user namespace allows the mounts."""
    if not folders:
        return ()
    names = " ".join(shlex.quote(os.path.abspath(folder)) for folder in folders)
    # A folder inside one covered before is gone already.
    cover = (f'for d in {names}; do [ -d "$d" ] || continue; '
             'mount -t tmpfs -o ro,size=4k qlm-hidden "$d" || exit 97; done; exec "$0"')
    user = () if os.geteuid() == 0 else ("--user", "--map-root-user")
    return ("unshare", "--mount", *user, "--", "sh", "-c", cover)


def start(ws, sim_options, pace=False, window_manager=False, device_log=None):
    updater_bin, sim_bin = binaries()
    server = UpdateServer(ws)
    display = VirtualDisplay(ws).display
    if window_manager:
        WindowManager(ws, display)
    if UPDATER["windows"]:
        wine, exe, sim_bin = windows_program(UPDATER["windows"])
        # COM1: the search probes it first, never the machine's own line behind COM2.
        device = SimDevice(ws, sim_bin, options=sim_options, pace=pace,
                           link=os.path.join(wine.ports_dir, "com1"), log=device_log)
        updater = WineUpdater(ws, exe, server.url, wine, display)
    else:
        device = SimDevice(ws, sim_bin, options=sim_options, pace=pace, log=device_log)
        updater = Updater(ws, updater_bin, server.url, [device.port], display=display,
                          launcher=UPDATER["launcher"])
    driver = Driver(display, click_to_focus=bool(UPDATER["windows"]))
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


def close_with_key(driver, updater):
    """The emergency key, typed to the window the window manager keeps active, closes the
    idle window."""
    process = updater.child.process
    check(driver.active_window() == driver.window,
          "the window manager did not keep the updater window active")
    driver.emergency_key(focus=False)
    wait_for(lambda: process.poll() is not None, 20, 0.1,
             "the idle window to close after the emergency key")
    check(process.returncode == 0, f"the program ended with status {process.returncode}")
    check(not os.path.exists(updater.work_dir), "the work directory is still there")


def full_update(sim_options, window_manager=False):
    with Workspace() as ws:
        server, device, updater, driver = start(ws, sim_options, window_manager=window_manager)
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
        if window_manager:
            close_with_key(driver, updater)
        else:
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


# The boot loader has answered: the OS image's blocks are on their way.
OS_BLOCKS = "-> STARTING OS FLASH UPDATE  [OK]"


def emergency_key_wm():
    """The emergency key under a window manager, typed to the window it gave the focus: the
    first press stops the update in the middle of the OS image, the next one closes the idle
    window. The title bar's close button is refused meanwhile."""
    with Workspace() as ws:
        # At the line rate: the OS image alone takes the best part of a minute.
        _, device, updater, driver = start(ws, [], pace=True, window_manager=True)
        process = updater.child.process
        driver.click_update()
        wait_for(lambda: OS_BLOCKS in driver.read_log(), 60, 0.5, "the OS image's blocks")
        check(holds_port(process.pid, device.port), "the update is over before the key")

        driver.click_title_close()
        time.sleep(1.0)
        check(process.poll() is None, "the title bar's close button closed the busy window")
        check(holds_port(process.pid, device.port),
              "the title bar's close button stopped the update")

        check(driver.active_window() == driver.window,
              "the window manager did not keep the updater window active")
        driver.emergency_key(focus=False)
        wait_for(lambda: not holds_port(process.pid, device.port), 20, 0.1,
                 "the transfer to stop after the emergency key")
        time.sleep(0.5)
        check(process.poll() is None, "the first emergency key closed the window")
        check(device.received("os") is None, "the whole OS image arrived despite the key")
        log = wait_for(lambda: [line for line in driver.read_log() if line], 20, 0.5,
                       "the Monitor log")
        check(OS_BLOCKS in log and "- ABORTED -" in log[log.index(OS_BLOCKS):],
              "no '- ABORTED -' during the OS image in the log: " + " | ".join(log[-6:]))

        close_with_key(driver, updater)


def stored_blocks(device_log):
    with open(device_log, errors="replace") as f:
        return sum(1 for line in f if "stored: ACK" in line)


def end_session(updater):
    """Logout as Windows asks the window for it; "refused" or "ended"."""
    helper = os.path.join(UPDATER["windows"], "tests", "acceptance", "qlm-end-session.exe")
    _, text = updater.wine.output(["wine", helper], updater.env, 60, stderr=subprocess.DEVNULL)
    return text.strip()


def session_end():
    """Windows: a logout during the update is refused and the update goes on to the end; a
    logout when idle runs the window's close path before the program goes."""
    check(UPDATER["windows"], "this case runs the Windows program (--windows)")
    with Workspace() as ws:
        device_log = ws.sub("device", "log.txt")
        server, device, updater, driver = start(ws, [], pace=True, device_log=device_log)
        process = updater.child.process
        driver.click_update()
        wait_for(lambda: stored_blocks(device_log) >= 20, 60, 0.2, "the OS image's blocks")
        check(end_session(updater) == "refused", "the logout during the update was not refused")
        check(process.poll() is None, "the program ended during the update")
        check(stored_blocks(device_log) < 480, "the OS image was over before the logout")
        wait_for(lambda: device.received("ext"), 180, 0.2, "both images on the device")
        check(device.received("os") == padded(server.image("QLM_OS.bin")),
              "the OS image on the device differs from the padded file")
        check(device.received("ext") == padded(server.image("QLM_EXT.bin")),
              "the external image on the device differs from the padded file")
        time.sleep(2.0)  # the update unwinds
        check(os.path.isdir(updater.work_dir), "the work directory went before the logout")
        check(end_session(updater) == "ended", "the logout when idle was refused")
        # Windows ends the program now; under Wine it goes by itself.
        check(not os.path.exists(updater.work_dir),
              "the work directory is still there after the logout")
        process.wait(20)


def console():
    """Windows: the window program's command-line answers reach the console of the command
    prompt it was started from, with the exit codes of the Linux program."""
    check(UPDATER["windows"], "this case runs the Windows program (--windows)")
    wine, exe, _ = windows_program(UPDATER["windows"])
    env = wine.env()
    for name in ("QT_PLUGIN_PATH", "WINEPATH", "DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)  # as on a user's machine: all from the program's folder, no display
    for args, status, expected in ((["--version"], 0, "quillmoor-updater 1.01"),
                                   (["--help"], 0, "Usage:"),
                                   (["--no-such-option"], 2, "--no-such-option")):
        returncode, text = wine.output(["wine", "cmd", "/c", wine.windows_path(exe), *args], env,
                                       120)
        check(returncode == status,
              f"{' '.join(args)} ended with status {returncode}, not {status}")
        check(expected in text, f"{' '.join(args)} printed {text!r}, not {expected!r}")
        print(f"{' '.join(args)}: {text.strip().splitlines()[0]}")


CASES = {
    "update": lambda: full_update([]),
    # About one packet in 200 lost and one in 200 corrupted, plus NAKs on two blocks.
    "faults": lambda: full_update(["--drop-rate", "200", "--corrupt-rate", "200", "--seed", "7",
                                   "--nak-block", "3,250", "--char-timeout", "300"]),
    "silent-boot": silent_boot,
    "emergency-key-wm": emergency_key_wm,
    # Under a window manager, ended with the emergency key once the update is over.
    "update-wm": lambda: full_update([], window_manager=True),
    "session-end": session_end,
    "console": console,
}


def run_case(cases, name):
    """Runs one named case of a table; the exit status of the run."""
    started = time.monotonic()
    try:
        cases[name]()
    except (Failure, TimeoutError) as error:
        print(f"FAILED {name}: {error}", file=sys.stderr)
        return 1
    print(f"passed {name} in {time.monotonic() - started:.1f} s")
    return 0


def run_named_case(cases, argv, usage):
    """The main of a script whose only argument names one of its cases."""
    if len(argv) != 1 or argv[0] not in cases:
        print(usage, file=sys.stderr)
        return 2
    return run_case(cases, argv[0])


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--updater", metavar="PROGRAM", help="the updater program to run")
    parser.add_argument("--hide", metavar="DIR", action="append", default=[],
                        help="a folder the updater must not see")
    parser.add_argument("--windows", metavar="BUILD",
                        help="the cross build whose Windows program runs under Wine")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args(argv)
    UPDATER["program"] = args.updater and os.path.abspath(args.updater)
    UPDATER["launcher"] = hiding_launcher(args.hide)
    UPDATER["windows"] = args.windows and os.path.abspath(args.windows)
    try:
        status = run_case(CASES, args.case)
    finally:
        if UPDATER["windows"]:
            windows_program(UPDATER["windows"])[0].stop()
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
