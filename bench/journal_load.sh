#!/usr/bin/env bash
# Changes per second through the pages (an insert form post each, as the
# card form sends it) with 1 and with 8 concurrent writers, with the journal
# and without it (pelorin_bench_server --no-journal), side by side in one run.
# Each run starts on a fresh first-run directory. Prints a Markdown table.
#
# Usage: bench/journal_load.sh [path/to/pelorin_bench_server] [seconds per run]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
server=${1:-build-bench/bench/pelorin_bench_server}
duration=${2:-10}
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

rate() {  # journal flag, connections
  local port dir
  port=$(free_port)
  dir="$work/app-$1-$2"
  install_app_copy "$dir" "$root/build/app/pelorind" "$port"
  "$server" "$dir" $1 >/dev/null 2>&1 &
  pid=$!
  wait_port "$port"
  local threads=$(( $2 < 2 ? $2 : 2 ))
  wrk -t"$threads" -c"$2" -d"${duration}s" -s "$work/insert.lua" "http://127.0.0.1:$port/pelorin/index.htm" \
    | awk '/Requests\/sec/ {print $2}'
  kill $pid; wait $pid 2>/dev/null || true
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "| writers | with the journal (changes/s) | without (changes/s) | ratio |"
echo "|---:|---:|---:|---:|"
for writers in 1 8; do
  with=$(rate "" "$writers")
  without=$(rate "--no-journal" "$writers")
  echo "| $writers | $with | $without | $(python3 -c "print(f'{$with/$without:.2f}')") |"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
