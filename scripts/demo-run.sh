#!/usr/bin/env bash
# The Vestrel demo: lays out a site in build/demo-site/, starts two simulated cameras on
# 127.0.0.2 and 127.0.0.3, runs Vestrel until the expected event files are written (or about a
# minute has passed), stops it with SIGTERM and shows what it wrote.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD="${VESTREL_BUILD_DIR:-$(pwd)/build}"
SITE="$BUILD/demo-site"
DATA="$(pwd)/tests/data"
PORT=18000
EXPECTED=4
LIMIT=75

for exe in "$BUILD/vestrel" "$BUILD/vestrel-camsim"; do
  [ -x "$exe" ] || { echo "demo: $exe is missing; run scripts/demo.sh" >&2; exit 1; }
done

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

rm -rf "$SITE"
mkdir -p "$SITE/bin" "$SITE/events"
cp "$BUILD/vestrel" "$SITE/bin/vestrel"
cp "$BUILD/Logger.properties" "$SITE/bin/Logger.properties"
cat > "$SITE/Config.ini" <<INI
[POSDataFormat]
Src_Path=$SITE/events
VendorName=Demo Shop
MaxFaceSize=12288
MaxFaceWidth=200
MaxFaceHeight=200
MaxCacheCount=10
INI
cat > "$SITE/bin/DevInfo.xml" <<XML
<DevInfo>
  <DeviceList>
    <Device ip="127.0.0.2" port="$PORT" username="admin" password="demo1" POSID="1001"/>
    <Device ip="127.0.0.3" port="$PORT" username="admin" password="demo2" POSID="1002"/>
  </DeviceList>
  <Default POSID="1000"/>
</DevInfo>
XML

# Camera 1: a large picture (thumbnailed), a small one, then the first id again (a duplicate).
cat > "$SITE/cam1.script" <<CAM
await-channel 30
face id=101 jpeg=$DATA/face-640x480.jpg temp=36.6 abnormal=0 unit=0 mask=1
wait 1
face id=102 jpeg=$DATA/face-small.jpg temp=36.9 abnormal=0 unit=0 mask=0
wait 1
face id=101 jpeg=$DATA/face-640x480.jpg temp=36.6 abnormal=0 unit=0 mask=1
CAM
# Camera 2: a feverish visitor, then the camera drops off the network for a while and comes
# back; Vestrel logs in again and the next face arrives.
cat > "$SITE/cam2.script" <<CAM
await-channel 30
face id=201 jpeg=$DATA/face-small.jpg temp=38.4 abnormal=1 unit=0 mask=255
wait 1
offline 3
await-channel 60
face id=202 jpeg=$DATA/face-1920x1080.jpg temp=36.4 abnormal=0 unit=0 mask=1
CAM

echo "== Vestrel demo: site in $SITE"
"$BUILD/vestrel-camsim" --listen 127.0.0.2:$PORT --user admin --password demo1 \
  --script "$SITE/cam1.script" > "$SITE/cam1.out" 2> "$SITE/cam1.err" < /dev/null &
pids+=($!)
"$BUILD/vestrel-camsim" --listen 127.0.0.3:$PORT --user admin --password demo2 \
  --script "$SITE/cam2.script" > "$SITE/cam2.out" 2> "$SITE/cam2.err" < /dev/null &
pids+=($!)
sleep 0.5

echo "== starting Vestrel; camera 2 will drop off the network and come back (about 30-45 s)"
start=$(date +%s)
"$SITE/bin/vestrel" > "$SITE/vestrel.stdout" 2> "$SITE/vestrel.stderr" &
vestrel=$!
pids+=($vestrel)

count=0
while :; do
  count=$(find "$SITE/events" -name '*.txt' | wc -l)
  [ "$count" -ge "$EXPECTED" ] && break
  kill -0 "$vestrel" 2>/dev/null || { echo "demo: Vestrel ended early" >&2; break; }
  [ $(( $(date +%s) - start )) -ge "$LIMIT" ] && { echo "demo: time limit reached" >&2; break; }
  printf '\r   %d of %d event files after %ds' "$count" "$EXPECTED" $(( $(date +%s) - start ))
  sleep 1
done
echo
kill -TERM "$vestrel" 2>/dev/null
status=0
wait "$vestrel" || status=$?
echo "== Vestrel stopped with SIGTERM, exit status $status, after $(( $(date +%s) - start ))s"

echo
echo "== camera 1 said:"; sed 's/^/   /' "$SITE/cam1.out"
echo "== camera 2 said:"; sed 's/^/   /' "$SITE/cam2.out"
echo
echo "== event files in $SITE/events:"
info() { sed -n "s/.*<$1 Info=\"\([^\"]*\)\".*/\1/p" "$2" | head -n 1; }
for f in $(find "$SITE/events" -name '*.txt' | sort); do
  pic=$(info Picture "$f")
  printf '   %s\n      time %s, face %s, POS %s, %s degrees (abnormal %s, unit %s), mask %s, picture %d base64 chars\n' \
    "$(basename "$f")" "$(info EventDateTime "$f")" "$(info FaceID "$f")" "$(info EventID "$f")" \
    "$(info FaceTemperature "$f")" "$(info TemperatureStatus "$f")" "$(info TemperatureUnit "$f")" \
    "$(info WearMask "$f")" "${#pic}"
done
echo
echo "== what happened:"
echo "   camera 1 sent faces 101, 102 and 101 again; the repeat was dropped:"
grep -E "Duplicate face id|not found" "$SITE/bin/vestrel.log" | sed 's/^/      /'
echo "   face 101 (640x480, above MaxFaceSize) and 202 (1920x1080) were shrunk to 200x200 thumbnails;"
echo "   102 and 201 were small enough to be stored as they came."
echo "   camera 2 went offline after face 201; its next online check failed (error code on stderr):"
grep -E "^=====" "$SITE/vestrel.stderr" | sed 's/^/      /'
echo "   Vestrel logged in again (camera 2 saw $(grep -c '^login user=' "$SITE/cam2.out") logins in all), reopened the alarm channel, and face 202 arrived."
echo
echo "Log: $SITE/bin/vestrel.log (device login traces: $SITE/vestrel.stderr)"
[ "$count" -ge "$EXPECTED" ] && [ "$status" -eq 0 ]
