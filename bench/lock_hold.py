#!/usr/bin/env python3
"""How long one post keeps everybody else waiting.

Every request holds the store lock while it is handled, so a post that takes
long to handle delays every other user's page by as much. This starts the
service module (pelorin_bench_server) on a generated 1,000-card store (ten users, 100 cards each), then
for each case posts one record change as user1 while user2 fetches a small
page of the card area every 10 ms:

- the largest posts the bounds accept: 10,000 elements, 10,000 attributes, 256
  attributes on one element, 64 levels below the record, a 1 MiB text, fifteen
  1 MiB texts; an edit and a delete of one card;
- hostile posts, which must be refused quickly: 100,000 attributes on one
  element, a 257-level fragment, 100,000 elements, a fragment past 16 MiB.

For each it prints the post's status; the longest the store lock was held
meanwhile, as pelorin_bench_server's lock probe saw it (a thread taking the
lock every millisecond); the time from the last body byte sent to the answer
(reading the rest of the body and decoding the form, outside the lock, and the
handling under it); and the slowest of user2's pages that overlapped the post.
The figures of a quiet run go to docs/RELIABILITY.md.

Usage: bench/lock_hold.py [path/to/pelorin_bench_server] [repeats]
(an older build's server without the probe gives "n/a" for the lock)
"""
import base64
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXECUTABLE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-bench", "bench", "pelorin_bench_server")
REPEATS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
PAGE = "/pelorin/probe.htm"  # a page of its own: the bound is on waiting, not on rendering 1,000 cards


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def store(cards):
    out = ['<?xml version="1.0" encoding="UTF-8"?>\r\n<xBase>']
    for i in range(cards):
        out.append("\r\n  <vCard><N><FAMILY>Family%d</FAMILY><GIVEN>Given</GIVEN></N><FN>Given Family%d</FN>"
                   "<TEL><NUMBER>+49 30 %d</NUMBER><WORK/></TEL><EMAIL><USERID>card%d@example.com</USERID></EMAIL>"
                   "<OWNER>user%d</OWNER><ID>%d</ID></vCard>" % (i, i, 1000000 + i, i, i % 10, 1000 + i))
    out.append("\r\n</xBase>")
    return "".join(out)


def make_app(port):
    app = tempfile.mkdtemp(prefix="pelorin-lock-")
    shutil.copytree(os.path.join(ROOT, "app"), app, dirs_exist_ok=True)
    with open(os.path.join(app, "config", "config.xml"), "w", newline="") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xConfig><ServiceProviderPort>%d</ServiceProviderPort>'
                '</xConfig>' % port)
    users = "".join("<User><USER>user%d</USER><PASSWORD>pw</PASSWORD><NAME>User %d</NAME></User>" % (i, i)
                    for i in range(10))
    with open(os.path.join(app, "user", "user.xml"), "w", newline="") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xUser>%s</xUser>' % users)
    with open(os.path.join(app, "pelorin", "base.xml"), "w", encoding="utf-8", newline="") as f:
        f.write(store(1000))
    with open(os.path.join(app, "pelorin", "probe.htm.xsl"), "w") as f:
        f.write('<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">'
                '<xsl:output method="html"/><xsl:template match="/"><p>up</p></xsl:template></xsl:stylesheet>')
    return app


def request_bytes(method, path, user, body=b""):
    auth = base64.b64encode(("%s:pw" % user).encode()).decode()
    head = "%s %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nAuthorization: Basic %s\r\n" % (
        method, path, auth)
    if method == "POST":
        head += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n" % len(body)
    return head.encode() + b"\r\n", body


def exchange(port, method, path, user, body=b""):
    """(status, seconds from the last byte sent to the last byte of the answer)."""
    head, body = request_bytes(method, path, user, body)
    with socket.create_connection(("127.0.0.1", port), timeout=120) as s:
        s.sendall(head + body)
        sent = time.perf_counter()
        answer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            answer += chunk
    status = int(answer.split(b" ", 2)[1]) if answer.startswith(b"HTTP/") else 0
    return status, time.perf_counter() - sent


def form(fields):
    return "&".join("%s=%s" % (k, urllib.parse.quote(v, safe="")) for k, v in fields).encode()


def insert(xml):
    return form([("Command", "insert"), ("XML", xml), ("Redirect", "index.htm")])


def card(inner):
    return "<vCard><FN>Bench</FN>%s</vCard>" % inner


def nested(levels):
    return card("<X>" + "<a>" * (levels - 1) + "x" + "</a>" * (levels - 1) + "</X>")


def attributes(count, per_element):
    elements = []
    for e in range(0, count, per_element):
        names = " ".join('a%d=""' % i for i in range(min(per_element, count - e)))
        elements.append("<X %s/>" % names)
    return card("".join(elements))


CASES = [
    ("accepted", "10,000 elements", lambda: insert(card("<X/>" * 9998))),
    ("accepted", "10,000 attributes (256 per element)", lambda: insert(attributes(10000, 256))),
    ("accepted", "256 attributes on one element", lambda: insert(attributes(256, 256))),
    ("accepted", "64 levels below the record", lambda: insert(nested(64))),
    ("accepted", "one 1 MiB text", lambda: insert(card("<NOTE>%s</NOTE>" % ("n" * (1 << 20))))),
    ("accepted", "fifteen 1 MiB texts",
     lambda: insert(card("".join("<NOTE>%s</NOTE>" % ("n" * (1 << 20)) for _ in range(15))))),
    ("accepted", "edit of one card", lambda: form([("Command", "edit"), ("xPath", '/*/vCard[ID="1001"]'),
                                                  ("XML", card("<ID>1001</ID>")), ("Redirect", "index.htm")])),
    ("accepted", "delete of one card", lambda: form([("Command", "delete"), ("xPath", '/*/vCard[OWNER="user1"][1]'),
                                                    ("Redirect", "index.htm")])),
    ("refused", "100,000 attributes on one element", lambda: insert(attributes(100000, 100000))),
    ("refused", "257 levels", lambda: insert(nested(257))),
    ("refused", "100,000 elements", lambda: insert(card("<X/>" * 100000))),
    ("refused", "17 MiB fragment", lambda: insert(card("<NOTE>%s</NOTE>" % ("n" * (17 << 20))))),
]


class LockProbe:
    """The lock waits the server reports on stderr, with the time each arrived."""

    def __init__(self, stream):
        self.enabled = False
        self.waits = []
        self.thread = threading.Thread(target=self.read, args=(stream,), daemon=True)
        self.thread.start()

    def read(self, stream):
        for line in stream:
            if line.startswith("lock-probe on"):
                self.enabled = True
            elif line.startswith("lock-wait-ms "):
                self.waits.append((time.perf_counter(), float(line.split()[1]) / 1e3))

    def longest(self, begin, end):
        # A wait is reported when it ends, so it belongs to the post it overlapped.
        return max([w for t, w in self.waits if begin <= t <= end + 0.05] or [0.0])


def run_case(port, body, probe):
    """(status, post seconds, longest lock hold, slowest overlapping page seconds)."""
    done = threading.Event()
    pages = []

    def poll():
        while not done.is_set():
            start = time.perf_counter()
            status, _ = exchange(port, "GET", PAGE, "user2")
            pages.append((start, time.perf_counter(), status))
            time.sleep(0.01)

    poller = threading.Thread(target=poll)
    poller.start()
    time.sleep(0.05)
    begin = time.perf_counter()
    status, handled = exchange(port, "POST", "/pelorin/index.htm", "user1", body)
    end = time.perf_counter()
    time.sleep(0.05)
    done.set()
    poller.join()
    overlapping = [b - a for a, b, s in pages if a < end and b > begin]
    if any(s != 200 for _, _, s in pages):
        raise SystemExit("a page of user2 failed during the post")
    return status, handled, probe.longest(begin, end), max(overlapping) if overlapping else 0.0


def main():
    if not os.access(EXECUTABLE, os.X_OK):
        raise SystemExit("no executable at %s (build it first)" % EXECUTABLE)
    port = free_port()
    app = make_app(port)
    server = subprocess.Popen([EXECUTABLE, app, "--lock-probe"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True)
    probe = LockProbe(server.stderr)
    try:
        for _ in range(300):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        print("| post | outcome | status | lock held (ms) | handling (ms) | slowest other page (ms) |")
        print("|---|---|---:|---:|---:|---:|")
        for kind, name, make in CASES:
            body = make()
            worst_handling, worst_lock, worst_page, statuses = 0.0, 0.0, 0.0, set()
            for _ in range(REPEATS):
                status, handled, lock, page = run_case(port, body, probe)
                statuses.add(status)
                worst_handling, worst_lock = max(worst_handling, handled), max(worst_lock, lock)
                worst_page = max(worst_page, page)
            # An older build answers some hostile posts differently: the status says so.
            expected = 302 if kind == "accepted" else 500
            shown = "/".join(str(s) for s in sorted(statuses))
            if statuses != {expected}:
                shown += " (expected %d)" % expected
            lock = "%.1f" % (worst_lock * 1e3) if probe.enabled else "n/a"
            print("| %s | %s | %s | %s | %.1f | %.1f |" % (name, kind, shown, lock, worst_handling * 1e3,
                                                       worst_page * 1e3))
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=120)
        shutil.rmtree(app, ignore_errors=True)


if __name__ == "__main__":
    main()
