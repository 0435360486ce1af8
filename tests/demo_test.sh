#!/usr/bin/env bash
# The README's first command on this tree: scripts/demo.sh must build its programs in
# build-demo/ (and no test program) and leave the three event files of its story: the VIP, the
# employee and the visitor nobody knows. A second run, with everything built, is timed.
set -euo pipefail
cd "$(dirname "$0")/.."
EVENTS=build-demo/demo-site/events

fail() { echo "FAIL: $*" >&2; exit 1; }
group_of() {
  local f
  f=$(compgen -G "$EVENTS/$1_*.txt") || fail "no event file $1_*"
  sed -n 's/.*<GroupId Info="\([^"]*\)".*/\1/p' "$f"
}

started=$SECONDS
scripts/demo.sh || fail "scripts/demo.sh failed"
echo "demo from this tree: $((SECONDS - started))s"
[ "$(group_of 1001_101)/$(group_of 1001_102)/$(group_of 1002_201)" = "1/3/-1" ] ||
  fail "groups $(group_of 1001_101)/$(group_of 1001_102)/$(group_of 1002_201), expected 1/3/-1"
[ "$(find "$EVENTS" -name '*.txt' | wc -l)" -eq 3 ] || fail "not three event files"
[ ! -e build-demo/tests ] || fail "the demo built test programs"
started=$SECONDS
scripts/demo.sh > /dev/null || fail "the second scripts/demo.sh failed"
echo "demo again, everything built: $((SECONDS - started))s"
echo "demo test: 2 passed, 0 failed"
