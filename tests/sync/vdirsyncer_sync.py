#!/usr/bin/env python3
"""Two-way sync with a real client nobody here wrote: Debian's vdirsyncer
between a local folder of .vcf files and the service's CardDAV book. Cards
made on either side reach the other, edits on either side travel, a deletion
travels, and a conflict is settled by the rule configured.

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


def main():
    if shutil.which("vdirsyncer") is None:
        print("skipped: vdirsyncer is not installed (scripts/test-packages.txt)")
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
