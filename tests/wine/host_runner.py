"""Runs Linux programs for Windows test programs under Wine.

Wine starts Linux programs but gives no handle to wait on, so a test program asks this
runner over 127.0.0.1 instead: one JSON request per connection, one JSON answer. It runs
tools (zip, python3, openssl), and it starts the simulated device or a silent
pseudo-terminal on a COM port that the Wine prefix maps to a link in the ports folder.

Any local user could reach 127.0.0.1, so each request carries the run's token, a random
text that only the test program learns, through its environment (QLM_HOST_RUNNER_TOKEN).
"""

import base64
import fcntl
import hmac
import json
import os
import pty
import secrets
import socketserver
import subprocess
import threading
import time
import tty

TOOLS = {"zip", "python3", "openssl"}


class Devices:
    """What stands behind each COM port: a simulator process or a silent pseudo-terminal."""

    def __init__(self, ports_dir, sim):
        self.ports_dir = ports_dir
        self.sim = sim
        self.lock = threading.Lock()
        self.sims = {}
        self.silent = {}

    def link(self, port):
        name = port.lower()
        if not name.startswith("com") or not name[3:].isdigit():
            raise ValueError("not a COM port: " + port)
        return os.path.join(self.ports_dir, name)

    def release(self, port):
        link = self.link(port)
        proc = self.sims.pop(port, None)
        if proc:
            proc.terminate()
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        master = self.silent.pop(port, None)
        if master is not None:
            os.close(master)
        if os.path.lexists(link):
            os.unlink(link)

    def start_sim(self, port, args):
        with self.lock:
            self.release(port)
            proc = subprocess.Popen([self.sim, "--link", self.link(port)] + args,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            self.sims[port] = proc
        # The first line is the slave's path, once the device is ready.
        line = proc.stdout.readline()
        # Both pipes are drained from now on, so the simulator never blocks on a full one.
        proc.errors = bytearray()
        threading.Thread(target=lambda: proc.errors.extend(proc.stderr.read()),
                         daemon=True).start()
        threading.Thread(target=proc.stdout.read, daemon=True).start()
        return bool(line) and os.path.lexists(self.link(port))

    def sim_errors(self, port):
        proc = self.sims.get(port)
        return bytes(proc.errors).decode(errors="replace") if proc else ""

    def open_silent(self, port):
        with self.lock:
            self.release(port)
            master, slave = pty.openpty()
            tty.setraw(slave)
            name = os.ttyname(slave)
            os.close(slave)
            flags = fcntl.fcntl(master, fcntl.F_GETFL)
            fcntl.fcntl(master, fcntl.F_SETFL, flags | os.O_NONBLOCK)
            self.silent[port] = master
            os.symlink(name, self.link(port))
        return True

    def written(self, port):
        master = self.silent.get(port)
        data = b""
        while master is not None:
            try:
                chunk = os.read(master, 4096)
            except (BlockingIOError, OSError):
                break
            if not chunk:
                break
            data += chunk
        return data

    def close_all(self):
        with self.lock:
            for port in list(self.sims) + list(self.silent):
                self.release(port)


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        try:
            request = json.loads(self.rfile.readline())
            if not isinstance(request, dict) or not self.server.admits(request.get("token")):
                answer = {"error": "refused: not this run's token"}
            else:
                answer = self.server.dispatch(request)
        except Exception as error:  # the test program reports what went wrong
            answer = {"error": str(error)}
        self.wfile.write((json.dumps(answer) + "\n").encode())


class HostRunner(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, ports_dir, sim):
        super().__init__(("127.0.0.1", 0), Handler)
        self.devices = Devices(ports_dir, sim)
        self.token = secrets.token_hex(32)
        self.thread = threading.Thread(target=self.serve_forever, daemon=True)

    @property
    def address(self):
        return "127.0.0.1:%d" % self.server_address[1]

    def admits(self, token):
        return isinstance(token, str) and hmac.compare_digest(token.encode(), self.token.encode())

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.shutdown()
        self.server_close()
        self.devices.close_all()

    def dispatch(self, request):
        op = request["op"]
        if op == "run":
            program = request["program"]
            if program not in TOOLS:
                raise ValueError("not a tool the tests use: " + program)
            done = subprocess.run([program] + request.get("args", []),
                                  cwd=request.get("cwd") or None, capture_output=True,
                                  timeout=120)
            return {"exit": done.returncode,
                    "stdout": base64.b64encode(done.stdout).decode(),
                    "stderr": base64.b64encode(done.stderr).decode()}
        port = request["port"]
        if op == "sim-start":
            return {"started": self.devices.start_sim(port, request.get("args", []))}
        if op == "sim-errors":
            return {"text": self.devices.sim_errors(port)}
        if op == "silent-open":
            return {"opened": self.devices.open_silent(port)}
        if op == "silent-written":
            return {"data": base64.b64encode(self.devices.written(port)).decode()}
        if op == "release":
            with self.devices.lock:
                self.devices.release(port)
            return {}
        raise ValueError("unknown request: " + op)
