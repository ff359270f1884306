#!/usr/bin/env bash
# The export of one user's cards over HTTP, the way a peer's GET of a whole
# address book is measured: a store of N cards for ten users (user0..user9,
# password "pw", card i owned by user(i mod 10)) in a fresh application
# directory, and wrk asking for user3's export (.vcf as vCard 2.1 through its
# stylesheet, export3.vcf and export4.vcf from the kept texts) at 1 and 4
# connections. Prints one Markdown row per export and connection count.
#
# Usage: bench/export_load.sh [path/to/pelorind] [cards in the store] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
executable=${1:-build-bench/app/pelorind}
cards=${2:-10000}
duration=${3:-10}
command -v wrk >/dev/null || { echo "wrk is missing (scripts/bench-packages.txt)" >&2; exit 1; }
[ -x "$executable" ] || { echo "build pelorind first (see bench/README.md)" >&2; exit 1; }
. "$root/bench/lib.sh"

work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
port=$(free_port)
install_app_copy "$work/app" "$executable" "$port"

python3 - "$work/app" "$cards" <<'PY'
import sys
app, n = sys.argv[1], int(sys.argv[2])
given = ["Anna", "Thomas", "J\u00fcrgen", "Sarah", "Zo\u00eb", "Peter", "Maria"]
family = ["Smith", "M\u00fcller", "Johnson", "O'Brien", "Weber", "G\u00f3mez"]
with open(app + "/user/user.xml", "w", encoding="utf-8") as out:
    out.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xUser>')
    for u in range(10):
        out.write("<User><USER>user%d</USER><PASSWORD>pw</PASSWORD><NAME>User %d</NAME></User>" % (u, u))
    out.write("</xUser>")
with open(app + "/pelorin/base.xml", "w", encoding="utf-8", newline="") as out:
    out.write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xBase>')
    for i in range(n):
        g, f = given[i % 7], family[(i // 7) % 6].replace("'", "&apos;")
        out.write("<vCard><N><FAMILY>%s</FAMILY><GIVEN>%s</GIVEN></N><FN>%s %s</FN>"
                  "<ORG><ORGNAME>Acme &amp; Sons</ORGNAME><ORGUNIT>Sales</ORGUNIT></ORG>"
                  "<TEL><NUMBER>+49 30 %d</NUMBER><WORK/><VOICE/></TEL>"
                  "<EMAIL><USERID>card%d@example.com</USERID><INTERNET/></EMAIL>"
                  "<ADR><WORK/><STREET>Hauptstr. %d</STREET><LOCALITY>Berlin</LOCALITY><PCODE>10115</PCODE></ADR>"
                  "<UID>urn:uuid:00000000-0000-4000-8000-%012d</UID><OWNER>user%d</OWNER><ID>%d</ID></vCard>"
                  % (f, g, g, f, 1000000 + i, i, i, i, i % 10, 45000000000000 + 11574 * i))
    out.write("</xBase>")
PY

(cd "$work/app" && exec ./pelorind >/dev/null 2>&1) &
pid=$!
wait_port "$port"
auth="Authorization: Basic $(printf 'user3:pw' | base64)"
for page in export.vcf export3.vcf export4.vcf; do
  bytes=$(curl -s -H "$auth" "http://127.0.0.1:$port/pelorin/$page" | wc -c)  # also the first, untimed export
  for connections in 1 4; do
    rate=$(wrk -t1 -c"$connections" -d"${duration}s" -H "$auth" -H "Connection: close" \
      "http://127.0.0.1:$port/pelorin/$page" | awk '/^Requests\/sec/ {print $2}')
    echo "| $page | $cards | $((cards / 10)) | $bytes | $connections | $rate |"
  done
done
