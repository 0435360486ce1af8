#!/usr/bin/python3
"""Hostile clients against a Vestrel site's metrics listener on loopback, measured from outside.

  bench/hostile_scrape.py BUILD_DIR

endless-header, header-lines: one client sends a request whose headers never end (one endless
line, or many short lines) for 10 s; reports how many bytes the listener took before it closed
the connection and Vestrel's peak resident memory before and after. drip: 60 clients each drip
a request's headers a byte every 100 ms (and connect again when closed) while a scraper reads
/metrics every 250 ms for 20 s; reports the scrapes' slowest answer and Vestrel's thread count.
flood: 100 idle connections at once; reports how many were closed at accept and whether a scrape
is answered meanwhile."""
import http.client
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchsite  # noqa: E402

DRIPPERS = 60
FLOOD = 100


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_site(build):
    site = benchsite.Site(build, keep=bool(os.environ.get("KEEP")))
    site.start_cameras(1)
    site.write_configuration()
    site.port = free_port()
    with open(os.path.join(site.root, "Config.ini"), "a") as f:
        f.write("MetricsListen=127.0.0.1:%d\n" % site.port)
    site.start_vestrel()
    if not benchsite.wait_for(lambda: "Metrics listener on" in site.log(), 10):
        raise RuntimeError("no metrics listener")
    return site


def scrape(port, timeout=10):
    """Seconds to a whole /metrics answer; None when none came."""
    started = time.monotonic()
    try:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        conn.request("GET", "/metrics")
        response = conn.getresponse()
        response.read()
        conn.close()
        return time.monotonic() - started if response.status == 200 else None
    except OSError:
        return None


def endless(site, name, piece, seconds=10):
    sampler = benchsite.ProcessSampler(site.vestrel.pid)
    before = sampler.sample()["peak_rss_kb"]
    sent = 0
    with socket.create_connection(("127.0.0.1", site.port)) as s:
        s.settimeout(1)
        s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n")
        deadline = time.monotonic() + seconds
        try:
            while time.monotonic() < deadline:
                s.sendall(piece)
                sent += len(piece)
        except OSError:
            pass
        try:
            answer = s.recv(64).split(b"\r\n")[0].decode(errors="replace")
        except OSError:
            answer = "(closed)"
    after = sampler.sample()["peak_rss_kb"]
    print("%s: listener took %d KiB, then answered %r; peak resident %.1f -> %.1f MiB (+%.1f)"
          % (name, sent // 1024, answer, before / 1024.0, after / 1024.0, (after - before) / 1024.0))


def drip(site, seconds=20):
    sampler = benchsite.ProcessSampler(site.vestrel.pid)
    threads_before = sampler.sample()["threads"]
    stop = threading.Event()
    reconnects = [0]

    def dripper():
        while not stop.is_set():
            try:
                with socket.create_connection(("127.0.0.1", site.port), timeout=2) as s:
                    s.sendall(b"GET /metrics HTTP/1.1\r\n")
                    while not stop.is_set():
                        s.sendall(b"X")
                        time.sleep(0.1)
            except OSError:
                reconnects[0] += 1
                time.sleep(0.05)

    workers = [threading.Thread(target=dripper, daemon=True) for _ in range(DRIPPERS)]
    for w in workers:
        w.start()
    time.sleep(1)
    latencies, missed, threads = [], 0, []
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        took = scrape(site.port)
        if took is None:
            missed += 1
        else:
            latencies.append(took)
        threads.append(sampler.sample()["threads"])
        time.sleep(0.25)
    stop.set()
    for w in workers:
        w.join(3)
    print("drip: %d clients dripping headers for %d s (%d reconnects after being closed): "
          "%d scrapes answered, %d not; slowest %.3f s, median %.3f s; Vestrel's threads %d "
          "before, %d to %d during" % (
              DRIPPERS, seconds, reconnects[0], len(latencies), missed,
              max(latencies) if latencies else float("nan"),
              benchsite.percentile(latencies, 50), threads_before, min(threads), max(threads)))


def flood(site):
    sockets, closed = [], 0
    for _ in range(FLOOD):
        sockets.append(socket.create_connection(("127.0.0.1", site.port), timeout=2))
    time.sleep(0.5)
    took = None
    for s in sockets:
        s.settimeout(0.01)
        try:
            if s.recv(1) == b"":
                closed += 1
        except (socket.timeout, OSError):
            pass
    took = scrape(site.port, timeout=2)
    for s in sockets:
        s.close()
    after = benchsite.wait_for(lambda: scrape(site.port, timeout=2), 10, step=0.1)
    print("flood: %d idle connections, %d closed at accept; a scrape meanwhile: %s; "
          "once they close: %.3f s" % (FLOOD, closed, "refused" if took is None else "%.3f s" % took,
                                       after or float("nan")))


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    site = start_site(build)
    try:
        print("idle scrape: %.3f s" % scrape(site.port))
        endless(site, "endless-header", b"a" * 65536)
        endless(site, "header-lines", b"X-Pad: 0123456789\r\n" * 1000)
        drip(site)
        flood(site)
    finally:
        site.close()


if __name__ == "__main__":
    main()
