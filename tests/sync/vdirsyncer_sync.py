#!/usr/bin/env python3
"""Two-way sync with a real client nobody here wrote: Debian's vdirsyncer
between a local folder of .vcf files and the service's CardDAV book. Cards
made on either side reach the other, edits on either side travel, a deletion
travels, and a conflict is settled by the rule configured. Then Debian's khard,
an address book program reading that folder, lists and shows the synced cards:
what a person sees there (names, e-mail addresses, phone numbers) must be what
the service holds, read back from it over CardDAV.

Usage: vdirsyncer_sync.py PELORIND APP_TREE
"""
import base64
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.error
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fidelity"))
from vcard_fidelity import PASSWORD, USER, Service  # noqa: E402
import vobject  # noqa: E402

# Cards with what an address book program shows: names beyond ASCII, several
# e-mail addresses and phone numbers with their types; the second is 2.1 with
# bare type words, as phones export, so khard reads the service's own 3.0.
RICH_CARDS = ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:server-rich\r\nFN:Zoë Ångström\r\nN:Ångström;Zoë;;;\r\n"
              "EMAIL;TYPE=INTERNET,WORK:zoe@example.org\r\nEMAIL;TYPE=INTERNET,HOME:zoe.home@example.net\r\n"
              "TEL;TYPE=CELL:+49 170 1234567\r\nTEL;TYPE=WORK,VOICE:+49 30 9876543\r\nORG:Nordlicht GmbH\r\n"
              "END:VCARD\r\n"
              "BEGIN:VCARD\r\nVERSION:2.1\r\nUID:server-21\r\nN:Łukasiewicz;Jan\r\nFN:Jan Łukasiewicz\r\n"
              "TEL;HOME:+48 22 5550101\r\nEMAIL;INTERNET:jan@example.com\r\nEND:VCARD\r\n")


def dav(service, method, path, body, headers):
    auth = base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (service.port, path), data=body, method=method,
                                     headers=dict(headers, Authorization="Basic " + auth))
    try:
        with urllib.request.urlopen(request, timeout=60) as answer:
            return answer.status, answer.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def card(uid, name):
    return ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s\r\nFN:%s\r\nN:%s;;;;\r\nEND:VCARD\r\n" % (uid, name, name))


def held_by_service(service):
    """UID, FN, e-mail addresses and phone numbers of every card in the book,
    as the service answers GET of each card it lists."""
    book = "/dav/addressbooks/%s/contacts/" % USER
    status, listing = dav(service, "PROPFIND", book, b'<propfind xmlns="DAV:"><prop><getetag/></prop></propfind>',
                          {"Depth": "1", "Content-Type": "application/xml"})
    hrefs = [h for h in re.findall(r"<D:href>([^<]*)</D:href>", listing.decode()) if h != book]
    cards = []
    for href in hrefs:
        status, body = dav(service, "GET", href, None, {})
        if status != 200:
            raise SystemExit("GET %s answered %d" % (href, status))
        one = vobject.readOne(body.decode("utf-8"))
        cards.append({"uid": one.uid.value, "fn": one.fn.value,
                      "emails": sorted(e.value for e in one.contents.get("email", [])),
                      "phones": sorted(t.value for t in one.contents.get("tel", []))})
    return cards


def shown_by_khard(folder, work):
    """What khard, configured on the folder alone, lists: (uid, name) of each
    card, and (name, address) and (name, number) of each e-mail and phone;
    and its page of details for each UID. None when khard fails (it refuses
    a folder holding a card it cannot parse)."""
    config = os.path.join(work, "khard.conf")
    with open(config, "w", encoding="utf-8") as f:
        f.write("[addressbooks]\n[[synced]]\npath = %s\n" % folder)

    def khard(*args):
        run = subprocess.run(["khard", "-c", config] + list(args), capture_output=True, encoding="utf-8",
                             timeout=60, env=dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8"))
        if run.returncode != 0:
            print(run.stdout + run.stderr)
            return None
        return [line.split("\t") for line in run.stdout.splitlines() if line]

    listed = khard("list", "--parsable", "--display", "formatted_name")
    # Only the e-mail listing starts with a "searching for" line.
    emails = khard("email", "--parsable", "--remove-first-line", "--display", "formatted_name")
    phones = khard("phone", "--parsable", "--display", "formatted_name")
    if listed is None or emails is None or phones is None:
        return None
    details = {}
    for uid, _name, _book in listed:
        page = khard("show", "uid:" + uid)
        details[uid] = "\n".join("\t".join(fields) for fields in page) if page is not None else None
    return {"cards": sorted((uid, name) for uid, name, _ in listed),
            "emails": sorted((name, address) for address, name, _ in emails),
            "phones": sorted((name, number) for number, name, _ in phones),
            "details": details}


def main():
    if shutil.which("vdirsyncer") is None:
        print("skipped: vdirsyncer is not installed (scripts/test-packages.txt)")
        return 77
    if shutil.which("khard") is None:
        print("skipped: khard is not installed (scripts/test-packages.txt)")
        return 77
    service = Service(sys.argv[1], sys.argv[2])
    work = tempfile.mkdtemp(prefix="pelorin-vdirsyncer-")
    failures = []

    def check(condition, what):
        print(("ok   " if condition else "FAIL ") + what)
        if not condition:
            failures.append(what)

    try:
        config = os.path.join(work, "config")
        local = os.path.join(work, "local")
        with open(config, "w") as f:
            f.write('[general]\nstatus_path = "%s/status/"\n\n'
                    '[pair contacts]\na = "local"\nb = "remote"\ncollections = ["from b"]\n'
                    'conflict_resolution = "b wins"\n\n'
                    '[storage local]\ntype = "filesystem"\npath = "%s/"\nfileext = ".vcf"\n\n'
                    '[storage remote]\ntype = "carddav"\nurl = "http://127.0.0.1:%d/"\n'
                    'username = "%s"\npassword = "%s"\n' % (work, local, service.port, USER, PASSWORD))

        def vdirsyncer(*args):
            run = subprocess.run(["vdirsyncer", "-c", config] + list(args), input="y\n" * 5, text=True,
                                 capture_output=True, timeout=120)
            if run.returncode != 0:
                print(run.stdout + run.stderr)
            return run.returncode

        def server_cards():
            status, body = service.request("GET", "/pelorin/export4.vcf")
            return body.decode("utf-8") if status == 200 else ""

        def local_files():
            found = {}
            for root, _, files in os.walk(local):
                for name in files:
                    with open(os.path.join(root, name), encoding="utf-8") as f:
                        found[os.path.join(root, name)] = f.read()
            return found

        status, _ = service.request("POST", "/pelorin/import.htm",
                                    b"vcfupload\r\n" + card("server-1", "Made On Server").encode())
        check(status == 302, "a card imported through the pages")
        check(vdirsyncer("discover") == 0, "vdirsyncer discover finds the book")
        check(vdirsyncer("sync") == 0, "first sync")
        files = local_files()
        check(any("FN:Made On Server" in text for text in files.values()), "the server's card reached the folder")
        book = os.path.dirname(next(iter(files))) if files else os.path.join(local, "contacts")

        with open(os.path.join(book, "local-1.vcf"), "w", encoding="utf-8", newline="") as f:
            f.write(card("local-1", "Made Locally"))
        check(vdirsyncer("sync") == 0, "sync after a local card")
        check("FN:Made Locally" in server_cards(), "the local card reached the service")

        # An edit on the pages travels to the folder. The form posts the card
        # whole, with its ID (which names it in the book).
        status, listing = dav(service, "PROPFIND", "/dav/addressbooks/%s/contacts/" % USER, None, {"Depth": "1"})
        ids = re.findall(r"/contacts/([0-9]+)\.vcf</D:href>", listing.decode())
        check(len(ids) == 1, "the imported card is listed by its ID")
        xpath = "/*/vCard[UID='server-1']"
        form = urllib.parse.urlencode({"Command": "edit", "xPath": xpath, "Redirect": "index.htm",
                                       "XML": "<vCard><FN>Edited On Server</FN><UID>server-1</UID><ID>%s</ID></vCard>"
                                              % (ids[0] if ids else "")})
        status, _ = service.request("POST", "/pelorin/index.htm", form.encode())
        check(status == 302, "an edit through the page form")
        check(vdirsyncer("sync") == 0, "sync after the server edit")
        check(any("FN:Edited On Server" in text for text in local_files().values()), "the edit reached the folder")

        # An edit in the folder travels to the service.
        local_card = os.path.join(book, "local-1.vcf")
        with open(local_card, "w", encoding="utf-8", newline="") as f:
            f.write(card("local-1", "Edited Locally"))
        check(vdirsyncer("sync") == 0, "sync after the local edit")
        cards = server_cards()
        check("FN:Edited Locally" in cards and "FN:Made Locally" not in cards, "the local edit replaced the card")

        # Both sides change one card: the service's version wins, as configured.
        with open(local_card, "w", encoding="utf-8", newline="") as f:
            f.write(card("local-1", "Conflict Local"))
        # Another device changes it on the service meanwhile.
        status, _ = dav(service, "PUT", "/dav/addressbooks/%s/contacts/local-1.vcf" % USER,
                        card("local-1", "Conflict Server").encode(), {"Content-Type": "text/vcard"})
        check(status == 204, "another client's change of the card")
        check(vdirsyncer("sync") == 0, "sync with a conflict")
        texts = "".join(local_files().values())
        check("FN:Conflict Server" in texts and "FN:Conflict Local" not in texts, "the conflict went to the service")
        check("FN:Conflict Server" in server_cards(), "the service kept its version")

        # A deletion in the folder travels.
        os.remove(local_card)
        check(vdirsyncer("sync") == 0, "sync after a local deletion")
        check("Conflict Server" not in server_cards(), "the deletion reached the service")
        check(len(re.findall("BEGIN:VCARD", server_cards())) == 1, "one card is left")

        # Cards with e-mail addresses and phones come down, and khard on the
        # folder shows what the service holds.
        status, _ = service.request("POST", "/pelorin/import.htm", b"vcfupload\r\n" + RICH_CARDS.encode())
        check(status == 302, "two cards with e-mail and phones imported through the pages")
        check(vdirsyncer("sync") == 0, "sync after the import")
        held = held_by_service(service)
        check(sorted(c["uid"] for c in held) == ["server-1", "server-21", "server-rich"],
              "the service holds the edited card and the two imported ones")
        shown = shown_by_khard(book, work)
        check(shown is not None, "khard reads every synced card")
        if shown is not None:
            check(shown["cards"] == sorted((c["uid"], c["fn"]) for c in held), "khard lists each card by UID and name")
            check(shown["emails"] == sorted((c["fn"], e) for c in held for e in c["emails"])
                  and len(shown["emails"]) == 3, "khard lists the service's e-mail addresses")
            check(shown["phones"] == sorted((c["fn"], t) for c in held for t in c["phones"])
                  and len(shown["phones"]) == 3, "khard lists the service's phone numbers")
            for c in held:
                page = shown["details"].get(c["uid"]) or ""
                # khard heads the page with the name from the name parts and
                # adds the formatted name only when the two differ.
                named = re.search(r"^(Full name|Name): %s$" % re.escape(c["fn"]), page, re.M) is not None
                check(named and all(v in page for v in c["emails"] + c["phones"]),
                      "khard shows %s with its name, e-mail addresses and phones" % c["uid"])
    finally:
        service.stop()
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print("%d checks failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
