#!/usr/bin/env python3
"""quillmoor-flash against simulated devices: one case per run, named on the command line.

Usage: flash_program.py CASE   (single-port, all-one-vanishes, list, exit-status, json,
                                interrupt, terminal, two-programs, web, device-answers,
                                closed-output, every-exit, web-stalled,
                                outside-text, one-device-three-names,
                                open-reasons, server-password, terminal-colour,
                                terminal-width, names-and-folders,
                                forbidden-port)
       flash_program.py --windows BUILD wine-port
                              (the gathered Windows program under Wine, the device on COM1)
"""
import fcntl
import grp
import json
import os
import pty
import re
import resource
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))
sys.path.insert(0, os.path.join(ROOT, "tools", "server"))

from quillmoor_demo import (SimDevice, UpdateServer, VirtualDisplay, Workspace,  # noqa: E402
                            build_dir, padded, windows_program)
from make_package import EXT_SIZE, OS_SIZE, image, write_zip  # noqa: E402


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def program():
    """The build's program, or another copy of it (QLM_FLASH_PROGRAM: the packaged one)."""
    return (os.environ.get("QLM_FLASH_PROGRAM") or
            os.path.join(build_dir(), "src", "cli", "quillmoor-flash"))


def sim_program():
    return os.path.join(build_dir(), "tools", "sim", "quillmoor-sim")


class Run:
    """One run of the program with a private temporary folder, whose emptiness afterwards
    shows that the work folder went with it."""

    def __init__(self, ws, name, ports=(), env=None):
        self.tmp = ws.sub(name, "tmp")
        os.makedirs(self.tmp, exist_ok=True)
        self.env = dict(os.environ, TMPDIR=self.tmp, QLM_EXTRA_PORTS=":".join(ports))
        # Qt makes a runtime folder in the temporary folder when there is none.
        runtime = ws.sub(name, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env["XDG_RUNTIME_DIR"] = runtime
        self.env.update(env or {})

    def __call__(self, *args, timeout=240, env_extra=None):
        done = subprocess.run([program(), *args], env=dict(self.env, **(env_extra or {})), stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=timeout)
        return done.returncode, done.stdout, done.stderr

    def leftovers(self):
        return os.listdir(self.tmp)


def make_package(ws, name="pkg.zip", members=None, seed=3):
    """A package of two random images (or of the members given); the images' bytes."""
    os_image, ext_image = image(OS_SIZE, seed), image(EXT_SIZE, seed + 1)
    path = ws.sub("firmware", name)
    write_zip(path, members if members is not None else
              {"QLM_OS.bin": os_image, "QLM_EXT.bin": ext_image})
    return path, os_image, ext_image


def device_holds(device, os_image, ext_image):
    return (device.received("os") == padded(os_image) and
            device.received("ext") == padded(ext_image))


def port_free(path):
    """Whether nobody has the port open now (nobody holds its lock)."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        return False
    finally:
        os.close(fd)


def json_lines(text):
    events = [json.loads(line) for line in text.splitlines()]
    for event in events:
        check(isinstance(event, dict) and "event" in event, f"not an event: {event}")
    return events


# --- Cases ------------------------------------------------------------------------------------

def case_single_port(ws):
    package, os_image, ext_image = make_package(ws)
    device = SimDevice(ws, sim_program(), pace=False)
    other = SimDevice(ws, sim_program(), pace=False, name="other")
    run = Run(ws, "run", [device.port, other.port])
    status, out, err = run("--port", device.port, package)
    check(status == 0, f"exit status {status}, stderr: {err}")
    check(device_holds(device, os_image, ext_image), "the device does not hold both images")
    check(other.received("os") is None, "a device on another port was written")
    lines = out.splitlines()
    # Not a terminal: a line at each tenth of the way, then the end and the summary.
    progress = [line for line in lines if re.search(r"\s(OS|EXT)\s+\d+/(480|96)\s+\d+ %", line)]
    check(len(progress) >= 10, f"too few progress lines: {out}")
    check(any(line.endswith("done  100 %") for line in lines), f"no end line: {out}")
    check(lines[-1] == "1 of 1 device updated", f"summary: {lines[-1]!r}")
    check(err == "", f"stderr: {err}")
    check(run.leftovers() == [], f"left behind: {run.leftovers()}")


def case_all_one_vanishes(ws):
    package, os_image, ext_image = make_package(ws)
    good = [SimDevice(ws, sim_program(), pace=False, name=f"good{i}") for i in range(2)]
    gone = SimDevice(ws, sim_program(), ["--hangup-at", "60"], pace=False, name="gone")
    silent = SimDevice(ws, sim_program(), ["--no-answer"], pace=False, name="silent")
    run = Run(ws, "run", [good[0].port, gone.port, silent.port, good[1].port])
    status, out, err = run("--all", package)
    check(status == 1, f"exit status {status}, stderr: {err}")
    for device in good:
        check(device_holds(device, os_image, ext_image), f"{device.port} was not updated")
    check(gone.received("os") is None, "the vanished device holds an image")
    errors = err.splitlines()
    check(len(errors) == 2 and errors[0].startswith(f"quillmoor-flash: {gone.port}: ") and
          errors[1].startswith(f"quillmoor-flash: {gone.port} may still be in the boot loader"),
          f"stderr does not name the failing port alone: {err}")
    check(silent.port not in err + out, "a port without a device was reported")
    # The failed device's line keeps where its transfer stopped.
    check(re.search(rf"^{re.escape(gone.port)} +OS +\d+/480 failed: ", out, re.M),
          f"no line of where the transfer stopped: {out}")
    check(out.splitlines()[-1] == f"2 of 3 devices updated; failed: {gone.port}",
          f"summary: {out.splitlines()[-1]!r}")
    check(run.leftovers() == [], f"left behind: {run.leftovers()}")


def case_list(ws):
    device = SimDevice(ws, sim_program(), pace=False)
    silent = SimDevice(ws, sim_program(), ["--no-answer"], pace=False, name="silent")
    held = SimDevice(ws, sim_program(), pace=False, name="held")
    run = Run(ws, "run", [device.port, silent.port, held.port])
    fd = os.open(held.port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        status, out, err = run("--list")
        _, json_out, _ = run("--list", "--json")
    finally:
        os.close(fd)
    check(status == 0, f"exit status {status}, stderr: {err}")
    states = {line.split()[0]: line.split(None, 1)[1] for line in out.splitlines()}
    check(states.get(device.port) == "device answers", f"listing: {out}")
    check(states.get(silent.port) == "no answer", f"listing: {out}")
    check(states.get(held.port) == "in use by another program", f"listing: {out}")
    events = {e["port"]: e for e in json_lines(json_out)}
    check(events[device.port]["device"] is True and events[silent.port]["device"] is False,
          f"JSON listing: {json_out}")
    status, _, _ = Run(ws, "run2", [silent.port])("--list")
    check(status == 3, f"--list with no device: exit status {status}")


def case_exit_status(ws):
    package, _, _ = make_package(ws)
    no_images, _, _ = make_package(ws, "other.zip", {"readme.txt": b"no firmware here"})
    several, _, _ = make_package(ws, "several.zip", {"QLM_OS.bin": b"\0" * OS_SIZE,
                                                     "QLM_OS2.bin": b"\1" * OS_SIZE,
                                                     "QLM_EXT.bin": b"\2" * EXT_SIZE})
    log = ws.sub("device.log")
    device = SimDevice(ws, sim_program(), pace=False, log=log)
    silent = SimDevice(ws, sim_program(), ["--no-answer"], pace=False, name="silent")
    run = Run(ws, "run", [silent.port, device.port])
    closed = "http://127.0.0.1:9"  # the discard port: nobody answers there
    cases = [
        (["--bogus"], 2, "unknown option --bogus"),
        (["--all", "--port", silent.port, package], 2, "exclude each other"),
        (["--port"], 2, "needs a port name"),
        (["--list", package], 2, "--list takes no"),
        ([package, package, package], 2, "one firmware package"),
        (["--port", device.port, ws.sub("missing.zip")], 4, "FILE NOT FOUND: missing.zip"),
        (["--port", device.port, no_images], 4,
         "THE PACKAGE DOES NOT HOLD THE TWO FIRMWARE IMAGES"),
        (["--all", several], 4, "THE PACKAGE HOLDS MORE THAN ONE IMAGE OF A SIZE"),
        (["--port", device.port, "--server", closed], 4, closed),
    ]
    for args, expected, text in cases:
        status, out, err = run(*args)
        check(status == expected, f"{args}: exit status {status}, not {expected}; {err}")
        check(text in out + err, f"{args}: {text!r} not said: {out}{err}")
        check(len(err.splitlines()) <= 2, f"{args}: stderr {err}")
    # Firmware that fails its checks is refused before any port is opened.
    with open(log) as f:
        heard = [line for line in f if "received" in line]
    check(heard == [], f"the device was spoken to: {heard}")
    device.child.stop()
    run = Run(ws, "run2", [silent.port])
    cases = [
        (["--port", silent.port, package], 3, f"{silent.port}: QUILLMOOR DOES NOT ANSWER!"),
        (["--all", package], 3, "0 of 0 devices updated"),
        ([package], 3, "no Quillmoor device answers"),
    ]
    for args, expected, text in cases:
        status, out, err = run(*args)
        check(status == expected, f"{args}: exit status {status}, not {expected}; {err}")
        check(text in out + err, f"{args}: {text!r} not said: {out}{err}")
    check(run.leftovers() == [], f"left behind: {run.leftovers()}")
    # A port that another program holds is named as in use.
    fd = os.open(silent.port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        status, out, err = run("--port", silent.port, package)
    finally:
        os.close(fd)
    check(status == 1, f"held port: exit status {status}")
    check(f"{silent.port}: the port is in use by another program" in err, f"held port: {err}")


def case_json(ws):
    package, os_image, ext_image = make_package(ws)
    device = SimDevice(ws, sim_program(), ["--nak-block", "7"], pace=False)
    run = Run(ws, "run", [device.port])
    status, out, err = run("--json", "--port", device.port, package)
    check(status == 0, f"exit status {status}: {err}")
    check(device_holds(device, os_image, ext_image), "the device does not hold both images")
    events = json_lines(out)
    kinds = [e["event"] for e in events]
    check(kinds[0] == "firmware" and events[0]["ok"] is True, f"first event: {events[0]}")
    check(kinds[1] == "found" and events[1]["port"] == device.port, f"found: {events[1]}")
    images = [e for e in events if e["event"] == "image"]
    check([(e["image"], e["total"]) for e in images] == [("OS", 480), ("EXT", 96)],
          f"image events: {images}")
    progress = [e for e in events if e["event"] == "progress"]
    keys = {"event", "port", "image", "blocks", "total", "percent", "bytes_per_second",
            "seconds_left"}
    check(progress and all(set(e) == keys for e in progress), f"progress: {progress[:2]}")
    # A rate, and the time left from it, only once it spans enough blocks to be steady.
    rated = [e for e in progress if e["bytes_per_second"] > 0]
    check(rated and all(e["blocks"] >= 9 and e["seconds_left"] >= 0 for e in rated),
          f"rate too early: {rated[:2]}")
    percents = [e["percent"] for e in progress]
    check(percents == sorted(percents) and percents[-1] == 100, "percent not rising to 100")
    naks = [e for e in events if e["event"] == "nak"]
    check(len(naks) >= 1 and naks[0]["image"] == "OS", f"NAK events: {naks}")
    check(kinds[-2] == "done" and events[-2]["confirmed"] is True and
          events[-1] == {"event": "summary", "updated": 1, "found": 1, "failed": [],
                         "unconfirmed": [], "status": 0},
          f"end: {events[-2:]}")


def case_interrupt(ws):
    package, _, _ = make_package(ws)
    device = SimDevice(ws, sim_program(), pace=True)
    run = Run(ws, "run", [device.port])
    child = subprocess.Popen([program(), "--json", "--port", device.port, package],
                             env=run.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    seen = []
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline:
        line = child.stdout.readline()
        if not line:
            break
        seen.append(json.loads(line))
        if seen[-1]["event"] == "progress" and seen[-1]["blocks"] >= 20:
            break
    check(seen and seen[-1]["event"] == "progress", f"no transfer under way: {seen}")
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=30)
    events = seen + json_lines(out)
    failed = [e for e in events if e["event"] == "failed"]
    check(child.returncode == 1, f"exit status {child.returncode}: {err}")
    check(len(failed) == 1 and failed[0]["aborted"] is True and failed[0]["reason"] == "aborted",
          f"failed events: {failed}")
    check(events[-1]["status"] == 1, f"summary: {events[-1]}")
    check(f"stopped: {device.port} must be updated again" in err, f"stderr: {err}")
    advice = (f"{device.port} may still be in the boot loader: keep it connected; it returns "
              "by itself after about 30 s")
    check(err.count(advice) == 1, f"no advice, once, on the device's state: {err}")
    check(run.leftovers() == [], f"left behind: {run.leftovers()}")
    # The port is free again at once.
    fd = os.open(device.port, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
    finally:
        os.close(fd)


def set_columns(fd, columns):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, columns, 0, 0))


def run_in_pty(args, env, columns=None, resize=None):
    """The program on a pseudo-terminal (of columns columns if given): exit status, output.
    With resize (text, columns) the terminal takes the new width once the output holds text
    (the system sends SIGWINCH), and the output is cut there: exit status, before, after."""
    pid, fd = pty.fork()
    if pid == 0:
        os.execve(program(), [program(), *args], env)
    if columns:
        set_columns(fd, columns)
    output = b""
    resized_at = None
    while True:
        if resize and resized_at is None and resize[0].encode() in output:
            set_columns(fd, resize[1])
            resized_at = len(output)
        ready, _, _ = select.select([fd], [], [], 120)
        if not ready:
            break
        try:
            piece = os.read(fd, 65536)
        except OSError:
            break
        if not piece:
            break
        output += piece
    _, wait_status = os.waitpid(pid, 0)
    os.close(fd)
    status = os.waitstatus_to_exitcode(wait_status)
    if resize:
        cut = resized_at if resized_at is not None else len(output)
        return (status, output[:cut].decode(errors="replace"),
                output[cut:].decode(errors="replace"))
    return status, output.decode(errors="replace")


def case_terminal_colour(ws):
    """On a terminal a done line is green and a failed one red; NO_COLOR keeps them plain."""
    package, _, _ = make_package(ws)
    green, red = "\x1b[32m", "\x1b[31m"
    for no_color in ("", "1"):
        tag = "plain" if no_color else "colour"
        good = SimDevice(ws, sim_program(), pace=False, name=f"{tag}-good")
        failing = SimDevice(ws, sim_program(), ["--can-block", "3"], pace=False,
                            name=f"{tag}-failing")
        run = Run(ws, tag, [good.port, failing.port], env={"NO_COLOR": no_color})
        status, text = run_in_pty(["--port", good.port, "--port", failing.port, package],
                                  run.env)
        check(status == 1, f"{tag}: exit status {status}: {text[-500:]!r}")
        if no_color:
            check(green not in text and red not in text, f"{tag}: colour: {text[-500:]!r}")
            continue
        check(re.search(rf"{re.escape(green)}[^\x1b]*done  100 %\x1b\[0m", text),
              f"the done line is not green: {text[-500:]!r}")
        check(re.search(rf"{re.escape(red)}[^\x1b]*failed: [^\x1b]*\x1b\[0m", text),
              f"the failed line is not red: {text[-500:]!r}")


def rewritten_rows(text):
    """The lines the program rewrites in place, without their colour."""
    rows = [re.split(r"[\r\n]|\x1b\[\d+A", piece)[0] for piece in text.split("\r\x1b[K")[1:]]
    return [re.sub(r"\x1b\[\d*m", "", row) for row in rows]


def case_terminal_width(ws):
    """Every rewritten line fits the terminal's width, so none wraps, also once the terminal
    is made narrower; a long port name gives way in its middle."""
    package, os_image, ext_image = make_package(ws)
    for columns in (40, 60, 100):
        device = SimDevice(ws, sim_program(), pace=False, name=f"cols{columns}")
        by_id = ws.sub(f"by-id-{columns}")
        os.makedirs(by_id, exist_ok=True)
        link = os.path.join(by_id, "usb-Quillmoor_GPS_Serial_Adapter_0123456789ABCDEF-if00-port0")
        os.symlink(device.port, link)
        run = Run(ws, f"run{columns}", [link])
        status, text = run_in_pty(["--port", link, package], run.env, columns=columns)
        check(status == 0, f"{columns} columns: exit status {status}: {text[-500:]!r}")
        check(device_holds(device, os_image, ext_image), f"{columns} columns: images")
        rows = rewritten_rows(text)
        check(rows, f"{columns} columns: no rewritten line: {text[-500:]!r}")
        too_wide = [row for row in rows if len(row) >= columns]
        check(not too_wide, f"{columns} columns: lines too wide: {too_wide[:3]}")
        shortened = [row for row in rows if re.match(r"\S+\.\.\.\S*port0 ", row)]
        check(shortened and shortened[0].startswith(link[:4]),
              f"{columns} columns: the port name is not shortened in the middle: {rows[:3]}")
        check(any("done  100 %" in row for row in rows), f"{columns} columns: no done line")

    # Narrowed from 100 to 40 columns during the OS image.
    device = SimDevice(ws, sim_program(), pace=False, name="narrowed")
    run = Run(ws, "narrowed", [device.port])
    status, before, after = run_in_pty(["--port", device.port, package], run.env, columns=100,
                                       resize=("/480", 40))
    check(status == 0, f"narrowed: exit status {status}: {after[-500:]!r}")
    rows = rewritten_rows(after)
    check(any("EXT" in row for row in rows), f"narrowed too late: {rows[:3]}")
    # A row or two may have been on its way before the change was seen.
    too_wide = [row for row in rows[4:] if len(row) >= 40]
    check(not too_wide, f"narrowed: lines too wide: {too_wide[:3]}")


def case_terminal(ws):
    package, os_image, ext_image = make_package(ws)
    device = SimDevice(ws, sim_program(), pace=False)
    run = Run(ws, "run", [device.port])
    status, text = run_in_pty(["--port", device.port, package], run.env)
    check(status == 0, f"exit status: {text}")
    check(device_holds(device, os_image, ext_image), "the device does not hold both images")
    # One line per device, rewritten in place: the cursor goes back up over it.
    check("\x1b[1A" in text, "the device line is not rewritten in place")
    shown = re.findall(r"(OS|EXT) +(\d+)/(480|96) +(\d+) %  (\d+\.\d) kB/s  (\d+):(\d\d) left",
                       text)
    check(len(shown) >= 2, f"no progress line with rate and time left: {text[-500:]!r}")
    check("done  100 %" in text and "1 of 1 device updated" in text, f"end: {text[-300:]!r}")
    # The device's restart between the images is no silence.
    check(re.search(r"OS +480/480 +\d+ %  restarting", text),
          f"the restart is not shown: {text[-2000:]!r}")
    check("no answer for" not in text, "the restart is shown as silence")


def case_two_programs(ws):
    """A second program that wants the device while the first waits for its restart between
    the images (the port is closed then) finds it in use, under another name of the device
    too; the device ends with the first program's images."""
    package_a, os_a, ext_a = make_package(ws, "a.zip", seed=3)
    package_b, os_b, ext_b = make_package(ws, "b.zip", seed=7)
    check(os_a != os_b and ext_a != ext_b, "the packages do not differ")
    device = SimDevice(ws, sim_program(), pace=False)
    link = ws.sub("gps")
    os.symlink(device.port, link)
    run_a = Run(ws, "a", [device.port])
    run_b = Run(ws, "b", [link])
    first = subprocess.Popen([program(), "--json", "--port", device.port, package_a],
                             env=run_a.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    others = []
    try:
        # The device writes the OS image out when the transfer ends: the restart wait begins.
        deadline = time.monotonic() + 120
        while device.received("os") is None and first.poll() is None:
            check(time.monotonic() < deadline, "the OS image never arrived")
            time.sleep(0.01)
        # Then the first program closes the port for the wait.
        while not port_free(device.port):
            check(time.monotonic() < deadline, "the port was never closed")
            time.sleep(0.01)
        check(device.received("ext") is None, "the wait between the images was missed")
        # The second update while the port is closed, then a listing of the ports while the
        # first update still runs.
        for args in (["--port", link, package_b], ["--list"]):
            others.append(subprocess.Popen([program(), *args], env=run_b.env,
                                           stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, text=True))
            if len(others) == 1:
                out, err = others[0].communicate(timeout=120)
        list_out, list_err = others[1].communicate(timeout=120)
        out_a, err_a = first.communicate(timeout=120)
    finally:
        for child in [first] + others:
            if child.poll() is None:
                child.kill()
                child.wait()
    status = others[0].returncode
    check(status == 1, f"second program: exit status {status}; {out}{err}")
    check(f"quillmoor-flash: {link}: the port is in use by another program" in err,
          f"second program's stderr: {err}")
    check(out.splitlines()[-1:] == [f"0 of 0 devices updated; failed: {link}"],
          f"second program's summary: {out}")
    states = {line.split()[0]: line.split(None, 1)[1] for line in list_out.splitlines()}
    check(states.get(link) == "in use by another program",
          f"--list during the update: {list_out}{list_err}")
    events = json_lines(out_a)
    check(first.returncode == 0, f"first program: exit status {first.returncode}; {err_a}")
    check(events[-2]["event"] == "done" and events[-1]["status"] == 0, f"end: {events[-2:]}")
    check(device_holds(device, os_a, ext_a), "the device does not hold the first program's images")
    check(run_a.leftovers() == [] and run_b.leftovers() == [], "a work folder was left behind")


def case_web(ws):
    server = UpdateServer(ws, version="2.31", seed=9)
    device = SimDevice(ws, sim_program(), pace=False)
    run = Run(ws, "run", [device.port])
    status, out, err = run("--json", "--server", server.url, "--port", device.port)
    check(status == 0, f"exit status {status}: {err}")
    check(device.received("os") == padded(server.image("QLM_OS.bin")) and
          device.received("ext") == padded(server.image("QLM_EXT.bin")),
          "the device does not hold the server's images")
    events = json_lines(out)
    firmware = [e for e in events if e["event"] == "firmware"]
    check(firmware == [{"event": "firmware", "ok": True, "source": server.url,
                        "version": "2.31"}], f"firmware event: {firmware}")
    downloads = [e for e in events if e["event"] == "download"]
    check(downloads and downloads[-1]["percent"] == 100, f"download events: {downloads}")
    check(run.leftovers() == [], f"left behind: {run.leftovers()}")


def case_web_stalled(ws):
    """A server that sends the package, or even its headers, two bytes a second fails the
    download once a window brings less than the floor (short here), and no device is touched."""
    device = SimDevice(ws, sim_program(), pace=False)
    for part in ("body", "head"):
        server = UpdateServer(ws, seed=9, options=[f"--trickle-{part}", "QLMUpdate.zip"],
                              name=f"www-{part}")
        run = Run(ws, part, [device.port], env={"QLM_DOWNLOAD_FLOOR": "1024/2000"})
        status, out, err = run("--json", "--server", server.url, "--port", device.port,
                               timeout=120)
        check(status == 4, f"{part}: exit status {status}: {err}")
        check("the package download failed" in err and "less than 1024 bytes in 2 s" in err,
              f"{part}: stderr {err}")
        events = json_lines(out)
        check(events[-1]["event"] == "summary" and events[-1]["status"] == 4,
              f"{part}: last event {events[-1:]}")
        check(device.received("os") is None, f"{part}: the device was written")
        check(run.leftovers() == [], f"{part}: left behind: {run.leftovers()}")


def case_outside_text(ws):
    """Control characters in what comes from outside (the server's version line, member and
    file names) never reach the output, in lines or in JSON; a CRLF version line is the
    version alone."""
    def clean(name, text):
        bad = sorted({f"{ord(c):#x}" for c in text if (ord(c) < 32 and c != "\n") or
                      0x7f <= ord(c) < 0xa0})
        check(not bad, f"{name}: control characters {bad} in {text!r}")

    evil_members = {"QLM\x1b[2J_OS.bin": image(OS_SIZE, 3),
                    "QLM_EXT\x1b]0;OWNED\x07.bin": image(EXT_SIZE, 4)}
    package, _, _ = make_package(ws, "members.zip", evil_members)
    twice, _, _ = make_package(ws, "twice.zip", dict(evil_members, **{
        "\x1b[31mother\x9b.bin": image(EXT_SIZE, 5)}))
    missing = ws.sub("firmware", "gone\x1b]0;OWNED\x07\x1b[2J.zip")
    hostile = UpdateServer(ws, version="2.20\x1b]0;OWNED\x07\x1b[2J\x1b[31mRED", seed=9,
                           name="www-hostile")
    crlf = UpdateServer(ws, version="2.20\r", seed=9, name="www-crlf")
    rows = [
        ("members", [package], 0, None),
        ("two of a size", [twice], 4, None),
        ("missing file", [missing], 4, None),
        ("hostile version", ["--server", hostile.url], 0, "2.20]0;OWNED[2J[31mRED"),
        ("CRLF version", ["--server", crlf.url], 0, "2.20"),
    ]
    for name, args, expected, version in rows:
        for style in ([], ["--json"]):
            # A device of its own each time: an updated one is busy restarting for a while.
            tag = f"{name.replace(' ', '-')}{'-json' if style else ''}"
            device = SimDevice(ws, sim_program(), pace=False, name=tag)
            run = Run(ws, tag, [device.port])
            status, out, err = run(*style, "--port", device.port, *args)
            check(status == expected, f"{name} {style}: exit status {status}: {err}")
            clean(f"{name} {style}", out + err)
            if style and version is not None:
                firmware = [e for e in json_lines(out) if e["event"] == "firmware"]
                check(firmware and firmware[0].get("version") == version,
                      f"{name}: firmware event {firmware}")
            check(run.leftovers() == [], f"{tag}: left behind: {run.leftovers()}")


def case_one_device_three_names(ws):
    """One device named three ways (its path, a link, another spelling) is one device: named
    with --port, listed among the extra ports, or both."""
    package, os_image, ext_image = make_package(ws)

    def named_thrice(tag):
        device = SimDevice(ws, sim_program(), pace=False, name=tag)
        link = ws.sub(f"{tag}-gps")
        os.symlink(device.port, link)
        return device, [device.port, link, device.port.replace("/dev/", "/dev//")]

    device, names = named_thrice("list")
    status, out, err = Run(ws, "list", names)("--list")
    check(status == 0 and out.splitlines() == [f"{device.port}  device answers"],
          f"--list: {out}{err}")
    for name in ("named", "listed"):
        device, names = named_thrice(name)
        args = ([arg for port in names for arg in ("--port", port)] if name == "named"
                else ["--all"])
        run = Run(ws, name, names)
        status, out, err = run("--json", *args, package)
        check(status == 0, f"{name}: exit status {status}: {err}")
        events = json_lines(out)
        found = [e["port"] for e in events if e["event"] == "found"]
        check(found == [device.port], f"{name}: found {found}")
        check(events[-1]["updated"] == 1 and events[-1]["found"] == 1, f"{name}: {events[-1]}")
        check(device_holds(device, os_image, ext_image), f"{name}: the device lacks an image")
        check(run.leftovers() == [], f"{name}: left behind: {run.leftovers()}")


def case_open_reasons(ws):
    """A port that cannot be opened says why, after the usual words."""
    package, _, _ = make_package(ws)
    fifo = ws.sub("fifo")
    os.mkfifo(fifo)
    plain = ws.sub("plain-file")
    with open(plain, "w") as f:
        f.write("not a port")
    folder = ws.sub("folder")
    os.makedirs(folder, exist_ok=True)
    rows = [
        ("/dev/null", "not a terminal"),
        (fifo, "not a terminal"),
        (folder, "Is a directory"),
        (plain, "not a terminal"),
        (ws.sub("missing"), "No such file or directory"),
    ]
    if os.geteuid() != 0:  # root opens whatever its mode says
        forbidden = ws.sub("forbidden")
        with open(forbidden, "w"):
            pass
        os.chmod(forbidden, 0)
        rows.append((forbidden, "Permission denied"))
    run = Run(ws, "run")
    for path, reason in rows:
        status, out, err = run("--port", path, package)
        check(status == 1, f"{path}: exit status {status}: {err}")
        expected = (f"quillmoor-flash: {path}: COM Port Error: Unable to open com port on "
                    f"{path}: {reason}\n")
        check(expected in err, f"{path}: stderr {err!r}")
    check(run.leftovers() == [], f"left behind: {run.leftovers()}")


def case_server_password(ws):
    """A password in the server's address is never shown: not when all goes well, not in an
    error about the server or about the download."""
    good = UpdateServer(ws, seed=9, name="www-good")
    stalled = UpdateServer(ws, seed=9, options=["--trickle-body", "QLMUpdate.zip"],
                           name="www-stalled")

    def with_password(url):
        return url.replace("http://", "http://fitter:s3cret@")
    rows = [
        ("served", with_password(good.url), 0),
        ("unreachable", with_password("http://127.0.0.1:9"), 4),
        ("stalled", with_password(stalled.url), 4),
    ]
    for name, url, expected in rows:
        for style in ([], ["--json"]):
            # A device of its own each time: an updated one stays in its new firmware.
            tag = f"{name}{'-json' if style else ''}"
            device = SimDevice(ws, sim_program(), pace=False, name=tag)
            run = Run(ws, tag, [device.port], env={"QLM_DOWNLOAD_FLOOR": "1024/2000"})
            status, out, err = run(*style, "--server", url, "--port", device.port)
            check(status == expected, f"{name} {style}: exit status {status}: {err}")
            check("s3cret" not in out + err, f"{name} {style}: the password shows: {out}{err}")
            # Named in the JSON firmware event and in every error line.
            if style or expected:
                check("fitter:***@" in out + err, f"{name} {style}: the server is not named: "
                      f"{out}{err}")
            check(run.leftovers() == [], f"{tag}: left behind: {run.leftovers()}")


def case_device_answers(ws):
    """What a device says, and what it leaves unsaid, reaches the user as it is."""
    package, os_image, ext_image = make_package(ws)
    # Talking without pause, it is caught mid-sentence twice before a reply starts cleanly.
    talker = SimDevice(ws, sim_program(), ["--probe-tail", "2"], pace=False, name="talker")
    run = Run(ws, "talker", [talker.port])
    status, out, err = run("--port", talker.port, package)
    check(status == 0, f"mid-sentence replies: exit status {status}, stderr: {err}")
    check(device_holds(talker, os_image, ext_image), "the talking device was not updated")
    talker2 = SimDevice(ws, sim_program(), ["--probe-tail", "2"], pace=False, name="talker2")
    status, out, err = Run(ws, "talker2", [talker2.port])("--list")
    check(status == 0 and "device answers" in out, f"--list of a talking device: {out}{err}")

    # Something that speaks sentences, but not as a Quillmoor, is named, not passed over.
    stranger = SimDevice(ws, sim_program(), ["--probe-reply", "$GPVTG,054.7,T,,M,005.5,N*48\\r\\n"],
                         pace=False, name="stranger")
    good = SimDevice(ws, sim_program(), pace=False, name="good")
    run = Run(ws, "stranger", [stranger.port, good.port])
    status, out, err = run("--all", package)
    check(status == 1, f"--all with a stranger: exit status {status}, stderr: {err}")
    check(f"{stranger.port}: answers, but not as a Quillmoor: $GPVTG,054.7" in err,
          f"the stranger is not named: {err}")
    check(device_holds(good, os_image, ext_image), "the device beside the stranger")

    # The outcomes a device decides: unconfirmed, cancelled, not back from its boot loader.
    cases = [
        (["--eot", "junk", "--garbage-gap", "280"], 0, None),
        (["--can-block", "3"], 1, "cancelled by the device"),
        (["--stay-after-eot"], 1, "QUILLMOOR DID NOT RESTART!"),
    ]
    for options, expected, reason in cases:
        device = SimDevice(ws, sim_program(), options, pace=False, name=options[0][2:])
        run = Run(ws, options[0][2:], [device.port])
        status, out, err = run("--json", "--port", device.port, package)
        check(status == expected, f"{options}: exit status {status}, stderr: {err}")
        events = json_lines(out)
        summary = events[-1]
        check(summary["event"] == "summary", f"{options}: last event {summary}")
        if reason is None:
            warnings = [e for e in events if e["event"] == "warning"]
            check(len(warnings) == 2 and [w["image"] for w in warnings] == ["OS", "EXT"],
                  f"{options}: warnings {warnings}")
            check(summary["unconfirmed"] == [device.port], f"{options}: summary {summary}")
            done = [e for e in events if e["event"] == "done"]
            check(done and done[0]["confirmed"] is False, f"{options}: done {done}")
            check(device_holds(device, os_image, ext_image), f"{options}: images")
            continue
        failed = [e for e in events if e["event"] == "failed"]
        check(len(failed) == 1 and failed[0]["aborted"] is False and
              reason in failed[0]["reason"], f"{options}: failed {failed}")
        check(device.received("ext") is None, f"{options}: the external image went in")
    check(run.leftovers() == [], f"left behind: {run.leftovers()}")


def case_closed_output(ws):
    """A reader that goes away, or a file that may grow no further, ends the output but not the
    update: the device ends with both images, the status is as usual, nothing is left behind."""
    package, os_image, ext_image = make_package(ws)
    rows = [("pipe", lines) for lines in (1, 6, 40)] + [("file-limit", 300)]
    for kind, amount in rows:
        name = f"{kind}-{amount}"
        device = SimDevice(ws, sim_program(), pace=False, name=name)
        run = Run(ws, name, [device.port])
        args = [program(), "--json", "--port", device.port, package]
        err_path = ws.sub(name, "stderr")
        with open(err_path, "w") as err_file:
            if kind == "pipe":
                child = subprocess.Popen(args, env=run.env, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.PIPE, stderr=err_file)
                seen = [child.stdout.readline() for _ in range(amount)]
                check(all(seen), f"{name}: the output ended early: {seen}")
                child.stdout.close()
            else:
                # The limit holds for every file the program writes, the firmware's copies
                # too: stdout is a file already near a limit that leaves room for them.
                out_path = ws.sub(name, "stdout")
                size = 8 << 20
                with open(out_path, "wb") as out_file:
                    out_file.truncate(size - amount)

                def limit():
                    resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
                with open(out_path, "ab") as out_file:
                    child = subprocess.Popen(args, env=run.env, stdin=subprocess.DEVNULL,
                                             stdout=out_file, stderr=err_file,
                                             preexec_fn=limit)
            try:
                status = child.wait(timeout=240)
            finally:
                if child.poll() is None:
                    child.kill()
                    child.wait()
        with open(err_path) as f:
            err = f.read()
        check(status == 0, f"{name}: exit status {status}, stderr: {err}")
        check(device_holds(device, os_image, ext_image), f"{name}: the device lacks an image")
        check(run.leftovers() == [], f"{name}: left behind: {run.leftovers()}")
        if kind == "file-limit":
            check(os.path.getsize(out_path) == size, f"{name}: the output did not reach the limit")


def case_every_exit(ws):
    """However the program ends, its last line is the summary with the exit status, and the
    work folder is gone."""
    package, _, _ = make_package(ws)
    no_images, _, _ = make_package(ws, "other.zip", {"readme.txt": b"no firmware here"})
    closed = "http://127.0.0.1:9"  # the discard port: nobody answers there
    silent = [SimDevice(ws, sim_program(), ["--no-answer"], pace=False, name=f"silent{i}")
              for i in range(3)]
    good = SimDevice(ws, sim_program(), pace=False, name="good")
    cancelling = SimDevice(ws, sim_program(), ["--can-block", "3"], pace=False, name="can")
    server = UpdateServer(ws, seed=9)
    searched = [device.port for device in silent]

    def small_files():
        # The download's file cannot grow past 100 kB: its write fails with an exception.
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
    # name, arguments, exit status, signal sent during the search, limit in the child
    rows = [
        ("bad package", ["--port", good.port, no_images], 4, None, None),
        ("server failure", ["--port", good.port, "--server", closed], 4, None, None),
        ("unwritable download", ["--port", good.port, "--server", server.url], 4, None,
         small_files),
        ("no device", [package], 3, None, None),
        ("stopped searching", [package], 1, signal.SIGTERM, None),
        ("device fails", ["--port", cancelling.port, package], 1, None, None),
        ("success", ["--port", good.port, package], 0, None, None),
    ]
    for name, args, expected, stop, limit in rows:
        run = Run(ws, name.replace(" ", "-"), searched)
        child = subprocess.Popen([program(), "--json", *args], env=run.env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, text=True, preexec_fn=limit)
        try:
            if stop:
                first = json.loads(child.stdout.readline())
                check(first["event"] == "firmware", f"{name}: first event {first}")
                time.sleep(0.5)  # the search of the silent ports has begun
                child.send_signal(stop)
            out, err = child.communicate(timeout=240)
        finally:
            if child.poll() is None:
                child.kill()
                child.wait()
        if stop:
            out = json.dumps(first) + "\n" + out
        events = json_lines(out)
        check(child.returncode == expected,
              f"{name}: exit status {child.returncode}, not {expected}; {err}")
        check(events and events[-1]["event"] == "summary" and
              events[-1]["status"] == expected, f"{name}: last event {events[-1:]}")
        check(run.leftovers() == [], f"{name}: left behind: {run.leftovers()}")


def case_names_and_folders(ws):
    """Files named by bytes that are not UTF-8 open by those bytes; a TMPDIR that names a
    missing folder is refused, never made, and nothing of Qt's is left in the one named."""
    package, os_image, ext_image = make_package(ws)
    folder = os.fsencode(ws.sub("firmware"))
    odd_package = folder + b"/pkg-\xff.zip"
    os.rename(package, odd_package)
    images = [folder + b"/os-\xfe.bin", folder + b"/ext-\xff.bin"]
    for path, data in zip(images, (os_image, ext_image)):
        with open(path, "wb") as f:
            f.write(data)
    # name, files, what the output calls them
    rows = [
        ("package", [odd_package], "pkg-\\xFF.zip"),
        ("images", images, "os-\\xFE.bin, ext-\\xFF.bin"),
    ]
    for name, files, shown in rows:
        device = SimDevice(ws, sim_program(), pace=False, name=name)  # one just updated restarts
        run = Run(ws, name)
        status, out, err = run("--port", device.port, *files)
        check(status == 0, f"{name}: exit status {status}: {out} {err}")
        check(device_holds(device, os_image, ext_image), f"{name}: the device lacks the images")
        check(shown in out, f"{name}: the files are not shown as {shown}: {out}")
        check(run.leftovers() == [], f"{name}: left behind: {run.leftovers()}")

    run = Run(ws, "folders")
    missing = os.path.join(run.tmp, "missing", "chain")
    status, _, err = run("--port", device.port, package, env_extra={"TMPDIR": missing})
    check(status == 4 and "THE TEMPORARY FOLDER IS NOT USABLE" in err,
          f"missing TMPDIR: {status} {err}")
    check(not os.path.exists(os.path.dirname(missing)), "the missing TMPDIR chain was made")
    run.env.pop("XDG_RUNTIME_DIR")
    status, _, err = run("--port", device.port, package)
    check(status == 4, f"no runtime folder: exit status {status}: {err}")
    check(run.leftovers() == [], f"left in TMPDIR without a runtime folder: {run.leftovers()}")


def case_forbidden_port(ws):
    """A port this user may not open is named with the group that owns it and how to join it:
    in the list, and when a search finds no device. Root may open anything, so as root the
    program runs as nobody."""
    package, _, _ = make_package(ws)
    device = SimDevice(ws, sim_program(), pace=False)  # its node: root's, or ours
    shared = ws.sub("shared")
    os.makedirs(shared)
    os.chmod(ws.path, 0o755)
    for folder in (shared, os.path.dirname(package)):
        os.chmod(folder, 0o777)
    os.chmod(package, 0o644)
    if os.geteuid() == 0:
        port = device.port  # as a serial port is: its group may read and write, others not
        os.chown(port, 0, grp.getgrnam("dialout").gr_gid)
        os.chmod(port, 0o660)
        launcher = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
    else:  # a node of our own that we may not open stands in
        port = ws.sub("forbidden-port")
        with open(port, "w"):
            pass
        os.chmod(port, 0o060)
        launcher = []
    group = grp.getgrgid(os.stat(port).st_gid).gr_name
    env = dict(os.environ, TMPDIR=shared, XDG_RUNTIME_DIR=shared, QLM_EXTRA_PORTS=port)
    expected = f"permission denied (group {group})"
    # arguments, exit status, where the words must be
    rows = [
        (["--list"], 3, "stdout"),
        ([package], 3, "stderr"),
    ]
    for args, status, stream in rows:
        done = subprocess.run(launcher + [program(), *args], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=120)
        text = done.stdout if stream == "stdout" else done.stderr
        check(done.returncode == status, f"{args}: exit status {done.returncode}: {done.stderr}")
        check(f"{port}" in text and expected in text, f"{args}: {stream}: {text!r}")
        if stream == "stderr":
            check(f"sudo usermod -aG {group} $USER" in text, f"{args}: no advice: {text!r}")
    check(os.listdir(shared) == [], f"left behind: {os.listdir(shared)}")


def case_wine_port(ws, build):
    wine, updater_exe, sim = windows_program(build)
    exe = os.path.join(os.path.dirname(updater_exe), "quillmoor-flash.exe")
    package, os_image, ext_image = make_package(ws)
    device = SimDevice(ws, sim, pace=False, link=os.path.join(wine.ports_dir, "com1"))
    env = wine.env({"DISPLAY": VirtualDisplay(ws).display})
    for name in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_PLUGIN_PATH", "WINEPATH"):
        env.pop(name, None)  # everything comes from the program's own folder
    returncode, out = wine.output(["wine", exe, "--port", "COM1", wine.windows_path(package)],
                                  env, 300)
    check(returncode == 0, f"exit status {returncode}: {out}")
    check(device_holds(device, os_image, ext_image), "the device does not hold both images")
    check("COM1  done  100 %" in out and "1 of 1 device updated" in out, f"output: {out}")

    # A name outside every code page arrives whole, and --json is UTF-8 wherever it goes.
    name = "прошивка-日本-ü.zip"
    renamed = os.path.join(os.path.dirname(package), name)
    os.rename(package, renamed)
    with tempfile.TemporaryFile() as output:
        done = subprocess.run(["wine", exe, "--json", "--port", "COM1",
                               wine.windows_path(renamed)], env=env, stdin=subprocess.DEVNULL,
                              stdout=output, stderr=subprocess.DEVNULL, timeout=300)
        output.seek(0)
        raw = output.read()
    check(done.returncode == 0, f"{name}: exit status {done.returncode}: {raw!r}")
    try:
        events = json_lines(raw.decode("utf-8"))
    except UnicodeDecodeError as error:
        raise Failure(f"--json is not UTF-8: {error}: {raw[:200]!r}")
    firmware = [event for event in events if event["event"] == "firmware"]
    check(firmware and firmware[0]["ok"] and name in firmware[0]["source"],
          f"the package's name: {firmware}")


CASES = {name[5:].replace("_", "-"): case for name, case in globals().items()
         if name.startswith("case_")}


def main():
    args = sys.argv[1:]
    extra = []
    if len(args) == 3 and args[0] == "--windows":
        extra = [os.path.abspath(args[1])]
        args = args[2:]
    if len(args) != 1 or args[0] not in CASES:
        sys.exit(f"usage: flash_program.py [--windows BUILD] {{{','.join(CASES)}}}")
    name = args[0]
    started = time.monotonic()
    with Workspace() as ws:
        try:
            CASES[name](ws, *extra)
        except Failure as failure:
            print(f"FAIL {name}: {failure}")
            return 1
    print(f"PASS {name} in {time.monotonic() - started:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
