#!/usr/bin/env python3
"""Benchmark of the Windows program under Wine beside the Linux program, in one run: a complete
update of each against the simulated device paced at the line rate (under Wine the device is
the prefix's COM1, as in the acceptance runs), driven on a virtual display like a user would.

Usage: wine_update.py [--windows BUILD] [--linux BUILD] [--busy N] [--only linux|windows]
  --windows  the cross build of scripts/build-windows.sh (default build-win)
  --linux    the Linux build (default $QLM_BUILD_DIR or build)
  --busy N   N processes spinning beside the programs for the whole run (a loaded machine)

Prints for each program the update's wall time against the theoretical minimum, the block
phase's share of the line rate and the turnaround the device saw (from the simulator's
figures), the program's processor time during the update, and while it waits with the port
open and the device silent (a boot loader that never answers). Under Wine the Wine server's
share is shown beside the program's own.
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))

from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            WineUpdater, Workspace, build_dir, holds_port, padded, wait_for,
                            windows_program)

TICKS = os.sysconf("SC_CLK_TCK")
LINE_RATE = 11520.0  # bytes per second at 115200 baud, 10 bits a byte
SLOW_RATE = 960.0  # at 9600 baud
PACKETS = 576
PACKET_BYTES = 1028
RESTART_DELAY = 0.6  # the simulator's restart into the boot loader
PROBE_REPLY = 55  # characters of the simulator's probe reply
IDLE_SECONDS = 10


def minimum_seconds():
    """What the line must carry and the sequence's prescribed pauses: the probe (settle pause,
    sentence, reply, pause), each transfer (pause after opening, entry sentence, restart,
    pauses before the first block and after EOT), the 5 s boot wait, and the replies."""
    line_time = PACKETS * PACKET_BYTES / LINE_RATE
    probe = 0.25 + (12 + PROBE_REPLY) / SLOW_RATE + 0.25
    transfers = sum(0.25 + length / SLOW_RATE + RESTART_DELAY + 0.25 + 0.25
                    for length in (28, 27))
    replies = (PACKETS + 6) / LINE_RATE
    return line_time + probe + transfers + 5.0 + replies


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except FileNotFoundError:
        return 0.0
    return (int(fields[11]) + int(fields[12])) / TICKS


def wine_server_pid(prefix):
    """The Wine server of the prefix, whose work for the program is the program's cost too."""
    mark = ("WINEPREFIX=" + prefix).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"wineserver" not in f.read().split(b"\0")[0]:
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if mark in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


class Program:
    """One of the two programs: how it is started and what is measured of it."""

    def __init__(self, name, windows, linux_build, sim):
        self.name = name
        self.windows = windows
        self.sim = sim
        if windows:
            self.wine, self.exe, _ = windows_program(windows)
            if not os.path.isdir(self.wine.prefix):
                self.wine.create()
        else:
            self.exe = os.path.join(linux_build, "src", "updater", "quillmoor-updater")

    def start(self, ws, sim_options=()):
        server = UpdateServer(ws)
        link = os.path.join(self.wine.ports_dir, "com1") if self.windows else None
        device = SimDevice(ws, self.sim, options=sim_options, pace=True, link=link)
        display = VirtualDisplay(ws).display
        if self.windows:
            updater = WineUpdater(ws, self.exe, server.url, self.wine, display)
        else:
            updater = Updater(ws, self.exe, server.url, [device.port], display=display)
        driver = Driver(display, click_to_focus=self.windows)
        driver.find_window(60)
        wait_for(updater.images_ready, 120, 0.1, "the firmware package")
        time.sleep(1.0)
        return server, device, updater, driver

    def server_cpu(self):
        if not self.windows:
            return 0.0
        pid = wine_server_pid(self.wine.prefix)
        return cpu_seconds(pid) if pid else 0.0

    def update(self):
        """A whole update: its figures."""
        with Workspace() as ws:
            server, device, updater, driver = self.start(ws)
            pid = updater.child.process.pid
            cpu_before, server_before = cpu_seconds(pid), self.server_cpu()
            started = time.monotonic()
            driver.click_update()
            wait_for(lambda: device.received("ext"), 300, 0.02, "both images")
            # The update ends when the EOT's answer has come and the port is closed.
            wait_for(lambda: not holds_port(pid, device.port), 30, 0.005, "the port to close")
            wall = time.monotonic() - started
            cpu = cpu_seconds(pid) - cpu_before
            server_cpu = self.server_cpu() - server_before
            stats = device.read_stats()
            intact = (device.received("os") == padded(server.image("QLM_OS.bin")) and
                      device.received("ext") == padded(server.image("QLM_EXT.bin")))
        line = float(stats.get("line_time_s", 0))
        transfer = float(stats.get("transfer_time_s", 0)) or float("nan")
        return {
            "intact": intact,
            "wall": wall,
            "block_phase": line / transfer * 100,
            "turn_median": float(stats.get("turnaround_median_ms", "nan")),
            "turn_p99": float(stats.get("turnaround_p99_ms", "nan")),
            "cpu": cpu / wall * 100,
            "server_cpu": server_cpu / wall * 100,
        }

    def idle_port_open(self):
        """Processor share while the program waits with the port open for a boot loader that
        never answers."""
        with Workspace() as ws:
            _, device, updater, driver = self.start(ws, ["--silent-boot"])
            pid = updater.child.process.pid
            driver.click_update()
            time.sleep(4.0)  # probe and entry sentence done: waiting at 115200 baud
            wait_for(lambda: holds_port(pid, device.port), 20, 0.1, "the boot loader wait")
            cpu_before, server_before = cpu_seconds(pid), self.server_cpu()
            time.sleep(IDLE_SECONDS)
            cpu = (cpu_seconds(pid) - cpu_before) / IDLE_SECONDS * 100
            server_cpu = (self.server_cpu() - server_before) / IDLE_SECONDS * 100
            still_open = holds_port(pid, device.port)
        return {"idle_cpu": cpu, "idle_server_cpu": server_cpu, "idle_open": still_open}


def busy_processes(count):
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"])
            for _ in range(count)]


def report(results, minimum, busy):
    names = list(results)
    def row(label, fmt):
        cells = [fmt(results[n]) for n in names]
        print(f"{label:34}" + "".join(f"{c:>22}" for c in cells))
    print(f"\nline-rate update, {busy} busy processes beside it; "
          f"theoretical minimum {minimum:.2f} s")
    print(f"{'':34}" + "".join(f"{n:>22}" for n in names))
    row("images received intact", lambda r: "yes" if r["intact"] else "NO")
    row("update wall time", lambda r: f"{r['wall']:.2f} s")
    row("ratio to the minimum", lambda r: f"{r['wall'] / minimum:.4f}")
    if "Linux" in results:
        row("ratio to the Linux program", lambda r: f"{r['wall'] / results['Linux']['wall']:.4f}")
    row("block phase, share of line rate", lambda r: f"{r['block_phase']:.1f} %")
    row("turnaround median / p99", lambda r: f"{r['turn_median']:.2f} / {r['turn_p99']:.2f} ms")
    row("CPU during the update", lambda r: f"{r['cpu']:.1f} % (+{r['server_cpu']:.1f})")
    row("CPU waiting, port open, silent",
        lambda r: f"{r['idle_cpu']:.2f} % (+{r['idle_server_cpu']:.2f})")
    print("CPU in % of one core: the program's own (+ the Wine server's)")
    return all(r["intact"] and r["idle_open"] for r in results.values())


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--windows", default=os.path.join(ROOT, "build-win"))
    parser.add_argument("--linux", default=build_dir())
    parser.add_argument("--busy", type=int, default=0)
    parser.add_argument("--only", choices=("linux", "windows"))
    args = parser.parse_args(argv)
    sim = os.path.join(os.path.abspath(args.linux), "tools", "sim", "quillmoor-sim")
    if not os.path.exists(sim):
        sim = os.path.join(os.path.abspath(args.windows), "host", "tools", "sim", "quillmoor-sim")
    programs = []
    if args.only != "windows":
        programs.append(Program("Linux", None, os.path.abspath(args.linux), sim))
    if args.only != "linux":
        programs.append(Program("Windows (Wine)", os.path.abspath(args.windows), None, sim))
    load = busy_processes(args.busy)
    results = {}
    try:
        for program in programs:
            figures = program.update()
            figures.update(program.idle_port_open())
            results[program.name] = figures
    finally:
        for proc in load:
            proc.kill()
            proc.wait()
    return 0 if report(results, minimum_seconds(), args.busy) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
