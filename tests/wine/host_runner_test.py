#!/usr/bin/env python3
"""The Wine runs' host runner runs a tool only for a request that carries the run's token."""
import json
import os
import socket
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_runner import HostRunner  # noqa: E402


class HostRunnerTokenTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.runner = HostRunner(self.dir.name, "").start()
        self.marker = os.path.join(self.dir.name, "ran")

    def tearDown(self):
        self.runner.stop()
        self.dir.cleanup()

    def ask(self, request):
        host, port = self.runner.address.split(":")
        with socket.create_connection((host, int(port)), timeout=30) as conn:
            conn.sendall(json.dumps(request).encode() + b"\n")
            return json.loads(conn.makefile().readline())

    def touch_request(self, **extra):
        return dict({"op": "run", "program": "python3",
                     "args": ["-c", "open(%r, 'w').close()" % self.marker]}, **extra)

    def test_requests_without_the_runs_token_are_refused(self):
        other = HostRunner(self.dir.name, "")
        try:
            cases = {"no token": {}, "empty": {"token": ""}, "wrong": {"token": "0" * 64},
                     "another run's": {"token": other.token},
                     "a prefix": {"token": self.runner.token[:-1]},
                     "not text": {"token": 12345}}
        finally:
            other.server_close()
        for what, extra in cases.items():
            with self.subTest(what):
                answer = self.ask(self.touch_request(**extra))
                self.assertIn("refused", answer.get("error", ""))
                self.assertNotIn("exit", answer)
                self.assertFalse(os.path.exists(self.marker))

    def test_the_runs_token_lets_the_tool_run(self):
        answer = self.ask(self.touch_request(token=self.runner.token))
        self.assertEqual(answer.get("exit"), 0, answer)
        self.assertTrue(os.path.exists(self.marker))

    def test_each_run_has_a_long_random_token(self):
        other = HostRunner(self.dir.name, "")
        other.server_close()
        self.assertGreaterEqual(len(self.runner.token), 32)
        self.assertNotEqual(self.runner.token, other.token)


if __name__ == "__main__":
    unittest.main()
