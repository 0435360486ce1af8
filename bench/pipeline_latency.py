#!/usr/bin/env python3
"""End-to-end figures of a real Vestrel process beside one simulated camera.

Measures the time from the simulator's "sent face id=N" line to the event file appearing
(small pictures, encoded directly, and large ones, thumbnailed), and the time from "offline"
until the camera's alarm channel is open again with the real 15 s online-check period.

Usage: bench/pipeline_latency.py [BUILD_DIR] [--faces N] [--no-reconnect]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from benchsite import ROOT, wait_for  # noqa: E402


def read(path):
    try:
        with open(path, "r", errors="replace") as f:
            return f.read()
    except FileNotFoundError:
        return ""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build"))
    parser.add_argument("--faces", type=int, default=20)
    parser.add_argument("--no-reconnect", action="store_true")
    args = parser.parse_args()

    site = tempfile.mkdtemp(prefix="vestrel-latency-")
    events = os.path.join(site, "events")
    os.makedirs(os.path.join(site, "bin"))
    shutil.copy(os.path.join(args.build, "vestrel"), os.path.join(site, "bin", "vestrel"))
    shutil.copy(os.path.join(args.build, "Logger.properties"), os.path.join(site, "bin"))
    data = os.path.join(ROOT, "tests", "data")
    cam_out = os.path.join(site, "cam.out")
    procs = []
    try:
        cam = subprocess.Popen(
            [os.path.join(args.build, "vestrel-camsim"), "--listen", "127.0.0.2:0",
             "--user", "admin", "--password", "pw"],
            stdin=subprocess.PIPE, stdout=open(cam_out, "w"), stderr=subprocess.DEVNULL,
            text=True)
        procs.append(cam)
        line = wait_for(lambda: [l for l in read(cam_out).splitlines()
                                 if l.startswith("listening ")], 10)
        port = line[0].rsplit(":", 1)[1]
        with open(os.path.join(site, "Config.ini"), "w") as f:
            f.write("[POSDataFormat]\nSrc_Path=%s\nVendorName=Bench\n" % events)
        with open(os.path.join(site, "bin", "DevInfo.xml"), "w") as f:
            f.write('<D><DeviceList><Device ip="127.0.0.2" port="%s" username="admin" '
                    'password="pw" POSID="1"/></DeviceList></D>' % port)
        vestrel = subprocess.Popen([os.path.join(site, "bin", "vestrel")], cwd=site,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(vestrel)
        if not wait_for(lambda: "channel open" in read(cam_out), 15):
            sys.exit("camera channel never opened")

        def latency(face_id, jpeg):
            cam.stdin.write("face id=%d jpeg=%s\n" % (face_id, os.path.join(data, jpeg)))
            cam.stdin.flush()
            commanded = time.monotonic()
            marker = "sent face id=%d\n" % face_id
            if not wait_for(lambda: marker in read(cam_out), 10, 0.001):
                sys.exit("face %d was not sent" % face_id)
            sent = time.monotonic()
            name = "_%d_" % face_id
            if not wait_for(lambda: any(name in n and n.endswith(".txt")
                                        for n in os.listdir(events)) if os.path.isdir(events)
                            else False, 10, 0.001):
                sys.exit("no event file for face %d" % face_id)
            done = time.monotonic()
            return (done - sent) * 1000.0, (done - commanded) * 1000.0

        # The simulator's line is seen by polling its output, so "sent -> file" is a lower
        # bound; "command -> file" also counts the simulator reading the picture and sending it.
        for label, base, jpeg in (("small picture", 1000, "face-small.jpg"),
                                  ("640x480 picture", 2000, "face-640x480.jpg")):
            runs = [latency(base + i, jpeg) for i in range(args.faces)]
            sent = [r[0] for r in runs]
            whole = [r[1] for r in runs]
            print("%s: sent face -> event file median %.1f ms (max %.1f); "
                  "camera command -> event file median %.1f ms (max %.1f); %d faces"
                  % (label, statistics.median(sent), max(sent), statistics.median(whole),
                     max(whole), len(runs)))

        if not args.no_reconnect:
            cam.stdin.write("offline 3\n")
            cam.stdin.flush()
            wait_for(lambda: "offline\n" in read(cam_out), 10)
            gone = time.monotonic()
            if not wait_for(lambda: read(cam_out).count("channel open") >= 2, 90, 0.05):
                sys.exit("no reconnect within 90 s")
            print("offline (3 s) -> alarm channel open again: %.1f s" % (time.monotonic() - gone))
        vestrel.terminate()
        print("Vestrel exit status after SIGTERM: %d" % vestrel.wait(20))
    finally:
        for p in procs:
            if p.poll() is None:
                p.kill()
                p.wait()
        shutil.rmtree(site, ignore_errors=True)


if __name__ == "__main__":
    main()
