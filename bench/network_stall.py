#!/usr/bin/env python3
"""How long a cashier waits for "OK" while the web API stalls, and how long
SIGTERM takes to end the program then.

The built program Voice runs in a folder of its own, logged in by itself from a
saved login against tools/fake_web_api.py (Qt's offscreen platform, SDL's
dummy driver, TimeOut 0 in its settings). Two faults:

  update    the web API holds the update-address answer back (HOLD seconds);
            measured from the moment the request reached it
  download  a cashier message names a server clip (code 200) whose download
            stalls in the middle of the body; measured from that message on

Meanwhile a cashier opens a fresh connection every 0.2 s for WATCH seconds,
sends 12,101 and times its "OK". Then the program gets SIGTERM while the fault
holds (a second run, one second into the fault): the time to its exit, its
exit status and whether the settings were written are reported.

    bench/network_stall.py --voice BUILD/src/ui/Voice --save-login BUILD/tools/voice_save_login

Prints a Markdown table. Everything listens on 127.0.0.1 only.
"""

import argparse
import json
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FAKE_API = os.path.join(ROOT, "tools", "fake_web_api.py")
UPDATE_PATH = "/api/index/getVoiceUpdateUrl"
CLIP_PATH = "/voice/stall.mp3"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def listening(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def ask(port, text, limit):
    """Sends one text on a fresh connection; seconds until "OK", or None."""
    start = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=limit) as conn:
            conn.sendall(text.encode())
            reply = b""
            while len(reply) < 2:
                chunk = conn.recv(16)
                if not chunk:
                    break
                reply += chunk
    except OSError:
        return None
    return time.monotonic() - start if reply == b"OK" else None


class Run:
    def __init__(self, args, work, fault, name):
        self.args = args
        self.work = work
        self.fault = fault
        self.folder = os.path.join(work, name)
        self.record = os.path.join(work, name + ".requests")
        self.port = free_port()
        self.api = None
        self.program = None

    def requests(self, path):
        try:
            with open(self.record, encoding="utf-8") as f:
                return sum(1 for line in f if json.loads(line)["path"] == path)
        except FileNotFoundError:
            return 0

    def start(self):
        behaviour = {"delay": self.args.hold} if self.fault == "update" else {"stall_mid": True}
        path = UPDATE_PATH if self.fault == "update" else CLIP_PATH
        config = {"update_url": "http://127.0.0.1:9/u.zip", "responses": {path: behaviour}}
        config_path = self.folder + ".json"
        with open(config_path, "w", encoding="utf-8") as f:
            json.dump(config, f)
        self.api = subprocess.Popen(
            [sys.executable, FAKE_API, "--port", "0", "--config", config_path,
             "--record", self.record, "--account", "boss:secret",
             "--service", "127.0.0.1:9"], stdout=subprocess.PIPE, text=True)
        line = self.api.stdout.readline()
        api_url = "http://" + line.split()[1]
        os.makedirs(os.path.join(self.folder, "Audio"))
        shutil.copy(self.args.voice, os.path.join(self.folder, "Voice"))
        with open(os.path.join(self.folder, "Setting.ini"), "w") as f:
            f.write("[WebSetting]\r\nUrl=%s\r\nTimeOut=0\r\n" % api_url)
        subprocess.run([self.args.save_login, self.folder, "boss", "secret", str(self.port)],
                       check=True, stdout=subprocess.DEVNULL)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", SDL_AUDIODRIVER="dummy")
        self.program = subprocess.Popen([os.path.join(self.folder, "Voice")], cwd=self.folder,
                                        env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def fault_begun(self):
        """Waits until the web API holds the fault; False if it never did."""
        if self.fault == "update":
            return wait_for(lambda: self.requests(UPDATE_PATH) > 0, 30)
        if not wait_for(lambda: listening(self.port), 30):
            return False
        time.sleep(1)  # past the update check, which this server answers at once
        if ask(self.port, CLIP_PATH + ",200", 120) is None:
            return False
        return wait_for(lambda: self.requests(CLIP_PATH) > 0, 30)

    def waits(self):
        """A cashier's waits for "OK" while the fault holds."""
        if not self.fault_begun():
            raise RuntimeError(self.fault + ": the fault never began")
        waits = []
        end = time.monotonic() + self.args.watch
        while time.monotonic() < end:
            sent = time.monotonic()
            waited = ask(self.port, "12,101", 120)
            waits.append(waited if waited is not None else float("inf"))
            time.sleep(max(0.0, 0.2 - (time.monotonic() - sent)))
        return waits

    def sigterm(self):
        """SIGTERM one second into the fault: seconds to exit, status, settings written."""
        if not self.fault_begun():
            raise RuntimeError(self.fault + ": the fault never began")
        time.sleep(1)
        start = time.monotonic()
        self.program.send_signal(signal.SIGTERM)
        try:
            status = self.program.wait(timeout=120)
        except subprocess.TimeoutExpired:
            self.program.kill()
            status = self.program.wait()
        took = time.monotonic() - start
        with open(os.path.join(self.folder, "Setting.ini"), encoding="utf-8",
                  errors="replace") as f:
            settings = f.read()
        return took, status, "volume=" in settings and "shield=" in settings

    def stop(self):
        for p in (self.program, self.api):
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--voice", required=True, help="the built program")
    parser.add_argument("--save-login", required=True, help="the built voice_save_login")
    parser.add_argument("--hold", type=float, default=20, help="seconds the update answer is held")
    parser.add_argument("--watch", type=float, default=8, help="seconds the cashier keeps sending")
    parser.add_argument("--label", default="", help="a word for the table's heading")
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="network_stall.")
    rows = []
    try:
        for fault in ("update", "download"):
            run = Run(args, work, fault, fault + "-waits")
            try:
                run.start()
                waits = run.waits()
            finally:
                run.stop()
            run = Run(args, work, fault, fault + "-sigterm")
            try:
                run.start()
                took, status, written = run.sigterm()
            finally:
                run.stop()
            answered = [w for w in waits if w != float("inf")]
            rows.append((fault, len(waits), len(answered), max(waits),
                         statistics.median(waits), took, status, written))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print("| fault %s | messages sent / answered | longest wait for OK (s) | median (s) |"
          " SIGTERM to exit (s) | exit status | settings written |" % args.label)
    print("|---|---|---|---|---|---|---|")
    names = {"update": "update answer held %g s" % args.hold,
             "download": "clip download stalled mid-body"}
    for fault, sent, answered, longest, median, took, status, written in rows:
        print("| %s | %d / %d | %.2f | %.2f | %.2f | %s | %s |" % (
            names[fault], sent, answered, longest, median, took, status,
            "yes" if written else "no"))


if __name__ == "__main__":
    main()
