#!/usr/bin/python3
"""What comes back of every card a CardDAV client puts: each card of each
file (a file holding several is split, and each card is put alone, as a
client does) is PUT into the running service's book, read back by GET (vCard
3.0) and by an addressbook-multiget asking for vCard 4.0 (the book announces
both, so DAVx5 and Evolution write and read 4.0), then deleted again. Each
answer is compared with the card that was put by vcard_fidelity.py's rules
(its docstring lists the equivalences): every property occurrence of the
original as vobject reads it is "exact" (or equivalent), "altered" (only the
name is there) or "lost". Cards that are not UTF-8 are put and read back, but
not compared, as vcard_fidelity.py does not compare them.

A card without a BEGIN line may be refused (400): a client puts none such.

Usage: dav_round_trip.py EXECUTABLE APP_TREE CARD_DIR... [--min-exact=PERCENT] [--skip-if-missing]
Prints the counts and every altered or lost property (file, card, property);
exits 1 when a card is refused (but for KNOWN_REFUSALS) or cannot be read
back, or when a version keeps fewer properties exactly or equivalently than
--min-exact.
"""
import base64
import logging
import os
import re
import sys
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET

from vcard_fidelity import (PASSWORD, USER, Service, as_vobject_reads, compare, data_uris_as_base64,
                            occurrences)

BOOK = "/dav/addressbooks/%s/contacts/" % USER
MULTIGET_40 = ('<?xml version="1.0" encoding="utf-8"?><C:addressbook-multiget xmlns:D="DAV:" '
               'xmlns:C="urn:ietf:params:xml:ns:carddav"><D:prop><D:getetag/>'
               '<C:address-data content-type="text/vcard" version="4.0"/></D:prop>'
               '<D:href>%s</D:href></C:addressbook-multiget>')
UTF8_BOM = b"\xef\xbb\xbf"
# Cards the service refuses today, by folder-relative file and card number,
# with the reason. One that is put again fails the run until it is struck
# from here, so the list can only shrink.
NESTED_AGENT = ("one 2.1 card holding a nested AGENT card is read as two cards, "
                "and the PUT is refused as more than one card")
KNOWN_REFUSALS = {
    "agent_nested.vcf card 1": NESTED_AGENT,
    "vcard21/qtpim-symbian_importcontacts.vcf card 1": NESTED_AGENT,
}


def dav(service, method, path, body=None, headers=None):
    auth = base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (service.port, path), data=body, method=method,
                                     headers=dict(headers or {}, Authorization="Basic " + auth))
    try:
        with urllib.request.urlopen(request, timeout=60) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def split_cards(data):
    """The cards of a file, each as the bytes a client would put (in the
    file's encoding, behind its byte order mark if it has one) and whether it
    has a BEGIN line. A card ends at
    its END line, at the next BEGIN of the same depth (an END left out), or
    at the end of the file; a 2.1 AGENT card nested inside stays in its card.
    A file without any BEGIN line is one card (the reader decides)."""
    mark, codec = b"", "latin-1"  # latin-1: bytes in and out unchanged, line ends and keywords found
    if data[:2] in (b"\xff\xfe", b"\xfe\xff"):
        mark, codec, data = data[:2], "utf-16-le" if data[:2] == b"\xff\xfe" else "utf-16-be", data[2:]
    elif len(data) > 1 and data[0] == 0 and data[1] != 0:
        codec = "utf-16-be"
    elif len(data) > 1 and data[1] == 0 and data[0] != 0:
        codec = "utf-16-le"
    text = data.decode(codec, errors="replace" if codec != "latin-1" else "strict")
    cards, current, depth, previous = [], [], 0, ""
    for line in re.findall(r"[^\r\n]*(?:\r*\n|\r)|[^\r\n]+$", text):
        keyword = keyword_of(line)
        if keyword == "BEGIN:VCARD":
            # Only a 2.1 AGENT with an empty value nests a card; any other
            # BEGIN starts a new one, ending one that had no END.
            nested = depth > 0 and re.match(r"(?:[^:;]*\.)?AGENT(?:;[^:]*)?:\s*$", previous.strip(), re.I)
            if not nested:
                if depth > 0:
                    cards.append(current)
                current, depth = [], 0  # what stood between two cards is no card
            depth += 1
        current.append(line)
        if keyword == "END:VCARD" and depth > 0:
            depth -= 1
            if depth == 0:
                cards.append(current)
                current = []
        previous = line
    if current and (depth > 0 or not cards):
        cards.append(current)
    return [(mark + "".join(lines).encode(codec), cards_begin(lines)) for lines in cards if "".join(lines).strip()]


def cards_begin(lines):
    """Whether a card's lines hold its BEGIN line."""
    return any(keyword_of(line) == "BEGIN:VCARD" for line in lines)


def keyword_of(line):
    # Some writers put a UTF-8 byte order mark before every card.
    return line.strip().upper().removeprefix(UTF8_BOM.decode("latin-1").upper()).lstrip("\ufeff")


def address_data(multistatus):
    """The address-data of the one response of a multiget answer, or None."""
    try:
        root = ET.fromstring(multistatus)
    except ET.ParseError:
        return None
    found = root.find(".//{urn:ietf:params:xml:ns:carddav}address-data")
    return None if found is None else found.text or ""


def describe(occurrence):
    name, group, params, value = occurrence
    shown = value[1] if value[0] != "bytes" else "<%d bytes>" % len(value[1])
    shown = str(shown)
    shown = shown if len(shown) <= 60 else shown[:57] + "..."
    params_text = ";".join("%s=%s" % (k, ",".join(sorted(v))) for k, v in sorted(params))
    return "%s%s%s: %r" % (group + "." if group else "", name, ";" + params_text if params_text else "", shown)


def main():
    # vobject logs each line of an original it cannot read; those are not counted.
    logging.getLogger("vobject.base").setLevel(logging.CRITICAL)
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    min_exact = 0.0
    for a in sys.argv[1:]:
        if a.startswith("--min-exact="):
            min_exact = float(a.split("=", 1)[1])
    executable, tree, dirs = args[0], args[1], args[2:]
    missing = [d for d in dirs if not os.path.isdir(d)]
    if missing and "--skip-if-missing" in sys.argv:
        print("skipped: no card folder at %s (the shared corpus is beside a checkout only)" % ", ".join(missing))
        sys.exit(77)
    if missing:
        raise SystemExit("no card folder at %s" % ", ".join(missing))
    files = sorted(os.path.join(root, n) for d in dirs for root, _, names in os.walk(d)
                   for n in names if n.lower().endswith(".vcf"))
    totals = {v: {"exact": 0, "cut": 0, "altered": 0, "lost": 0} for v in ("3.0", "4.0")}
    put, compared, not_utf8, unread, failures, misses = 0, 0, 0, [], [], []
    no_begin, refused_as_known = [], []
    service = Service(executable, tree)
    try:
        for path in files:
            name = os.path.relpath(path, os.path.commonpath(dirs) if len(dirs) > 1 else dirs[0])
            for index, (card, has_begin) in enumerate(split_cards(open(path, "rb").read()), 1):
                where = "%s card %d" % (name, index)
                href = BOOK + "round-trip-%d.vcf" % put
                status, body = dav(service, "PUT", href, card,
                                   {"Content-Type": "text/vcard; charset=utf-8", "If-None-Match": "*"})
                known = KNOWN_REFUSALS.get(where)
                if status != 201:
                    if not has_begin and status == 400:
                        no_begin.append(where)
                    elif known is not None:
                        refused_as_known.append("KNOWN FAULT %s: PUT answered %d: %s" % (where, status, known))
                    else:
                        failures.append("%s: PUT answered %d %s" % (where, status, body[:200]))
                    continue
                if known is not None:
                    failures.append("%s is put now: strike it from KNOWN_REFUSALS" % where)
                put += 1
                status, got = dav(service, "GET", href)
                status_40, listing = dav(service, "REPORT", href.rsplit("/", 1)[0] + "/",
                                         (MULTIGET_40 % href).encode(), {"Depth": "0", "Content-Type": "application/xml"})
                got_40 = address_data(listing) if status_40 == 207 else None
                dav(service, "DELETE", href)
                if status != 200 or got_40 is None:
                    failures.append("%s: GET answered %d, the 4.0 multiget %d" % (where, status, status_40))
                    continue
                if "VERSION:4.0" not in got_40:
                    failures.append("%s: the multiget asking for 4.0 answered another version" % where)
                try:
                    text = card.decode("utf-8-sig")  # the mark is no line of the card
                except UnicodeDecodeError:
                    not_utf8 += 1
                    continue
                original, _ = occurrences(as_vobject_reads(text))
                if not original:
                    unread.append(where)  # vobject reads nothing of it: nothing to compare with
                    continue
                compared += 1
                for version, answer in (("3.0", got.decode("utf-8")), ("4.0", data_uris_as_base64(got_40))):
                    cards, error = occurrences(answer)
                    if cards is None:
                        failures.append("%s: vobject cannot read the %s answer: %s" % (where, version, error))
                        continue
                    found = []
                    for key, n in compare(original, cards, where, found).items():
                        totals[version][key] += n
                    misses.extend("%s %s (%s): %s" % (kind.upper(), where, version, describe(occurrence))
                                  for kind, occurrence in found)
    finally:
        service.stop()

    print("| read back | properties | exact or equivalent | of which vobject cut the original | altered | lost |")
    print("|---|---:|---:|---:|---:|---:|")
    worst = 100.0
    for version, c in totals.items():
        total = sum(c.values()) or 1
        kept = c["exact"] + c["cut"]
        share = 100.0 * kept / total
        worst = min(worst, share)
        print("| %s | %d | %d (%.2f %%) | %d | %d | %d |" % (
            "GET, 3.0" if version == "3.0" else "multiget, 4.0", total, kept, share, c["cut"], c["altered"],
            c["lost"]))
    print("files: %d; cards put and read back: %d; compared: %d; not UTF-8 (not compared): %d; "
          "nothing vobject reads: %d; without a BEGIN line, refused: %d; known faults: %d; failures: %d"
          % (len(files), put, compared, not_utf8, len(unread), len(no_begin), len(refused_as_known), len(failures)))
    for line in (misses + refused_as_known + failures + ["vobject reads nothing of " + where for where in unread]
                 + ["no BEGIN line, refused: " + where for where in no_begin]):
        print(line)
    if worst < min_exact or failures:
        sys.exit(1)


if __name__ == "__main__":
    main()
