#!/usr/bin/env python3
"""A small web API for tests and the demo, listening on 127.0.0.1 only.

It answers the three requests the voice side makes:

  POST /api/index/voiceLogin         form body key, user_name, pwd, port, ip,
                                     version, user_type[, staff]; a JSON answer
  POST /api/index/getVoiceUpdateUrl  form body key, wb_id; the update address
  GET  /<anything else>              a clip from the clips folder, or 404

  GET  /redirect/N/<path>            answers 302 to /redirect/N-1/<path>, and
                                     /redirect/0/<path> is served as /<path>

Every request is appended to the record file (one JSON object a line: method,
path, headers, body as hex and as text) before it is answered, so tests can
check the exact bytes that were sent.

Configuration comes from a JSON file (--config) and the command line, which
wins. The JSON file may hold:

  accounts:   [{"user_name", "pwd", "staff": [..], "id", "realname",
                "service_ip", "service_port", "is_wx_open"}]
              an accepted login answers code 0 with the account's fields
              (a field left out of the account is left out of the answer)
  refuse:     {"code": 1, "msg": "..."}   the answer to an unknown account
  update_url: text answered by getVoiceUpdateUrl (empty: an empty body)
  clips:      folder the downloads are served from
  responses:  {"/path": BEHAVIOUR} overrides for one path (without the
              query), and "*" for every path. BEHAVIOUR may hold:
                status        HTTP status (default: 200 with body or huge_body,
                              otherwise the status of the normal answer)
                body          answer text (UTF-8)
                empty_body    true: no body at all
                delay         seconds to wait before answering
                never_answer  true: read the request, never answer
                close_mid     true: announce the whole body, send half, close
                stall_mid     true: announce the whole body, send half, wait
                trickle       seconds between pieces of the body: announce the
                              whole body, then send it piece by piece
                trickle_bytes bytes per piece (default 1)
                huge_body     send this many bytes of filler as the body
                location      Location header (with a 3xx status)

The first line on standard output is "LISTENING 127.0.0.1:PORT"; --port 0
picks a free port.
"""

import argparse
import json
import os
import select
import signal
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

API_KEY = "vkmr582039"
LOGIN_PATH = "/api/index/voiceLogin"
UPDATE_PATH = "/api/index/getVoiceUpdateUrl"
HOST = "127.0.0.1"


def parse_form(body):
    """Splits a form body the way the voice side writes it: no percent-encoding,
    so the first "=" of each "&"-separated piece ends the name."""
    fields = {}
    for piece in body.split(b"&"):
        name, _, value = piece.partition(b"=")
        fields.setdefault(name.decode("utf-8", "replace"), value.decode("utf-8", "replace"))
    return fields


class Config:
    def __init__(self, data):
        self.accounts = data.get("accounts", [])
        self.refuse = data.get("refuse", {"code": 1, "msg": "账号或密码错误"})
        self.update_url = data.get("update_url", "")
        self.clips = data.get("clips", "")
        self.responses = data.get("responses", {})

    def behaviour(self, path):
        bare = path.split("?", 1)[0]
        return self.responses.get(bare, self.responses.get("*"))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "FakeWebApi/1.0"

    def log_message(self, fmt, *args):
        if self.server.verbose:
            sys.stderr.write("fake_web_api: " + (fmt % args) + "\n")

    # --- request handling -------------------------------------------------

    def do_GET(self):
        self.handle_any(b"")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or "0")
        body = self.rfile.read(length) if length > 0 else b""
        self.handle_any(body)

    def handle_any(self, body):
        self.record(body)
        config = self.server.config
        behaviour = config.behaviour(self.path)
        if behaviour is not None:
            self.answer_with(behaviour, self.default_answer(body))
            return
        status, content, headers = self.default_answer(body)
        self.send(status, content, headers)

    def record(self, body):
        entry = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.items()],
            "body_hex": body.hex(),
            "body": body.decode("utf-8", "replace"),
        }
        line = json.dumps(entry, ensure_ascii=False) + "\n"
        with self.server.record_lock:
            if self.server.record_path:
                with open(self.server.record_path, "a", encoding="utf-8") as f:
                    f.write(line)

    def default_answer(self, body):
        """What the server answers when no override applies: (status, bytes, headers)."""
        path = self.path.split("?", 1)[0]
        if self.command == "POST" and path == LOGIN_PATH:
            return self.login(parse_form(body))
        if self.command == "POST" and path == UPDATE_PATH:
            form = parse_form(body)
            if form.get("key") != API_KEY:
                return 403, b"bad key", {}
            return 200, self.server.config.update_url.encode("utf-8"), {}
        if self.command == "GET" and path.startswith("/redirect/"):
            rest = path[len("/redirect/"):]
            count, _, target = rest.partition("/")
            if count.isdigit():
                left = int(count)
                if left > 0:
                    return 302, b"", {"Location": "/redirect/%d/%s" % (left - 1, target)}
                path = "/" + target
        if self.command == "GET":
            return self.clip(path)
        return 404, b"not found", {}

    def login(self, form):
        def as_json(value):
            return 200, json.dumps(value, ensure_ascii=False).encode("utf-8"), {
                "Content-Type": "application/json; charset=utf-8"}

        if form.get("key") != API_KEY:
            return as_json({"code": 2, "msg": "key错误"})
        staff_login = form.get("user_type") == "1"
        for account in self.server.config.accounts:
            if account.get("user_name") != form.get("user_name"):
                continue
            if account.get("pwd") != form.get("pwd"):
                continue
            if staff_login and form.get("staff") not in account.get("staff", []):
                continue
            answer = {"code": 0, "msg": ""}
            for name in ("id", "realname", "service_ip", "service_port", "is_wx_open"):
                if name in account:
                    answer[name] = account[name]
            return as_json(answer)
        return as_json(self.server.config.refuse)

    def clip(self, path):
        folder = self.server.config.clips
        if not folder:
            return 404, b"no clips", {}
        root = os.path.realpath(folder)
        target = os.path.realpath(os.path.join(root, path.lstrip("/")))
        # Only files inside the clips folder are served.
        if not target.startswith(root + os.sep) or not os.path.isfile(target):
            return 404, b"not found", {}
        with open(target, "rb") as f:
            return 200, f.read(), {"Content-Type": "application/octet-stream"}

    # --- answering --------------------------------------------------------

    def send(self, status, content, headers, length=None):
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(content) if length is None else length))
        self.end_headers()
        if content:
            self.wfile.write(content)
        self.wfile.flush()

    def answer_with(self, behaviour, default):
        status, content, headers = default
        if "status" in behaviour:
            status = int(behaviour["status"])
        elif "body" in behaviour or "huge_body" in behaviour:
            status = 200
        if "body" in behaviour:
            content = behaviour["body"].encode("utf-8")
        if behaviour.get("empty_body"):
            content = b""
        if "location" in behaviour:
            headers = dict(headers, Location=behaviour["location"])
        delay = float(behaviour.get("delay", 0))
        if delay > 0 and not self.wait_or_client_gone(delay):
            return
        if behaviour.get("never_answer"):
            self.wait_or_client_gone(None)
            self.close_connection = True
            return
        if "huge_body" in behaviour:
            self.send_huge(status, headers, int(behaviour["huge_body"]))
            return
        if "trickle" in behaviour:
            self.send_trickle(status, content, headers, float(behaviour["trickle"]),
                              int(behaviour.get("trickle_bytes", 1)))
            return
        if behaviour.get("close_mid") or behaviour.get("stall_mid"):
            if len(content) < 2:
                content = b"x" * 4096
            self.send(status, content[: len(content) // 2], headers, length=len(content))
            if behaviour.get("stall_mid"):
                self.wait_or_client_gone(None)
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self.send(status, content, headers)

    def send_trickle(self, status, content, headers, interval, piece):
        self.send(status, b"", headers, length=len(content))
        try:
            for start in range(0, len(content), max(piece, 1)):
                if start > 0 and not self.wait_or_client_gone(interval):
                    break
                self.wfile.write(content[start:start + max(piece, 1)])
                self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True

    def send_huge(self, status, headers, size):
        self.send(status, b"", headers, length=size)
        chunk = b"0123456789abcdef" * 4096
        left = size
        try:
            while left > 0:
                piece = chunk[: min(left, len(chunk))]
                self.wfile.write(piece)
                left -= len(piece)
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True

    def wait_or_client_gone(self, seconds):
        """Waits `seconds` (None: until shutdown); False once the client hung up."""
        deadline = None if seconds is None else time.monotonic() + seconds
        while not self.server.stopping.is_set():
            step = 0.2
            if deadline is not None:
                step = min(step, deadline - time.monotonic())
                if step <= 0:
                    return True
            readable, _, _ = select.select([self.connection], [], [], step)
            if readable:
                try:
                    if not self.connection.recv(1, socket.MSG_PEEK):
                        return False
                except OSError:
                    return False
                time.sleep(step)
        return False


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def build_config(args):
    data = {}
    if args.config:
        with open(args.config, encoding="utf-8") as f:
            data = json.load(f)
    if args.account:
        data.setdefault("accounts", [])
        for text in args.account:
            name, pwd, *staff = text.split(":")
            account = {"user_name": name, "pwd": pwd, "staff": staff,
                       "id": args.store_id, "realname": args.realname,
                       "is_wx_open": args.wx_open}
            if args.service:
                ip, _, port = args.service.rpartition(":")
                account["service_ip"] = ip
                account["service_port"] = port
            data["accounts"].append(account)
    if args.update_url is not None:
        data["update_url"] = args.update_url
    if args.clips:
        data["clips"] = args.clips
    everywhere = {}
    if args.status is not None:
        everywhere["status"] = args.status
    if args.empty_body:
        everywhere["empty_body"] = True
    if args.slow:
        everywhere["delay"] = args.slow
    if args.never_answer:
        everywhere["never_answer"] = True
    if args.close_mid:
        everywhere["close_mid"] = True
    if args.huge_body:
        everywhere["huge_body"] = args.huge_body
    if everywhere:
        data.setdefault("responses", {})["*"] = everywhere
    return Config(data)


def main():
    parser = argparse.ArgumentParser(description="Fake web API on 127.0.0.1")
    parser.add_argument("--port", type=int, default=18080, help="0 picks a free port")
    parser.add_argument("--config", help="JSON configuration file")
    parser.add_argument("--record", help="append every request to this JSONL file")
    parser.add_argument("--account", action="append",
                        help="NAME:PWD[:STAFF...] an account that may log in")
    parser.add_argument("--service", help="IP:PORT of the cashier side given to logins")
    parser.add_argument("--store-id", default="88")
    parser.add_argument("--realname", default="一号店")
    parser.add_argument("--wx-open", type=int, default=1)
    parser.add_argument("--update-url")
    parser.add_argument("--clips", help="folder the clip downloads are served from")
    parser.add_argument("--status", type=int, help="answer every request with this status")
    parser.add_argument("--empty-body", action="store_true")
    parser.add_argument("--slow", type=float, help="seconds to wait before each answer")
    parser.add_argument("--never-answer", action="store_true")
    parser.add_argument("--close-mid", action="store_true")
    parser.add_argument("--huge-body", type=int)
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()

    server = Server((HOST, args.port), Handler)
    server.config = build_config(args)
    server.record_path = args.record
    server.record_lock = threading.Lock()
    server.stopping = threading.Event()
    server.verbose = args.verbose

    def stop(signum, frame):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("LISTENING %s:%d" % server.server_address[:2], flush=True)
    server.serve_forever(poll_interval=0.1)
    server.server_close()


if __name__ == "__main__":
    main()
