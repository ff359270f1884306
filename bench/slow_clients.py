#!/usr/bin/env python3
"""Slow clients for load tests: opens N connections to a server and sends on each a
valid request one byte per second, so that no request completes before the server's
read time-out. Records for every connection when the server closed it (end of file
or reset, seen through epoll) and prints a JSON report.

With --hold SECONDS every connection the server closes within that time is replaced
by a new one, so the server faces N trickling clients all along, as it would from a
client that reconnects; after it, the script only waits for the rest to close.

Usage: slow_clients.py PORT N [--hold S] [--wait S] [--ready-file PATH]
"""
import argparse
import base64
import errno
import json
import resource
import selectors
import socket
import statistics
import sys
import time


def raise_descriptor_limit(needed):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = hard if hard != resource.RLIM_INFINITY else max(soft, needed)
    if soft < want:
        resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))
    if want < needed:
        sys.exit(f"the descriptor limit {want} is below the {needed} connections asked for")


class SlowConnection:
    def __init__(self, host, port, request, generation, closed_list):
        self.request = request
        self.closed_list = closed_list  # where a close is reported, once
        self.generation = generation  # 0 for the first N, 1 for replacements
        self.sent = 0
        self.received = 0
        self.closed_at = None
        self.how = None
        self.sock = socket.create_connection((host, port), timeout=10)
        self.sock.setblocking(False)
        self.opened_at = time.monotonic()

    def send_next_byte(self):
        if self.sent >= len(self.request):
            return
        try:
            self.sent += self.sock.send(self.request[self.sent:self.sent + 1])
        except BlockingIOError:
            pass
        except OSError as e:  # reset or broken pipe: the server has closed it
            self.mark_closed("reset" if e.errno == errno.ECONNRESET else "send failed")

    def on_readable(self):
        try:
            data = self.sock.recv(65536)
        except BlockingIOError:
            return
        except OSError:
            return self.mark_closed("reset")
        if not data:
            return self.mark_closed("eof")
        self.received += len(data)

    def mark_closed(self, how):
        if self.closed_at is None:
            self.closed_at = time.monotonic()
            self.how = how
            self.closed_list.append(self)

    def lifetime(self):
        return None if self.closed_at is None else self.closed_at - self.opened_at


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("port", type=int)
    parser.add_argument("connections", type=int)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--path", default="/pelorin/list")
    parser.add_argument("--user", default="admin:admin")
    parser.add_argument("--hold", type=float, default=0, help="replace closed connections for this long")
    parser.add_argument("--wait", type=float, default=45, help="give up on open connections after this long")
    parser.add_argument("--timeout", type=float, default=30, help="the server's read time-out")
    parser.add_argument("--margin", type=float, default=2)
    parser.add_argument("--ready-file", help="written once all N connections are open")
    args = parser.parse_args()

    credentials = base64.b64encode(args.user.encode()).decode()
    request = (f"GET {args.path} HTTP/1.1\r\nHost: {args.host}:{args.port}\r\n"
               f"Authorization: Basic {credentials}\r\n\r\n").encode()
    if len(request) <= args.timeout + args.margin:
        sys.exit("the request must outlast the time-out at one byte a second")
    raise_descriptor_limit(args.connections + 64)

    selector = selectors.DefaultSelector()
    connections = []
    open_now = set()
    just_closed = []
    refused = 0

    def open_one(generation):
        nonlocal refused
        try:
            connection = SlowConnection(args.host, args.port, request, generation, just_closed)
        except OSError:
            refused += 1
            return
        connections.append(connection)
        open_now.add(connection)
        selector.register(connection.sock, selectors.EVENT_READ, connection)

    start = time.monotonic()
    for _ in range(args.connections):
        open_one(0)
    opened_in = time.monotonic() - start
    if args.ready_file:
        with open(args.ready_file, "w") as ready:
            ready.write(f"{len(connections)}\n")

    # A closed connection is replaced at the next tick, as a client would come back
    # after a moment, not in a tight loop that would measure connects instead.
    to_replace = 0
    next_tick = time.monotonic()
    while True:
        now = time.monotonic()
        if now - start >= args.wait or (not open_now and now - start >= args.hold):
            break
        if now >= next_tick:
            if now - start < args.hold:
                for _ in range(to_replace):
                    open_one(1)
            to_replace = 0
            for connection in list(open_now):
                connection.send_next_byte()
            next_tick += 1.0
        for key, _ in selector.select(timeout=max(0.0, min(0.2, next_tick - time.monotonic()))):
            key.data.on_readable()
        for connection in just_closed:
            open_now.discard(connection)
            selector.unregister(connection.sock)
            connection.sock.close()
            to_replace += 1
        just_closed.clear()

    still_open = list(open_now)
    for connection in still_open:
        selector.unregister(connection.sock)
        connection.sock.close()
    lifetimes = sorted(c.lifetime() for c in connections if c.closed_at is not None)
    limit = args.timeout + args.margin

    def pick(q):
        return round(lifetimes[min(len(lifetimes) - 1, int(q * len(lifetimes)))], 2) if lifetimes else None

    report = {
        "asked": args.connections,
        "opened": len(connections),
        "opened_initially_in_s": round(opened_in, 2),
        "replacements": sum(1 for c in connections if c.generation == 1),
        "refused": refused,
        "closed_by_server": len(lifetimes),
        "closed_by_eof": sum(1 for c in connections if c.how == "eof"),
        "closed_by_reset": sum(1 for c in connections if c.how in ("reset", "send failed")),
        "closed_within_timeout_and_margin": sum(1 for t in lifetimes if t <= limit),
        "closed_before_timeout": sum(1 for t in lifetimes if t < args.timeout - 1),
        "still_open_after_wait": len(still_open),
        "answered": sum(1 for c in connections if c.received > 0),
        "lifetime_s": {"min": pick(0), "median": round(statistics.median(lifetimes), 2) if lifetimes else None,
                       "p99": pick(0.99), "max": pick(1.0)},
        "seconds": round(time.monotonic() - start, 1),
    }
    print(json.dumps(report))


if __name__ == "__main__":
    main()
