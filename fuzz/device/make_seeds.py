#!/usr/bin/env python3
"""Writes a handful of small seed files for the device reader fuzzer.

Usage: make_seeds.py OUTDIR
"""
import os
import struct
import sys


def vlq(v):
    out = [v & 0x7F]
    v >>= 7
    while v:
        out.append(0x80 | (v & 0x7F))
        v >>= 7
    return bytes(reversed(out))


def chunk(cid, body, length=None):
    return cid + struct.pack(">I", len(body) if length is None else length) + body


def header(fmt, ntrks, division):
    return chunk(b"MThd", struct.pack(">HHH", fmt, ntrks, division))


def track(events, eot=True):
    body = b"".join(vlq(d) + bytes(e) for d, e in events)
    if eot:
        body += b"\x00\xff\x2f\x00"
    return body


NOTES = [(0, [0xC0, 5]), (0, [0x90, 60, 100]), (96, [0x80, 60, 0]), (0, [0x90, 62, 90]),
         (48, [64, 0])]
TEMPO = [(0, [0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20]), (96, [0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40])]
SYSEX = [(0, [0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7]), (0, [0xF7, 0x03, 0xF0, 0x43, 0xF7])]
RPN = [(0, [0xB1, 101, 0]), (0, [100, 0]), (0, [6, 12]), (0, [0xE1, 0, 0x60]), (10, [0x91, 60, 1])]
META_RUN = [(0, [0x92, 60, 100]), (5, [0xFF, 0x01, 0x02, 0x68, 0x69]), (5, [61, 100])]

SEEDS = {
    "format0": header(0, 1, 96) + chunk(b"MTrk", track(NOTES)),
    "format1": header(1, 3, 480) + chunk(b"MTrk", track(TEMPO)) + chunk(b"MTrk", track(NOTES))
    + chunk(b"MTrk", track(RPN)),
    "format2": header(2, 2, 96) + chunk(b"MTrk", track(NOTES)) + chunk(b"MTrk", track(TEMPO + NOTES)),
    "smpte": header(1, 1, 0xE728) + chunk(b"MTrk", track(NOTES)),
    "sysex": header(0, 1, 96) + chunk(b"MTrk", track(SYSEX + NOTES)),
    "running_meta": header(0, 1, 96) + chunk(b"MTrk", track(META_RUN)),
    "no_eot": header(0, 1, 96) + chunk(b"MTrk", track(NOTES, eot=False)),
    "long_length": header(0, 1, 96) + chunk(b"MTrk", track(NOTES), 0x7FFFFFFF),
    "junk_chunk": header(1, 1, 96) + chunk(b"Junk", b"\x90" * 9) + chunk(b"MTrk", track(NOTES)),
    "zero_tracks": header(1, 0, 96),
    "rmid": b"RIFF\x00\x00\x00\x00RMIDdata" + struct.pack("<I", 40)
    + header(0, 1, 96) + chunk(b"MTrk", track(NOTES)),
}


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(out, name + ".mid"), "wb") as f:
            f.write(data)
    with open(os.path.join(out, "truncated.mid"), "wb") as f:
        f.write(SEEDS["format1"][:-7])


if __name__ == "__main__":
    main()
