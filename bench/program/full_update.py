#!/usr/bin/env python3
"""Benchmark of the real updater program: a complete update against the simulated device
paced at the real line rate, driven on a virtual display like a user would drive it.

Prints the update's wall time against the theoretical minimum, the turnaround seen by the
device, and the program's CPU share and peak resident memory (from /proc).
"""
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "demo"))

from quillmoor_demo import (Driver, SimDevice, UpdateServer, Updater, VirtualDisplay,  # noqa: E402
                            Workspace, build_dir, padded, wait_for)

TICKS = os.sysconf("SC_CLK_TCK")
LINE_RATE = 11520.0  # bytes per second at 115200 baud, 10 bits a byte
PACKETS = 576
PACKET_BYTES = 1028
RESTART_DELAY = 0.6  # the simulator's announced restart into the boot loader
SLOW_RATE = 960.0  # bytes per second at 9600 baud
PROBE_REPLY = 55  # characters of the simulator's probe reply


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def peak_rss_mb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def main():
    build = build_dir()
    with Workspace() as ws:
        server = UpdateServer(ws)
        device = SimDevice(ws, os.path.join(build, "tools", "sim", "quillmoor-sim"), pace=True)
        display = VirtualDisplay(ws).display
        updater = Updater(ws, os.path.join(build, "src", "updater", "quillmoor-updater"),
                          server.url, [device.port], display=display)
        pid = updater.child.process.pid
        driver = Driver(display)
        driver.find_window()
        wait_for(updater.images_ready, 120, 0.1, "the firmware package")
        time.sleep(1.0)

        cpu_before = cpu_seconds(pid)
        started = time.monotonic()
        driver.click_update()
        wait_for(lambda: device.received("ext"), 300, 0.02, "both images")
        # The update ends when the EOT's answer has come and the port is closed.
        fd_dir = f"/proc/{pid}/fd"
        wait_for(lambda: not any(os.path.realpath(os.path.join(fd_dir, fd)) == device.port
                                 for fd in os.listdir(fd_dir)), 30, 0.005, "the port to close")
        wall = time.monotonic() - started
        cpu = cpu_seconds(pid) - cpu_before

        time.sleep(5)
        idle_before = cpu_seconds(pid)
        time.sleep(10)
        idle_share = (cpu_seconds(pid) - idle_before) / 10 * 100
        rss = peak_rss_mb(pid)
        stats = device.read_stats()
        ok = (device.received("os") == padded(server.image("QLM_OS.bin")) and
              device.received("ext") == padded(server.image("QLM_EXT.bin")))
        driver.emergency_key()
        updater.child.process.wait(30)

    # The shortest the update can take: what the line must carry and the sequence's pauses
    # (probe: settle pause, sentence, reply, the unnamed probe's pause; each transfer: pause
    # after opening, entry sentence, the device's restart delay, the pauses before the first
    # block and after EOT), plus the 5 s boot wait.
    line_time = PACKETS * PACKET_BYTES / LINE_RATE
    probe = 0.25 + (12 + PROBE_REPLY) / SLOW_RATE + 0.25
    transfers = sum(0.25 + length / SLOW_RATE + RESTART_DELAY + 0.25 + 0.25
                    for length in (28, 27))
    replies = (PACKETS + 6) / LINE_RATE
    minimum = line_time + probe + transfers + 5.0 + replies
    print(f"images received intact:   {'yes' if ok else 'NO'}")
    print(f"update wall time:         {wall:.2f} s")
    print(f"theoretical minimum:      {minimum:.2f} s (packets {line_time:.2f} s + pauses)")
    print(f"ratio:                    {wall / minimum:.4f}")
    print(f"turnaround median / p99:  {stats.get('turnaround_median_ms')} / "
          f"{stats.get('turnaround_p99_ms')} ms over {stats.get('turnaround_count')} blocks")
    print(f"CPU during the update:    {cpu:.2f} s = {cpu / wall * 100:.2f} % of one core")
    print(f"CPU while idle:           {idle_share:.2f} % of one core")
    print(f"peak resident memory:     {rss:.1f} MB")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
