#!/usr/bin/env bash
# Signed-in requests per second over HTTP with wrk (Connection: close, one
# request per connection, as every client gets here): the empty authenticated
# GET (a path with no page, 200 with an empty body) with the sign-in cache warm,
# beside an anchor server given as the second argument (a build from before
# passwords were hashed, which compared clear text); then the same GET over TLS
# (a self-signed certificate made here with openssl, a full handshake for every
# request) beside plain HTTP, from bench/tls_load.cpp. Runs alternate, two
# rounds each.
#
# Usage: bench/credentials_load.sh [pelorin_bench_server] [anchor pelorin_bench_server] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
server=${1:-build-bench/bench/pelorin_bench_server}
anchor=${2:-}
duration=${3:-10}
source bench/lib.sh
command -v wrk >/dev/null || { echo "wrk is missing (scripts/bench-packages.txt)" >&2; exit 1; }

work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null; rm -rf "$work"' EXIT
auth="Authorization: Basic $(printf 'admin:admin' | base64)"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 \
  -keyout "$work/key.pem" -out "$work/chain.pem" >/dev/null 2>&1

start() {  # server, run name, extra configuration; sets port, tls_port and pid
  local dir="$work/app-$2"
  port=$(free_port)
  tls_port=$(free_port)
  install_app_copy "$dir" "$root/build/app/pelorind" "$port"
  if [ -n "$3" ]; then
    sed -i "s|</xConfig>|<HttpsPort>$tls_port</HttpsPort><HttpsCertificateChain>$work/chain.pem</HttpsCertificateChain><HttpsPrivateKey>$work/key.pem</HttpsPrivateKey></xConfig>|" \
      "$dir/config/configinit.xml"
  fi
  "$1" "$dir" >/dev/null 2>&1 &
  pid=$!
  wait_port "$port"
}
stop() { kill $pid; wait $pid 2>/dev/null || true; pid=""; }
rate() {  # url
  wrk -t2 -c4 -d"${duration}s" -H "Connection: close" -H "$auth" "$1" | awk '/Requests\/sec/ {print $2}'
}
status() { curl -sk -o /dev/null -w '%{http_code}' -H "$auth" "$1"; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "$anchor" ]; then
  echo "| round | hashed, cache warm (req/s) | anchor, clear text (req/s) | ratio |"
  echo "|---:|---:|---:|---:|"
  for round in 1 2; do
    start "$server" "now-$round" ""
    [ "$(status "http://127.0.0.1:$port/x.txt")" = 200 ] || { echo "the sign-in failed" >&2; exit 1; }
    now=$(rate "http://127.0.0.1:$port/x.txt")
    stop
    start "$anchor" "anchor-$round" ""
    then=$(rate "http://127.0.0.1:$port/x.txt")
    stop
    echo "| $round | $now | $then | $(python3 -c "print(f'{$now/$then:.3f}')") |"
  done
  echo
fi
# TLS beside plain HTTP, both from pelorin_tls_load (wrk takes TLS's close_notify
# for a read error, and these answers end where the connection ends).
tls_load=${TLS_LOAD:-build-bench/bench/pelorin_tls_load}
echo "| round | HTTPS (req/s) | plain HTTP (req/s), same server and client | ratio |"
echo "|---:|---:|---:|---:|"
for round in 1 2; do
  start "$server" "tls-$round" tls
  wait_port "$tls_port"
  [ "$(status "https://127.0.0.1:$tls_port/x.txt")" = 200 ] || { echo "the HTTPS sign-in failed" >&2; exit 1; }
  secure=$("$tls_load" "$tls_port" tls "$duration" 4 "${auth#Authorization: }" | cut -d' ' -f1)
  plain=$("$tls_load" "$port" plain "$duration" 4 "${auth#Authorization: }" | cut -d' ' -f1)
  stop
  echo "| $round | $secure | $plain | $(python3 -c "print(f'{$secure/$plain:.3f}')") |"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
