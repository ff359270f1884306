#!/usr/bin/env python3
"""Photos in a large store: memory and the listing page.

Generates two card stores of 10,000 cards (ten users, 1,000 each): one plain, one
where every tenth card carries a 50 KB JPEG-sized photo (68 KB of base64). For each
it starts pelorin_bench_server, fetches user3's listing page (index.htm) and the
3.0 export 30 times each, and reports the median times, the server's resident
memory after loading, after the listings and after the exports, and the store
file's size. user3 owns the cards with photos, so the export carries 1,000. Photos are
never parsed or copied per page, so the listing should take as long with them as
without, and the process should stay under twice the store file.

Usage: bench/photo_store.py [path/to/pelorin_bench_server]
"""
import base64
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SERVER = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build-bench", "bench", "pelorin_bench_server")
CARDS, PHOTO_BYTES = 10000, 50 * 1024


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def store(with_photos):
    rng = random.Random(20261209)
    photo = base64.b64encode(bytes(rng.getrandbits(8) for _ in range(PHOTO_BYTES))).decode()
    out = ['<?xml version="1.0" encoding="UTF-8"?>\r\n<xBase>']
    for i in range(CARDS):
        picture = ""
        if with_photos and i % 10 == 3:
            picture = "<PHOTO><TYPE>image/jpeg</TYPE><BINVAL>%s</BINVAL></PHOTO>" % photo
        out.append("\r\n  <vCard><N><FAMILY>Family%d</FAMILY><GIVEN>Given</GIVEN></N><FN>Given Family%d</FN>"
                   "<TEL><NUMBER>+49 30 %d</NUMBER><WORK/><VOICE/></TEL>%s<OWNER>user%d</OWNER><ID>%d</ID>"
                   "<UID>urn:uuid:%032x</UID></vCard>" % (i, i, 1000000 + i, picture, i % 10, 1000 + i, i))
    out.append("\r\n</xBase>")
    return "".join(out)


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def measure(with_photos):
    app = tempfile.mkdtemp(prefix="pelorin-photos-")
    try:
        shutil.copytree(os.path.join(ROOT, "app"), app, dirs_exist_ok=True)
        port = free_port()
        with open(os.path.join(app, "config", "config.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xConfig><ServiceProviderPort>%d'
                    '</ServiceProviderPort></xConfig>' % port)
        with open(os.path.join(app, "user", "user.xml"), "w") as f:
            f.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xUser>%s</xUser>' % "".join(
                "<User><USER>user%d</USER><PASSWORD>pw</PASSWORD><NAME>U</NAME></User>" % i for i in range(10)))
        path = os.path.join(app, "pelorin", "base.xml")
        with open(path, "w", newline="") as f:
            f.write(store(with_photos))
        size_kb = os.path.getsize(path) // 1024
        server = subprocess.Popen([SERVER, app], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(600):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        loaded = rss_kb(server.pid)
        auth = "Basic " + base64.b64encode(b"user3:pw").decode()
        times, rss = {}, {}
        for page in ("index.htm", "export3.vcf"):
            samples = []
            for _ in range(30):
                req = urllib.request.Request("http://127.0.0.1:%d/pelorin/%s" % (port, page),
                                             headers={"Authorization": auth})
                start = time.perf_counter()
                with urllib.request.urlopen(req, timeout=60) as answer:
                    answer.read()
                samples.append(time.perf_counter() - start)
            times[page] = statistics.median(samples) * 1e3
            rss[page] = rss_kb(server.pid)
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=120)
        return size_kb, loaded, rss, times
    finally:
        shutil.rmtree(app, ignore_errors=True)


def main():
    print("| store | file (KB) | RSS loaded | RSS after 30 listings | RSS after 30 exports | listing (ms) | 3.0 export of user3's 1,000 cards (ms) |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for with_photos in (False, True):
        size, loaded, rss, times = measure(with_photos)
        print("| %s | %d | %d KB (%.2f x) | %d KB (%.2f x) | %d KB (%.2f x) | %.1f | %.1f |" % (
            "every tenth card (user3's) with a 50 KB photo" if with_photos else "no photos",
            size, loaded, loaded / size, rss["index.htm"], rss["index.htm"] / size, rss["export3.vcf"],
            rss["export3.vcf"] / size, times["index.htm"], times["export3.vcf"]))


if __name__ == "__main__":
    main()
