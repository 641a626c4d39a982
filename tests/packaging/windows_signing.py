#!/usr/bin/env python3
"""Authenticode signing of the Windows programs and the installer, as scripts/build-windows.sh
does it for a release: with a throwaway code-signing certificate and a time-stamp server on
127.0.0.1 of the test's own, both programs and the MSI are signed and their signatures (and
time stamps) verified; without a certificate nothing is signed and one line says so; a wrong
password or an unreachable time-stamp server fails and leaves the file as it was.

Usage: windows_signing.py BUILD_DIR VERSION    (a cross build made by scripts/build-windows.sh)
"""
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
SIGN = os.path.join(HERE, "..", "..", "scripts", "windows", "sign.sh")
failures = []


def check(ok, what):
    print(("ok      " if ok else "FAILED  ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, capture_output=True)


def certificates(work):
    """A self-signed code-signing certificate in a PKCS#12 file, and a time-stamp authority's."""
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-keyout", "signer.key", "-out", "signer.pem",
            "-subj", "/CN=Quillmoor Test Signing/O=Quillmoor",
            "-addext", "extendedKeyUsage=critical,codeSigning", cwd=work)
    openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem",
            "-out", "signer.pfx", "-passout", "pass:throwaway pass", cwd=work)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-keyout", "tsa.key", "-out", "tsa.pem", "-subj", "/CN=Quillmoor Test Time Stamps",
            "-addext", "extendedKeyUsage=critical,timeStamping", cwd=work)
    with open(os.path.join(work, "tsa.cnf"), "w") as f:
        f.write("[tsa]\ndefault_tsa = local\n[local]\n"
                "serial = %s\nsigner_cert = %s\nsigner_key = %s\n"
                "signer_digest = sha256\ndefault_policy = 1.3.6.1.4.1.4146.2.3\n"
                "digests = sha1, sha256, sha384, sha512\naccuracy = secs:1\n"
                "ess_cert_id_alg = sha256\n"
                % tuple(os.path.join(work, n) for n in ("tsa.serial", "tsa.pem", "tsa.key")))
    with open(os.path.join(work, "tsa.serial"), "w") as f:
        f.write("01\n")


class TimeStamps(http.server.BaseHTTPRequestHandler):
    """An RFC 3161 time-stamp server: each request answered by openssl ts."""
    work = None
    served = 0

    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory(dir=self.work) as d:
            with open(os.path.join(d, "query"), "wb") as f:
                f.write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf",
                                   "-queryfile", os.path.join(d, "query"),
                                   "-out", os.path.join(d, "reply")],
                                  cwd=self.work, capture_output=True)
            reply = open(os.path.join(d, "reply"), "rb").read() if done.returncode == 0 else b""
        if not reply:
            self.send_error(500)
            return
        type(self).served += 1
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def sign(files, env_extra):
    env = {k: v for k, v in os.environ.items() if not k.startswith("QLM_SIGN_")}
    env.update(env_extra)
    return subprocess.run(["bash", SIGN] + files, env=env, capture_output=True, text=True)


def verify(path, work):
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", os.path.join(work, "signer.pem"),
                           "-TSA-CAfile", os.path.join(work, "tsa.pem"), "-in", path],
                          capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def main():
    build, version = os.path.abspath(sys.argv[1]), sys.argv[2]
    folder = os.path.join(build, "quillmoor-updater-%s-win64" % version)
    originals = [os.path.join(folder, "quillmoor-updater.exe"),
                 os.path.join(folder, "quillmoor-flash.exe"), folder + ".msi"]
    missing = [p for p in originals if not os.path.isfile(p)]
    if missing:
        print("missing %s: make them with scripts/build-windows.sh" % ", ".join(missing))
        return 1

    with tempfile.TemporaryDirectory() as work:
        certificates(work)
        TimeStamps.work = work
        server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        tsa_url = "http://127.0.0.1:%d/" % server.server_port
        files = []
        for path in originals:
            files.append(os.path.join(work, os.path.basename(path)))
            shutil.copyfile(path, files[-1])
        given = {"QLM_SIGN_PFX": os.path.join(work, "signer.pfx"),
                 "QLM_SIGN_PASSWORD": "throwaway pass"}

        done = sign(["--status"], {})
        check(done.returncode == 1 and done.stdout.count("\n") == 1 and
              "Not signed" in done.stdout, "without a certificate: one line, %r" % done.stdout)
        done = sign(["--status"], {"QLM_SIGN_PFX": given["QLM_SIGN_PFX"]})
        check(done.returncode == 2, "a certificate without its password is refused")

        for extra, what in (({"QLM_SIGN_PASSWORD": "wrong"}, "a wrong password"),
                            ({"QLM_SIGN_TIMESTAMP_URL": "http://127.0.0.1:9/"},
                             "an unreachable time-stamp server")):
            before = open(files[0], "rb").read()
            done = sign(files[:1], dict(given, **extra))
            check(done.returncode != 0 and open(files[0], "rb").read() == before,
                  "%s fails and leaves the file as it was" % what)

        done = sign(files, dict(given, QLM_SIGN_TIMESTAMP_URL=tsa_url))
        check(done.returncode == 0, "signs the programs and the installer: %s"
              % (done.stdout + done.stderr).strip()[-500:])
        check(TimeStamps.served == len(files),
              "each signature is time-stamped (%d stamps)" % TimeStamps.served)
        for path in files:
            code, out = verify(path, work)
            name = os.path.basename(path)
            check(code == 0 and "Signature verification: ok" in out,
                  "%s: the signature verifies" % name)
            check("Quillmoor Test Signing" in out, "%s: signed by the test's certificate" % name)
            check("Timestamp Server Signature verification: ok" in out and
                  "Quillmoor Test Time Stamps" in out, "%s: its time stamp verifies" % name)
            if code != 0:
                print(out[-1500:])
        server.shutdown()

    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
