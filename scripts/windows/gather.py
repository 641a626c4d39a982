#!/usr/bin/env python3
"""Gathers Windows programs and everything they load into one folder: the DLLs they import
(found in Qt's folder and the MinGW-w64 runtime's), the Qt plugins it needs at run time and
the DLLs those import in turn. System DLLs are left to Windows.

Usage: gather.py PROGRAM.exe [PROGRAM.exe...] FOLDER --qt QT_PREFIX
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

# Plugins the updater loads: the Windows platform, the native style, and the TLS backend
# that gives https through Windows' own Schannel.
PLUGINS = ["platforms/qwindows.dll", "styles/qwindowsvistastyle.dll", "tls/qschannelbackend.dll"]


def imports(path):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], check=True,
                         capture_output=True, text=True).stdout
    return re.findall(r"DLL Name: (\S+)", out)


def search_dirs(qt):
    gcc = subprocess.run(["x86_64-w64-mingw32-g++-posix", "-print-file-name=libstdc++-6.dll"],
                         check=True, capture_output=True, text=True).stdout.strip()
    return [os.path.join(qt, "bin"), os.path.dirname(gcc), "/usr/x86_64-w64-mingw32/lib"]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("programs", nargs="+")
    parser.add_argument("folder")
    parser.add_argument("--qt", required=True)
    args = parser.parse_args(argv)

    dirs = search_dirs(args.qt)
    shutil.rmtree(args.folder, ignore_errors=True)
    os.makedirs(args.folder)
    todo = [(program, "") for program in args.programs]
    for plugin in PLUGINS:
        source = os.path.join(args.qt, "plugins", plugin)
        if not os.path.exists(source):
            sys.exit(f"missing Qt plugin: {source}")
        todo.append((source, os.path.dirname(plugin)))
    done = set()
    while todo:
        source, sub = todo.pop()
        target = os.path.join(args.folder, sub, os.path.basename(source))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)
        for name in imports(source):
            if name.lower() in done:
                continue
            found = next((os.path.join(d, name) for d in dirs
                          if os.path.exists(os.path.join(d, name))), None)
            if found:  # otherwise a DLL of Windows itself
                done.add(name.lower())
                todo.append((found, ""))
    # Plugins are looked up beside the program only, never in the build machine's Qt.
    with open(os.path.join(args.folder, "qt.conf"), "w", encoding="ascii") as f:
        f.write("[Paths]\nPrefix = .\nPlugins = .\n")
    for root, _, files in sorted(os.walk(args.folder)):
        for name in sorted(files):
            print(os.path.relpath(os.path.join(root, name), args.folder))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
