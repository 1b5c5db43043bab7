#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets: one valid example of every
message type in the mode where it is accepted, plus a few scripts that reach
the slot timer, the overflow slot, split frames and socket events.

Run from anywhere: python3 tests/fuzz/make_seeds.py
The receive_path script format is described at the top of receive_path_target.cpp.
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
    "x_register_switch_off": peer_event(FRESH, 3) + arrival(FRESH, frame(0, b"delta\0pw")),
}


def main():
    folder = os.path.join(HERE, "corpus", "receive_path")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"wrote {len(SEEDS)} seeds to {folder}")


if __name__ == "__main__":
    main()
