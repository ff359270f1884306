#!/usr/bin/env bash
# Slow clients beside normal ones. The service runs from a temporary copy of the
# installed tree (as in http_load.sh); wrk measures an authenticated GET
# (`GET /pelorin/list` with the administrator's credentials, each request on a
# connection of its own) first alone, then while bench/slow_clients.py holds N
# connections that each send a valid request one byte per second. Reported per run:
# wrk's latency percentiles and requests per second, its socket errors, the
# server's peak RSS (VmHWM, reset before each run) and thread count, and how the
# slow connections ended (closed by the server within the read time-out, shed
# earlier to make room, or still open).
#
# Usage: bench/slow_load.sh [path/to/pelorind] [wrk seconds] [slow counts] [descriptor limit]
#   slow counts: comma-separated, default 1000,2000
#   descriptor limit: "soft" (default) starts the server with a soft limit of 1024
#   below the usual hard one, as a service manager does; a number N sets soft and
#   hard to N, which makes the connection cap N - 128 and shows the shedding.
# WRK_PATH (default /pelorin/list, an empty answer) names what wrk asks for, such as
# /pelorin/index.htm for a rendered page of the first-run (empty) store.
# WRK_CONNECTIONS (default 16) sets wrk's connection count; HOLD=1 makes the slow
# clients replace every connection the server closes while wrk runs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
executable=${1:-build/app/pelorind}
duration=${2:-10}
counts=${3:-1000,2000}
descriptors=${4:-soft}
wrk_connections=${WRK_CONNECTIONS:-16}
hold=${HOLD:-0}
command -v wrk >/dev/null || { echo "wrk is missing (scripts/bench-packages.txt)" >&2; exit 1; }
[ -x "$executable" ] || { echo "build pelorind first (see bench/README.md)" >&2; exit 1; }

work=$(mktemp -d)
server_pid=""
slow_pid=""
cleanup() {
  [ -n "$slow_pid" ] && kill "$slow_pid" 2>/dev/null || true
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$root/bench/lib.sh"

port=$(free_port)
install_app_copy "$work/app" "$executable" "$port"
if [ "$descriptors" = soft ]; then
  (ulimit -Sn 1024; exec "$work/app/pelorind") &
else
  (ulimit -n "$descriptors"; exec "$work/app/pelorind") &
fi
server_pid=$!
wait_port "$port"
open_files=$(awk '/^Max open files/ { print $4 " soft / " $5 " hard" }' "/proc/$server_pid/limits")
echo "server pid $server_pid, descriptor limit after activation: $open_files"
echo "server at rest: $(grep -E '^(VmRSS|Threads)' "/proc/$server_pid/status" | tr -s '\t ' ' ' | paste -sd,)"

auth="Authorization: Basic $(printf 'admin:admin' | base64)"
url="http://127.0.0.1:$port${WRK_PATH:-/pelorin/list}"
got=$(curl -s -o /dev/null -w '%{http_code}' -H "$auth" "$url")
[ "$got" = 200 ] || { echo "expected 200, got $got for $url" >&2; exit 1; }

# Peak thread count while a run lasts; VmHWM is reset before it (clear_refs 5).
watch_threads() {
  local peak=0 n
  while kill -0 "$server_pid" 2>/dev/null && [ ! -e "$work/stop-watch" ]; do
    n=$(awk '/^Threads/ { print $2 }' "/proc/$server_pid/status" 2>/dev/null || echo 0)
    [ "${n:-0}" -gt "$peak" ] && peak=$n
    sleep 0.2
  done
  echo "$peak" > "$work/threads"
}

run_wrk() {  # label
  local label=$1 threads=$(( wrk_connections < 2 ? wrk_connections : 2 ))
  wrk --latency -t "$threads" -c "$wrk_connections" -d "${duration}s" -H "Connection: close" -H "$auth" "$url" \
    > "$work/wrk-$label.txt"
  awk -v label="$label" '
    /^ +50%/ { p50 = $2 } /^ +90%/ { p90 = $2 } /^ +99%/ { p99 = $2 }
    /requests in/ { done = $1 }
    /Requests\/sec/ { rps = $2 }
    /Socket errors/ { errors = $0; sub(/^ *Socket errors: */, "", errors) }
    /Non-2xx/ { non2xx = $NF }
    END {
      if (done == 0) p50 = p90 = p99 = "no response"
      printf "%s|%s|%s|%s|%s|%.0f|%s|%s\n", label, done, p50, p90, p99, rps, (errors == "" ? "none" : errors), (non2xx == "" ? 0 : non2xx)
    }
  ' "$work/wrk-$label.txt"
}

measure() {  # slow connection count (0 for none)
  local n=$1 line slow_report=""
  echo 5 > "/proc/$server_pid/clear_refs"
  rm -f "$work/stop-watch" "$work/ready"
  watch_threads &
  local watch_pid=$!
  if [ "$n" -gt 0 ]; then
    local hold_seconds=0
    [ "$hold" = 1 ] && hold_seconds=$(( duration + 3 ))
    python3 "$root/bench/slow_clients.py" "$port" "$n" --hold "$hold_seconds" --wait 45 \
      --ready-file "$work/ready" > "$work/slow-$n.json" &
    slow_pid=$!
    for _ in $(seq 1 600); do [ -e "$work/ready" ] && break; sleep 0.1; done
    sleep 1
  fi
  line=$(run_wrk "slow$n")
  local hwm
  hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$server_pid/status")
  if [ "$n" -gt 0 ]; then
    wait "$slow_pid"
    slow_pid=""
    slow_report=$(cat "$work/slow-$n.json")
  fi
  touch "$work/stop-watch"
  wait "$watch_pid"
  local peak_threads
  peak_threads=$(cat "$work/threads")
  IFS='|' read -r _ done p50 p90 p99 rps errors non2xx <<< "$line"
  echo "| $n | $done | $p50 | $p90 | $p99 | $rps | $errors | $non2xx | $(awk -v k="$hwm" 'BEGIN { printf "%.1f MiB", k / 1024 }') | $peak_threads |" >> "$work/table"
  [ -n "$slow_report" ] && echo "slow clients ($n): $slow_report" >> "$work/slow-reports"
  return 0
}

echo "| slow connections | responses | p50 | p90 | p99 | requests/s | wrk socket errors | non-2xx | peak RSS | peak threads |" > "$work/table"
echo "|---:|---:|---:|---:|---:|---:|---|---:|---:|---:|" >> "$work/table"
: > "$work/slow-reports"
measure 0
for n in ${counts//,/ }; do measure "$n"; done
cat "$work/table"
echo
cat "$work/slow-reports"
kill -TERM "$server_pid"
wait "$server_pid" && echo "pelorind stopped with exit code 0" || echo "pelorind stopped with exit code $?"
server_pid=""
