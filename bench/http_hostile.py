#!/usr/bin/env python3
"""Hostile HTTP clients against one server (PORT PID): a request that never
ends, 1 MB headers, 1,000 connections; prints what happened and the memory."""
import os, socket, sys, time
port, pid = int(sys.argv[1]), int(sys.argv[2])
def rss(): return int([l for l in open(f'/proc/{pid}/status') if l.startswith('VmRSS')][0].split()[1])
def fds(): return len(os.listdir(f'/proc/{pid}/fd'))
def health(timeout=3):
    t=time.time()
    try:
        h=socket.create_connection(('127.0.0.1',port),timeout=timeout); h.sendall(b'GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n')
        d=h.recv(100); h.close(); return f'{d[:15]!r} in {1000*(time.time()-t):.0f} ms'
    except Exception as e: return f'{e!r} after {1000*(time.time()-t):.0f} ms'
print('start: rss', rss(), 'KB fds', fds())
# 1. a request that never ends
s=socket.create_connection(('127.0.0.1',port)); s.sendall(b'GET /healthz HTTP/1.1\r\nHost: x\r\n'); s.settimeout(30); t=time.time()
try: d=s.recv(100); print(f'unfinished request: closed by server after {time.time()-t:.1f} s, got {d!r}')
except Exception as e: print(f'unfinished request: still open after {time.time()-t:.1f} s ({e!r})')
s.close()
# 2. 1 MB header, repeated 20 times
for n in (1, 20):
    conns=[]
    for i in range(n):
        c=socket.create_connection(('127.0.0.1',port)); c.settimeout(5)
        try: c.sendall(b'GET /healthz HTTP/1.1\r\nHost: x\r\nX-Big: ' + b'a'*(1<<20) + b'\r\n\r\n')
        except Exception as e: pass
        conns.append(c)
    time.sleep(1)
    outcome={}
    for c in conns:
        try: d=c.recv(60); k=repr(d[:12]) if d else 'closed'
        except Exception as e: k=type(e).__name__
        outcome[k]=outcome.get(k,0)+1
        c.close()
    print(f'{n} x 1 MB header: {outcome}; rss {rss()} KB; health {health()}')
# 3. 1000 idle connections
socks=[]
for i in range(1000):
    try: socks.append(socket.create_connection(('127.0.0.1',port),timeout=3))
    except Exception as e: print('connect failed at', i, e); break
time.sleep(1.5)
busy=closed=open_=0
for c in socks:
    c.setblocking(False)
    try:
        d=c.recv(200)
        if b'503' in d: busy+=1
        elif not d: closed+=1
    except BlockingIOError: open_+=1
    except Exception: closed+=1
print(f'1000 connections: held open {open_}, answered 503 {busy}, closed {closed}; rss {rss()} KB, fds {fds()}; health now {health()}')
for c in socks: c.close()
time.sleep(1)
print('end: rss', rss(), 'KB fds', fds(), 'health', health())
