#!/usr/bin/env bash
# The Debian package on a fresh Debian 12 that boots with a real systemd (systemd-nspawn):
# installed with apt, the device list readable by the service from the first unpack, the
# spool's queue for the service alone; the unit started against the shipped simulated camera,
# active without a restart, two faces written as vestrel:vestrel 0640 event files; a stop that
# ends with status 0; a reinstall that keeps the site's device list; and a purge that leaves
# nothing the package added (but the service user, which stays by design). Needs root,
# debootstrap and systemd-container. Every wait is bounded; the container is stopped, by its
# PID, whatever happens.
# Usage: systemd_test.sh BUILD_DIR CACHE_DIR   (the package is built from BUILD_DIR with CPack)
#        systemd_test.sh --prepare CACHE_DIR    (only the container's root, for a later run)
# CACHE_DIR keeps the debootstrap root, made when missing; each run boots a copy of it.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
SOURCE=$(cd "$HERE/../.." && pwd)
MIRROR=http://deb.debian.org/debian

prepare_root() {
  local cache=$1
  [ -f "$cache/root.done" ] && return 0
  rm -rf --one-file-system "$cache/root"
  mkdir -p "$cache"
  timeout 900 debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,ca-certificates \
    bookworm "$cache/root" "$MIRROR" > "$cache/debootstrap.log" 2>&1 || {
    tail -n 20 "$cache/debootstrap.log" >&2
    return 1
  }
  touch "$cache/root.done"
}

if [ "${1:-}" = --prepare ]; then
  prepare_root "$2"
  exit
fi

BUILD=$(cd "$1" && pwd)
CACHE=$2
# shellcheck source=common.sh
source "$HERE/common.sh"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-systemd-test-XXXXXX")
ROOT="$WORK/root"
NSPAWN=""
INIT=""
checks=0

stop_container() {
  [ -n "$NSPAWN" ] || return 0
  kill -TERM "$NSPAWN" 2>/dev/null || true
  for _ in $(seq 600); do kill -0 "$NSPAWN" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$NSPAWN" 2>/dev/null || true
  wait "$NSPAWN" 2>/dev/null || true
  NSPAWN=""
}
cleanup() {
  stop_container
  rm -rf --one-file-system "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -n "$INIT" ]; then
    echo "--- journal of vestrel:" >&2
    inside journalctl -u vestrel --no-pager -n 30 >&2 || true
  fi
  echo "--- end of the container's console:" >&2
  tail -n 15 "$WORK/nspawn.log" >&2 2>/dev/null || true
  exit 1
}
# inside COMMAND...: runs a command in the container, for at most 5 minutes.
inside() {
  timeout 300 nsenter -t "$INIT" -a -- "$@"
}
# of FILE: owner:group:mode of a file in the container.
of() {
  inside stat -c %U:%G:%a "$1"
}
show() {
  inside systemctl show -p "$1" --value vestrel
}

echo "== a fresh Debian 12 with systemd"
started=$SECONDS
prepare_root "$CACHE" || fail "debootstrap"
deb=$(build_package "$BUILD" "$WORK/pkg") || fail "no package"
cp -a "$CACHE/root" "$ROOT"
cp "$deb" "$ROOT/root/"
cp "$SOURCE/tests/data/face-small.jpg" "$SOURCE/tests/data/face-640x480.jpg" "$ROOT/root/"
systemd-nspawn -b -D "$ROOT" --register=no --keep-unit -M vtest --resolv-conf=copy-host \
  > "$WORK/nspawn.log" 2>&1 < /dev/null &
NSPAWN=$!
wait_for 30 pgrep -P "$NSPAWN" > /dev/null || fail "systemd-nspawn started no init"
INIT=$(pgrep -P "$NSPAWN")
booted() {
  local state
  state=$(timeout 10 nsenter -t "$INIT" -a -- systemctl is-system-running 2>/dev/null) || true
  [ "$state" = running ] || [ "$state" = degraded ]
}
deadline=$((SECONDS + 120))
until booted; do
  [ "$SECONDS" -lt "$deadline" ] || fail "the container did not finish booting"
  sleep 1
done
pass "booted with systemd $(inside systemctl --version | head -n 1 | cut -d' ' -f2) after $((SECONDS - started))s"

echo "== install $(basename "$deb") with apt"
inside sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  /root/$(basename "$deb")" > "$WORK/apt.log" 2>&1 || fail "apt: $(tail -n 20 "$WORK/apt.log")"
[ "$(of /opt/vestrel/bin/DevInfo.xml)" = root:vestrel:640 ] ||
  fail "DevInfo.xml is $(of /opt/vestrel/bin/DevInfo.xml) after the first install"
[ "$(of /var/spool/vestrel/queue)" = vestrel:vestrel:700 ] ||
  fail "the queue is $(of /var/spool/vestrel/queue)"
pass "device list root:vestrel 640, queue vestrel:vestrel 700"

echo "== the unit against the shipped simulated camera"
# The sample device list and metrics listener on a loopback address of this run's own.
ip="127.$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 2))"
inside sh -c "cd /opt/vestrel && sed 's/127\\.0\\.0\\.2\"/$ip\"/' bin/DevInfo.xml > /root/DevInfo.xml &&
  cat /root/DevInfo.xml > bin/DevInfo.xml &&
  sed 's/^MetricsListen=.*/MetricsListen=$ip:9561/' Config.ini > /root/Config.ini &&
  cat /root/Config.ini > Config.ini"
grep -q "ip=\"$ip\" port=\"8000\" username=\"admin\" password=\"change-me\"" \
  "$ROOT/opt/vestrel/bin/DevInfo.xml" || fail "the sample device list names no camera"
printf 'await-channel 60\nface id=41 jpeg=/root/face-small.jpg temp=36.6\nface id=42 jpeg=/root/face-640x480.jpg\nwait 300\n' \
  > "$ROOT/root/cam.script"
inside systemd-run --quiet --unit=camera-sim -p StandardOutput=file:/root/cam.out \
  /opt/vestrel/bin/vestrel-camsim --listen "$ip:8000" --user admin --password change-me \
  --script /root/cam.script || fail "systemd-run vestrel-camsim"
wait_for 10 grep -q "^listening $ip:8000" "$ROOT/root/cam.out" || fail "the camera did not listen"
timeout 120 nsenter -t "$INIT" -a -- systemctl start vestrel || fail "systemctl start vestrel"
has_events() {
  compgen -G "$ROOT/var/spool/vestrel/events/1001_41_*.txt" > /dev/null &&
    compgen -G "$ROOT/var/spool/vestrel/events/1001_42_*.txt" > /dev/null
}
wait_for 60 has_events || fail "no event files; the camera said: $(cat "$ROOT/root/cam.out")"
[ "$(show ActiveState)" = active ] || fail "vestrel is $(show ActiveState)"
[ "$(show NRestarts)" = 0 ] || fail "vestrel restarted $(show NRestarts) times"
for f in "$ROOT"/var/spool/vestrel/events/1001_4[12]_*.txt; do
  owner=$(of "/var/spool/vestrel/events/$(basename "$f")")
  [ "$owner" = vestrel:vestrel:640 ] || fail "$(basename "$f") is $owner"
done
pass "active, no restart, two event files vestrel:vestrel 640"
echo "   $(inside systemd-analyze security vestrel --no-pager | tail -n 1)"
timeout 120 nsenter -t "$INIT" -a -- systemctl stop vestrel || fail "systemctl stop vestrel"
[ "$(show ExecMainStatus)" = 0 ] || fail "vestrel stopped with status $(show ExecMainStatus)"
pass "stopped with status 0"

echo "== a reinstall keeps the site's device list"
inside apt-get install -y -qq --reinstall "/root/$(basename "$deb")" > "$WORK/apt2.log" 2>&1 ||
  fail "reinstall: $(tail -n 20 "$WORK/apt2.log")"
inside cmp -s /root/DevInfo.xml /opt/vestrel/bin/DevInfo.xml || fail "DevInfo.xml was replaced"
[ "$(of /opt/vestrel/bin/DevInfo.xml)" = root:vestrel:640 ] || fail "DevInfo.xml lost its group"
pass "device list kept, root:vestrel 640"

echo "== purge"
# The point-of-sale collector takes the event files; then nothing of the package may be left.
rm -f "$ROOT"/var/spool/vestrel/events/*.txt
inside apt-get purge -y -qq vestrel > "$WORK/purge.log" 2>&1 || fail "purge: $(tail -n 20 "$WORK/purge.log")"
left=$(cd "$ROOT" && find opt/vestrel var/spool/vestrel lib/systemd/system etc/systemd/system \
  var/lib/systemd -name '*vestrel*' 2>/dev/null | tr '\n' ' ' || true)
[ -z "$left" ] || fail "left behind: $left"
[ -z "$(inside dpkg-statoverride --list | grep vestrel)" ] || fail "a stat override is left"
inside dpkg-query -W vestrel > /dev/null 2>&1 && fail "dpkg still knows vestrel"
pass "nothing left but the service user"

echo "systemd test: $checks passed, 0 failed, in $((SECONDS - started))s"
