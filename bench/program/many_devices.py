#!/usr/bin/env python3
"""Benchmark of quillmoor-flash: N simulated devices paced at the real line rate, updated by one
`quillmoor-flash --all`, and one device whose answers are held back as a USB serial adapter's
latency timer holds them.

Prints for each N the wall time of the whole run, its ratio to one device's, the program's CPU
share of one core, and whether every device holds both images byte for byte; then for each
reply delay the transfer time (first packet to EOT, as the simulator measures it) and what the
delay costs against none.

Usage: many_devices.py [--devices 1,4,8] [--reply-delay 0,1,4,16]
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))

from quillmoor_demo import SERVER_DIR, SimDevice, Workspace, build_dir, padded  # noqa: E402


def make_package(ws):
    folder = ws.sub("made")
    package = subprocess.run([sys.executable, os.path.join(SERVER_DIR, "make_package.py"), folder,
                              "--version", "2.40", "--seed", "11"],
                             check=True, capture_output=True, text=True).stdout.strip()

    def image(name):
        with open(os.path.join(folder, "images", name), "rb") as f:
            return padded(f.read())

    return package, image("QLM_OS.bin"), image("QLM_EXT.bin")


def run_once(build, count, delay=0):
    """One `--all` run over count paced devices: (wall s, CPU s, all intact, devices)."""
    with Workspace() as ws:
        package, os_image, ext_image = make_package(ws)
        sim = os.path.join(build, "tools", "sim", "quillmoor-sim")
        options = ["--reply-delay", str(delay)] if delay else []
        devices = [SimDevice(ws, sim, options, pace=True, name=f"device{i}")
                   for i in range(count)]
        tmp = ws.sub("tmp")
        os.makedirs(tmp)
        runtime = ws.sub("runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, TMPDIR=tmp, XDG_RUNTIME_DIR=runtime,
                   QLM_EXTRA_PORTS=":".join(d.port for d in devices))
        started = time.monotonic()
        child = subprocess.Popen([os.path.join(build, "src", "cli", "quillmoor-flash"), "--all",
                                  "--quiet", package], env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.monotonic() - started
        child.returncode = os.waitstatus_to_exitcode(status)
        cpu = usage.ru_utime + usage.ru_stime
        intact = child.returncode == 0 and all(
            d.received("os") == os_image and d.received("ext") == ext_image for d in devices)
        transfer = sum(float(d.read_stats().get("transfer_time_s", 0)) for d in devices) / count
        return wall, cpu, intact, transfer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--devices", default="1,4,8")
    parser.add_argument("--reply-delay", default="0,1,4,16")
    args = parser.parse_args()
    build = build_dir()
    counts = [int(n) for n in args.devices.split(",") if n]
    delays = [int(n) for n in args.reply_delay.split(",") if n]

    if counts:
        print("devices  wall time  ratio to 1  program CPU  images intact")
        single = None
        for count in counts:
            wall, cpu, intact, _ = run_once(build, count)
            single = single or (wall if count == 1 else None)
            ratio = f"{wall / single:.4f}" if single else "-"
            print(f"{count:7d}  {wall:8.2f}s  {ratio:>10}  {cpu / wall * 100:9.2f} %  "
                  f"{'yes' if intact else 'NO'}", flush=True)
    if delays:
        print()
        print("reply delay  transfer time  cost against none  images intact")
        base = None
        for delay in delays:
            _, _, intact, transfer = run_once(build, 1, delay)
            base = base if base is not None else (transfer if delay == 0 else None)
            cost = f"{(transfer / base - 1) * 100:+.1f} %" if base else "-"
            print(f"{delay:8d} ms  {transfer:11.2f}s  {cost:>16}  {'yes' if intact else 'NO'}",
                  flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
