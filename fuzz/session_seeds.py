#!/usr/bin/env python3
"""Writes the session fuzzer's seeds: short conversations built from the hand-made frames in fuzz/frames.

    fuzz/session_seeds.py   (from the repository root; rewrites fuzz/corpus/session_fuzzer/)
"""
import os
import struct

FRAMES = "fuzz/frames"
OUT = "fuzz/corpus/session_fuzzer"

# The operation in the low 4 bits, bit 4 for the client side.
(S_JOIN, S_FRAME, S_PEER_LEAVE, S_TICK, S_SEND, S_LEAVE, S_USER_DATA, S_SYNC, S_RECREATE) = range(9)
(C_JOIN, C_FRAME, C_PEER_LEAVE, C_TICK, C_SEND, _, C_USER_DATA, C_SYNC, C_RECREATE) = range(16, 25)


def frame(name):
    with open(os.path.join(FRAMES, name), "rb") as f:
        return f.read()


def op(code, arg=0):
    return bytes([(arg << 5) | code])


def chunk(data):
    return struct.pack("<H", len(data)) + data


def host_message(command, flag, ext, body):
    return bytes([command, flag, ext]) + chunk(body)


def text(data):
    return bytes([len(data)]) + data


SEEDS = {
    "register": op(S_JOIN) + op(S_FRAME) + chunk(frame("register")) + op(S_TICK) + b"\x01"
    + op(C_JOIN) + b"\x00" + op(C_TICK) + b"\x01" + op(C_FRAME) + chunk(frame("register-response")),
    "keepalive": op(S_JOIN) + op(S_FRAME) + chunk(frame("register"))
    + op(S_USER_DATA) + b"\x01" + text(b'{"k":1}') + op(S_FRAME) + chunk(frame("keepalive"))
    + op(C_JOIN) + b"\x00" + op(C_FRAME) + chunk(frame("register-response")) + op(C_USER_DATA) + b"\x01"
    + text(b'{"c":2}') + op(C_TICK) + b"\x01" + op(C_FRAME) + chunk(frame("keepalive-response")),
    "data": op(S_JOIN) + op(S_FRAME) + chunk(frame("data-request"))
    + op(S_SEND) + host_message(4, 3, 2, b"to the client") + op(C_JOIN) + b"\x00"
    + op(C_FRAME) + chunk(frame("data-request")) + op(C_SEND) + host_message(6, 1, 3, b"to the server"),
    "sync": op(S_JOIN) + op(S_FRAME) + chunk(frame("register"))
    + op(S_SYNC) + host_message(8, 0, 4, b"server asks") + chunk(frame("sync-response"))
    + op(C_JOIN) + b"\x00" + op(C_FRAME) + chunk(frame("sync-response"))
    + op(C_SYNC) + host_message(10, 0, 0, b"client asks") + chunk(frame("sync-response")),
    "lifecycle": op(S_JOIN, 0) + op(S_JOIN, 1) + op(S_JOIN, 2) + op(S_LEAVE, 1) + op(S_PEER_LEAVE, 0)
    + b"\x00" + op(S_SEND, 2) + host_message(2, 0, 0, b"x" * 4000) + op(S_TICK) + b"\x05"
    + op(S_JOIN, 3) + op(S_RECREATE) + b"\x02" + op(S_JOIN, 0) + op(C_JOIN) + b"\x00" + op(C_TICK) + b"\x10"
    + op(C_PEER_LEAVE) + b"\x01" + op(C_RECREATE) + op(C_JOIN) + b"\x02",
}

for name, data in SEEDS.items():
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)
