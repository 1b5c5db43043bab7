#!/usr/bin/env python3
"""Attacks and faults against a real tavregistry on loopback, bounded in time.

Usage: run_attack.py [LABEL=]REGISTRY ... [--seconds N]
Each binary gets each scenario on a fresh data folder; one table comes out,
one column group per binary (the first is "before" when comparing builds).

  flood     100 servers online, 100 connections that ask for list pages as fast
            as they can and never read; a legitimate client fetches the whole
            list again and again.
  stdout    standard output on a pipe nobody reads; a client asks for the list.
  dblost    qbrx.dat renamed over while servers register.
  diskfull  writes fail (file size limit, as on a full disk) while servers register.
"""
import os
import resource
import select
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

SECONDS = 5.0


def frame(kind, payload=b""):
    return struct.pack(">H", len(payload) + 1) + bytes([kind]) + payload


def list_query(start):
    return frame(3, bytes([start]))


class Registry:
    def __init__(self, binary, stdout_unread=False, fsize_limit=False):
        self.dir = tempfile.mkdtemp(prefix="tav-attack-")
        with open(os.path.join(self.dir, "server.ini"), "w") as f:
            f.write("[TavRegistry]\nAutoAllow=True\n")
        # A pipe, not a file: the file size limit of the disk-full case would
        # cut a file short.
        self.err_r, err_w = os.pipe()
        self.err_text = b""
        r, w = os.pipe()
        self.out_r = r

        def child():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        self.proc = subprocess.Popen(
            [binary, "--headless", "--bus", "none", "--port", "0", "--listen", "127.0.0.1", "--data-dir", self.dir],
            stdout=w, stderr=err_w, preexec_fn=child)
        os.close(w)
        os.close(err_w)
        threading.Thread(target=self._drain_errors, daemon=True).start()
        seen = b""
        deadline = time.time() + 30
        while b"for connections." not in seen and time.time() < deadline:
            if select.select([r], [], [], 0.2)[0]:
                seen += os.read(r, 65536)
        self.port = int(seen.split(b"listening on port ")[1].split(b" ")[0])
        self.stdout_unread = stdout_unread
        self.lines = seen.count(b"\n")
        self.stop = False
        if not stdout_unread:
            self.drainer = threading.Thread(target=self._drain, daemon=True)
            self.drainer.start()

    def _drain(self):
        while not self.stop:
            if select.select([self.out_r], [], [], 0.2)[0]:
                data = os.read(self.out_r, 1 << 20)
                if not data:
                    return
                self.lines += data.count(b"\n")

    def _drain_errors(self):
        while True:
            data = os.read(self.err_r, 65536)
            if not data:
                return
            self.err_text += data

    def drain_now(self, wait=2.0):
        out = b""
        deadline = time.time() + wait
        while time.time() < deadline:
            if select.select([self.out_r], [], [], 0.2)[0]:
                data = os.read(self.out_r, 1 << 20)
                if not data:
                    break
                out += data
        return out

    def cpu_rss(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        rss = 0
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    rss = int(line.split()[1]) // 1024
        return cpu, rss

    def errors(self):
        time.sleep(0.2)
        return self.err_text.decode(errors="replace").splitlines()

    def close(self):
        self.stop = True
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def connect(port, rcvbuf=None):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.settimeout(5)
    s.connect(("127.0.0.1", port))
    return s


def read_frame(s, buf):
    while True:
        if len(buf) >= 2:
            n = struct.unpack(">H", bytes(buf[:2]))[0]
            if len(buf) >= 2 + n:
                msg = bytes(buf[2:2 + n])
                del buf[:2 + n]
                return msg
        data = s.recv(65536)
        if not data:
            raise ConnectionError("closed")
        buf += data


def register(port, name):
    """True when the registry answered 'accepted'; the socket stays open when it did."""
    s = connect(port)
    s.sendall(frame(0, name + b"\0pw"))
    try:
        msg = read_frame(s, bytearray())
    except (OSError, ConnectionError):
        s.close()
        return None
    if msg[:1] == b"\x00" and len(msg) > 1:
        return s
    s.close()
    return None


def full_list(s, buf):
    """Fetches the whole list page by page; returns the number of entries."""
    start, entries = 1, 0
    while True:
        s.sendall(list_query(start))
        while True:
            msg = read_frame(s, buf)
            if msg[0] == 255:
                if msg[1:2] == b"\x04":
                    return entries
                start = msg[2]
                break
            entries += 1


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * len(values)))]


def legit_client(port, seconds, expect):
    lat, lost = [], 0
    end = time.time() + seconds
    s, buf = connect(port), bytearray()
    while time.time() < end:
        t = time.perf_counter()
        try:
            n = full_list(s, buf)
            if n != expect:
                lost += 1
            lat.append((time.perf_counter() - t) * 1000)
        except (OSError, ConnectionError):
            lost += 1
            s.close()
            try:
                s, buf = connect(port), bytearray()
            except OSError:
                time.sleep(0.1)
        time.sleep(0.01)
    s.close()
    return lat, lost


def flooders(port, count, stop):
    socks = []
    for _ in range(count):
        try:
            f = connect(port, rcvbuf=4096)
            f.setblocking(False)
            socks.append(f)
        except OSError:
            pass
    burst = list_query(1) * 4096
    while not stop.is_set():
        _, writable, _ = select.select([], socks, [], 0.1)
        for f in writable:
            try:
                f.send(burst)
            except BlockingIOError:
                pass
            except OSError:
                socks.remove(f)
                try:
                    socks.append(connect(port, rcvbuf=4096))
                    socks[-1].setblocking(False)
                except OSError:
                    pass
    for f in socks:
        f.close()


def scenario_flood(binary):
    reg = Registry(binary)
    servers = [register(reg.port, b"srv%03d" % i) for i in range(100)]
    stop = threading.Event()
    t = threading.Thread(target=flooders, args=(reg.port, 100, stop), daemon=True)
    t.start()
    time.sleep(0.5)
    lat, lost = legit_client(reg.port, SECONDS, sum(1 for s in servers if s))
    stop.set()
    t.join()
    cpu, rss = reg.cpu_rss()
    reg.close()
    return lat, cpu, rss, "%d of %d lists failed" % (lost, lost + len(lat))


def chatty(port, stop):
    """Asks for the list in bursts and reads every reply: event lines galore."""
    try:
        s, buf = connect(port), bytearray()
        while not stop.is_set():
            s.sendall(list_query(1) * 200)
            for _ in range(400):
                read_frame(s, buf)
    except (OSError, ConnectionError):
        pass


def scenario_stdout(binary):
    reg = Registry(binary, stdout_unread=True)
    server = register(reg.port, b"stalled")
    stop = threading.Event()
    t = threading.Thread(target=chatty, args=(reg.port, stop), daemon=True)
    t.start()
    lat, lost = legit_client(reg.port, SECONDS, 1)
    stop.set()
    out = reg.drain_now()
    cpu, rss = reg.cpu_rss()
    report = [l for l in out.decode(errors="replace").splitlines() if "were dropped" in l]
    reg.close()
    if server:
        server.close()
    return lat, cpu, rss, "%d of %d lists failed; %s" % (
        lost, lost + len(lat), report[0].split(":")[0] if report else "no drop report")


def registrations(reg, prefix, count):
    acked = []
    for i in range(count):
        s = register(reg.port, prefix + b"%03d" % i)
        if s:
            acked.append(s)
    return acked


def scenario_dblost(binary):
    reg = Registry(binary)
    before = registrations(reg, b"early", 10)
    other = os.path.join(reg.dir, "other.dat")
    with open(other, "wb") as f:
        f.write(b"not the registry's file")
    os.rename(other, os.path.join(reg.dir, "qbrx.dat"))
    t = time.perf_counter()
    after = registrations(reg, b"late", 20)
    lat = [(time.perf_counter() - t) * 1000]
    time.sleep(0.6)
    cpu, rss = reg.cpu_rss()
    errors = [e for e in reg.errors() if "lost" in e]
    intact = open(os.path.join(reg.dir, "qbrx.dat"), "rb").read() == b"not the registry's file"
    reg.close()
    for s in before + after:
        s.close()
    return None, cpu, rss, "%d registrations acknowledged after the rename (each of them lost); %d error lines; file %s" % (
        len(after), len(errors), "left alone" if intact else "overwritten")


def scenario_diskfull(binary):
    reg = Registry(binary)
    first = registrations(reg, b"early", 5)
    resource.prlimit(reg.proc.pid, resource.RLIMIT_FSIZE, (1, resource.RLIM_INFINITY))
    end = time.time() + 2.5
    refused = 0
    i = 0
    while time.time() < end:
        if not register(reg.port, b"full%05d" % i):
            refused += 1
        i += 1
    resource.prlimit(reg.proc.pid, resource.RLIMIT_FSIZE, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))
    time.sleep(0.6)
    recovered = register(reg.port, b"afterwards")
    cpu, rss = reg.cpu_rss()
    errors = [e for e in reg.errors() if "write" in e and "failed" in e]
    reg.close()
    for s in first + ([recovered] if recovered else []):
        s.close()
    return None, cpu, rss, "%d of %d refused; %d error lines in 2.5 s; recovered: %s" % (
        refused, i, len(errors), "yes" if recovered else "no")


SCENARIOS = [("flood", scenario_flood), ("stdout", scenario_stdout), ("dblost", scenario_dblost),
             ("diskfull", scenario_diskfull)]


def main():
    global SECONDS
    args = sys.argv[1:]
    if "--seconds" in args:
        i = args.index("--seconds")
        SECONDS = float(args[i + 1])
        del args[i:i + 2]
    if not args:
        print(__doc__)
        return 2
    print("| attack | build | legit list p50 / p99 ms | registry CPU s | peak RSS MiB | what was lost |")
    print("|---|---|---|---|---|---|")
    for name, run in SCENARIOS:
        for arg in args:
            label, _, binary = arg.rpartition("=")
            lat, cpu, rss, lost = run(binary)
            lat_text = "-" if lat is None else ("%.1f / %.1f" % (percentile(lat, 50), percentile(lat, 99))
                                               if lat else "no list completed")
            print("| %s | %s | %s | %.2f | %d | %s |" % (name, label or binary, lat_text, cpu, rss, lost), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
