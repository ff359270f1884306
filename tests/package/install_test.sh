#!/usr/bin/env bash
# Installs the Debian package into a clean Debian 12 root file system and checks
# it as an administrator would meet it: the files and their owners, the account,
# the unit, the service answering on its port as that account with only the
# unit's writable paths writable, an upgrade that keeps the stores, a removal
# that keeps them and a purge that takes them.
#   install_test.sh SOURCE_DIR BUILD_TREE WORK_DIR
# systemd is not PID 1 where this runs, so the service is started by hand inside
# the root, and the maintainer scripts' branch for a machine that runs systemd is
# taken with a stand-in systemctl that records what it is asked to do.
set -euo pipefail

source_dir=$1
tree=$2
work=$3
root=$work/root
cache=$work/debian12-root.tar
unit_name=PelorinService.service
app_dir=/opt/pelorin

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
check() {  # description, command...
  local what=$1
  shift
  "$@" || fail "$what"
  echo "ok - $what"
}

# Mounts made for the root (its /proc, the service's file system view) live in
# a mount namespace of their own and vanish with it, whatever way the test ends.
if [ "${PELORIN_INSTALL_TEST_NAMESPACE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: installing a package into a root file system takes root"; exit 77; }
  unshare --mount true 2>/dev/null || { echo "SKIP: this machine cannot make a mount namespace"; exit 77; }
  PELORIN_INSTALL_TEST_NAMESPACE=1 exec unshare --mount --propagation private -- "$0" "$@"
fi

for tool in debootstrap chroot setpriv curl sha256sum dpkg-deb; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps --for-tests installs it)"
done
mkdir -p "$work"

# --- A clean Debian 12 root --------------------------------------------------

# The mirror this machine's apt names for bookworm, from a one-line source or a
# deb822 stanza.
debian_mirror() {
  local lists=() stanzas=()
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do [ -f "$f" ] && lists+=("$f"); done
  for f in /etc/apt/sources.list.d/*.sources; do [ -f "$f" ] && stanzas+=("$f"); done
  {
    [ ${#lists[@]} -eq 0 ] || awk '$1 == "deb" {
        for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { if ($(i + 1) == "bookworm") print $i; break } }' "${lists[@]}"
    [ ${#stanzas[@]} -eq 0 ] || awk 'BEGIN { RS = "" } /(^|\n)Types:[^\n]*deb( |\n|$)/ && /(^|\n)Suites:[^\n]* bookworm( |\n|$)/ {
        if (match($0, /(^|\n)URIs: *[^ \n]+/)) { u = substr($0, RSTART, RLENGTH); sub(/^\n?URIs: */, "", u); print u } }' "${stanzas[@]}"
  } | head -n 1
}

if [ ! -f "$cache" ]; then
  mirror=$(debian_mirror)
  [ -n "$mirror" ] || fail "no bookworm source in /etc/apt to take a mirror from"
  echo "== debootstrap bookworm from $mirror (cached in $cache)"
  rm -rf --one-file-system "$work/bootstrap"
  debootstrap --variant=minbase bookworm "$work/bootstrap" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log"; fail "debootstrap"; }
  # The package lists let apt fetch the package's dependencies, as on any machine.
  cp /etc/resolv.conf "$work/bootstrap/etc/resolv.conf"
  chroot "$work/bootstrap" apt-get update -qq || fail "apt-get update in the new root"
  chroot "$work/bootstrap" apt-get clean
  tar --numeric-owner -C "$work/bootstrap" -cf "$cache.partial" . && mv "$cache.partial" "$cache"
  rm -rf --one-file-system "$work/bootstrap"
fi

echo "== a fresh root from $cache"
rm -rf --one-file-system "$root"
mkdir -p "$root"
tar --numeric-owner -C "$root" -xpf "$cache"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"

service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then kill -KILL "$service_pid" 2>/dev/null || true; fi
  umount "$root/proc" 2>/dev/null || true
}
trap cleanup EXIT

in_root() { chroot "$root" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  DEBIAN_FRONTEND=noninteractive "$@"; }


# --- Two packages of this build ----------------------------------------------

echo "== packing the build tree $tree"
debs=$work/debs
rm -rf "$debs"
first=$("$source_dir/scripts/package" --tree "$tree" --out "$debs" | tail -n 1)
first_version=$(dpkg-deb -f "$first" Version)
second_version="${first_version}+upgrade1"
second=$("$source_dir/scripts/package" --tree "$tree" --out "$debs" --version "$second_version" | tail -n 1)
check "the upgrade's package is newer ($second_version)" dpkg --compare-versions "$second_version" gt "$first_version"
cp "$first" "$second" "$root/tmp/"

# --- Install where systemd does not run --------------------------------------

echo "== installing $(basename "$first")"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$first")" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install"; }

not_in_log() { ! grep -q "$1" "$2"; }
not_running() {
  local exe
  for exe in /proc/[0-9]*/exe; do
    [ "$(readlink "$exe" 2>/dev/null)" != "$root$app_dir/pelorind" ] || return 1
  done
}
# Names as the root knows them: its accounts are not this machine's.
owner_mode() { in_root stat -c '%U:%G %a' "$1"; }
check "pelorind is installed, root's and executable" test "$(owner_mode $app_dir/pelorind)" = "root:root 755"
for f in config/configinit.xml config/index.htm.xsl user/userinit.xml pelorin/baseinit.xml pelorin/pelorin.css; do
  check "$f is where cmake --install puts it" test -f "$root$app_dir/$f"
done
for d in "" /config /user /pelorin; do
  check "$app_dir$d belongs to pelorin, private" test "$(owner_mode "$app_dir$d")" = "pelorin:pelorin 750"
done
check "no store exists before the first start" test ! -e "$root$app_dir/pelorin/base.xml"
for f in copyright changelog.Debian.gz README.md; do
  check "/usr/share/doc/pelorin/$f is there" test -f "$root/usr/share/doc/pelorin/$f"
done

account=$(in_root getent passwd pelorin) || fail "the account pelorin exists"
IFS=: read -r _ _ uid gid _ home shell <<<"$account"
check "pelorin is a system account (uid $uid)" test "$uid" -lt 1000
check "pelorin has a group of its own" test "$(in_root getent group "$gid" | cut -d: -f1)" = pelorin
check "pelorin cannot log in ($shell)" test "$shell" = /usr/sbin/nologin
check "pelorin has no home ($home)" test ! -e "$root$home"

unit=$root/lib/systemd/system/$unit_name
check "the unit is in the package" test -f "$unit"
for setting in Type=notify User=pelorin NoNewPrivileges=yes ProtectSystem=strict ReadWritePaths=$app_dir \
  ProtectHome=yes PrivateTmp=yes PrivateDevices=yes CapabilityBoundingSet= \
  "RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX" SystemCallFilter=@system-service LimitNOFILE=32896 \
  ExecStart=$app_dir/pelorind; do
  check "the unit says $setting" grep -qxF "$setting" "$unit"
done
check "the unit writes nothing but the application directory" \
  test "$(grep -c '^ReadWritePaths=' "$unit")" = 1
if command -v systemd-analyze >/dev/null; then
  systemd-analyze security --offline=true --threshold=30 --no-pager "$unit" >"$work/security.txt" 2>&1 ||
    { cat "$work/security.txt"; fail "systemd-analyze rates the unit's exposure at 3.0 or lower"; }
  echo "ok - $(grep -o 'Overall exposure level.*' "$work/security.txt")"
fi
check "the unit is enabled at boot" \
  test "$(readlink "$root/etc/systemd/system/multi-user.target.wants/$unit_name")" = "/lib/systemd/system/$unit_name"
check "systemctl status pelorin finds it" \
  test "$(readlink "$root/etc/systemd/system/pelorin.service")" = "/lib/systemd/system/$unit_name"
# Where systemd does not run, the scripts leave systemctl alone (the root has
# none, so a call would have failed in the log) and nothing runs the program.
check "without systemd the scripts call no systemctl" not_in_log systemctl "$work/install.log"
check "without systemd nothing was started" not_running

# --- The service, as the unit runs it ----------------------------------------

unit_value() { sed -n "s/^$1=//p" "$unit"; }
writable=$(unit_value ReadWritePaths)
read_only=$(unit_value ReadOnlyPaths)
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# What an administrator does before the first start: a port of their own, on
# the loopback address only.
cat >"$root$app_dir/config/config.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<xConfig>
  <ServiceProviderPort>$port</ServiceProviderPort>
  <ListenAddress>127.0.0.1</ListenAddress>
</xConfig>
EOF
in_root chown pelorin:pelorin "$app_dir/config/config.xml"
chmod 600 "$root$app_dir/config/config.xml"

# As the unit would: the account's ids, no new privileges, no capabilities, the
# whole file system read-only but the unit's ReadWritePaths (less its
# ReadOnlyPaths), a /tmp of its own.
start_service() {
  unshare --mount --propagation private -- bash -euc '
    root=$1 writable=$2 read_only=$3
    mount --bind "$root" "$root"
    mount --bind "$root$writable" "$root$writable"
    mount -o remount,bind,ro "$root"
    mount --bind "$root$read_only" "$root$read_only"
    mount -o remount,bind,ro "$root$read_only"
    mount -t proc proc "$root/proc"
    mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
    # Even root cannot write outside the writable paths now, nor the program.
    for probe in "$root/etc/.probe" "$root/var/lib/.probe" "$root$read_only"; do
      if touch "$probe" 2>/dev/null; then echo "$probe is writable in the service view"; exit 1; fi
    done
    touch "$root$writable/.probe" && rm "$root$writable/.probe"
    exec chroot "$root" env -i PATH=/usr/bin:/bin setpriv --reuid=pelorin --regid=pelorin --init-groups \
      --no-new-privs --inh-caps=-all --bounding-set=-all '"$app_dir"'/pelorind
  ' service "$root" "$writable" "$read_only" >>"$work/service.out" 2>&1 &
  service_pid=$!
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
    kill -0 "$service_pid" 2>/dev/null || { cat "$work/service.out"; fail "the service ended at its start"; }
    sleep 0.2
  done
  fail "the service does not answer on port $port"
}
stop_service() {
  kill -TERM "$service_pid"
  local status=0
  wait "$service_pid" || status=$?
  service_pid=""
  check "the service stops with exit code 0 (got $status)" test "$status" = 0
}
status_of() {  # method, path, extra curl arguments...
  local method=$1 path=$2
  shift 2
  curl -s -o "$work/body" -w '%{http_code}' -X "$method" "$@" "http://127.0.0.1:$port$path"
}

card_path=/dav/addressbooks/admin/contacts/package-test.vcf
card=$'BEGIN:VCARD\r\nVERSION:3.0\r\nUID:package-test\r\nFN:Packa Ging\r\nN:Ging;Packa;;;\r\nEND:VCARD\r\n'

echo "== the installed service on 127.0.0.1:$port"
: >"$work/service.out"
start_service
check "it runs as pelorin" test "$(awk '/^Uid:/ { print $2 }' "/proc/$service_pid/status")" = "$uid"
check "a request without a password is refused" test "$(status_of GET /pelorin/index.htm)" = 401
check "admin signs in with the first-run password" \
  test "$(status_of GET /pelorin/index.htm -u admin:admin)" = 200
check "a card is stored over CardDAV" test "$(status_of PUT "$card_path" -u admin:admin \
  -H 'Content-Type: text/vcard' -H 'If-None-Match: *' --data-binary "$card")" = 201
stop_service
for store in config/config.xml user/user.xml pelorin/base.xml; do
  check "$store was written by pelorin" test "$(in_root stat -c %U "$app_dir/$store")" = pelorin
done
check "the card is in the store" grep -q "Packa Ging" "$root$app_dir/pelorin/base.xml"
check "the day's log is in the application directory" \
  test -n "$(in_root find "$app_dir" -maxdepth 1 -name '*.log' -user pelorin)"
check "the journal is in the application directory" test -d "$root$app_dir/journal"

# --- Upgrade, on a machine that runs systemd -----------------------------------

stores() { (cd "$root$app_dir" && sha256sum config/config.xml user/user.xml pelorin/base.xml); }
before=$(stores)
# A machine that runs systemd, for the maintainer scripts: the directory they
# look for, and a stand-in systemctl where systemd keeps it (apt gives the
# scripts no /usr/local) that answers like a running systemd and writes down
# every call.
mkdir -p "$root/run/systemd/system"
[ ! -e "$root/usr/bin/systemctl" ] || fail "the root has a systemctl of its own"
cat >"$root/usr/bin/systemctl" <<'EOF'
#!/bin/sh
echo "$*" >>/var/log/systemctl-calls
case " $* " in *" is-enabled "*) echo enabled ;; esac
exit 0
EOF
chmod 755 "$root/usr/bin/systemctl"
calls=$root/var/log/systemctl-calls
: >"$calls"
echo "== upgrading to $(basename "$second")"
in_root apt-get install -y -qq --no-install-recommends "/tmp/$(basename "$second")" >"$work/upgrade.log" 2>&1 ||
  { cat "$work/upgrade.log"; fail "apt-get install of the upgrade"; }
check "the new version is installed" \
  test "$(in_root dpkg-query -W -f '${Version}' pelorin)" = "$second_version"
check "the upgrade restarts the service where systemd runs" grep -q "restart $unit_name" "$calls"
check "the upgrade leaves the stores as they were" test "$(stores)" = "$before"
for d in "" /config /user /pelorin; do
  check "$app_dir$d still belongs to pelorin" test "$(owner_mode "$app_dir$d")" = "pelorin:pelorin 750"
done
start_service
check "the card is served after the upgrade" test "$(status_of GET "$card_path" -u admin:admin)" = 200
check "the card is the one stored" grep -q "FN:Packa Ging" "$work/body"
stop_service

# --- Remove keeps the data, purge takes it -------------------------------------

: >"$calls"
in_root apt-get remove -y -qq pelorin >"$work/remove.log" 2>&1 || { cat "$work/remove.log"; fail "apt-get remove"; }
check "removing stops the service where systemd runs" grep -q "stop $unit_name" "$calls"
check "removing takes the program" test ! -e "$root$app_dir/pelorind"
check "removing takes the unit" test ! -e "$unit"
for kept in config/config.xml user/user.xml pelorin/base.xml journal; do
  check "removing keeps $kept" test -e "$root$app_dir/$kept"
done
check "removing keeps the logs" test -n "$(find "$root$app_dir" -maxdepth 1 -name '*.log')"

in_root apt-get purge -y -qq pelorin >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "apt-get purge"; }
check "purging takes the application directory with the data" test ! -e "$root$app_dir"
check "purging takes the ownership overrides" test -z "$(in_root dpkg-statoverride --list "$app_dir*")"
check "purging takes the enable link" test ! -e "$root/etc/systemd/system/multi-user.target.wants/$unit_name"

cleanup
trap - EXIT
rm -rf --one-file-system "$root"
echo "PASS"
