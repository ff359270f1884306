#!/usr/bin/env bash
# Changes per second through the pages (an insert form post each, as the
# card form sends it) with 1 and with 8 concurrent writers, with the journal
# and without it (pelorin_bench_server --no-journal), side by side in one run.
# Then one upload of N generated cards (default 50,000: a single journal entry
# of the whole upload) with and without the journal, three runs each, taken in
# turns. Each run starts on a fresh first-run directory. Prints Markdown tables.
#
# Usage: bench/journal_load.sh [path/to/pelorin_bench_server] [seconds per run] [cards uploaded]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
server=${1:-build-bench/bench/pelorin_bench_server}
duration=${2:-10}
cards=${3:-50000}
source bench/lib.sh
command -v wrk >/dev/null || { echo "wrk is missing: apt-get install wrk (scripts/bench-packages.txt)" >&2; exit 1; }

work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
cat > "$work/insert.lua" <<'LUA'
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
wrk.headers["Authorization"] = "Basic YWRtaW46YWRtaW4="
wrk.body = "Command=insert&Redirect=index.htm&XML=%3CvCard%3E%3CFN%3ELoad+Test%3C%2FFN%3E%3CTEL%3E%3CNUMBER%3E1%3C%2FNUMBER%3E%3C%2FTEL%3E%3C%2FvCard%3E"
LUA

start() {  # journal flag, run name; sets port and pid
  local dir="$work/app-$2"
  port=$(free_port)
  install_app_copy "$dir" "$root/build/app/pelorind" "$port"
  "$server" "$dir" $1 >/dev/null 2>&1 &
  pid=$!
  wait_port "$port"
}

rate() {  # journal flag, connections
  start "$1" "$1-$2"
  local threads=$(( $2 < 2 ? $2 : 2 ))
  wrk -t"$threads" -c"$2" -d"${duration}s" -s "$work/insert.lua" "http://127.0.0.1:$port/pelorin/index.htm" \
    | awk '/Requests\/sec/ {print $2}'
  kill $pid; wait $pid 2>/dev/null || true
}

python3 - "$work/upload.vcf" "$cards" <<'PY'
import sys
path, n = sys.argv[1], int(sys.argv[2])
with open(path, "w", encoding="utf-8", newline="") as out:
    out.write("vcfupload\r\n")
    for i in range(n):
        out.write("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Family%d;Given;;;\r\nFN:Given Family%d\r\n"
                  "ORG:Acme & Sons;Sales\r\nTEL;WORK;VOICE:+49 30 %d\r\nEMAIL;INTERNET:card%d@example.com\r\n"
                  "END:VCARD\r\n" % (i, i, 1000000 + i, i))
PY

upload_seconds() {  # journal flag, run number
  start "$1" "upload$1-$2"
  local result
  result=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' -H "Authorization: Basic YWRtaW46YWRtaW4=" \
    -H "Content-Type: text/x-vcard" --data-binary "@$work/upload.vcf" "http://127.0.0.1:$port/pelorin/import.htm")
  kill $pid; wait $pid 2>/dev/null || true
  [ "${result% *}" = 302 ] || { echo "the upload answered ${result% *}" >&2; exit 1; }
  echo "${result#* }"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| writers | with the journal (changes/s) | without (changes/s) | ratio |"
echo "|---:|---:|---:|---:|"
for writers in 1 8; do
  with=$(rate "" "$writers")
  without=$(rate "--no-journal" "$writers")
  echo "| $writers | $with | $without | $(python3 -c "print(f'{$with/$without:.2f}')") |"
done

echo
echo "| upload of $cards cards | run 1 (s) | run 2 (s) | run 3 (s) | median (s) |"
echo "|---|---:|---:|---:|---:|"
declare -a with_runs without_runs
for run in 1 2 3; do
  with_runs+=("$(upload_seconds "" "$run")")
  without_runs+=("$(upload_seconds "--no-journal" "$run")")
done
median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }
row() {  # label, three runs
  printf '| %s | %s | %s | %s | %s |\n' "$1" "$2" "$3" "$4" "$(median "$2" "$3" "$4")"
}
row "with the journal" "${with_runs[@]}"
row "without" "${without_runs[@]}"
echo "ratio of the medians: $(python3 -c "print(f'{$(median "${with_runs[@]}")/$(median "${without_runs[@]}"):.3f}')")"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
