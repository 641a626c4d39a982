#!/usr/bin/env python3
"""One Windows test program under Wine, from CTest.

Usage: wine_test.py setup|cleanup
       wine_test.py run PROGRAM.exe [gtest arguments]
Environment: QLM_WIN_BUILD_DIR (the cross build), QLM_QT_WIN_PREFIX (Qt for Windows),
QLM_SIM_PROGRAM (the Linux simulator, for programs that talk to a device).
"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_runner import HostRunner  # noqa: E402
from wine_env import WineEnv  # noqa: E402


def main():
    wine = WineEnv(os.environ["QLM_WIN_BUILD_DIR"], os.environ["QLM_QT_WIN_PREFIX"])
    what = sys.argv[1]
    if what == "setup":
        wine.create()
        return 0
    if what == "cleanup":
        wine.stop()
        return 0
    program, args = sys.argv[2], sys.argv[3:]
    runner = HostRunner(wine.ports_dir, os.environ.get("QLM_SIM_PROGRAM", "")).start()
    # The output goes through a file: Wine's service processes, started by the first program,
    # inherit it and live on, and CTest would wait for them to close a pipe.
    with tempfile.TemporaryFile() as output:
        try:
            done = wine.run(["wine", program] + args, extra_env={
                "QLM_HOST_RUNNER": runner.address,
                "QT_QPA_PLATFORM": "offscreen",
            }, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                timeout=float(os.environ.get("QLM_WINE_TEST_TIMEOUT", "900")))
            return done.returncode
        finally:
            runner.stop()
            output.seek(0)
            sys.stdout.buffer.write(output.read())
            sys.stdout.flush()


if __name__ == "__main__":
    sys.exit(main())
