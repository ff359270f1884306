#!/usr/bin/env bash
# Resident memory under a sustained page load. N generated cards (each with a
# UID, as cards from address programs carry one) are uploaded
# into one account of a fresh application directory; the service is stopped
# (it saves) and started again, so that it holds the store as loaded from its
# file; its RSS is read; then wrk sends a mix of what people ask for (list
# pages, a search, the three exports, the phone deck) at 32 connections for
# the given seconds, and the RSS is read again. Prints one Markdown row.
#
# Usage: bench/page_memory.sh [path/to/pelorind] [cards] [seconds]
# MALLOC_ARENA_MAX in the environment reaches the service (to compare).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
executable=${1:-build-bench/app/pelorind}
cards=${2:-10000}
duration=${3:-20}
command -v wrk >/dev/null || { echo "wrk is missing (scripts/bench-packages.txt)" >&2; exit 1; }
[ -x "$executable" ] || { echo "build pelorind first (see bench/README.md)" >&2; exit 1; }
. "$root/bench/lib.sh"

work=$(mktemp -d)
pid=""
stop() {
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
  fi
}
trap 'stop; rm -rf "$work"' EXIT
port=$(free_port)
install_app_copy "$work/app" "$executable" "$port"
auth="Authorization: Basic YWRtaW46YWRtaW4="

python3 - "$work/upload.vcf" "$cards" <<'PY'
import sys
path, n = sys.argv[1], int(sys.argv[2])
given = ["Anna", "Thomas", "J\u00fcrgen", "Sarah", "Zo\u00eb", "Peter", "Maria", "\u00c9lise"]
family = ["Smith", "M\u00fcller", "Johnson", "O'Brien", "Weber", "G\u00f3mez", "\u00c5berg", "Nakamura"]
with open(path, "w", encoding="utf-8", newline="") as out:
    out.write("vcfupload\r\n")
    for i in range(n):
        g, f = given[i % 8], family[(i * 7 // 8) % 8]
        out.write("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:urn:uuid:00000000-0000-4000-8000-%012d\r\n"
                  "N:%s%d;%s;;;\r\nFN:%s %s%d\r\nORG:Acme & Sons;Sales\r\n"
                  "TEL;TYPE=WORK,VOICE:+49 30 %d\r\nEMAIL;TYPE=INTERNET:card%d@example.com\r\n"
                  "ADR;TYPE=WORK:;;Hauptstr. %d;Berlin;;10115;Germany\r\nNOTE:Met at the fair.\r\nEND:VCARD\r\n"
                  % (i, f, i, g, g, f, i, 1000000 + i, i, i))
PY

start() {
  (cd "$work/app" && exec ./pelorind >/dev/null 2>&1) &
  pid=$!
  wait_port "$port"
}
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$pid/status"; }

start
status=$(curl -s -o /dev/null -w '%{http_code}' -H "$auth" -H "Content-Type: text/x-vcard" \
  --data-binary "@$work/upload.vcf" "http://127.0.0.1:$port/pelorin/import.htm")
[ "$status" = 302 ] || { echo "the upload answered $status" >&2; exit 1; }
stop
start
sleep 1
loaded=$(rss_kib)

pages=$(( (cards + 99) / 100 ))
cat > "$work/mix.lua" <<LUA
local paths = {}
for i = 1, 40 do paths[#paths + 1] = "/pelorin/index.htm?page=" .. ((i * 37) % $pages + 1) end
paths[#paths + 1] = "/pelorin/index.htm?q=card12"
paths[#paths + 1] = "/pelorin/index.htm?sort=org&page=2"
paths[#paths + 1] = "/pelorin/export3.vcf"
paths[#paths + 1] = "/pelorin/export4.vcf"
paths[#paths + 1] = "/pelorin/export.vcf"
paths[#paths + 1] = "/pelorin/index.wml"
local n = 0
request = function()
  n = n + 1
  return wrk.format("GET", paths[(n % #paths) + 1], { ["Authorization"] = "Basic YWRtaW46YWRtaW4=" })
end
LUA
requests=$(wrk -t2 -c32 -d"${duration}s" -s "$work/mix.lua" "http://127.0.0.1:$port/" | awk '/^Requests\/sec/ {print $2}')
# Requests wrk gave up on are still answered; the reading waits until the
# service has been idle for three seconds.
busy() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
last=$(busy); idle=0
while [ $idle -lt 3 ]; do
  sleep 1
  now=$(busy)
  if [ "$now" = "$last" ]; then idle=$((idle + 1)); else idle=0; fi
  last=$now
done
after=$(rss_kib)
# One more large answer, alone: the heap is trimmed after it, so this reading
# tells memory still in use from memory freed but not yet handed back.
curl -s -o /dev/null -H "$auth" "http://127.0.0.1:$port/pelorin/export3.vcf"
trimmed=$(rss_kib)
echo "after the load $((after / 1024)) MiB, after one more export alone $((trimmed / 1024)) MiB" >&2
awk -v c="$cards" -v l="$loaded" -v a="$after" -v r="$requests" -v m="${MALLOC_ARENA_MAX:-}" 'BEGIN {
  printf "| %d | %s | %.0f MiB | %.0f MiB | %.2f | %s |\n", c, (m == "" ? "default" : m), l / 1024, a / 1024, a / l, r }'
