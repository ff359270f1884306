#!/usr/bin/python3
"""What comes back of every property: real vCard files are imported into the
running service (one file at a time, into an emptied card list), exported as
vCard 3.0 (export3.vcf) and 4.0 (export4.vcf), and each export is read back
with python3-vobject, a vCard parser nobody here wrote. (vobject reads 2.1
with 3.0 rules: it drops bare type words and cuts values at commas, so the 2.1
export is checked by the service's own import instead, in tests/app.)
Every property occurrence of the original (as vobject reads it) is looked for
in each export: "exact" when an occurrence with the same name, group,
parameters and value is there, "altered" when only the name matches, "lost"
when none does. A line of the original that vobject cannot read is not counted.

Equivalences (docs/RECORD_FORMAT.md): parameter names and TYPE values compare
without regard to case, a 2.1 bare word is a TYPE value, CHARSET and a
quoted-printable ENCODING are spent on decoding; binary data compares as its
bytes (2.1/3.0 base64 and 4.0 data: URIs alike: vobject cuts a data: URI at
its comma, so the 4.0 export's are handed to it as base64); an export may say
more parameters than vobject read in the original (vobject drops the bare type
words of 2.1); "\:" and "\"" as writers use them are ":" and '"'; a line break is LF; the types that 2.1 and 3.0
imply for TEL (VOICE) and ADR/LABEL (INTL POSTAL PARCEL WORK) count as given;
PREF and PREF=1 are the same; VERSION is the export's own; UID and REV an export
adds to a card without them are not counted against it.

Usage: vcard_fidelity.py EXECUTABLE APP_TREE CARD_DIR... [--min-exact=PERCENT] [--skip-if-missing]
(--skip-if-missing: exit 77, "skipped", when a card folder is not there)
Prints a table; exits 1 when a version keeps fewer properties exactly or
equivalently than --min-exact, or when any export is not byte-identical after
being imported and exported again.
"""
import base64
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

import vobject

USER, PASSWORD = "fidelity", "fidelity-pw"
SPENT = {"CHARSET", "ENCODING"}
IMPLIED = {"TEL": {"VOICE"}, "ADR": {"INTL", "POSTAL", "PARCEL", "WORK"}, "LABEL": {"INTL", "POSTAL", "PARCEL", "WORK"}}
BINARY = {"PHOTO", "LOGO", "SOUND", "KEY"}
ADDED_BY_EXPORT = {"UID", "REV", "VERSION", "PRODID"}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Service:
    def __init__(self, executable, tree):
        self.port = free_port()
        self.dir = tempfile.mkdtemp(prefix="pelorin-fidelity-")
        shutil.copytree(tree, self.dir, dirs_exist_ok=True)
        shutil.copy(executable, os.path.join(self.dir, "pelorind"))
        with open(os.path.join(self.dir, "config", "config.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xConfig><ServiceProviderPort>%d'
                    '</ServiceProviderPort></xConfig>' % self.port)
        with open(os.path.join(self.dir, "user", "user.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xUser><User><USER>%s</USER><PASSWORD>%s'
                    '</PASSWORD><NAME>F</NAME></User></xUser>' % (USER, PASSWORD))
        with open(os.path.join(self.dir, "pelorin", "base.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xBase/>')
        self.process = subprocess.Popen([os.path.join(self.dir, "pelorind"), self.dir],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(300):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise SystemExit("the service did not start")

    def request(self, method, path, body=None):
        auth = base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
        req = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path), data=body, method=method,
                                     headers={"Authorization": "Basic " + auth})

        class NoRedirect(urllib.request.HTTPRedirectHandler):
            def redirect_request(self, *args):
                return None

        opener = urllib.request.build_opener(NoRedirect)
        try:
            with opener.open(req, timeout=120) as answer:
                return answer.status, answer.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def replace_cards(self, vcf_bytes):
        form = urllib.parse.urlencode({"Command": "delete", "xPath": "/*/vCard"}).encode()
        status, _ = self.request("POST", "/pelorin/index.htm", form)
        if status != 302:
            raise SystemExit("emptying the card list answered %d" % status)
        status, body = self.request("POST", "/pelorin/import.htm", b"vcfupload\r\n" + vcf_bytes)
        return status, body

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=60)
        shutil.rmtree(self.dir, ignore_errors=True)


def value_of(line):
    value = line.value
    name = line.name.upper()
    if name in BINARY:
        if isinstance(value, bytes):
            return ("bytes", value)
        text = str(value)
        if text.lower().startswith("data:") and ";base64," in text.lower():
            return ("bytes", base64.b64decode(text[text.lower().index(";base64,") + 8:]))
        return ("text", text.strip())
    if isinstance(value, bytes):
        return ("bytes", value)
    if isinstance(value, list):
        value = ",".join(str(v) for v in value)
    if name == "GEO":
        text = str(value)
        text = text[4:] if text.lower().startswith("geo:") else text
        return ("geo", tuple(part.strip() for part in text.replace(";", ",").split(",")))
    text = str(value).replace("\r\n", "\n").replace("\\:", ":").replace('\\"', '"')
    return ("text", text)


def params_of(line):
    params = {}
    for key, values in line.params.items():
        name = key.upper()
        if name in SPENT:
            continue
        if name == "VALUE" and line.name.upper() in BINARY:
            continue
        if name == "TYPE" and line.name.upper() in BINARY:
            continue  # the media type is the data's
        # TYPE="work,voice" is a list in quotes too (vobject keeps it one value).
        vals = {w.strip().upper() for v in values for w in str(v).split(",") if w.strip()}
        if not vals and name not in ("PREF",):
            vals, name = {name}, "TYPE"  # a bare word
        if name in ("QUOTED-PRINTABLE", "BASE64", "B", "8BIT"):
            continue
        params.setdefault(name, set()).update(vals)
    types = params.get("TYPE", set()) - {"QUOTED-PRINTABLE", "BASE64", "B", "8BIT"}
    if "PREF" in params:
        types.add("PREF")  # PREF=1 and TYPE=pref are the same
        del params["PREF"]
    types -= IMPLIED.get(line.name.upper(), set())
    if types:
        params["TYPE"] = types
    else:
        params.pop("TYPE", None)
    return frozenset((k, frozenset(v)) for k, v in params.items())


def occurrences(text):
    """(name, group, params, value) of every property vobject reads, per card."""
    cards = []
    try:
        for component in vobject.readComponents(text, allowQP=True, ignoreUnreadable=True):
            if component.name.upper() != "VCARD":
                continue
            props = []
            for line in component.lines():
                if line.name.upper() in ("VERSION", "BEGIN", "END"):
                    continue
                props.append((line.name.upper(), (line.group or "").lower(), params_of(line), value_of(line)))
            cards.append(props)
    except Exception as e:  # a file vobject cannot read at all is left out
        return None, str(e)
    return cards, None


VERBOSE = "--verbose" in sys.argv


def same_value(exported, original):
    if exported == original:
        return True
    # vobject cuts a 4.0 geo: URI at its comma: the part it kept must agree.
    return (exported[0] == original[0] == "geo" and len(original[1]) == 1
            and exported[1][:1] == original[1])


def covers(exported, original):
    """Same name, group and value, and every parameter the original had."""
    if exported[0] != original[0] or exported[1] != original[1] or not same_value(exported[3], original[3]):
        return False
    given = dict(exported[2])
    return all(name in given and values <= given[name] for name, values in original[2])


def data_uris_as_base64(text):
    """4.0 binary lines in the form vobject reads (it applies 3.0 rules)."""
    out = []
    for line in text.replace("\r\n ", "").split("\r\n"):
        head, sep, value = line.partition(":")
        name = head.split(";")[0].split(".")[-1].upper()
        if sep and name in BINARY and value.lower().startswith("data:") and ";base64," in value.lower():
            media = value[5:value.lower().index(";base64,")]
            data = value[value.lower().index(";base64,") + 8:]
            line = "%s;ENCODING=b;TYPE=%s:%s" % (head, media, data)
        out.append(line)
    return "\r\n".join(out)


def compare(original, exported, where=""):
    counts = {"exact": 0, "altered": 0, "lost": 0}
    pool = [p for card in exported for p in card]
    for card in original:
        for prop in card:
            match = next((p for p in pool if covers(p, prop)), None)
            if match is not None:
                pool.remove(match)
                counts["exact"] += 1
            elif any(p[0] == prop[0] for p in pool):
                counts["altered"] += 1
                if VERBOSE:
                    print("ALTERED %s %r\n    now %r" % (where, prop, [p for p in pool if p[0] == prop[0]][:2]))
            else:
                counts["lost"] += 1
                if VERBOSE:
                    print("LOST %s %r" % (where, prop))
    return counts


def main():
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
    files = []
    for d in dirs:
        for root, _, names in os.walk(d):
            for n in sorted(names):
                if n.lower().endswith(".vcf"):
                    files.append(os.path.join(root, n))
    service = Service(executable, tree)
    totals = {v: {"exact": 0, "altered": 0, "lost": 0} for v in ("3.0", "4.0")}
    unstable, read_files, failures = [], 0, []
    try:
        for path in sorted(files):
            raw = open(path, "rb").read()
            try:
                text = raw.decode("utf-8")
            except UnicodeDecodeError:
                continue  # vobject reads text; other encodings are the reader's own tests
            original, error = occurrences(text)
            if not original:
                continue
            status, body = service.replace_cards(raw)
            if status != 302:
                failures.append("%s: import answered %d %s" % (path, status, body[:200]))
                continue
            read_files += 1
            for version, target in (("3.0", "/pelorin/export3.vcf"), ("4.0", "/pelorin/export4.vcf")):
                status, exported = service.request("GET", target)
                readable = exported.decode("utf-8")
                cards, error = occurrences(data_uris_as_base64(readable) if version == "4.0" else readable)
                if cards is None:
                    failures.append("%s: vobject cannot read the %s export: %s" % (path, version, error))
                    continue
                for key, n in compare(original, cards, "%s %s" % (os.path.basename(path), version)).items():
                    totals[version][key] += n
                # Imported again and exported again, the export stays the same bytes.
                service.replace_cards(exported)
                _, again = service.request("GET", target)
                if again != exported:
                    unstable.append("%s (%s)" % (os.path.relpath(path), version))
                service.replace_cards(raw)
    finally:
        service.stop()

    print("| export | properties | exact or equivalent | altered | lost |")
    print("|---|---:|---:|---:|---:|")
    worst = 100.0
    for version, c in totals.items():
        total = sum(c.values()) or 1
        share = 100.0 * c["exact"] / total
        worst = min(worst, share)
        print("| %s | %d | %d (%.1f %%) | %d | %d |" % (version, total, c["exact"], share, c["altered"], c["lost"]))
    print("files read: %d; exports not byte-identical after import and export: %d" % (read_files, len(unstable)))
    for line in failures + ["unstable: " + u for u in unstable]:
        print(line)
    if worst < min_exact or failures or unstable:
        sys.exit(1)


if __name__ == "__main__":
    main()
