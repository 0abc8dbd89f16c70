#!/usr/bin/env python3
"""Cashier simulator: plays the cashier side against the voice side.

Send mode connects to the voice side's listening port and sends each text,
given as arguments or as lines on standard input, waiting for its "OK" before
the next one (a cashier that waits keeps its messages apart). Each reply is
printed on a line of its own. Texts take escapes so the edge cases can be
sent: \\0 (zero byte), \\r, \\n, \\t, \\\\ and \\xHH.

    cashier_sim.py --port 5001 12,101 '5.12#7' '12,101\\0xyz'
    printf '12,101\\n13,102\\n' | cashier_sim.py --port 5001

Listen mode serves as the cashier side's address that the voice side's link
check probes: it accepts every connection and closes it at once.

    cashier_sim.py --listen --port 6001

Exit status: 0 when every text was answered "OK", 1 otherwise, 2 for bad
arguments.
"""

import argparse
import math
import signal
import socket
import sys
import time

MESSAGE_MAX = 512  # the voice side reads at most this much at a time


def unescape(text):
    out = bytearray()
    i = 0
    raw = text.encode("utf-8")
    while i < len(raw):
        c = raw[i]
        if c != ord("\\") or i + 1 == len(raw):
            out.append(c)
            i += 1
            continue
        e = chr(raw[i + 1])
        if e == "0":
            out.append(0)
        elif e == "r":
            out.append(13)
        elif e == "n":
            out.append(10)
        elif e == "t":
            out.append(9)
        elif e == "\\":
            out.append(ord("\\"))
        elif e == "x":
            digits = raw[i + 2:i + 4].decode("ascii", "replace")
            try:
                if len(digits) != 2:
                    raise ValueError
                out.append(int(digits, 16))
            except ValueError:
                raise ValueError("bad escape \\x%s in %r" % (digits, text))
            i += 4
            continue
        else:
            raise ValueError("unknown escape \\%s in %r" % (e, text))
        i += 2
    return bytes(out)


def escape(data):
    out = []
    for b in data:
        if b == 0:
            out.append("\\0")
        elif b == 13:
            out.append("\\r")
        elif b == 10:
            out.append("\\n")
        elif b == 9:
            out.append("\\t")
        elif b == ord("\\"):
            out.append("\\\\")
        elif 32 <= b < 127:
            out.append(chr(b))
        else:
            out.append("\\x%02x" % b)
    return "".join(out)


def texts_from(args):
    if args.texts:
        yield from args.texts
        return
    for line in sys.stdin:
        line = line.rstrip("\n")
        if line:
            yield line


def send_mode(args):
    try:
        conn = socket.create_connection((args.host, args.port), timeout=args.timeout)
    except OSError as e:
        print("cannot connect to %s:%d: %s" % (args.host, args.port, e), file=sys.stderr)
        return 1
    conn.settimeout(args.timeout)
    all_ok = True
    with conn:
        for text in texts_from(args):
            try:
                data = unescape(text)
            except ValueError as e:
                print(e, file=sys.stderr)
                return 2
            if not data:
                continue
            try:
                conn.sendall(data)
            except OSError as e:
                print("send failed: %s" % e, file=sys.stderr)
                return 1
            if args.no_wait:
                continue
            # One "OK" per read of at most 512 bytes on the other side.
            expected = 2 * math.ceil(len(data) / MESSAGE_MAX)
            reply = b""
            try:
                while len(reply) < expected:
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    reply += chunk
            except socket.timeout:
                pass
            print(escape(reply), flush=True)
            if reply != b"OK" * (expected // 2):
                all_ok = False
            if args.delay > 0:
                time.sleep(args.delay)
        if args.no_wait:
            # Collect whatever came back for the whole batch.
            conn.shutdown(socket.SHUT_WR)
            reply = b""
            try:
                while True:
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    reply += chunk
            except socket.timeout:
                pass
            print(escape(reply), flush=True)
            all_ok = bool(reply) and reply == b"OK" * (len(reply) // 2)
    return 0 if all_ok else 1


def listen_mode(args):
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        server.bind((args.host, args.port))
    except OSError as e:
        print("cannot listen on %s:%d: %s" % (args.host, args.port, e), file=sys.stderr)
        return 1
    server.listen(16)
    print("listening on %s:%d" % server.getsockname(), flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    try:
        while True:
            conn, peer = server.accept()
            conn.close()
            print("probe from %s:%d" % peer, flush=True)
    except KeyboardInterrupt:
        return 0
    finally:
        server.close()


def main():
    parser = argparse.ArgumentParser(
        description="Play the cashier side: send texts to the voice side, or "
        "listen as the cashier address for its link check.")
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to connect to, or to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--listen", action="store_true",
                        help="accept and close connections, like a cashier that is up")
    parser.add_argument("--timeout", type=float, default=5.0,
                        help="seconds to wait for a connection or a reply (default 5)")
    parser.add_argument("--delay", type=float, default=0.0,
                        help="seconds to pause after each reply")
    parser.add_argument("--no-wait", action="store_true",
                        help="send all texts back to back, then print what came back")
    parser.add_argument("texts", nargs="*", help="texts to send (default: lines of stdin)")
    args = parser.parse_args()
    if not 0 < args.port < 65536:
        parser.error("port must lie in 1..65535")
    return listen_mode(args) if args.listen else send_mode(args)


if __name__ == "__main__":
    sys.exit(main())
