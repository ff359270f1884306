#!/usr/bin/env bash
# Load test of the running service with wrk: requests per second for an
# authenticated GET that ends without a route (an empty 200) and for the 401
# challenge, at 1, 4 and 64 connections, each connection closed after its
# request. nginx serving a small static file with the same client settings runs
# in the same session as the yardstick. Prints a Markdown table.
#
# Usage: bench/http_load.sh [path/to/pelorind] [seconds per run]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
executable=${1:-build/app/pelorind}
duration=${2:-10}

# Installs the bench packages that are missing (nginx-light, wrk).
mapfile -t wanted < <(grep -v -E '^\s*(#|$)' scripts/bench-packages.txt)
missing=()
for pkg in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
fi
if [ ! -x "$executable" ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target pelorind
  executable=build/app/pelorind
fi

work=$(mktemp -d)
chmod 755 "$work"  # nginx workers run as another user and must reach the page
pelorin_pid=""
nginx_pid=""
cleanup() {
  [ -n "$pelorin_pid" ] && kill "$pelorin_pid" 2>/dev/null && wait "$pelorin_pid" 2>/dev/null || true
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$root/bench/lib.sh"

# The service: its own application directory with the installed first-run stores.
pelorin_port=$(free_port)
install_app_copy "$work/app" "$executable" "$pelorin_port"
"$work/app/pelorind" &
pelorin_pid=$!
wait_port "$pelorin_port"

# nginx from a configuration of its own on loopback, serving a small file.
nginx_port=$(free_port)
mkdir -p "$work/nginx/html" "$work/nginx/logs"
printf 'Pelorin bench page\n' > "$work/nginx/html/small.txt"
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes auto;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/nginx/html;
  }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!
wait_port "$nginx_port"

auth="Authorization: Basic $(printf 'admin:admin' | base64)"
# The two requests measured must be answered as intended.
check() {  # expected status, curl arguments...
  local want=$1; shift
  local got
  got=$(curl -s -o /dev/null -w '%{http_code}' "$@")
  [ "$got" = "$want" ] || { echo "expected $want, got $got for $*" >&2; exit 1; }
}
check 200 -H "$auth" "http://127.0.0.1:$pelorin_port/pelorin/list"
check 401 "http://127.0.0.1:$pelorin_port/pelorin/list"
check 200 "http://127.0.0.1:$nginx_port/small.txt"
rps() {  # connections, url, extra header lines...
  local connections=$1 url=$2; shift 2
  local threads=$(( connections < 2 ? connections : 2 ))
  local headers=(-H "Connection: close")
  for h in "$@"; do headers+=(-H "$h"); done
  wrk -t "$threads" -c "$connections" -d "${duration}s" "${headers[@]}" "$url" |
    awk '/Requests\/sec/ { printf "%.0f", $2 }'
}

echo "| connections | Pelorin GET (empty 200) | Pelorin 401 challenge | nginx static file | GET / nginx | 401 / nginx |"
echo "|---:|---:|---:|---:|---:|---:|"
for c in 1 4 64; do
  get=$(rps "$c" "http://127.0.0.1:$pelorin_port/pelorin/list" "$auth")
  challenge=$(rps "$c" "http://127.0.0.1:$pelorin_port/pelorin/list")
  static=$(rps "$c" "http://127.0.0.1:$nginx_port/small.txt")
  awk -v c="$c" -v g="$get" -v a="$challenge" -v s="$static" \
    'BEGIN { printf "| %d | %d | %d | %d | %.2f | %.2f |\n", c, g, a, s, g / s, a / s }'
done
kill -TERM "$pelorin_pid"
wait "$pelorin_pid" && echo "pelorind stopped with exit code 0" || echo "pelorind stopped with exit code $?"
pelorin_pid=""
