#!/usr/bin/python3
"""A Vestrel site against a hostile FRS v2 service on loopback, measured from outside.

  bench/hostile_service.py BUILD_DIR

gzip-bomb: every verify answer is a small gzip body that inflates to 1 GiB; reports Vestrel's
peak resident memory. headers, header-line: the answer's headers never end (many short lines,
or one endless line); peak resident memory again. drip: the verify answer comes one byte a second;
Vestrel gets SIGTERM while a request drips, and the script reports the time to exit and
whether every accepted snapshot has its event file. connect-hang: the same, while the verify's
connect hangs on a silent host (a listener whose backlog is full, so its SYNs go unanswered)."""
import http.server
import os
import signal
import socket
import socketserver
import sys
import threading
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchsite  # noqa: E402

BOMB_BYTES = 1 << 30


def make_bomb():
    compressor = zlib.compressobj(9, zlib.DEFLATED, 31)  # gzip framing
    chunk = bytes(1 << 20)
    parts = [compressor.compress(chunk) for _ in range(BOMB_BYTES >> 20)]
    parts.append(compressor.flush())
    return b"".join(parts)


class Hostile(http.server.BaseHTTPRequestHandler):
    behaviour = "gzip-bomb"
    bomb = b""
    verifies = 0
    stopping = False

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.rfile.read(length)
        if self.path.startswith("/frengine/verify-face"):
            Hostile.verifies += 1
            getattr(self, "verify_" + Hostile.behaviour.replace("-", "_"))()
            return
        body = b'{"sessionId":"S1"}' if self.path == "/user/web/login" else b"{}"
        self.answer(body)

    def answer(self, body, extra=()):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        for key, value in extra:
            self.send_header(key, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def verify_gzip_bomb(self):
        self.answer(Hostile.bomb, [("Content-Encoding", "gzip")])

    def verify_headers(self):
        self.endless_headers(b"X-Pad: 0123456789\r\n" * 1000)

    def verify_header_line(self):
        self.endless_headers(b"y" * 65536)  # one header line without an end

    def endless_headers(self, piece):
        try:
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            while not Hostile.stopping:
                self.wfile.write(piece)
        except OSError:
            pass

    def verify_drip(self):
        try:
            body = b'{"isMatch":false}' + b" " * 100
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body))
            for byte in body:
                if Hostile.stopping:
                    return
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
                time.sleep(1)
        except OSError:
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


class ServiceInfo:
    def __init__(self, port):
        self.ip, self.port = "127.0.0.1", port

    def stop(self):
        pass


def start_site(build, port):
    site = benchsite.Site(build, keep=bool(os.environ.get("KEEP")))
    site.start_cameras(1)
    site.service = ServiceInfo(port)
    site.mode = "frsv2"
    site.write_configuration()
    site.start_vestrel()
    return site


def send_faces(site, first, count):
    for i in range(count):
        site.cameras[0].send("face id=%d jpeg=%s" % (first + i, benchsite.SMALL))


def peak_memory(build, server, behaviour, faces):
    Hostile.behaviour = behaviour
    site = start_site(build, server.server_address[1])
    try:
        sampler = benchsite.ProcessSampler(site.vestrel.pid)
        before = sampler.sample()["peak_rss_kb"]
        send_faces(site, 1, faces)
        done = benchsite.wait_for(lambda: len(site.event_files()) >= faces, 120)
        after = sampler.sample()["peak_rss_kb"]
        print("%s: %d faces, %d event files%s; peak resident %.1f MiB (%.1f MiB before)" % (
            behaviour, faces, len(site.event_files()), "" if done else " (timed out)",
            after / 1024.0, before / 1024.0))
        lines = [l for l in site.log().splitlines() if "abandoned" in l]
        print("  log: %d lines mention 'abandoned'%s" % (
            len(lines), (", the first: " + lines[0].split("abandoned")[1]) if lines else ""))
    finally:
        site.close()


def stop_in_flight(site, what):
    time.sleep(0.5)
    started = time.monotonic()
    site.vestrel.send_signal(signal.SIGTERM)
    status = site.vestrel.wait(60)
    took = time.monotonic() - started
    accepted = site.log().count("Receiving face snapshot")
    print("%s: exit status %d after %.2f s; %d accepted, %d event files; %d requests cancelled" % (
        what, status, took, accepted, len(site.event_files()), site.log().count(" cancelled: ")))


def stop_while_dripping(build, server):
    Hostile.behaviour = "drip"
    site = start_site(build, server.server_address[1])
    try:
        seen = Hostile.verifies
        send_faces(site, 100, 5)
        benchsite.wait_for(lambda: Hostile.verifies > seen, 30)
        benchsite.wait_for(lambda: site.log().count("Receiving face snapshot") >= 5, 10)
        stop_in_flight(site, "drip: SIGTERM while a verify drips")
    finally:
        site.close()


def silent_listener():
    """A loopback listener that never accepts; its one backlog place is taken, so the kernel
    drops every further SYN."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    filler = socket.create_connection(listener.getsockname(), timeout=5)
    return listener, filler


def stop_while_connecting(build, rounds):
    listener, filler = silent_listener()
    try:
        for _ in range(rounds):
            site = start_site(build, listener.getsockname()[1])
            try:
                send_faces(site, 200, 1)
                benchsite.wait_for(lambda: site.log().count("Receiving face snapshot") >= 1, 10)
                stop_in_flight(site, "connect-hang: SIGTERM while the login's connect hangs")
            finally:
                site.close()
    finally:
        filler.close()
        listener.close()


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
    Hostile.bomb = make_bomb()
    print("gzip bomb: %d bytes inflating to %d" % (len(Hostile.bomb), BOMB_BYTES))
    server = Server(("127.0.0.1", 0), Hostile)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        peak_memory(build, server, "gzip-bomb", 5)
        peak_memory(build, server, "headers", 1)
        peak_memory(build, server, "header-line", 1)
        stop_while_dripping(build, server)
        stop_while_connecting(build, 5)
    finally:
        Hostile.stopping = True
        server.shutdown()


if __name__ == "__main__":
    main()
