#!/usr/bin/env bash
# Builds the three programs that the demo runs (vestrel, vestrel-camsim, vestrel-facesim) in a
# Release build folder of its own, build-demo/, after installing the Debian packages they need,
# and then runs the demo (scripts/demo-run.sh). Each stage is one line with its time; apt's and
# the compiler's output go to build-demo/demo.log, whose last lines are shown when a stage fails.
# Usage: scripts/demo.sh [--service frs|frsv2|fcs|none]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=build-demo
LOG="$BUILD/demo.log"
mkdir -p "$BUILD"
: > "$LOG"
export VESTREL_DEMO_START="$(date +%s)"
echo "demo: output of apt and the compiler goes to $LOG"

# Stage lines: "demo: WHAT ... TIME". On a terminal the build's line shows its percentage as it
# goes; elsewhere each line is written once, when its stage ends.
tty=0
[ -t 1 ] && tty=1
stage_name=""
stage_start=0
begin() {
  stage_name=$1
  stage_start=$SECONDS
  [ "$tty" -eq 0 ] || printf 'demo: %s ...' "$stage_name"
}
progress() {
  [ "$tty" -eq 0 ] || printf '\rdemo: %s ... %s' "$stage_name" "$1"
}
end() {
  [ "$tty" -eq 0 ] || printf '\r\033[K'
  printf 'demo: %s ... %s%ds\n' "$stage_name" "${1:+$1 }" $((SECONDS - stage_start))
}
failed() {
  [ "$tty" -eq 0 ] || echo
  echo "demo: $stage_name failed after $((SECONDS - stage_start))s; the end of $LOG:" >&2
  tail -n 30 "$LOG" | sed 's/^/   /' >&2
  exit 1
}

mapfile -t missing < <(./scripts/install-deps.sh --demo --list)
if [ ${#missing[@]} -gt 0 ]; then
  begin "installing ${#missing[@]} packages"
  ./scripts/install-deps.sh --demo >> "$LOG" 2>&1 < /dev/null || failed
  end
fi

begin "building 3 programs"
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DVESTREL_BUILD_TESTS=OFF \
    -DVESTREL_BUILD_BENCH=OFF >> "$LOG" 2>&1 || failed
fi
# Make's "[ 42%]" lines give the share of the target's work done.
percent=0
while IFS= read -r line; do
  echo "$line" >> "$LOG"
  if [[ "$line" =~ ^\[\ *([0-9]+)%\] ]]; then
    percent=${BASH_REMATCH[1]}
    progress "$percent%"
  fi
done < <(cmake --build "$BUILD" -j"$(nproc)" --target demo-programs 2>&1; echo "exit status $?")
tail -n 1 "$LOG" | grep -qx "exit status 0" || failed
end "100%"

exec ./scripts/demo-run.sh "$@"
