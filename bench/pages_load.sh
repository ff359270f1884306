#!/usr/bin/env bash
# Rendered pages and uploads over HTTP. A 1,000-card store (100 cards per user,
# ten users) is generated into a copy of the installed tree; pelorin_bench_server
# serves it with the stylesheet cache on, then off, and wrk measures the listing
# page and the .vcf export for one user at 1 and 4 connections, each request on a
# connection of its own. Then uploads of generated cards (default 1,000, 10,000
# and 50,000) are posted with curl to a fresh empty store each: seconds and
# cards per second. Prints Markdown tables.
#
# Usage: bench/pages_load.sh [path/to/pelorin_bench_server] [seconds per run] [upload sizes]
# STORE=path/to/base.xml renders that card store instead of the generated one (its
# cards must be owned by user0..user9); UPLOAD_DIR=dir posts dir/cards-N.vcf instead
# of the generated uploads.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
server=${1:-build-bench/bench/pelorin_bench_server}
duration=${2:-10}
sizes=${3:-1000,10000,50000}
command -v wrk >/dev/null || { echo "wrk is missing (scripts/bench-packages.txt)" >&2; exit 1; }
[ -x "$server" ] || { echo "build pelorin_bench_server first (see bench/README.md)" >&2; exit 1; }

work=$(mktemp -d)
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then
    kill -TERM "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=""
  fi
}
cleanup() { stop_server; rm -rf "$work"; }
trap cleanup EXIT

. "$root/bench/lib.sh"

# Stores and uploads, deterministic: card i belongs to user(i mod 10).
python3 - "$work" "$sizes" <<'PY'
import sys
work, sizes = sys.argv[1], [int(s) for s in sys.argv[2].split(",")]
given = ["Anna", "Thomas", "J\u00fcrgen", "Sarah", "Zo\u00eb", "Peter", "Maria"]
family = ["Smith", "M\u00fcller", "Johnson", "O'Brien", "Weber", "G\u00f3mez"]
def store(n):
    out = ['\ufeff<?xml version="1.0" encoding="UTF-8"?>\r\n<xBase>']
    for i in range(n):
        g, f = given[i % 7], family[(i // 7) % 6]
        out.append(
            "\r\n  <vCard>\r\n    <VERSION>2.1</VERSION>\r\n    <N>\r\n      <FAMILY>%s</FAMILY>\r\n"
            "      <GIVEN>%s</GIVEN>\r\n    </N>\r\n    <FN>%s %s</FN>\r\n    <ORG>\r\n"
            "      <ORGNAME>Acme &amp; Sons</ORGNAME>\r\n      <ORGUNIT>Sales</ORGUNIT>\r\n    </ORG>\r\n"
            "    <TEL>\r\n      <NUMBER>+49 30 %d</NUMBER>\r\n      <WORK/>\r\n      <VOICE/>\r\n    </TEL>\r\n"
            "    <EMAIL>\r\n      <USERID>card%d@example.com</USERID>\r\n      <INTERNET/>\r\n    </EMAIL>\r\n"
            "    <OWNER>user%d</OWNER>\r\n    <ID>%d</ID>\r\n  </vCard>"
            % (f.replace("'", "&apos;"), g, g, f.replace("'", "&apos;"), 1000000 + i, i, i % 10,
               45000000000000 + 11574 * i))
    out.append("\r\n</xBase>")
    return "".join(out)
def upload(n):
    out = []
    for i in range(n):
        g, f = given[i % 7], family[(i // 7) % 6]
        out.append("BEGIN:VCARD\r\nVERSION:2.1\r\nN:%s;%s;;;\r\nFN:%s %s\r\nORG:Acme & Sons;Sales\r\n"
                   "TEL;WORK;VOICE:+49 30 %d\r\nEMAIL;INTERNET:card%d@example.com\r\nEND:VCARD\r\n"
                   % (f, g, g, f, 1000000 + i, i))
    return "".join(out)
open(work + "/base-1000.xml", "w", encoding="utf-8", newline="").write(store(1000))
users = "".join("<User><USER>user%d</USER><PASSWORD>pw</PASSWORD><NAME>User %d</NAME></User>" % (i, i)
                for i in range(10))
open(work + "/user.xml", "w", newline="").write('<?xml version="1.0" encoding="UTF-8"?>\r\n<xUser>%s</xUser>' % users)
for n in sizes:
    open(work + "/upload-%d.vcf" % n, "w", encoding="utf-8", newline="").write("vcfupload\r\n" + upload(n))
PY

# A fresh application directory with the given card store; starts the server.
start_server() {  # store file, extra server arguments...
  local store=$1; shift
  port=$(free_port)
  rm -rf "$work/app"
  mkdir -p "$work/app"
  cp -r "$root/app/." "$work/app/"
  cp "$store" "$work/app/pelorin/base.xml"
  cp "$work/user.xml" "$work/app/user/user.xml"
  printf '<?xml version="1.0" encoding="UTF-8"?>\r\n<xConfig><ServiceProviderPort>%s</ServiceProviderPort></xConfig>' \
    "$port" > "$work/app/config/config.xml"
  "$server" "$work/app" "$@" >/dev/null &
  server_pid=$!
  wait_port "$port"
}

auth="Authorization: Basic $(printf 'user3:pw' | base64)"
check() {  # url: must answer 200 with a body
  local got
  got=$(curl -s -o "$work/page" -w '%{http_code}' -H "$auth" "$1")
  [ "$got" = 200 ] && [ -s "$work/page" ] || { echo "expected 200 with a body, got $got for $1" >&2; exit 1; }
}
rps() {  # connections, url
  local threads=$(( $1 < 2 ? $1 : 2 ))
  wrk -t "$threads" -c "$1" -d "${duration}s" -H "Connection: close" -H "$auth" "$2" |
    awk '/Requests\/sec/ { printf "%.1f", $2 }'
}

echo "| page | stylesheet cache | 1 connection (req/s) | 4 connections (req/s) |"
echo "|---|---|---:|---:|"
for cache in on off; do
  args=()
  [ "$cache" = off ] && args=(--no-stylesheet-cache)
  start_server "${STORE:-$work/base-1000.xml}" "${args[@]}"
  for page in index.htm export.vcf; do
    url="http://127.0.0.1:$port/pelorin/$page"
    check "$url"
    echo "| $page | $cache | $(rps 1 "$url") | $(rps 4 "$url") |"
  done
  stop_server
done

echo
echo "| cards uploaded | seconds | cards/s |"
echo "|---:|---:|---:|"
printf '<?xml version="1.0" encoding="UTF-8"?>\r\n<xBase/>' > "$work/empty.xml"
for n in ${sizes//,/ }; do
  start_server "$work/empty.xml"
  upload="$work/upload-$n.vcf"
  if [ -n "${UPLOAD_DIR:-}" ]; then
    { printf 'vcfupload\r\n'; cat "$UPLOAD_DIR/cards-$n.vcf"; } > "$work/given-$n.vcf"
    upload="$work/given-$n.vcf"
  fi
  result=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' -H "$auth" \
    -H "Content-Type: text/x-vcard" --data-binary "@$upload" \
    "http://127.0.0.1:$port/pelorin/import.htm")
  status=${result% *}
  seconds=${result#* }
  [ "$status" = 302 ] || { echo "upload of $n cards answered $status" >&2; exit 1; }
  awk -v n="$n" -v s="$seconds" 'BEGIN { printf "| %d | %.2f | %.0f |\n", n, s, n / s }'
  stop_server
done
