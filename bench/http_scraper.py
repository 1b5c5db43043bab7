#!/usr/bin/env python3
"""Asks an HTTP endpoint for /metrics and /servers.json every 100 ms until killed,
as a Prometheus server and a web front would; prints how many answers it got
when it ends (SIGTERM)."""
import signal
import sys
import time
import urllib.request

base = sys.argv[1].rstrip("/")
interval = float(sys.argv[2]) if len(sys.argv) > 2 else 0.1
answers = failures = 0


def finish(*_):
    print(f"scraper: answers={answers} failures={failures}", file=sys.stderr)
    sys.exit(0)


signal.signal(signal.SIGTERM, finish)
while True:
    started = time.monotonic()
    for path in ("/metrics", "/servers.json"):
        try:
            with urllib.request.urlopen(base + path, timeout=2) as reply:
                reply.read()
            answers += 1
        except Exception:  # a refused or slow answer is counted, not fatal
            failures += 1
    time.sleep(max(0.0, interval - (time.monotonic() - started)))
