#!/usr/bin/env python3
"""The Windows installer under Wine, as an IT department rolls it out: installed silently,
it puts the program folder into Program Files, a Start-menu shortcut and an uninstall entry;
the installed program runs; a rebuild of the same version is the same product (one entry),
and the reinstall that the README gives puts it in place; a later version replaces it in
place, an earlier one is refused; removing it leaves nothing behind.

Usage: windows_msi.py BUILD_DIR VERSION    (a cross build made by scripts/build-windows.sh)
Environment: QLM_QT_WIN_PREFIX (Qt for Windows).
"""
import getpass
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from wine_env import WineEnv  # noqa: E402

PRODUCT = "Quillmoor Firmware Updater"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
failures = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


class Installer:
    def __init__(self, build):
        self.wine = WineEnv(build, os.environ.get("QLM_QT_WIN_PREFIX", ""))
        self.drive_c = os.path.join(self.wine.prefix, "drive_c")
        self.target = os.path.join(self.drive_c, "Program Files", PRODUCT)
        # All users' Start menu, as Windows makes it for a per-machine installation; Wine
        # puts it into the installing user's.
        menu = os.path.join("Microsoft", "Windows", "Start Menu", "Programs", PRODUCT + ".lnk")
        self.shortcuts = [os.path.join(self.drive_c, "ProgramData", menu),
                          os.path.join(self.drive_c, "users", getpass.getuser(), "AppData",
                                       "Roaming", menu)]

    def shortcut(self):
        return next((path for path in self.shortcuts if os.path.isfile(path)), None)

    def run(self, args, timeout=300):
        # The installed program finds everything in its own folder, not in the build's Qt;
        # Wine makes no menu entries on this machine for the shortcut.
        env = self.wine.env({"WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d"})
        for name in ("WINEPATH", "QT_PLUGIN_PATH", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        # Output through files: Wine's service processes, started by the first program,
        # inherit it and live on, and would keep a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            done = subprocess.run(["wine"] + args, env=env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            done.stdout, done.stderr = out.read(), err.read()
        return done

    def msiexec(self, *args):
        done = self.run(["msiexec"] + list(args))
        return done.returncode

    def uninstall_entries(self):
        """Uninstall keys whose display name is the product's: {key: {value: data}}."""
        done = self.run(["reg", "query", UNINSTALL, "/s"])
        entries, key = {}, None
        for line in done.stdout.decode("utf-8", "replace").splitlines():
            if line.upper().startswith("HKEY_"):
                key = line.strip()
                entries[key] = {}
            elif key and line.startswith("    "):
                parts = re.split(r"\s{4}", line.strip(), maxsplit=2)
                if len(parts) == 3:
                    entries[key][parts[0]] = parts[2]
                elif len(parts) == 2:
                    entries[key][parts[0]] = ""
        return {k: v for k, v in entries.items() if v.get("DisplayName") == PRODUCT}


def msi_table(msi, name):
    return subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True,
                          text=True).stdout


def same_tree(folder, installed):
    """True when installed holds exactly the files of folder, byte for byte."""
    def files(top):
        return sorted(os.path.relpath(os.path.join(r, n), top)
                      for r, _, names in os.walk(top) for n in names)
    if not os.path.isdir(installed) or files(folder) != files(installed):
        return False
    for rel in files(folder):
        with open(os.path.join(folder, rel), "rb") as a, \
                open(os.path.join(installed, rel), "rb") as b:
            if a.read() != b.read():
                return False
    return True


def main():
    build, version = os.path.abspath(sys.argv[1]), sys.argv[2]
    major, minor = version.split(".")
    later = "%s.%02d" % (major, int(minor) + 1)
    folder = os.path.join(build, "quillmoor-updater-%s-win64" % version)
    msi = folder + ".msi"
    icon = os.path.join(build, "src", "updater", "quillmoor-updater-resources",
                        "quillmoor-updater.ico")
    if not os.path.isfile(msi) or not os.path.isdir(folder):
        print("no %s beside its folder: make it with scripts/build-windows.sh" % msi)
        return 1
    # What Wine's installer does not show: the per-machine scope, the icon of "Apps &
    # features" (Windows takes it from ARPPRODUCTICON) and the refusal's message.
    tables = {name: msi_table(msi, name) for name in ("Property", "Icon", "LaunchCondition")}
    check("ALLUSERS\t1" in tables["Property"], "a per-machine installation")
    check("ARPPRODUCTICON\tprogram.ico" in tables["Property"] and
          "program.ico" in tables["Icon"], "Apps & features shows the program's icon")
    check("A later version of %s is already installed" % PRODUCT in tables["LaunchCondition"],
          "a downgrade is refused with a message")
    inst = Installer(build)
    if os.path.exists(inst.target) or inst.uninstall_entries():
        print("the product is installed in the test prefix already; Wine.setup makes a fresh one")
        return 1

    def make_msi(source, output, of_version):
        subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "windows", "make_msi.py"),
                        source, output, "--version", of_version, "--program",
                        "quillmoor-updater.exe", "--icon", icon], check=True,
                       stdout=subprocess.DEVNULL)

    with tempfile.TemporaryDirectory() as work:
        # A rebuild of this version, with one file changed; and the later version: the same
        # program with one file more, so that replacing in place shows.
        rebuilt_folder = os.path.join(work, "rebuilt")
        shutil.copytree(folder, rebuilt_folder)
        with open(os.path.join(rebuilt_folder, "qt.conf"), "a") as f:
            f.write("; rebuilt\n")
        rebuilt_msi = os.path.join(work, "rebuilt.msi")
        make_msi(rebuilt_folder, rebuilt_msi, version)
        later_folder = os.path.join(work, "later")
        shutil.copytree(folder, later_folder)
        with open(os.path.join(later_folder, "later.txt"), "w") as f:
            f.write(later + "\n")
        later_msi = os.path.join(work, "later.msi")
        make_msi(later_folder, later_msi, later)

        check(inst.msiexec("/i", msi, "/qn") == 0, "msiexec /i /qn installs %s" % version)
        check(same_tree(folder, inst.target),
              "Program Files\\%s holds the gathered folder byte for byte" % PRODUCT)
        shortcut = inst.shortcut()
        check(shortcut is not None, "the Start-menu shortcut exists")
        if shortcut:
            with open(shortcut, "rb") as f:
                link = f.read()
            check(b"quillmoor-updater.exe" in link or
                  "quillmoor-updater.exe".encode("utf-16-le") in link,
                  "the shortcut starts quillmoor-updater.exe")
        entries = inst.uninstall_entries()
        check(len(entries) == 1, "one uninstall entry (%d)" % len(entries))
        entry = next(iter(entries.values()), {})
        check(entry.get("Publisher") == "Quillmoor", "its publisher: %r" % entry.get("Publisher"))
        check(entry.get("DisplayVersion") == version,
              "its version: %r" % entry.get("DisplayVersion"))
        check("msiexec" in entry.get("UninstallString", "").lower(),
              "its uninstall command: %r" % entry.get("UninstallString"))
        exe = "C:\\Program Files\\%s\\quillmoor-updater.exe" % PRODUCT
        answer = inst.run([exe, "--version"], timeout=120)
        check(answer.returncode == 0 and
              answer.stdout.decode(errors="replace").strip() == "quillmoor-updater " + version,
              "the installed program answers --version: %r" % answer.stdout[:200])

        # Windows refuses a plain install of another build of an installed product; Wine
        # installs it again. Either way it stays one product.
        inst.msiexec("/i", rebuilt_msi, "/qn")
        versions = sorted(v.get("DisplayVersion") for v in inst.uninstall_entries().values())
        check(versions == [version], "a rebuild of %s installed over it leaves one entry: %s"
              % (version, versions))
        check(inst.msiexec("/i", rebuilt_msi, "/qn", "REINSTALL=ALL", "REINSTALLMODE=vamus") == 0,
              "the rebuild is reinstalled over it")
        versions = sorted(v.get("DisplayVersion") for v in inst.uninstall_entries().values())
        check(versions == [version], "still one entry: %s" % versions)
        check(same_tree(rebuilt_folder, inst.target), "Program Files holds the rebuild")

        check(inst.msiexec("/i", later_msi, "/qn") == 0, "the later version installs over it")
        entries = inst.uninstall_entries()
        versions = sorted(v.get("DisplayVersion") for v in entries.values())
        check(versions == [later], "it replaced the earlier one in place: %s" % versions)
        check(same_tree(later_folder, inst.target), "Program Files holds the later version")

        check(inst.msiexec("/i", msi, "/qn") != 0,
              "the earlier version is refused over the later one")
        check(sorted(v.get("DisplayVersion") for v in inst.uninstall_entries().values())
              == [later], "the later version stays installed")

        code = next(iter(entries)).rsplit("\\", 1)[-1] if entries else ""
        check(bool(code) and inst.msiexec("/x", code, "/qn") == 0, "msiexec /x /qn removes it")
        check(not os.path.exists(inst.target), "nothing is left in Program Files")
        check(inst.shortcut() is None, "nothing is left in the Start menu")
        check(not inst.uninstall_entries(), "no uninstall entry is left")

    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
