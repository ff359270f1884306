#!/usr/bin/env bash
# A CardDAV book of N cards for the sync benchmarks: starts pelorind from a
# fresh copy of the installed tree (first-run stores, a free loopback port),
# uploads a .vcf file through the import page as the first-run administrator
# (admin/admin), checks that the book lists every card, then runs the command
# given with the book's URL as its last argument and stops the service. With
# no command it prints the URL and serves until interrupted.
#
# Usage: bench/dav_book.sh CARDS.vcf [path/to/pelorind] [-- command args...]
# e.g.   bench/dav_book.sh /tmp/pelorin-bench-data/cards30-1000.vcf build/app/pelorind \
#          -- python3 bench/dav_sync_load.py --user admin --password admin
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
cards=${1:?usage: bench/dav_book.sh CARDS.vcf [pelorind] [-- command args...]}
shift
server=build/app/pelorind
if [ $# -gt 0 ] && [ "$1" != -- ]; then server=$1; shift; fi
[ "${1:-}" = -- ] && shift
source bench/lib.sh

work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill $pid 2>/dev/null && wait $pid 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 143' INT TERM  # so that the EXIT trap stops the service
port=$(free_port)
install_app_copy "$work/app" "$server" "$port"
"$work/app/pelorind" "$work/app" >/dev/null 2>&1 &
pid=$!
wait_port "$port"

# The import page reads its body after a first line naming the form field.
{ printf 'vcfupload\r\n'; cat "$cards"; } > "$work/upload.vcf"
expected=$(grep -c '^BEGIN:VCARD' "$cards")
result=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' -u admin:admin -H "Content-Type: text/x-vcard" \
  --data-binary "@$work/upload.vcf" "http://127.0.0.1:$port/pelorin/import.htm")
[ "${result% *}" = 302 ] || { echo "the upload answered ${result% *}" >&2; exit 1; }
book="http://127.0.0.1:$port/dav/addressbooks/admin/contacts/"
listed=$(curl -s -u admin:admin -X PROPFIND -H 'Depth: 1' -H 'Content-Type: application/xml' \
  --data '<propfind xmlns="DAV:"><prop><getetag/></prop></propfind>' "$book" | grep -o '<D:response>' | wc -l)
# The book lists itself as well as its cards.
[ "$listed" -eq $((expected + 1)) ] || { echo "the book lists $((listed - 1)) cards, not $expected" >&2; exit 1; }
echo "loaded $expected cards in ${result#* } s: $book (admin/admin)" >&2

if [ $# -gt 0 ]; then
  "$@" "$book"
else
  echo "serving until interrupted" >&2
  wait $pid
fi
