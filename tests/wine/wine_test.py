#!/usr/bin/env python3
"""One Windows test program under Wine, from CTest.

Usage: wine_test.py setup|cleanup
       wine_test.py run PROGRAM.exe [gtest arguments]
Environment: QLM_WIN_BUILD_DIR (the cross build), QLM_QT_WIN_PREFIX (Qt for Windows),
QLM_SIM_PROGRAM (the Linux simulator, for programs that talk to a device),
QLM_WINE_TEST_TIMEOUT (seconds a program may take, 300 unless set).
"""

import os
import re
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
    limit = float(os.environ.get("QLM_WINE_TEST_TIMEOUT", "300"))
    code, hung = run_once(wine, program, args, limit)
    if hung:
        # Seen once in many runs: a program that passes in seconds stalled under Wine until
        # it was killed. One more run tells a stall of Wine's from a fault of ours; the
        # first run's output above shows the case it stalled in.
        print("\n*** %s made no end in %d s under Wine and was stopped; running it once more"
              % (os.path.basename(program), limit), flush=True)
        code, hung = run_once(wine, program, args, limit)
    return 1 if hung else code


def run_once(wine, program, args, limit):
    """Runs the program under Wine; returns its exit code and whether it had to be stopped."""
    runner = HostRunner(wine.ports_dir, os.environ.get("QLM_SIM_PROGRAM", "")).start()
    # The output goes through a file: Wine's service processes, started by the first program,
    # inherit it and live on, and CTest would wait for them to close a pipe.
    with tempfile.TemporaryFile() as output:
        try:
            done = wine.run(["wine", program] + args, extra_env={
                "QLM_HOST_RUNNER": runner.address,
                "QLM_HOST_RUNNER_TOKEN": runner.token,
                "QT_QPA_PLATFORM": "offscreen",
            }, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT, timeout=limit)
        except subprocess.TimeoutExpired:
            return 1, True
        finally:
            runner.stop()
            output.seek(0)
            text = output.read()
            sys.stdout.buffer.write(text)
            sys.stdout.flush()
    # A program that ended before the test framework's summary did not pass, whatever its
    # exit code says.
    if done.returncode == 0 and not re.search(rb"^\[  PASSED  \] \d+ tests?\.", text, re.M):
        print("\n*** %s ended without its test summary" % os.path.basename(program), flush=True)
        return 1, False
    return done.returncode, False


if __name__ == "__main__":
    sys.exit(main())
