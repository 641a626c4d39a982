#!/usr/bin/env python3
"""A stand-in for the desktop's notification service on a private session bus: it owns
org.freedesktop.Notifications and answers Notify with a fresh id, as a notification daemon
does, and it listens to the launcher entries' Update signals, as a dock does.

Usage: notifications_standin.py [--no-service]
The bus is the one DBUS_SESSION_BUS_ADDRESS names. Prints "ready" once it listens (and owns the
name, unless --no-service), then one JSON object a line per event:
{"event": "notify", "id": ..., "app_name": ..., "replaces_id": ..., "app_icon": ...,
 "summary": ..., "body": ..., "actions": [...], "hints": {...}, "expire_timeout": ...},
{"event": "close", "id": ...} and {"event": "launcher", "uri": ..., "properties": {...}}.
"""
import argparse
import itertools
import json
import os
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg name="app_name" type="s" direction="in"/>
      <arg name="replaces_id" type="u" direction="in"/>
      <arg name="app_icon" type="s" direction="in"/>
      <arg name="summary" type="s" direction="in"/>
      <arg name="body" type="s" direction="in"/>
      <arg name="actions" type="as" direction="in"/>
      <arg name="hints" type="a{sv}" direction="in"/>
      <arg name="expire_timeout" type="i" direction="in"/>
      <arg name="id" type="u" direction="out"/>
    </method>
    <method name="CloseNotification">
      <arg name="id" type="u" direction="in"/>
    </method>
    <method name="GetCapabilities">
      <arg name="capabilities" type="as" direction="out"/>
    </method>
    <method name="GetServerInformation">
      <arg name="name" type="s" direction="out"/>
      <arg name="vendor" type="s" direction="out"/>
      <arg name="version" type="s" direction="out"/>
      <arg name="spec_version" type="s" direction="out"/>
    </method>
  </interface>
</node>
"""


def say(event, **fields):
    print(json.dumps(dict(event=event, **fields)), flush=True)


def ready():
    print("ready", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--no-service", action="store_true",
                        help="listen to the launcher entries only; no notification service")
    args = parser.parse_args()
    ids = itertools.count(1)

    def on_call(connection, sender, path, interface, method, parameters, invocation):
        if method == "Notify":
            names = ("app_name", "replaces_id", "app_icon", "summary", "body", "actions",
                     "hints", "expire_timeout")
            fields = dict(zip(names, parameters.unpack()))
            # The id of the one it replaces, as the notification service's protocol asks.
            shown = fields["replaces_id"] or next(ids)
            say("notify", id=shown, **fields)
            invocation.return_value(GLib.Variant("(u)", (shown,)))
        elif method == "CloseNotification":
            say("close", id=parameters.unpack()[0])
            invocation.return_value(None)
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["body"],)))
        else:
            invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "tests", "1", "1.2")))

    def on_launcher(connection, sender, path, interface, signal, parameters):
        uri, properties = parameters.unpack()
        say("launcher", uri=uri, path=path, properties=properties)

    bus = Gio.DBusConnection.new_for_address_sync(
        os.environ["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
        Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    bus.signal_subscribe(None, "com.canonical.Unity.LauncherEntry", "Update", None, None,
                         Gio.DBusSignalFlags.NONE, on_launcher)
    loop = GLib.MainLoop()
    if args.no_service:
        ready()
    else:
        info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
        bus.register_object("/org/freedesktop/Notifications", info, on_call, None, None)
        Gio.bus_own_name_on_connection(bus, "org.freedesktop.Notifications",
                                       Gio.BusNameOwnerFlags.NONE,
                                       lambda *_: ready(), lambda *_: loop.quit())
    loop.run()
    return 1  # the name was lost or never had


if __name__ == "__main__":
    sys.exit(main())
