#!/usr/bin/env python3
"""Runs the updater against a local update server and the simulated device.

The pieces (workspace, update server, simulated device, virtual display, the updater and
a driver that clicks and types like a user) serve the demo command, the screenshot script
and the acceptance tests alike.
"""
import argparse
import getpass
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SERVER_DIR = os.path.join(ROOT, "tools", "server")
OS_SIZE = 491516
EXT_SIZE = 98304
PAD = 0x1A


def padded(data):
    """An image as the device receives it: whole 1024-byte blocks, padded with 0x1A."""
    rest = (-len(data)) % 1024
    return data + bytes([PAD]) * rest


def wait_for(predicate, timeout, interval=0.05, what="condition"):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    raise TimeoutError(f"timed out after {timeout:.0f} s waiting for {what}")


def holds_port(pid, port):
    """Whether the process has the device open."""
    fd_dir = f"/proc/{pid}/fd"
    try:
        return any(os.path.realpath(os.path.join(fd_dir, fd)) == port for fd in os.listdir(fd_dir))
    except FileNotFoundError:
        return False


def read_first_line(process, timeout, what):
    """The first line a child prints, without blocking past the timeout."""
    import selectors
    sel = selectors.DefaultSelector()
    sel.register(process.stdout, selectors.EVENT_READ)
    deadline = time.monotonic() + timeout
    line = b""
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not sel.select(left):
            raise TimeoutError(f"{what} printed nothing within {timeout} s")
        chunk = os.read(process.stdout.fileno(), 1)
        if not chunk:
            raise RuntimeError(f"{what} ended before it was ready")
        line += chunk
    return line.decode().strip()


class Child:
    """A child process that is stopped when the demo ends."""

    def __init__(self, args, env=None, stdout=subprocess.PIPE, stderr=None, pass_fds=()):
        self.args = args
        self.process = subprocess.Popen(args, env=env, stdout=stdout, stderr=stderr,
                                        stdin=subprocess.DEVNULL, start_new_session=True,
                                        pass_fds=pass_fds)

    def running(self):
        return self.process.poll() is None

    def stop(self, timeout=5):
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            try:
                self.process.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        if self.process.stdout:
            self.process.stdout.close()


class Workspace:
    """A temporary folder holding everything one run makes; removed at the end."""

    def __init__(self, keep=False):
        self.path = tempfile.mkdtemp(prefix="quillmoor-demo-")
        self.keep = keep
        self.children = []

    def sub(self, *names):
        path = os.path.join(self.path, *names)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        return path

    def start(self, args, **kwargs):
        child = Child(args, **kwargs)
        self.children.append(child)
        return child

    def close(self):
        for child in reversed(self.children):
            child.stop()
        if not self.keep:
            shutil.rmtree(self.path, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class UpdateServer:
    """The version file and the firmware package, served on 127.0.0.1."""

    def __init__(self, ws, version="2.17", seed=1, options=(), name="www"):
        self.root = ws.sub(name)
        subprocess.run([sys.executable, os.path.join(SERVER_DIR, "make_package.py"), self.root,
                        "--version", version, "--seed", str(seed)],
                       check=True, stdout=subprocess.DEVNULL)
        self.version = version
        self.child = ws.start([sys.executable, os.path.join(SERVER_DIR, "serve.py"), self.root,
                               *options])
        self.url = read_first_line(self.child.process, 20, "the update server")

    def image(self, name):
        with open(os.path.join(self.root, "images", name), "rb") as f:
            return f.read()


class SimDevice:
    """The simulated Quillmoor on a pseudo-terminal (linked to link if given: a COM port of a
    Wine prefix, say); with log, what it does is written to that file as it happens."""

    def __init__(self, ws, sim, options=(), pace=True, link=None, name="device", log=None):
        self.out = ws.sub(name, "received")
        os.makedirs(self.out, exist_ok=True)
        self.stats = ws.sub(name, "stats.txt")
        args = [sim, "--out", self.out, "--stats", self.stats]
        args += ["--pace"] if pace else ["--no-pace"]
        args += ["--link", link] if link else []
        args += list(options)
        if log:
            args.append("--verbose")
            with open(log, "w") as sink:
                self.child = ws.start(args, stderr=sink)
        else:
            self.child = ws.start(args)
        self.port = read_first_line(self.child.process, 20, "the simulated device")

    def received(self, kind):
        path = os.path.join(self.out, f"{kind}.bin")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def read_stats(self):
        figures = {}
        if os.path.exists(self.stats):
            with open(self.stats) as f:
                for line in f:
                    key, _, value = line.strip().partition("=")
                    figures[key] = value
        return figures


class VirtualDisplay:
    """An Xvfb display of our own."""

    def __init__(self, ws, size="1024x768x24"):
        read_end, write_end = os.pipe()
        # Xvfb writes the display number it chose to the given descriptor.
        self.child = ws.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", size,
                               "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number


class WindowManager:
    """A window manager on a virtual display, which frames, places and focuses windows as a
    desktop does: keys then go where it put the focus."""

    def __init__(self, ws, display):
        self.env = dict(os.environ, DISPLAY=display)
        # Its own settings as installed, whatever the user's are.
        self.child = ws.start(["openbox", "--sm-disable", "--config-file",
                               "/etc/xdg/openbox/rc.xml"], env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(self.running, 20, 0.1, "the window manager")

    def running(self):
        result = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                capture_output=True, text=True)
        return "window id" in result.stdout


class Updater:
    """The updater program, as a user starts it."""

    def __init__(self, ws, binary, server_url, ports, display=None, extra_env=None,
                 launcher=(), args=()):
        self.tmp = ws.sub("updater-tmp")
        os.makedirs(self.tmp, exist_ok=True)
        env = dict(os.environ)
        env.update({"QLM_UPDATE_SERVER": server_url, "QLM_EXTRA_PORTS": ":".join(ports),
                    "TMPDIR": self.tmp})
        if display:
            env["DISPLAY"] = display
            env.pop("QT_QPA_PLATFORM", None)
            env.pop("WAYLAND_DISPLAY", None)
        env.update(extra_env or {})
        self.env = env
        # The launcher (a command that ends by running the program) may change its surroundings.
        self.child = ws.start([*launcher, binary, *args], env=env, stdout=subprocess.DEVNULL,
                              stderr=None)
        self.work_dir = os.path.join(self.tmp, "QLMUpdate")

    def images_ready(self):
        """Both images unpacked into the work directory."""
        sizes = set()
        if os.path.isdir(self.work_dir):
            for name in os.listdir(self.work_dir):
                if name.lower().endswith(".bin"):
                    sizes.add(os.path.getsize(os.path.join(self.work_dir, name)))
        return OS_SIZE in sizes and EXT_SIZE in sizes


class WineUpdater(Updater):
    """The Windows program under Wine on a display of its own, as a user starts it on Windows:
    it lists the prefix's COM ports and works in the Windows user's temporary folder."""

    def __init__(self, ws, exe, server_url, wine, display):
        env = wine.env({"QLM_UPDATE_SERVER": server_url, "DISPLAY": display})
        for name in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_PLUGIN_PATH", "WINEPATH"):
            env.pop(name, None)  # everything comes from the program's own folder
        self.env = env
        # A Wine server started for another display would show the window there.
        wine.stop()
        self.wine = wine
        # Wine's own messages (and its server's, which outlives the program) go to a file.
        self.log = open(ws.sub("wine.log"), "wb")
        self.child = ws.start(["wine", exe], env=env, stdout=subprocess.DEVNULL, stderr=self.log)
        self.work_dir = os.path.join(wine.prefix, "drive_c", "users", getpass.getuser(), "Temp",
                                     "QLMUpdate")


class Driver:
    """Drives the window with xdotool, as a user with a mouse and keyboard would."""

    TITLE = "QLM Firmware Updater"

    def __init__(self, display, click_to_focus=False):
        self.env = dict(os.environ, DISPLAY=display)
        self.window = None
        # Wine without a window manager gives a window made anew no keyboard focus; a click
        # on the window's read-only introduction text does.
        self.click_to_focus = click_to_focus

    def run(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True)

    def find_window(self, timeout=30):
        def found():
            result = self.run("search", "--name", self.TITLE)
            ids = result.stdout.split()
            return ids[-1] if ids else None
        self.window = wait_for(found, timeout, 0.2, "the updater window")
        return self.window

    def click(self, x, y):
        """A left click at a point of the window's client area."""
        self.find_window()  # the window is made anew when its caption buttons change
        self.run("mousemove", "--window", self.window, str(x), str(y))
        self.run("click", "--window", self.window, "1")

    def click_update(self):
        self.click(540, 281)  # "Update Quillmoor"

    def click_close(self):
        self.click(540, 371)  # "Close"

    def emergency_key(self, focus=True):
        """Ctrl+Alt+Shift+X; without focus, to whatever window has the keyboard focus, as a
        user's keyboard types it under a window manager."""
        if self.click_to_focus:
            self.click(300, 30)
        self.find_window()
        if focus:
            self.run("windowfocus", "--sync", self.window)
        # Typed on the keyboard device (no synthetic event to one window), then every key is
        # let go for sure: the window is made anew meanwhile, and a release that finds no
        # window would leave the key repeating.
        self.run("key", "--clearmodifiers", "ctrl+alt+shift+x")
        self.run("keyup", "ctrl+alt+shift+x")

    def active_window(self):
        """The window the window manager has made the active one."""
        return self.run("getactivewindow").stdout.strip()

    def click_title_close(self):
        """A click on the close button of the window manager's title bar (the rightmost one
        of openbox's buttons)."""
        self.find_window()
        info = subprocess.run(["xwininfo", "-id", self.window], env=self.env,
                              capture_output=True, text=True).stdout
        field = {line.split(":")[0].strip(): line.split(":")[1].strip()
                 for line in info.splitlines() if ":" in line}
        x, y = int(field["Absolute upper-left X"]), int(field["Absolute upper-left Y"])
        width = int(field["Width"])
        extents = subprocess.run(["xprop", "-id", self.window, "_NET_FRAME_EXTENTS"],
                                 env=self.env, capture_output=True, text=True).stdout
        top = int(extents.split("=")[1].split(",")[2])
        self.run("mousemove", str(x + width - 10), str(y - top // 2))
        self.run("click", "1")

    def read_log(self):
        """The Monitor log's lines, copied as a user copies them: a click into the log,
        Ctrl+A and Ctrl+C, then read from the clipboard."""
        self.click(200, 260)
        self.run("key", "--clearmodifiers", "ctrl+a", "ctrl+c")
        result = subprocess.run(["xclip", "-selection", "clipboard", "-o"], env=self.env,
                                capture_output=True, text=True, timeout=20)
        return result.stdout.splitlines()

    def screenshot(self, path):
        """A picture of the window alone."""
        self.find_window()
        subprocess.run(["import", "-window", self.window, path], env=self.env, check=True)


def build_dir():
    return os.environ.get("QLM_BUILD_DIR", os.path.join(ROOT, "build"))


def project_version():
    """The version the CMake project declares, which every build of the program carries."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as source:
        return re.search(r"^project\(\w+ VERSION ([0-9.]+)", source.read(), re.M).group(1)


def windows_program(build):
    """The gathered Windows program of a cross build (scripts/build-windows.sh), the build's
    Wine prefix, and the simulated device built for this machine."""
    sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
    from wine_env import WineEnv
    wine = WineEnv(build, os.environ.get("QLM_QT_WIN_PREFIX", ""))
    exe = os.path.join(build, "quillmoor-updater-%s-win64" % project_version(),
                       "quillmoor-updater.exe")
    sim = (os.environ.get("QLM_SIM_PROGRAM") or
           os.path.join(build, "host", "tools", "sim", "quillmoor-sim"))
    return wine, exe, sim


def stored_blocks(device_log):
    """How many blocks the simulated device has stored, from its log."""
    if not os.path.exists(device_log):
        return 0
    with open(device_log, errors="replace") as f:
        return sum(1 for line in f if "stored: ACK" in line)


def demo(args):
    binary = os.path.join(args.build, "src", "updater", "quillmoor-updater")
    sim = os.path.join(args.build, "tools", "sim", "quillmoor-sim")
    wine = link = None
    if args.windows:
        wine, binary, sim = windows_program(args.windows)
        if not os.path.isdir(wine.prefix):
            wine.create()
        link = os.path.join(wine.ports_dir, "com1")  # the first port the search probes
    with Workspace(keep=args.keep) as ws:
        server = UpdateServer(ws)
        # With a picture to take, the device's log tells when the update is a fifth through.
        device_log = ws.sub("device", "log.txt") if args.screenshot else None
        # Unpaced, the update would be over before the picture: answers come a little late.
        slowed = ["--reply-delay", "20"] if args.fast and args.screenshot else []
        device = SimDevice(ws, sim, slowed, pace=not args.fast, link=link, log=device_log)
        display = os.environ.get("DISPLAY")
        if args.screenshot or (wine and not display):
            display = VirtualDisplay(ws).display
        print(f"Update server:    {server.url}")
        print(f"Simulated device: {device.port}" + (" (COM1)" if wine else ""))
        if wine:
            updater = WineUpdater(ws, binary, server.url, wine, display)
        else:
            updater = Updater(ws, binary, server.url, [device.port],
                              display=display if args.screenshot else None)
        if not args.screenshot:
            updater.child.process.wait()
            print("Images the device received:",
                  ", ".join(k for k in ("os", "ext") if device.received(k)) or "none")
            return 0
        driver = Driver(display, click_to_focus=bool(wine))
        driver.find_window()
        wait_for(updater.images_ready, 60, 0.2, "the firmware package")
        time.sleep(1.0)
        driver.click_update()
        # Mid-update in both modes: a fifth of the OS image is through (15 s at the line rate,
        # a moment without pacing), then the window has a moment to show it.
        wait_for(lambda: stored_blocks(device_log) >= 96, 120, 0.05, "a fifth of the OS image")
        time.sleep(0.3)
        driver.screenshot(args.screenshot)
        print(f"Screenshot: {args.screenshot}")
        driver.emergency_key()
        driver.emergency_key()
        updater.child.process.wait(30)
        return 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default=build_dir(), help="the build folder")
    parser.add_argument("--fast", action="store_true", help="no line-rate pacing")
    parser.add_argument("--screenshot", metavar="PNG",
                        help="run on a virtual display and save a picture taken mid-update")
    parser.add_argument("--keep", action="store_true", help="keep the temporary folder")
    parser.add_argument("--windows", metavar="BUILD",
                        help="run the Windows program of this cross build under Wine instead")
    args = parser.parse_args(argv)
    if args.screenshot:
        args.screenshot = os.path.abspath(args.screenshot)
    return demo(args)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
