"""The Wine side of the Windows test runs: a private prefix under the build folder, the COM
ports it maps to links in a ports folder, and the environment a Windows program runs in."""

import os
import shutil
import subprocess
import sys
import tempfile

# The DLLs a cross-built program needs are found where the Windows build gathers them from.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "scripts", "windows"))
from gather import search_dirs  # noqa: E402

# COM1 for the acceptance runs (the search finds it first, before the machine's own serial
# line, which Wine maps under the next free name); COM5..COM9 for named test devices, and
# COM21.. for the one-letter names (a, b, c...), so that their text order is the letters'.
PORTS = [1] + list(range(5, 10)) + list(range(21, 47))


class WineEnv:
    def __init__(self, build_dir, qt_prefix):
        self.root = os.path.join(os.path.abspath(build_dir), "wine")
        self.prefix = os.path.join(self.root, "prefix")
        self.ports_dir = os.path.join(self.root, "ports")
        self.qt_prefix = qt_prefix

    def env(self, extra=None):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            # No Mono or Gecko installer dialogs in a prefix nobody looks at.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            # The DLLs a cross-built program needs, found where they were built.
            "WINEPATH": ";".join(self.windows_path(p) for p in search_dirs(self.qt_prefix)),
            "QT_PLUGIN_PATH": self.windows_path(os.path.join(self.qt_prefix, "plugins")),
            # Debian's Wine puts no Tahoma into its prefixes, so the window falls back to
            # Liberation Sans, whose capital I loses its stem at 11 pixels under FreeType's
            # default interpreter; the older one keeps it (see the README's Windows section).
            "FREETYPE_PROPERTIES": "truetype:interpreter-version=35",
        })
        env.update(extra or {})
        return env

    @staticmethod
    def windows_path(path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def run(self, args, extra_env=None, **kwargs):
        return subprocess.run(args, env=self.env(extra_env), **kwargs)

    @staticmethod
    def output(args, env, timeout, stderr=subprocess.STDOUT):
        """Runs a Windows program to its end; its exit status and what it printed. The output
        goes through a file: Wine's service processes that the program starts inherit it, and
        would hold a pipe open long after the program has ended."""
        with tempfile.TemporaryFile() as output:
            done = subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                  stderr=stderr, timeout=timeout)
            output.seek(0)
            return done.returncode, output.read().decode(errors="replace")

    def create(self):
        """A fresh prefix with the test ports mapped; the Wine server stays up until stop()."""
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)
        os.makedirs(self.ports_dir)
        self.run(["wineboot", "-i"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL, check=True, timeout=300)
        reg = os.path.join(self.root, "prefix.reg")
        with open(reg, "w", encoding="utf-8") as f:
            f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n")
            for n in PORTS:
                link = os.path.join(self.ports_dir, "com%d" % n)
                f.write('"COM%d"="%s"\n' % (n, link.replace("\\", "\\\\")))
            # Wine's crash debugger ends a crashed program with exit code 0; without it the
            # program ends with its exception code, as on Windows.
            f.write("\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\"
                    "AeDebug]\n\"Debugger\"=\"\"\n")
        self.run(["wine", "regedit", "/S", self.windows_path(reg)], stdin=subprocess.DEVNULL,
                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True, timeout=120)
        # The port list is made when the server starts: restart it, and keep it running so
        # that each program starts quickly.
        self.stop()
        # Detached from our output, which CTest reads until every holder has closed it.
        subprocess.run(["wineserver", "-p"], env=self.env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def stop(self):
        if os.path.isdir(self.prefix):
            self.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL)
