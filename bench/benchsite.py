"""A Vestrel site with simulated cameras and an optional simulated face service, for the load
driver and the soak. Everything runs on loopback addresses; every process started here is
stopped by its PID when the site closes."""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data")
SMALL = os.path.join(DATA, "face-small.jpg")
LARGE = os.path.join(DATA, "face-640x480.jpg")
SERVICE_TYPES = {"frs": 0, "fcs": 1, "frsv2": 2}
GROUP_ID = re.compile(r'<GroupId Info="(-?\d+)"')


def wait_for(predicate, timeout, step=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return None


class LineReader:
    """Reads a child's standard output on a thread, stamping each line with the wall clock."""

    def __init__(self, stream, on_line=None):
        self.lines = []
        self.lock = threading.Lock()
        self.on_line = on_line
        self.thread = threading.Thread(target=self._run, args=(stream,), daemon=True)
        self.thread.start()

    def _run(self, stream):
        for raw in stream:
            stamp = time.time()
            line = raw.rstrip("\n")
            with self.lock:
                self.lines.append((stamp, line))
            if self.on_line:
                self.on_line(stamp, line)

    def find(self, prefix):
        with self.lock:
            return [l for _, l in self.lines if l.startswith(prefix)]

    def count(self, text):
        with self.lock:
            return sum(1 for _, l in self.lines if text in l)


class Simulator:
    """One vestrel-camsim or vestrel-facesim child, commands on its standard input."""

    def __init__(self, argv, name, on_line=None):
        self.name = name
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.out = LineReader(self.proc.stdout, on_line)
        self.write_lock = threading.Lock()
        listening = wait_for(lambda: self.out.find("listening "), 10)
        if not listening:
            self.stop()
            raise RuntimeError("%s did not start listening" % name)
        self.ip, port = listening[0].split()[1].rsplit(":", 1)
        self.port = int(port)

    def send(self, command):
        with self.write_lock:
            try:
                self.proc.stdin.write(command + "\n")
                self.proc.stdin.flush()
            except (BrokenPipeError, ValueError):
                pass

    def stop(self):
        if self.proc.poll() is None:
            self.send("quit")
            try:
                self.proc.wait(3)
            except subprocess.TimeoutExpired:
                self.proc.terminate()
                try:
                    self.proc.wait(3)
                except subprocess.TimeoutExpired:
                    self.proc.kill()
                    self.proc.wait()


class Site:
    """SITE/Config.ini, SITE/bin/{vestrel, Logger.properties, DevInfo.xml} or a remote set."""

    def __init__(self, build, keep=False, log_file_mb=None):
        self.build = build
        self.keep = keep
        self.root = tempfile.mkdtemp(prefix="vestrel-bench-")
        self.events = os.path.join(self.root, "events")
        self.bin = os.path.join(self.root, "bin")
        os.makedirs(self.bin)
        shutil.copy(os.path.join(build, "vestrel"), os.path.join(self.bin, "vestrel"))
        shutil.copy(os.path.join(build, "Logger.properties"), self.bin)
        if log_file_mb:
            # A long run keeps its whole log, so that every accepted alarm can be counted.
            path = os.path.join(self.bin, "Logger.properties")
            with open(path) as f:
                text = f.read()
            text = text.replace("MaxFileSize=10MB", "MaxFileSize=%dMB" % log_file_mb)
            with open(path, "w") as f:
                f.write(text)
        self.cameras = []
        self.service = None
        self.vestrel = None

    def start_cameras(self, count, on_line=None):
        for i in range(count):
            ip = "127.0.%d.%d" % (40 + i // 200, 10 + i % 200)
            self.cameras.append(Simulator(
                [os.path.join(self.build, "vestrel-camsim"), "--listen", ip + ":0",
                 "--user", "admin", "--password", "pw"], "camera %d" % i,
                (lambda stamp, line, n=i: on_line(n, stamp, line)) if on_line else None))

    def start_service(self, mode, people, script_lines=(), extra_args=()):
        people_file = os.path.join(self.root, "people.txt")
        with open(people_file, "w") as f:
            for jpeg, person, name, groups in people:
                f.write("%s person=%s name=%s groups=%s\n" % (jpeg, person, name, groups))
        argv = [os.path.join(self.build, "vestrel-facesim"), "--mode", mode, "--listen",
                "127.0.0.1:0", "--user", "admin", "--password", "pw", "--account", "acc",
                "--access-key", "key", "--people", people_file]
        if script_lines:
            script = os.path.join(self.root, "facesim.script")
            with open(script, "w") as f:
                f.write("\n".join(script_lines) + "\n")
            argv += ["--script", script]
        argv += list(extra_args)
        self.service = Simulator(argv, "face service")
        self.mode = mode

    def write_configuration(self, workers=None):
        """DevInfo.xml for no service; the remote set with EdgeAiCfg.xml for a service.
        workers: FaceServiceWorkers in [POSDataFormat], left out when None."""
        settings = "[POSDataFormat]\nSrc_Path=%s\nVendorName=Bench\n" % self.events
        if workers is not None:
            settings += "FaceServiceWorkers=%d\n" % workers
        if self.service is None:
            devices = "".join(
                '<Device ip="%s" port="%d" username="admin" password="pw" POSID="%d"/>'
                % (c.ip, c.port, 1000 + i) for i, c in enumerate(self.cameras))
            with open(os.path.join(self.bin, "DevInfo.xml"), "w") as f:
                f.write("<DevInfo><DeviceList>%s</DeviceList></DevInfo>" % devices)
        else:
            cfg = os.path.join(self.root, "cfg")
            os.makedirs(cfg, exist_ok=True)
            nvrs = "".join('<NVR IP="%s" Port="%d" ID="n%d" UserName="admin" Password="pw"/>'
                           % (c.ip, c.port, i) for i, c in enumerate(self.cameras))
            units = "".join('<PosUnit ID="%d" NVRID="n%d" Ch="1"/>' % (1000 + i, i)
                            for i in range(len(self.cameras)))
            with open(os.path.join(cfg, "Remote.xml"), "w") as f:
                f.write("<Cfg><NVR_PRTY>%s</NVR_PRTY><POSUNITS_PRTY><PosUnitsDefinition>%s"
                        "</PosUnitsDefinition></POSUNITS_PRTY></Cfg>" % (nvrs, units))
            s = self.service
            if self.mode == "fcs":
                service = ('<FcsList><FcsInfo ip="%s" port="%d" accountid="acc" accesskey="key" '
                           'score="0.8"/></FcsList>' % (s.ip, s.port))
            else:
                service = ('<FrsList><FrsInfo ip="%s" port="%d" username="admin" password="pw" '
                           'score="0.8" client="bench" enable="1" source="cam" location="door"/>'
                           '</FrsList>' % (s.ip, s.port))
            with open(os.path.join(cfg, "EdgeAiCfg.xml"), "w") as f:
                f.write('<E><ModeInfo type="%d"/>%s</E>' % (SERVICE_TYPES[self.mode], service))
            settings += "RemoteDevCfg=%s\n" % os.path.join(cfg, "Remote.xml")
        with open(os.path.join(self.root, "Config.ini"), "w") as f:
            f.write(settings)

    def start_vestrel(self):
        self.vestrel = subprocess.Popen([os.path.join(self.bin, "vestrel")], cwd=self.root,
                                        stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(self.root, "vestrel.stderr"), "w"))
        if not wait_for(lambda: all(c.out.count("channel open") for c in self.cameras), 30):
            raise RuntimeError("not every camera's alarm channel opened")

    def stop_vestrel(self, timeout=30):
        if self.vestrel is None or self.vestrel.poll() is not None:
            return self.vestrel.returncode if self.vestrel else None
        self.vestrel.send_signal(signal.SIGTERM)
        try:
            return self.vestrel.wait(timeout)
        except subprocess.TimeoutExpired:
            self.vestrel.kill()
            return self.vestrel.wait()

    def event_files(self):
        try:
            return [n for n in os.listdir(self.events) if n.endswith(".txt")]
        except FileNotFoundError:
            return []

    def group_ids(self):
        """The GroupId of each event file written, by file name."""
        groups = {}
        for name in self.event_files():
            try:
                with open(os.path.join(self.events, name), errors="replace") as f:
                    match = GROUP_ID.search(f.read())
            except FileNotFoundError:
                continue
            if match:
                groups[name] = int(match.group(1))
        return groups

    def log(self):
        try:
            with open(os.path.join(self.bin, "vestrel.log"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def close(self):
        self.stop_vestrel()
        for sim in self.cameras + ([self.service] if self.service else []):
            sim.stop()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)


class ProcessSampler:
    """Resident memory, threads, open files and CPU time of one process, from /proc."""

    def __init__(self, pid):
        self.pid = pid
        self.ticks = os.sysconf("SC_CLK_TCK")

    def sample(self):
        status = {}
        try:
            with open("/proc/%d/status" % self.pid) as f:
                for line in f:
                    key, _, value = line.partition(":")
                    status[key] = value.strip()
            with open("/proc/%d/stat" % self.pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            files = len(os.listdir("/proc/%d/fd" % self.pid))
        except (FileNotFoundError, ProcessLookupError):
            return None
        return {
            "rss_kb": int(status.get("VmRSS", "0 kB").split()[0]),
            "peak_rss_kb": int(status.get("VmHWM", "0 kB").split()[0]),
            "threads": int(status.get("Threads", "0")),
            "files": files,
            "cpu_s": (int(fields[11]) + int(fields[12])) / self.ticks,
        }


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    index = min(len(ordered) - 1, max(0, int(round(p / 100.0 * (len(ordered) - 1)))))
    return ordered[index]
