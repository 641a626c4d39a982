#!/usr/bin/env python3
"""A stand-in for the system's login manager on a private system bus: it owns
org.freedesktop.login1 and answers Manager.Inhibit with the write end of a pipe, as the real
one answers with an inhibitor descriptor, and tells when a lock is taken and when its last
copy is closed.

Usage: login1_standin.py [--delay MS] [--device-log FILE]
The bus is the one DBUS_SYSTEM_BUS_ADDRESS names. Prints "ready" once it owns the name, then
one line per event: "taken <what>|<who>|<why>|<mode> <stored>" when asked, "granted <stored>"
when it answers and "released <stored>" when the lock is given back, where
<stored> is the number of blocks the simulated device had stored by then (from its log).
"""
import argparse
import os
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACE = """
<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="Inhibit">
      <arg name="what" type="s" direction="in"/>
      <arg name="who" type="s" direction="in"/>
      <arg name="why" type="s" direction="in"/>
      <arg name="mode" type="s" direction="in"/>
      <arg name="pipe_fd" type="h" direction="out"/>
    </method>
  </interface>
</node>
"""


def say(line):
    print(line, flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--delay", type=int, default=0, help="milliseconds before answering")
    parser.add_argument("--device-log", help="the simulated device's log")
    args = parser.parse_args()

    def stored():
        if not args.device_log or not os.path.exists(args.device_log):
            return 0
        with open(args.device_log, errors="replace") as f:
            return sum(1 for line in f if "stored: ACK" in line)

    def on_closed(fd, condition):
        say(f"released {stored()}")
        os.close(fd)
        return False

    def answer(invocation):
        read_end, write_end = os.pipe()
        fds = Gio.UnixFDList.new()
        index = fds.append(write_end)  # a copy: ours goes, so the caller's is the last one
        os.close(write_end)
        GLib.io_add_watch(read_end, GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_ERR, on_closed)
        invocation.return_value_with_unix_fd_list(GLib.Variant("(h)", (index,)), fds)
        say(f"granted {stored()}")
        return False

    def on_call(connection, sender, path, interface, method, parameters, invocation):
        what, who, why, mode = parameters.unpack()
        say(f"taken {what}|{who}|{why}|{mode} {stored()}")
        if args.delay:
            GLib.timeout_add(args.delay, answer, invocation)
        else:
            answer(invocation)

    bus = Gio.DBusConnection.new_for_address_sync(
        os.environ["DBUS_SYSTEM_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    bus.register_object("/org/freedesktop/login1", info, on_call, None, None)
    loop = GLib.MainLoop()
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.login1", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: say("ready"), lambda *_: loop.quit())
    loop.run()
    return 1  # the name was lost or never had


if __name__ == "__main__":
    sys.exit(main())
