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
adds to a card without them are not counted against it. N and ADR compare as
their components' texts (the record keeps a component's text, not whether its
commas were a list); control characters XML cannot hold (U+0001 to U+001F but
tab and line breaks) are not in any store; a media type is the data's (TYPE in
3.0, MEDIATYPE in 4.0). vobject reads every card by 3.0 rules, so an original
2.1 card has its backslashes and commas escaped before vobject reads it (a
2.1 backslash escapes only ";"), and vobject's own misreadings are counted
apart, in "vobject cut the original": a text it cut at a comma the writer left
unescaped, binary data it stopped reading at a wrong wrap, while the export
holds all of it.

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


# C0 controls other than tab and line breaks: XML 1.0 cannot hold them, so a
# store cannot either (a Symbian address separates its parts with U+0006).
NOT_IN_XML = dict.fromkeys(c for c in range(32) if c not in (9, 10, 13))


def structured(value, fields):
    """N and ADR as their components, list items joined by a comma: the record
    keeps a component's text, not whether its commas were a list."""
    parts = []
    for field in fields:
        part = getattr(value, field, "")
        parts.append(",".join(part) if isinstance(part, list) else str(part))
    return ";".join(parts)


def value_of(line):
    value = line.value
    name = line.name.upper()
    if name == "N" and hasattr(value, "family"):
        value = structured(value, ("family", "given", "additional", "prefix", "suffix"))
    elif name == "ADR" and hasattr(value, "street"):
        value = structured(value, ("box", "extended", "street", "city", "region", "code", "country"))
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
    text = str(value).replace("\r\n", "\n").replace("\r", "\n").replace("\\:", ":").replace('\\"', '"')
    return ("text", text.translate(NOT_IN_XML))


def params_of(line):
    params = {}
    for key, values in line.params.items():
        name = key.upper()
        if name in SPENT:
            continue
        if name == "VALUE" and line.name.upper() in BINARY:
            continue
        if name in ("TYPE", "MEDIATYPE") and line.name.upper() in BINARY:
            continue  # the media type is the data's (3.0 says TYPE, 4.0 MEDIATYPE)
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


def binary_bytes(value):
    """A binary value as its bytes, also when vobject left 2.1 base64 as text."""
    if value[0] == "bytes":
        return value[1]
    try:
        return base64.b64decode(value[1], validate=False)
    except ValueError:
        return None


def same_value(exported, original):
    if exported == original:
        return True
    if exported[0] == "bytes" and original[0] in ("bytes", "text"):
        return binary_bytes(original) == exported[1]
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
    """4.0 lines in the form vobject reads (it applies 3.0 rules): binary data
    in data: URIs as base64, and the comma of a geo: URI escaped (vobject cuts
    values at commas)."""
    out = []
    for line in text.replace("\r\n ", "").replace("\n ", "").replace("\r\n", "\n").split("\n"):
        head, sep, value = line.partition(":")
        name = head.split(";")[0].split(".")[-1].upper()
        if sep and name in BINARY and value.lower().startswith("data:") and ";base64," in value.lower():
            media = value[5:value.lower().index(";base64,")]
            data = value[value.lower().index(";base64,") + 8:]
            line = "%s;ENCODING=b;TYPE=%s:%s" % (head, media, data)
        elif sep and name == "GEO" and value.lower().startswith("geo:"):
            line = "%s:%s" % (head, value.replace(",", "\\,"))
        out.append(line)
    return "\r\n".join(out)


def card_versions(text):
    """The VERSION of each card of a text, in order."""
    versions, current = [], None
    for line in text.replace("\r\n", "\n").split("\n"):
        upper = line.strip().upper()
        if upper == "BEGIN:VCARD":
            current = ""
        elif upper.startswith("VERSION:") and current == "":
            current = upper[8:].strip()
        elif upper == "END:VCARD" and current is not None:
            versions.append(current)
            current = None
    return versions


def as_vobject_reads(text):
    """An original in the form vobject reads as its writer meant it: vobject
    applies 3.0 rules to every card, so in 2.1 cards (where a backslash only
    escapes ";" and a comma is text) backslashes and commas are escaped first;
    4.0 cards get the rewrite of data_uris_as_base64."""
    versions = card_versions(text)
    if versions and all(v.startswith("4") for v in versions):
        return data_uris_as_base64(text)
    if not any(v.startswith("2") for v in versions):
        return text
    out, in_21 = [], False
    for line in text.replace("\r\n", "\n").split("\n"):
        upper = line.strip().upper()
        if upper == "BEGIN:VCARD" or upper == "END:VCARD":
            in_21 = upper == "BEGIN:VCARD" and in_21
            out.append(line)
            continue
        if upper.startswith("VERSION:"):
            in_21 = upper[8:].strip().startswith("2")
            out.append(line)
            continue
        if in_21:
            head, sep, value = line.partition(":")
            starts_property = sep and all(c.isalnum() or c in "-_." for c in head.split(";")[0]) and head[:1].strip()
            if not starts_property:
                head, sep, value = "", "", line
            lists = head.split(";")[0].split(".")[-1].upper() in ("NICKNAME", "CATEGORIES")
            escaped = ""
            for i, c in enumerate(value):
                if c == "\\" and value[i + 1:i + 2] != ";":
                    escaped += "\\\\"
                elif c == "," and not lists:  # NICKNAME and CATEGORIES are lists in every version
                    escaped += "\\,"
                else:
                    escaped += c
            line = head + sep + escaped
        out.append(line)
    return "\r\n".join(out)


def cut_short(exported, original):
    """Whether vobject cut the original short where the export goes on: at a
    comma that a 3.0 or 4.0 writer left unescaped in a text value, or in
    binary data at a wrong line wrap (the export then holds the whole data)."""
    e, o = exported[3], original[3]
    if exported[0] != original[0] or exported[1] != original[1] or e[0] != o[0]:
        return False
    if e[0] == "text":
        return len(e[1]) > len(o[1]) and e[1].startswith(o[1]) and e[1][len(o[1])] == ","
    return e[0] == "bytes" and len(o[1]) > 0 and len(e[1]) > len(o[1]) and e[1].startswith(o[1])


def compare(original, exported, where="", misses=None):
    """Counts of the original's property occurrences by how the export holds
    them; each altered or lost one is also added to `misses`, when given, as
    (kind, occurrence)."""
    counts = {"exact": 0, "cut": 0, "altered": 0, "lost": 0}
    pool = [p for card in exported for p in card]
    for card in original:
        for prop in card:
            match = next((p for p in pool if covers(p, prop)), None)
            cut = None if match is not None else next((p for p in pool if cut_short(p, prop)), None)
            if match is not None:
                pool.remove(match)
                counts["exact"] += 1
            elif cut is not None:
                pool.remove(cut)
                counts["cut"] += 1
            elif any(p[0] == prop[0] for p in pool):
                counts["altered"] += 1
                if misses is not None:
                    misses.append(("altered", prop))
                if VERBOSE:
                    print("ALTERED %s %r\n    now %r" % (where, prop, [p for p in pool if p[0] == prop[0]][:2]))
            else:
                counts["lost"] += 1
                if misses is not None:
                    misses.append(("lost", prop))
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
    totals = {v: {"exact": 0, "cut": 0, "altered": 0, "lost": 0} for v in ("3.0", "4.0")}
    unstable, read_files, failures = [], 0, []
    try:
        for path in sorted(files):
            raw = open(path, "rb").read()
            try:
                text = raw.decode("utf-8")
            except UnicodeDecodeError:
                continue  # vobject reads text; other encodings are the reader's own tests
            original, error = occurrences(as_vobject_reads(text))
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

    print("| export | properties | exact or equivalent | of which vobject cut the original | altered | lost |")
    print("|---|---:|---:|---:|---:|---:|")
    worst = 100.0
    for version, c in totals.items():
        total = sum(c.values()) or 1
        kept = c["exact"] + c["cut"]
        share = 100.0 * kept / total
        worst = min(worst, share)
        print("| %s | %d | %d (%.2f %%) | %d | %d | %d |" % (version, total, kept, share, c["cut"], c["altered"],
                                                           c["lost"]))
    print("files read: %d; exports not byte-identical after import and export: %d" % (read_files, len(unstable)))
    for line in failures + ["unstable: " + u for u in unstable]:
        print(line)
    if worst < min_exact or failures or unstable:
        sys.exit(1)


if __name__ == "__main__":
    main()
