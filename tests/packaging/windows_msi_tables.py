#!/usr/bin/env python3
"""The installer's tables read against Windows Installer's rules, which its own validation
tools would check on Windows: the product code is the same for every build of one version and
another for the next; every file, folder and shortcut name is a valid short (8.3) name or
carries a unique one beside its long name; files with version information carry their version
and language (and no hash), the others a hash; the Start-menu shortcut is a per-machine one.

Usage: windows_msi_tables.py BUILD_DIR VERSION   (a cross build made by scripts/build-windows.sh)
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
MAKE_MSI = os.path.join(HERE, "..", "..", "scripts", "windows", "make_msi.py")
PROGRAM = "quillmoor-updater.exe"
# What a short name may not hold, beside spaces; a long name may not hold the first ones.
NOT_IN_LONG = set('\\?|><:/*"')
NOT_IN_SHORT = NOT_IN_LONG | set("+,;=[] ")
failures = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def table(msi, name):
    """A table's rows as dictionaries by column name."""
    text = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                          text=True).stdout
    lines = text.rstrip("\n").split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:]]


def prop(msi, name):
    return next((r["Value"] for r in table(msi, "Property") if r["Property"] == name), None)


def package_code(msi):
    out = subprocess.run(["msiinfo", "suminfo", msi], check=True, capture_output=True,
                         text=True).stdout
    return re.search(r"Revision number \(UUID\): (\S+)", out).group(1)


def valid_short(name):
    stem, dot, ext = name.partition(".")
    return (not NOT_IN_SHORT & set(name) and 1 <= len(stem) <= 8 and len(ext) <= 3 and
            "." not in ext and not (dot and not ext))


def names_of(value):
    """(short, long) of a name column's value, or None when it breaks the rules."""
    short, bar, long = value.partition("|")
    if not bar:
        return (value, value) if valid_short(value) else None
    if not valid_short(short) or not long or NOT_IN_LONG & set(long) or valid_short(long):
        return None
    return short, long


def file_version(path):
    """(version, language) from the file's version resource, read with wrestool; None
    without one."""
    data = subprocess.run(["wrestool", "-x", "--raw", "-t", "16", path],
                          capture_output=True).stdout
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    version = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    key = "Translation\0".encode("utf-16-le")
    at = data.find(key)
    language = str(struct.unpack_from("<H", data, (at + len(key) + 3) & ~3)[0]) if at >= 0 else ""
    return version, language


def make_msi(folder, msi, version, icon):
    subprocess.run([sys.executable, MAKE_MSI, folder, msi, "--version", version, "--program",
                    PROGRAM, "--icon", icon], check=True, stdout=subprocess.DEVNULL)


def check_product_codes(msi, folder, version, icon, work):
    """Other builds from a folder holding the program alone (quick to make)."""
    small = os.path.join(work, "small")
    os.makedirs(small)
    shutil.copyfile(os.path.join(folder, PROGRAM), os.path.join(small, PROGRAM))
    major, minor = version.split(".")
    builds = {}
    for spelling in (version, "%d.%d" % (int(major), int(minor)),
                     "%s.%02d" % (major, int(minor) + 1)):
        builds[spelling] = os.path.join(work, spelling + ".msi")
        make_msi(small, builds[spelling], spelling, icon)
    code = prop(msi, "ProductCode")
    again = prop(builds[version], "ProductCode")
    check(bool(code) and code == again,
          "a rebuild of %s has the same product code: %s, %s" % (version, code, again))
    check(package_code(msi) != package_code(builds[version]),
          "and a package code of its own")
    same = "%d.%d" % (int(major), int(minor))
    if same != version:
        check(prop(builds[same], "ProductCode") == code,
              "%s, which Windows Installer compares as %s, too" % (same, version))
    later = "%s.%02d" % (major, int(minor) + 1)
    check(prop(builds[later], "ProductCode") not in (None, code),
          "%s has another product code" % later)
    check(len({prop(m, "UpgradeCode") for m in [msi] + list(builds.values())}) == 1,
          "every build has the one upgrade code")


def main():
    build, version = os.path.abspath(sys.argv[1]), sys.argv[2]
    folder = os.path.join(build, "quillmoor-updater-%s-win64" % version)
    msi = folder + ".msi"
    icon = os.path.join(build, "src", "updater", "quillmoor-updater-resources",
                        "quillmoor-updater.ico")
    if not os.path.isfile(msi) or not os.path.isdir(folder):
        print("no %s beside its folder: make it with scripts/build-windows.sh" % msi)
        return 1

    # Folders: their long names make the paths; names unique among each folder's entries.
    directories = {r["Directory"]: r for r in table(msi, "Directory")}
    paths, entries = {}, {}

    def path_of(key):
        if key not in paths:
            row = directories[key]
            parent = row["Directory_Parent"]
            if not parent:
                paths[key] = None  # the source root
            else:
                value = row["DefaultDir"]
                named = None if value == "." else names_of(value)
                if value != ".":
                    check(named is not None, "folder name %r" % value)
                    entries.setdefault(parent, []).append(named or (value, value))
                base = path_of(parent)
                long = value if named is None else named[1]
                paths[key] = long if base is None else (base if value == "." else
                                                        base + "/" + long)
        return paths[key]

    for key in directories:
        path_of(key)
    install = paths.get("INSTALLDIR")
    check(install is not None and install.endswith("/Quillmoor Firmware Updater"),
          "installed into %r" % install)

    components = {r["Component"]: r for r in table(msi, "Component")}
    hashes = {r["File_"] for r in table(msi, "MsiFileHash")}
    installed = {}
    for row in table(msi, "File"):
        named = names_of(row["FileName"])
        if not check(named is not None, "file name %r" % row["FileName"]):
            continue
        directory = components[row["Component_"]]["Directory_"]
        entries.setdefault(directory, []).append(named)
        rel = os.path.relpath(paths[directory] + "/" + named[1], install)
        installed[rel] = row
    for directory, names in entries.items():
        every = [n.upper() for short, long in names for n in {short, long}]
        check(len(every) == len(set(every)),
              "the names in %s are unique in either form" % paths.get(directory))

    # Every file of the folder with its version, or its hash.
    on_disk = sorted(os.path.relpath(os.path.join(r, n), folder).replace(os.sep, "/")
                     for r, _, names in os.walk(folder) for n in names)
    check(sorted(installed) == on_disk, "the File table holds the folder's files")
    versioned = 0
    for rel in on_disk:
        row = installed.get(rel)
        if not row:
            continue
        found = file_version(os.path.join(folder, rel))
        if found:
            versioned += 1
            check((row["Version"], row["Language"]) == found and row["File"] not in hashes,
                  "%s: version %s, language %s, no hash" % (rel, row["Version"], row["Language"]))
        else:
            check(row["Version"] == "" and row["File"] in hashes,
                  "%s: unversioned, with its hash" % rel)
    program_version = "%d.%d.0.0" % tuple(int(p) for p in version.split("."))
    check(installed.get(PROGRAM, {}).get("Version") == program_version,
          "the program's version is %s" % program_version)
    check(all(installed.get(n, {}).get("Version") for n in
              ("quillmoor-flash.exe", "Qt6Core.dll", "Qt6Gui.dll", "Qt6Widgets.dll",
               "Qt6Network.dll")), "the command-line program and the Qt libraries are versioned")

    # The shortcut: short and long name; not advertised, in a per-machine Start menu, so that
    # the program file is its component's key path (see make_msi.py).
    shortcuts = table(msi, "Shortcut")
    check(len(shortcuts) == 1, "one shortcut")
    for row in shortcuts:
        check(names_of(row["Name"]) is not None and "|" in row["Name"],
              "shortcut name %r" % row["Name"])
        program = installed.get(PROGRAM, {})
        check(row["Directory_"] == "ProgramMenuFolder" and
              row["Target"] == "[#%s]" % program.get("File") and
              components[row["Component_"]]["KeyPath"] == program.get("File"),
              "a non-advertised Start-menu shortcut to the program, which is its key path")
    check(prop(msi, "ALLUSERS") == "1", "a per-machine installation")

    with tempfile.TemporaryDirectory() as work:
        check_product_codes(msi, folder, version, icon, work)

    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
