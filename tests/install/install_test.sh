#!/usr/bin/env bash
# Installs a build as a site into a temporary DESTDIR and tries it: the layout, a site's own
# configuration kept across a second install, vestrel-check and the installed Vestrel against a
# simulated camera on loopback (an event file must appear). Then builds the Debian package and
# checks its files, control fields and maintainer scripts, and checks the systemd unit with
# systemd-analyze when it is there. Needs no root. Every wait is bounded and every process it
# starts is stopped by its PID.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR [site|site-and-package]   (default both)
set -euo pipefail

BUILD=$(cd "$1" && pwd)
SOURCE=$(cd "$2" && pwd)
# shellcheck source=common.sh
source "$SOURCE/tests/install/common.sh"
WORK=$(mktemp -d "${TMPDIR:-/tmp}/vestrel-install-test-XXXXXX")
PREFIX=/opt/vestrel
SITE="$WORK/root$PREFIX"
pids=()
checks=0

cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

echo "== install into DESTDIR=$WORK/root, prefix $PREFIX"
DESTDIR="$WORK/root" timeout 120 cmake --install "$BUILD" --prefix "$PREFIX" > "$WORK/install.log"
expected=(bin/vestrel bin/vestrel-check bin/vestrel-camsim)
[ -x "$BUILD/vestrel-facesim" ] && expected+=(bin/vestrel-facesim)
for f in "${expected[@]}"; do
  [ -x "$SITE/$f" ] || fail "$f is missing or not executable"
done
for f in bin/Logger.properties bin/DevInfo.xml Config.ini lib/systemd/system/vestrel.service \
         share/doc/vestrel/README.md; do
  [ -f "$SITE/$f" ] || fail "$f is missing"
done
unit="$SITE/lib/systemd/system/vestrel.service"
grep -qx "ExecStart=$PREFIX/bin/vestrel" "$unit" || fail "unit does not start $PREFIX/bin/vestrel"
grep -qx "ReadWritePaths=$PREFIX/bin /var/spool/vestrel" "$unit" || fail "unit's ReadWritePaths"
[ "$(stat -c %a "$SITE/bin/DevInfo.xml")" = 640 ] || fail "DevInfo.xml is not 0640"
pass "site layout"

echo "== a second install keeps the site's own configuration"
echo "; edited by the site" >> "$SITE/Config.ini"
echo "<!-- edited by the site -->" >> "$SITE/bin/DevInfo.xml"
cp "$SITE/Config.ini" "$WORK/Config.ini.edited"
cp "$SITE/bin/DevInfo.xml" "$WORK/DevInfo.xml.edited"
DESTDIR="$WORK/root" timeout 120 cmake --install "$BUILD" --prefix "$PREFIX" > "$WORK/install2.log"
cmp -s "$SITE/Config.ini" "$WORK/Config.ini.edited" || fail "Config.ini was overwritten"
cmp -s "$SITE/bin/DevInfo.xml" "$WORK/DevInfo.xml.edited" || fail "DevInfo.xml was overwritten"
grep -q "Kept the site's own: .*Config.ini" "$WORK/install2.log" || fail "no word about Config.ini"
pass "Config.ini and DevInfo.xml kept"

echo "== the installed programs run a site against a simulated camera"
ip="127.$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 2))"
printf 'await-channel 30\nface id=42 jpeg=%s temp=36.6\nface id=43 jpeg=%s\nwait 60\n' \
  "$SOURCE/tests/data/face-small.jpg" "$SOURCE/tests/data/face-640x480.jpg" > "$WORK/cam.script"
"$SITE/bin/vestrel-camsim" --listen "$ip:0" --user admin --password pw \
  --script "$WORK/cam.script" > "$WORK/cam.out" 2> "$WORK/cam.err" < /dev/null &
pids+=($!)
wait_for 10 grep -q "^listening $ip:" "$WORK/cam.out" || fail "camsim did not listen: $(cat "$WORK/cam.err")"
port=$(sed -n "s/^listening $ip:\([0-9]*\)$/\1/p" "$WORK/cam.out")
mkdir -p "$WORK/events"
printf '[POSDataFormat]\nSrc_Path=%s\nVendorName=Install Test\n' "$WORK/events" > "$SITE/Config.ini"
printf '<DevInfo><DeviceList><Device ip="%s" port="%s" username="admin" password="pw" POSID="7"/></DeviceList></DevInfo>\n' \
  "$ip" "$port" > "$SITE/bin/DevInfo.xml"

timeout 60 "$SITE/bin/vestrel-check" "$SITE" > "$WORK/check.out" 2>&1 ||
  fail "vestrel-check found problems: $(cat "$WORK/check.out")"
grep -q "login OK" "$WORK/check.out" || fail "vestrel-check did not log in: $(cat "$WORK/check.out")"
[ ! -e "$SITE/bin/vestrel.log" ] || fail "vestrel-check wrote into the site's log file"
pass "vestrel-check passes the site"

# Run as the unit runs it: with its file mask, and, where strace works, traced, so that the
# system calls, socket families and memory protections it uses are checked against the unit.
tracer=()
if command -v strace > /dev/null && strace -f -qq -o /dev/null true 2> /dev/null; then
  tracer=(strace -f -qq -o "$WORK/strace.out")
fi
( umask "$(sed -n 's/^UMask=//p' "$unit")"; exec "${tracer[@]}" "$SITE/bin/vestrel" ) \
  > "$WORK/vestrel.out" 2> "$WORK/vestrel.err" < /dev/null &
launcher=$!
pids+=($launcher)
vestrel=$launcher
if [ ${#tracer[@]} -gt 0 ]; then
  wait_for 10 pgrep -P "$launcher" > /dev/null || fail "strace started no Vestrel"
  vestrel=$(pgrep -P "$launcher")
fi
has_event() { compgen -G "$WORK/events/7_43_*.txt" > /dev/null; }
wait_for 30 has_event || fail "no event file; camera said: $(cat "$WORK/cam.out"); log: $(cat "$SITE/bin/vestrel.log" 2>/dev/null)"
pass "event file $(basename "$(compgen -G "$WORK/events/7_42_*.txt")")"
kill -TERM "$vestrel"
wait_for 20 bash -c "! kill -0 $vestrel 2>/dev/null" || fail "Vestrel did not end on SIGTERM"
status=0
wait "$launcher" || status=$?
[ "$status" -eq 0 ] || fail "Vestrel ended with status $status after SIGTERM"
[ -f "$SITE/bin/vestrel.log" ] || fail "no log file beside the installed executable"
pass "Vestrel stopped with status 0, log in bin/"
for f in "$WORK"/events/7_4[23]_*.txt "$SITE/bin/vestrel.log"; do
  [ "$(stat -c %a "$f")" = 640 ] || fail "$f is not 0640 under the unit's UMask"
done
work=$(compgen -G "$SITE/bin/tmpSrc*.jpg") || fail "no work file"
[ "$(stat -c %a $work)" = 600 ] || fail "$work is not 0600"
pass "event files and log 0640, work files 0600"

# syscalls NAME...: the system calls of a systemd set, its nested sets expanded.
syscalls() {
  local name
  for name in "$@"; do
    systemd-analyze syscall-filter "$name" | tail -n +2 | grep -v '^ *#' | while read -r word; do
      case "$word" in @*) syscalls "$word" ;; ?*) echo "$word" ;; esac
    done
  done
}
if [ ${#tracer[@]} -gt 0 ] && command -v systemd-analyze > /dev/null; then
  filter=$(sed -n 's/^SystemCallFilter=//p' "$unit")
  allowed=$(echo "$filter" | head -1)
  denied=$(echo "$filter" | sed -n '2s/^~//p')
  # shellcheck disable=SC2086
  comm -23 <(syscalls $allowed | sort -u) <(syscalls $denied | sort -u) > "$WORK/allowed"
  sed -n 's/^[0-9]* *\([a-z0-9_]*\)(.*/\1/p' "$WORK/strace.out" | sort -u > "$WORK/used"
  outside=$(comm -23 "$WORK/used" "$WORK/allowed" | tr '\n' ' ')
  [ -z "$outside" ] || fail "Vestrel uses system calls that SystemCallFilter denies: $outside"
  families=$(grep -o 'socket(AF_[A-Z0-9]*' "$WORK/strace.out" | sort -u | sed 's/socket(//' | tr '\n' ' ')
  for family in $families; do
    grep -q "^RestrictAddressFamilies=.*\b$family\b" "$unit" ||
      fail "Vestrel opens $family sockets, which RestrictAddressFamilies denies"
  done
  ! grep -Eq 'mmap\(.*PROT_WRITE\|PROT_EXEC|mprotect\(.*PROT_EXEC' "$WORK/strace.out" ||
    fail "Vestrel maps writable and executable memory, which MemoryDenyWriteExecute denies"
  pass "system calls ($(wc -l < "$WORK/used")), socket families ($families) and memory as the unit allows"
else
  echo "skip: strace or systemd-analyze is missing: the unit's filters were not tried"
fi

if command -v systemd-analyze > /dev/null; then
  echo "== systemd-analyze verify"
  # A unit for a site whose executable exists, so that the verification covers ExecStart too.
  timeout 120 cmake --install "$BUILD" --prefix "$WORK/site2" > /dev/null
  timeout 60 systemd-analyze verify --man=no "$WORK/site2/lib/systemd/system/vestrel.service" \
    > "$WORK/verify.out" 2>&1 || fail "systemd-analyze verify: $(cat "$WORK/verify.out")"
  pass "unit verified"
  # systemd cannot run units here; where it can, the unit is tried by the service itself.
  score=$(timeout 60 systemd-analyze security --offline=yes --no-pager \
    "$WORK/site2/lib/systemd/system/vestrel.service" 2>&1 |
    sed -n 's/.*Overall exposure level for vestrel.service: \([0-9.]*\).*/\1/p')
  [ -n "$score" ] && awk "BEGIN { exit !($score <= 2.0) }" ||
    fail "systemd-analyze security rates the unit ${score:-?}, more than 2.0"
  pass "unit exposure $score"
else
  echo "skip: systemd-analyze is not installed"
fi

if [ "${3:-site-and-package}" = site ]; then
  echo "skip: the Debian package (asked for the site alone)"
elif command -v dpkg-deb > /dev/null && command -v dpkg-shlibdeps > /dev/null; then
  echo "== Debian package"
  deb=$(build_package "$BUILD" "$WORK/pkg") || fail "no package in $WORK/pkg"
  dpkg-deb -c "$deb" > "$WORK/listing"
  awk '{print $6}' "$WORK/listing" > "$WORK/files"
  for f in ./opt/vestrel/bin/vestrel ./opt/vestrel/bin/vestrel-check ./opt/vestrel/bin/vestrel-camsim \
           ./opt/vestrel/bin/Logger.properties ./opt/vestrel/bin/DevInfo.xml \
           ./opt/vestrel/Config.ini ./lib/systemd/system/vestrel.service; do
    grep -qx "$f" "$WORK/files" || fail "package lacks $f"
  done
  ! grep -q "^./opt/vestrel/lib/" "$WORK/files" || fail "package keeps a unit under the prefix"
  [ "$(dpkg-deb -f "$deb" Package)" = vestrel ] || fail "package name"
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libc6 libstdc++6 liblog4cplus libsystemd0 libtinyxml; do
    [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
  done
  dpkg-deb -e "$deb" "$WORK/control"
  for script in preinst postinst prerm postrm; do
    [ -x "$WORK/control/$script" ] || fail "$script missing or not executable"
    sh -n "$WORK/control/$script" || fail "$script is not valid shell"
  done
  for f in $PREFIX/Config.ini $PREFIX/bin/DevInfo.xml $PREFIX/bin/Logger.properties; do
    grep -qx "$f" "$WORK/control/conffiles" || fail "$f is not a conffile"
  done
  grep -q "useradd --system" "$WORK/control/postinst" || fail "postinst creates no user"
  grep -q "/var/spool/vestrel" "$WORK/control/postinst" || fail "postinst makes no spool folder"
  grep -q "dpkg-statoverride --add root vestrel 0640" "$WORK/control/preinst" ||
    fail "preinst does not unpack DevInfo.xml as root:vestrel 0640"
  grep -q "^-rw-r----- .*/opt/vestrel/bin/DevInfo.xml$" "$WORK/listing" ||
    fail "package ships DevInfo.xml readable by everyone"
  dpkg-deb -x "$deb" "$WORK/unpacked"
  grep -qx "ExecStart=$PREFIX/bin/vestrel" "$WORK/unpacked/lib/systemd/system/vestrel.service" ||
    fail "packaged unit does not start $PREFIX/bin/vestrel"
  pass "package $(basename "$deb"): files, Depends, maintainer scripts, conffiles"
else
  echo "skip: dpkg-deb or dpkg-shlibdeps is not installed (package dpkg-dev)"
fi

echo "install test: $checks passed, 0 failed"
