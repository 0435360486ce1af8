#!/usr/bin/env bash
# The Vestrel demo: lays out a site in build-demo/demo-site/, starts two simulated cameras on
# 127.0.0.2 and 127.0.0.3 and a simulated face recognition service on 127.0.0.4, runs Vestrel
# until the expected event files are written (or about a minute has passed), stops it with
# SIGTERM and shows who was recognised in each event file.
# Usage: scripts/demo-run.sh [--service frs|frsv2|fcs|none]   (default frs)
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD="${VESTREL_BUILD_DIR:-$(pwd)/build-demo}"
SITE="$BUILD/demo-site"
DATA="$(pwd)/tests/data"
PORT=18000
SERVICE_PORT=18080
EXPECTED=3
LIMIT=60

service=frs
while [ $# -gt 0 ]; do
  case "$1" in
    --service) service="${2:-}"; shift 2 ;;
    --service=*) service="${1#--service=}"; shift ;;
    *) echo "usage: $0 [--service frs|frsv2|fcs|none]" >&2; exit 2 ;;
  esac
done
case "$service" in frs|frsv2|fcs|none) ;; *) echo "demo: unknown service '$service'" >&2; exit 2 ;; esac

for exe in "$BUILD/vestrel" "$BUILD/vestrel-camsim" "$BUILD/vestrel-facesim"; do
  [ -x "$exe" ] || { echo "demo: $exe is missing; run scripts/demo.sh" >&2; exit 1; }
done

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

rm -rf "$SITE"
mkdir -p "$SITE/bin" "$SITE/events" "$SITE/cfg"
cp "$BUILD/vestrel" "$SITE/bin/vestrel"
cp "$BUILD/Logger.properties" "$SITE/bin/Logger.properties"
DEVICES="<Device ip=\"127.0.0.2\" port=\"$PORT\" username=\"admin\" password=\"demo1\" POSID=\"1001\"/>
    <Device ip=\"127.0.0.3\" port=\"$PORT\" username=\"admin\" password=\"demo2\" POSID=\"1002\"/>"
SETTINGS="[POSDataFormat]
Src_Path=$SITE/events
VendorName=Demo Shop
MaxFaceSize=12288
MaxFaceWidth=200
MaxFaceHeight=200
MaxCacheCount=10
MetricsListen=127.0.0.1:9561"

# Where the face service is configured: FRS in DevInfo.xml's VFRInfo; FCS and FRS v2 in the
# remote set (a remote device file and EdgeAiCfg.xml beside it).
VFRINFO=""
case "$service" in
  frs)
    VFRINFO="<VFRInfo ip=\"127.0.0.4\" port=\"$SERVICE_PORT\" username=\"frs\" password=\"frs-pw\" score=\"0.8\" client=\"demo\" enable=\"1\" source=\"entrance\" location=\"Demo Shop\"/>" ;;
  fcs|frsv2)
    cat > "$SITE/cfg/Remote.xml" <<XML
<Cfg>
  <NVR_PRTY>
    <NVR IP="127.0.0.2" Port="$PORT" ID="nvr1" UserName="admin" Password="demo1"/>
    <NVR IP="127.0.0.3" Port="$PORT" ID="nvr2" UserName="admin" Password="demo2"/>
  </NVR_PRTY>
  <POSUNITS_PRTY><PosUnitsDefinition>
    <PosUnit ID="1001" NVRID="nvr1" Ch="1"/>
    <PosUnit ID="1002" NVRID="nvr2" Ch="1"/>
  </PosUnitsDefinition></POSUNITS_PRTY>
</Cfg>
XML
    if [ "$service" = fcs ]; then
      EDGE="<ModeInfo type=\"1\"/><FcsList><FcsInfo ip=\"127.0.0.4\" port=\"$SERVICE_PORT\" accountid=\"demo\" accesskey=\"demo-key\" score=\"0.8\"/></FcsList>"
    else
      EDGE="<ModeInfo type=\"2\"/><FrsList><FrsInfo ip=\"127.0.0.4\" port=\"$SERVICE_PORT\" username=\"frs\" password=\"frs-pw\" score=\"0.8\" client=\"demo\" enable=\"1\" source=\"entrance\" location=\"Demo Shop\"/></FrsList>"
    fi
    echo "<EdgeAiCfg>$EDGE</EdgeAiCfg>" > "$SITE/cfg/EdgeAiCfg.xml"
    SETTINGS="$SETTINGS
RemoteDevCfg=$SITE/cfg/Remote.xml" ;;
esac
echo "$SETTINGS" > "$SITE/Config.ini"
cat > "$SITE/bin/DevInfo.xml" <<XML
<DevInfo>
  <DeviceList>
    $DEVICES
  </DeviceList>
  <Default POSID="1000"/>
  $VFRINFO
</DevInfo>
XML

# Two enrolled visitors; the cat of the third picture is nobody the service knows.
cat > "$SITE/people.txt" <<PEOPLE
$DATA/face-640x480.jpg person=P-1001 name="Eileen Collins" groups=VIP
$DATA/face-camera-640x480.jpg person=P-2002 name="Lav Varshney" groups=Employee
PEOPLE

# Camera 1: the VIP, the employee, then the VIP's face id again (a duplicate, dropped).
cat > "$SITE/cam1.script" <<CAM
await-channel 30
face id=101 jpeg=$DATA/face-640x480.jpg temp=36.6 abnormal=0 unit=0 mask=1
wait 1
face id=102 jpeg=$DATA/face-camera-640x480.jpg temp=36.9 abnormal=0 unit=0 mask=0
wait 1
face id=101 jpeg=$DATA/face-640x480.jpg temp=36.6 abnormal=0 unit=0 mask=1
CAM
# Camera 2: a feverish visitor nobody knows.
cat > "$SITE/cam2.script" <<CAM
await-channel 30
face id=201 jpeg=$DATA/face-chelsea-640x480.jpg temp=38.4 abnormal=1 unit=0 mask=255
CAM

# The stage line of scripts/demo.sh: its time counts from the demo's start.
started=${VESTREL_DEMO_START:-$(date +%s)}
what="the cameras, the face service ($service) and Vestrel"
[ "$service" = none ] && what="the cameras and Vestrel"
echo "demo: starting $what ... $(( $(date +%s) - started ))s since the demo started; site in $SITE"
if [ "$service" != none ]; then
  "$BUILD/vestrel-facesim" --mode "$service" --listen 127.0.0.4:$SERVICE_PORT --user frs \
    --password frs-pw --people "$SITE/people.txt" > "$SITE/facesim.out" 2> "$SITE/facesim.err" < /dev/null &
  pids+=($!)
fi
"$BUILD/vestrel-camsim" --listen 127.0.0.2:$PORT --user admin --password demo1 \
  --script "$SITE/cam1.script" > "$SITE/cam1.out" 2> "$SITE/cam1.err" < /dev/null &
pids+=($!)
"$BUILD/vestrel-camsim" --listen 127.0.0.3:$PORT --user admin --password demo2 \
  --script "$SITE/cam2.script" > "$SITE/cam2.out" 2> "$SITE/cam2.err" < /dev/null &
pids+=($!)
sleep 0.5

start=$(date +%s)
"$SITE/bin/vestrel" > "$SITE/vestrel.stdout" 2> "$SITE/vestrel.stderr" &
vestrel=$!
pids+=($vestrel)

count=0
while :; do
  count=$(find "$SITE/events" -name '*.txt' | wc -l)
  [ "$count" -ge "$EXPECTED" ] && grep -q "Duplicate face id" "$SITE/bin/vestrel.log" 2>/dev/null && break
  kill -0 "$vestrel" 2>/dev/null || { echo "demo: Vestrel ended early" >&2; break; }
  [ $(( $(date +%s) - start )) -ge "$LIMIT" ] && { echo "demo: time limit reached" >&2; break; }
  [ -t 1 ] && printf '\r   %d of %d event files after %ds' "$count" "$EXPECTED" $(( $(date +%s) - start ))
  sleep 0.5
done
[ -t 1 ] && echo
echo "demo: $count event files after $(( $(date +%s) - start ))s, $(( $(date +%s) - started ))s since the demo started"
# What a monitoring system would see of this site, kept beside its log (bash's /dev/tcp).
if exec 3<> /dev/tcp/127.0.0.1/9561 2> /dev/null; then
  printf 'GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' >&3
  timeout 5 cat <&3 | sed '1,/^\r\{0,1\}$/d' > "$SITE/metrics.txt"
  exec 3<&-
else
  echo "demo: no metrics listener on 127.0.0.1:9561" >&2
fi
kill -TERM "$vestrel" 2>/dev/null
status=0
wait "$vestrel" || status=$?
echo "== Vestrel stopped with SIGTERM, exit status $status, after $(( $(date +%s) - start ))s"

echo
echo "== camera 1 said:"; sed 's/^/   /' "$SITE/cam1.out"
echo "== camera 2 said:"; sed 's/^/   /' "$SITE/cam2.out"
if [ "$service" != none ]; then
  echo "== the face service said:"; grep -E "^(request|push|ws open)" "$SITE/facesim.out" | sed 's/^/   /'
fi
echo
echo "== event files in $SITE/events:"
info() { sed -n "s/.*<$1 Info=\"\([^\"]*\)\".*/\1/p" "$2" | head -n 1; }
group_text() {
  case "$1" in
    1) echo "VIP" ;; 2) echo "Blacklist" ;; 3) echo "Employee" ;;
    -1) echo "no match: nobody the service knows" ;;
    -2) echo "not identified (no face service asked)" ;;
    -3) echo "no usable answer from the face service" ;;
    -4) echo "the service could not read the face" ;;
    *) echo "group $1" ;;
  esac
}
for f in $(find "$SITE/events" -name '*.txt' | sort); do
  group=$(info GroupId "$f")
  person=$(info PersonName "$f")
  printf '   %s\n      face %s at POS %s, %s degrees (abnormal %s), mask %s\n' \
    "$(basename "$f")" "$(info FaceID "$f")" "$(info EventID "$f")" \
    "$(info FaceTemperature "$f")" "$(info TemperatureStatus "$f")" "$(info WearMask "$f")"
  if [ -n "$person" ]; then
    printf '      recognised: %s (%s), group %s, confidence %s\n' "$person" "$(info PersonId "$f")" \
      "$(group_text "$group")" "$(info Confidence "$f")"
  else
    printf '      %s (GroupId %s)\n' "$(group_text "$group")" "$group"
  fi
done
echo
echo "== what happened:"
echo "   camera 1 sent faces 101, 102 and 101 again; the repeat was dropped:"
grep -E "Duplicate face id" "$SITE/bin/vestrel.log" | sed 's/^/      /'
echo "   the 640x480 pictures were shrunk to 200x200 thumbnails before they were sent on."
echo "   each face was a synced file in the spool, demo-site/queue, before anything waited for"
echo "   it; its event file then went from there into the drop folder by one rename, and the"
echo "   spool now holds $(find "$SITE/queue" -maxdepth 1 -type f 2>/dev/null | wc -l) entries."
case "$service" in
  frs) echo "   each picture went to the FRS service, which answered with a verify id and pushed the"
       echo "   result over its WebSocket streams: the two enrolled visitors scored above the threshold"
       echo "   (0.8); the third scored below it and came back on the non-recognised stream." ;;
  fcs|frsv2) echo "   Vestrel asked the $service service about each picture: the two enrolled visitors scored"
             echo "   above the threshold (0.8), the third below it (no match)." ;;
  none) echo "   no face service is configured: each event was written at once, unidentified." ;;
esac
echo
echo "== its metrics (all of them in $SITE/metrics.txt):"
grep -E '^vestrel_(device_online|alarms_(accepted|duplicate)|events_written|face_requests)' \
  "$SITE/metrics.txt" 2>/dev/null | sed 's/^/   /'
echo
echo "Log: $SITE/bin/vestrel.log"
[ "$count" -ge "$EXPECTED" ] && [ "$status" -eq 0 ]
