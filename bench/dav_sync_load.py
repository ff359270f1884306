#!/usr/bin/env python3
"""How much a first sync of a CardDAV book costs, replayed the way each
client does it (their request patterns read in their code), against any
book URL with Basic credentials: Pelorin's, or a peer's. Every request goes
on a connection of its own, as the service closes each after its answer.

  davx5        PROPFIND depth 0 for the book's capabilities, sync-collection
               from an empty token, then addressbook-multiget of 10 hrefs at a
               time, one after another
  davx5-4      the same with 4 multigets in flight (DAVx5 runs 2 to 8)
  thunderbird  PROPFIND depth 1 (resourcetype, getetag, getctag), one
               multiget of every card, PROPFIND depth 0 for the sync token
  evolution    PROPFIND depth 0 (getctag, address data, reports),
               sync-collection from an empty token, multigets of 100 hrefs
  incremental  sync-collection from the token of a full sync after one card
               was put (the PUT and the full sync are not counted)

For each pattern it prints requests, bytes sent and received (as on the
wire), seconds, and the requests that failed: an unexpected status, or a
multiget whose answer lacks a card it asked for. Standard library only.

Usage: dav_sync_load.py BOOK_URL [--user U] [--password P] [--patterns a,b,...]
                        [--timeout SECONDS] [--json FILE]
"""
import argparse
import base64
import json
import socket
import sys
import time
import urllib.parse
import uuid
import xml.etree.ElementTree as ET
from concurrent.futures import ThreadPoolExecutor
from xml.sax.saxutils import escape

DAV = "{DAV:}"
CARD = "{urn:ietf:params:xml:ns:carddav}"
XML_HEAD = '<?xml version="1.0" encoding="utf-8"?>'
NAMESPACES = 'xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav" xmlns:CS="http://calendarserver.org/ns/"'

# The bodies as each client sends them (properties as their code asks).
DAVX5_CAPABILITIES = (XML_HEAD + '<D:propfind %s><D:prop><D:supported-report-set/><D:sync-token/><CS:getctag/>'
                      '<C:max-resource-size/><C:supported-address-data/></D:prop></D:propfind>' % NAMESPACES)
DAVX5_SYNC = (XML_HEAD + '<D:sync-collection %s><D:sync-token>%%s</D:sync-token><D:sync-level>1</D:sync-level>'
              '<D:prop><D:getetag/><D:resourcetype/></D:prop></D:sync-collection>' % NAMESPACES)
DAVX5_MULTIGET = (XML_HEAD + '<C:addressbook-multiget %s><D:prop><D:getcontenttype/><D:getetag/>'
                  '<C:address-data content-type="text/vcard"/></D:prop>%%s</C:addressbook-multiget>' % NAMESPACES)
THUNDERBIRD_LIST = (XML_HEAD + '<D:propfind %s><D:prop><D:resourcetype/><D:getetag/><CS:getctag/></D:prop>'
                    '</D:propfind>' % NAMESPACES)
THUNDERBIRD_MULTIGET = (XML_HEAD + '<C:addressbook-multiget %s><D:prop><D:getetag/><C:address-data/></D:prop>'
                        '%%s</C:addressbook-multiget>' % NAMESPACES)
THUNDERBIRD_TOKEN = (XML_HEAD + '<D:propfind %s><D:prop><D:displayname/><CS:getctag/><D:sync-token/></D:prop>'
                     '</D:propfind>' % NAMESPACES)
EVOLUTION_CAPABILITIES = (XML_HEAD + '<D:propfind %s><D:prop><CS:getctag/><C:supported-address-data/>'
                          '<D:supported-report-set/></D:prop></D:propfind>' % NAMESPACES)
EVOLUTION_SYNC = (XML_HEAD + '<D:sync-collection %s><D:sync-token>%%s</D:sync-token><D:sync-level>1</D:sync-level>'
                  '<D:prop><D:getetag/></D:prop></D:sync-collection>' % NAMESPACES)
EVOLUTION_MULTIGET = (XML_HEAD + '<C:addressbook-multiget %s><D:prop><D:getetag/><C:address-data/></D:prop>'
                      '%%s</C:addressbook-multiget>' % NAMESPACES)
PATTERNS = ("davx5", "davx5-4", "thunderbird", "evolution", "incremental")


class Client:
    """One request per connection; counts every byte both ways."""

    def __init__(self, book_url, user, password, timeout):
        url = urllib.parse.urlsplit(book_url)
        if url.scheme != "http":
            raise SystemExit("only http:// book URLs (loopback benchmarks)")
        self.host, self.port = url.hostname, url.port or 80
        self.book = url.path if url.path.endswith("/") else url.path + "/"
        self.auth = "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
        self.timeout = timeout
        # Seconds from each connect to the end of its answer: the server's
        # part, without this client's own parsing (appends are atomic).
        self.waited = []

    def request(self, method, path, body=b"", headers=None):
        """(status, body, bytes sent, bytes received)."""
        head = ["%s %s HTTP/1.1" % (method, path), "Host: %s:%d" % (self.host, self.port),
                "Authorization: " + self.auth, "Connection: close", "Content-Length: %d" % len(body)]
        head += ["%s: %s" % item for item in (headers or {}).items()]
        message = ("\r\n".join(head) + "\r\n\r\n").encode() + body
        chunks = []
        started = time.perf_counter()
        with socket.create_connection((self.host, self.port), timeout=self.timeout) as s:
            s.sendall(message)
            while True:
                chunk = s.recv(1 << 16)
                if not chunk:
                    break
                chunks.append(chunk)
        raw = b"".join(chunks)
        self.waited.append(time.perf_counter() - started)
        header_end = raw.find(b"\r\n\r\n")
        if header_end < 0:
            return 0, b"", len(message), len(raw)
        status_line, _, header_text = raw[:header_end].partition(b"\r\n")
        parts = status_line.split()
        status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        content = raw[header_end + 4:]
        if b"transfer-encoding: chunked" in header_text.lower():
            content = dechunked(content)
        return status, content, len(message), len(raw)


def dechunked(data):
    out, pos = [], 0
    while pos < len(data):
        line_end = data.find(b"\r\n", pos)
        size = int(data[pos:line_end].split(b";")[0] or b"0", 16)
        if size == 0:
            break
        out.append(data[line_end + 2:line_end + 2 + size])
        pos = line_end + 2 + size + 2
    return b"".join(out)


class Tally:
    """Requests, bytes and failures of one pattern; shared by its threads
    (each add is one list append, which the interpreter makes atomic)."""

    def __init__(self):
        self.calls = []  # (sent, received)
        self.failures = []

    def ask(self, client, method, path, body, headers, expect):
        status, content, sent, received = client.request(method, path, body.encode(), headers)
        self.calls.append((sent, received))
        if status not in (expect if isinstance(expect, tuple) else (expect,)):
            self.failures.append("%s %s answered %d, not %s" % (method, path, status, expect))
            return None
        return content


def responses(multistatus):
    """(href, status, {property tag: element}) of each response of a
    multistatus; the status is the response's own, else 200 when a propstat
    says 200, else the first propstat's."""
    try:
        root = ET.fromstring(multistatus)
    except ET.ParseError:
        return [], None
    found = []
    for response in root.findall(DAV + "response"):
        href = urllib.parse.unquote(response.findtext(DAV + "href", "").strip())
        own = response.findtext(DAV + "status")
        props, statuses = {}, []
        for propstat in response.findall(DAV + "propstat"):
            code = status_code(propstat.findtext(DAV + "status", ""))
            statuses.append(code)
            found_props = propstat.find(DAV + "prop")
            if code == 200 and found_props is not None:
                for prop in found_props:
                    props[prop.tag] = prop
        status = status_code(own) if own else (200 if 200 in statuses else (statuses[0] if statuses else 0))
        found.append((href, status, props))
    return found, root.findtext(DAV + "sync-token")


def status_code(line):
    parts = (line or "").split()
    return int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0


def member_hrefs(client, listing):
    """The cards a listing names: not the book itself, not gone."""
    book = urllib.parse.unquote(client.book)
    return [href for href, status, _ in listing
            if status == 200 and urllib.parse.unquote(urllib.parse.urlsplit(href).path).rstrip("/") != book.rstrip("/")]


def multiget(client, tally, template, hrefs, depth):
    body = template % "".join("<D:href>%s</D:href>" % escape(urllib.parse.quote(h, safe="/@:+,;=~!$&'()*"))
                              for h in hrefs)
    content = tally.ask(client, "REPORT", client.book, body, {"Depth": depth, "Content-Type": "application/xml"},
                        207)
    if content is None:
        return
    got = {href for href, status, props in responses(content)[0] if CARD + "address-data" in props}
    missing = [h for h in hrefs if h not in got]
    if missing:
        tally.failures.append("multiget of %d lacks %d cards, e.g. %s" % (len(hrefs), len(missing), missing[0]))


def sync_listing(client, tally, template, token=""):
    content = tally.ask(client, "REPORT", client.book, template % escape(token),
                        {"Depth": "0", "Content-Type": "application/xml"}, 207)
    return responses(content) if content is not None else ([], None)


def davx5(client, tally, in_flight=1):
    tally.ask(client, "PROPFIND", client.book, DAVX5_CAPABILITIES,
              {"Depth": "0", "Content-Type": "application/xml"}, 207)
    listing, _ = sync_listing(client, tally, DAVX5_SYNC)
    hrefs = member_hrefs(client, listing)
    batches = [hrefs[i:i + 10] for i in range(0, len(hrefs), 10)]
    with ThreadPoolExecutor(max_workers=in_flight) as pool:
        list(pool.map(lambda batch: multiget(client, tally, DAVX5_MULTIGET, batch, "0"), batches))
    return len(hrefs)


def thunderbird(client, tally):
    content = tally.ask(client, "PROPFIND", client.book, THUNDERBIRD_LIST,
                        {"Depth": "1", "Content-Type": "application/xml"}, 207)
    listing = responses(content)[0] if content is not None else []
    tagged = {href for href, _, props in listing if DAV + "getetag" in props}
    hrefs = [h for h in member_hrefs(client, listing) if h in tagged]
    # Thunderbird sends Depth: 1 on its multiget too.
    multiget(client, tally, THUNDERBIRD_MULTIGET, hrefs, "1")
    tally.ask(client, "PROPFIND", client.book, THUNDERBIRD_TOKEN, {"Depth": "0", "Content-Type": "application/xml"},
              207)
    return len(hrefs)


def evolution(client, tally):
    tally.ask(client, "PROPFIND", client.book, EVOLUTION_CAPABILITIES,
              {"Depth": "0", "Content-Type": "application/xml"}, 207)
    listing, _ = sync_listing(client, tally, EVOLUTION_SYNC)
    hrefs = member_hrefs(client, listing)
    for i in range(0, len(hrefs), 100):
        multiget(client, tally, EVOLUTION_MULTIGET, hrefs[i:i + 100], "0")
    return len(hrefs)


def incremental(client, tally):
    """Only the sync from the token counts; the full sync before it, the PUT
    and the DELETE after are set-up, with their own tally."""
    setup = Tally()
    _, token = sync_listing(client, setup, EVOLUTION_SYNC)
    uid = "dav-sync-load-%s" % uuid.uuid4()
    path = client.book + uid + ".vcf"
    card = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s\r\nFN:Incremental Sync\r\nN:Sync;Incremental;;;\r\nEND:VCARD\r\n" % uid
    setup.ask(client, "PUT", path, card, {"Content-Type": "text/vcard; charset=utf-8", "If-None-Match": "*"}, 201)
    if setup.failures or not token:
        tally.failures.extend(setup.failures or ["the full sync gave no token"])
        return 0, 0.0
    start = time.perf_counter()
    listing, _ = sync_listing(client, tally, DAVX5_SYNC, token)
    seconds = time.perf_counter() - start
    changed = member_hrefs(client, listing)
    if [urllib.parse.urlsplit(h).path for h in changed] != [path]:
        tally.failures.append("the sync after one PUT listed %d cards, not just %s" % (len(changed), path))
    setup.ask(client, "DELETE", path, "", {}, (200, 204))
    if setup.failures:
        # The card stays in the book: say so, or the next run counts one more.
        print("note: %s" % "; ".join(setup.failures), file=sys.stderr)
    return len(changed), seconds


def run(client, name):
    """One pattern's row. A pattern gives the cards it saw, and the seconds
    when only part of its work counts (incremental); else all of it is timed."""
    tally = Tally()
    first_wait = len(client.waited)
    start = time.perf_counter()
    cards, seconds = {
        "davx5": lambda: (davx5(client, tally), None),
        "davx5-4": lambda: (davx5(client, tally, in_flight=4), None),
        "thunderbird": lambda: (thunderbird(client, tally), None),
        "evolution": lambda: (evolution(client, tally), None),
        "incremental": lambda: incremental(client, tally),
    }[name]()
    # Only its timed request counts for the incremental pattern.
    waited = seconds if seconds is not None else sum(client.waited[first_wait:])
    if seconds is None:
        seconds = time.perf_counter() - start
    return {"pattern": name, "cards": cards, "requests": len(tally.calls),
            "sent": sum(s for s, _ in tally.calls), "received": sum(r for _, r in tally.calls),
            "seconds": seconds, "waited": waited, "failures": tally.failures}


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("book_url")
    ap.add_argument("--user", default="admin")
    ap.add_argument("--password", default="admin")
    ap.add_argument("--patterns", default=",".join(PATTERNS))
    ap.add_argument("--timeout", type=float, default=600, help="seconds for one request")
    ap.add_argument("--json", help="also write the rows to this file")
    args = ap.parse_args()
    names = [p for p in args.patterns.split(",") if p]
    unknown = [p for p in names if p not in PATTERNS]
    if unknown:
        raise SystemExit("unknown patterns: %s (known: %s)" % (", ".join(unknown), ", ".join(PATTERNS)))
    client = Client(args.book_url, args.user, args.password, args.timeout)
    rows = [run(client, name) for name in names]
    # "waiting" sums each request's time from connect to the answer's end: what
    # the server costs, apart from this client's parsing (with requests in
    # flight together it exceeds the seconds of the whole).
    print("| pattern | cards | requests | sent (B) | received (B) | seconds | waiting (s) | failed requests |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for r in rows:
        print("| %s | %d | %d | %d | %d | %.3f | %.3f | %d |" % (
            r["pattern"], r["cards"], r["requests"], r["sent"], r["received"], r["seconds"], r["waited"],
            len(r["failures"])))
    for r in rows:
        for failure in r["failures"][:5]:
            print("%s: %s" % (r["pattern"], failure))
        if len(r["failures"]) > 5:
            print("%s: and %d more" % (r["pattern"], len(r["failures"]) - 5))
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)
    return 1 if any(r["failures"] for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
