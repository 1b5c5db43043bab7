#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: one valid example of every
message type in the mode where it is accepted, plus a few scripts that reach
the slot timer, the overflow slot, split frames and socket events.

Run from anywhere: python3 tests/fuzz/make_seeds.py
The receive_path script format is described in receive_path_rig.cpp, the
http_request input in http_request_rig.h.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OPERATOR, ALPHA, BRAVO, FRESH = 0, 1, 2, 3


def frame(msg_type, payload=b""):
    body = bytes([msg_type]) + payload
    return struct.pack(">H", len(body)) + body


def arrival(peer, data):
    out = b""
    # one arrival holds at most 255 bytes; longer data goes in several
    while True:
        chunk, data = data[:255], data[255:]
        out += bytes([0, peer, len(chunk)]) + chunk
        if not data:
            return out


def connect(count):
    return bytes([4, count])


def wait(quarter_seconds):
    return bytes([5, quarter_seconds])


def complete():
    return bytes([6])


def peer_event(peer, event):
    return bytes([7, peer, event])


SEEDS = {
    # mode 0: a fresh connection
    "m0_t000_register": arrival(FRESH, frame(0, b"charlie\0pass")),
    "m0_t001_login": arrival(FRESH, frame(1, b"alpha\0SECRET")),
    "m0_t002_operator_login": arrival(FRESH, frame(2, b"QWZRTPLKMX\0ZKRTQWPMNBVCXLKJHGFD")),
    "m0_t003_list_query": arrival(FRESH, frame(3, b"\x01")),
    "m0_t004_close": arrival(FRESH, frame(4, b"x")),
    "m0_t255_keep_alive": arrival(FRESH, frame(255)),
    # mode 1: the operator
    "m1_t005_disconnect": arrival(OPERATOR, frame(5, b"alpha")),
    "m1_t006_message": arrival(OPERATOR, frame(6, b"alpha\0hello")),
    "m1_t007_broadcast": arrival(OPERATOR, frame(7, b"hello all")),
    "m1_t007_broadcast_empty": arrival(OPERATOR, frame(7)),
    "m1_t008_ignored": arrival(OPERATOR, frame(8, b"x")),
    "m1_t009_add_god": arrival(OPERATOR, frame(9, b"bravo\0bob")),
    "m1_t010_official": arrival(OPERATOR, frame(10, b"alpha\0y")),
    "m1_t011_unofficial": arrival(OPERATOR, frame(11, b"alpha\0n")),
    "m1_t012_deny_new": arrival(OPERATOR, frame(12)),
    "m1_t013_allow_new": arrival(OPERATOR, frame(13)),
    "m1_t014_clear_official": arrival(OPERATOR, frame(14)),
    "m1_t015_delete_all": arrival(OPERATOR, frame(15)),
    "m1_t016_session_flag": arrival(OPERATOR, frame(16)),
    "m1_t017_ignored": arrival(OPERATOR, frame(17)),
    "m1_t027_ignored": arrival(OPERATOR, frame(27)),
    "m1_t028_version": arrival(OPERATOR, frame(28, b"1201")),
    "m1_t255_keep_alive": arrival(OPERATOR, frame(255)),
    # mode 2: a game server
    "m2_t005_name_description": arrival(ALPHA, frame(5, b"Alpha World\0Fun for all")),
    "m2_t006_password": arrival(ALPHA, frame(6, b"newpass")),
    "m2_t007_players": arrival(ALPHA, frame(7, b"\x0c")),
    "m2_t255_keep_alive": arrival(BRAVO, frame(255)),
    # paths through time, the overflow slot and the socket events
    "x_list_after_reports": arrival(ALPHA, frame(7, b"\x05") + frame(5, b"A\0d"))
    + arrival(OPERATOR, frame(10, b"bravo\0y"))
    + arrival(FRESH, frame(3, b"\x01") + frame(3, b"\x03")),
    "x_split_every_byte": b"".join(arrival(FRESH, bytes([c])) for c in frame(1, b"bravo\0pw")),
    "x_silence_probe_close": wait(120) + wait(120) + complete() + wait(120) + wait(120),
    "x_overflow": connect(63) + connect(63) + connect(63) + connect(63) + connect(10) + complete(),
    "x_full_then_free": connect(63) * 4 + connect(10) + peer_event(5, 1) + connect(2) + complete(),
    "x_oversized_length": arrival(FRESH, b"\x02\x00\x03"),
    "x_half_frame_then_silence": arrival(FRESH, b"\x01\xff\x03" + b"a" * 40) + wait(121),
    "x_held_output_lists": peer_event(FRESH, 2)
    + arrival(FRESH, frame(3, b"\x01") * 60)
    + complete(),
    "x_peer_gone_then_send": peer_event(ALPHA, 0) + arrival(OPERATOR, frame(6, b"alpha\0hi")),
    "x_delete_all_then_report": arrival(OPERATOR, frame(15))
    + arrival(FRESH, frame(0, b"alpha\0x"))
    + arrival(ALPHA, frame(5, b"N\0D") + frame(6, b"abcdef")),
    # Logins and registrations refused each way from new callers of one
    # address: no separator, an unknown name, a name taken, a name too
    # short, then wrong passwords until the address is locked out.
    "x_login_outcomes": connect(15)
    + arrival(4, frame(1, b"alpha"))
    + arrival(5, frame(1, b"zulu\0x"))
    + arrival(6, frame(0, b"alpha\0x"))
    + arrival(7, frame(0, b"ab\0x"))
    + b"".join(arrival(peer, frame(1, b"bravo\0wrong")) for peer in range(8, 19))
    + complete(),
    # Every operator message that names a server or carries a text, empty.
    "x_empty_operator_payloads": arrival(OPERATOR, b"".join(frame(t) for t in (5, 6, 7, 9, 10, 11, 28))),
    "x_register_switch_off": peer_event(FRESH, 3) + arrival(FRESH, frame(0, b"delta\0pw")),
    # Four wrong passwords from one address: a registry that remembered them
    # into the next input would lock that address out after a few inputs.
    "x_wrong_passwords": connect(4)
    + b"".join(arrival(peer, frame(1, b"alpha\0wrong")) for peer in range(4, 8))
    + arrival(FRESH, frame(1, b"alpha\0wrong")),
}


def server(user, name, description, url=b"", players=0, official=0):
    out = b""
    for text, limit in ((user, 16), (name, 64), (description, 256), (url, 64)):
        assert len(text) < limit
        out += bytes([len(text)]) + text
    return out + bytes([players, official])


def servers(*entries, split=False):
    return bytes([len(entries) | (0x80 if split else 0)]) + b"".join(entries)


def get(path, *headers, method=b"GET", version=b"HTTP/1.1", body=b""):
    return method + b" " + path + b" " + version + b"\r\n" + b"".join(h + b"\r\n" for h in headers) + b"\r\n" + body


# The ETag of the empty list {"servers":[],"count":0}.
EMPTY_ETAG = b'"1a621851834bb32a72edd2d6fbe71f30"'
HOSTILE = server(b"evil", b"<script>alert(1)</script>", b"a\0b\x01\x7f\x81\x9d\xff&amp;\"\'>",
                 b"javascript:alert(\"x\")", 255, 1)

HTTP_SEEDS = {
    "status_page": servers() + get(b"/", b"Host: x"),
    "status_page_servers": servers(server(b"alpha", b"Alpha", b"Fine"), server(b"bravo", b"B", b"", b"http://u/", 7, 1),
                                   HOSTILE) + get(b"/"),
    "server_list": servers(server(b"alpha", b"Alpha", b"<b>&</b>", b"http://x/?a=1&b=<2>", 3, 1)) + get(b"/servers.json"),
    "server_list_etag": servers() + get(b"/servers.json", b"If-None-Match: " + EMPTY_ETAG),
    "server_list_etag_weak_list": servers() + get(b"/servers.json", b"If-None-Match: \"x\", W/" + EMPTY_ETAG),
    "server_list_etag_star": servers(HOSTILE) + get(b"/servers.json", b"If-None-Match: *"),
    "metrics": servers(HOSTILE) + get(b"/metrics"),
    "healthz": servers() + get(b"/healthz"),
    "head_and_post": servers() + get(b"/", method=b"HEAD") + get(b"/metrics", b"Content-Length: 3", method=b"POST", body=b"abc"),
    "not_found_query": servers() + get(b"/nothing?<script>=1") + get(b"/servers.json?x=<y>") + get(b"/../etc/passwd"),
    "pipelined": servers(HOSTILE) + get(b"/") + get(b"/servers.json") + get(b"/healthz") + get(b"/metrics"),
    "split": servers(server(b"a", b"A", b"D"), split=True) + get(b"/servers.json") + get(b"/"),
    "http10": servers() + get(b"/", version=b"HTTP/1.0"),
    "absolute_form": servers() + get(b"http://registry/servers.json"),
    "chunked": servers() + get(b"/", b"Transfer-Encoding: chunked", method=b"POST", body=b"3\r\nabc\r\n0\r\n\r\n"),
    "long_header": servers() + get(b"/", b"X-Long: " + b"a" * 3000),
    "lower_case_method": servers() + get(b"/", method=b"get"),
    "garbage": servers() + b"\x00\xff garbage\r\n\r\n",
    "incomplete": servers() + b"GET / HTTP/1.1\r\nHost: x",
}


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(seeds)} seeds to {folder}")


def main():
    write("receive_path", SEEDS)
    write("http_request", HTTP_SEEDS)


if __name__ == "__main__":
    main()
