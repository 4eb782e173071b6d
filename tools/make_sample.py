#!/usr/bin/env python3
"""Writes the sample meter database: the same bytes on every run and every host.

The utility treats the database as opaque; this one only needs a recognisable shape
(a header, fixed-size records, a short tail) so a dump of a transfer is easy to read.
The default size is not a multiple of 128, so the last block sent is a partial one.
"""
import argparse
import struct
import sys

DEFAULT_SIZE = 70085
SEED = 0x4B504C58  # "KPLX"
MAGIC = b"KPLXSMPL"
RECORD = struct.Struct("<IIhhhhhhhhHH")  # id, stamp, 8 readings, flags, check
HEADER = struct.Struct("<8sHHII")  # magic, version, record size, record count, total size


def xorshift32(state):
    while True:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        yield state


def build(size):
    if size < HEADER.size:
        raise ValueError(f"size must be at least {HEADER.size}")
    count = (size - HEADER.size) // RECORD.size
    rng = xorshift32(SEED)
    out = bytearray(HEADER.pack(MAGIC, 1, RECORD.size, count, size))
    stamp = 0x5F000000
    for index in range(count):
        stamp += 60 + next(rng) % 240
        readings = [(next(rng) % 4001) - 2000 for _ in range(8)]
        flags = next(rng) & 0x00FF
        body = RECORD.pack(index, stamp, *readings, flags, 0)
        check = sum(body) & 0xFFFF
        out += body[:-2] + struct.pack("<H", check)
    while len(out) < size:
        out.append(next(rng) & 0xFF)
    return bytes(out)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="file to write")
    parser.add_argument("--size", type=int, default=DEFAULT_SIZE, help=f"bytes (default {DEFAULT_SIZE})")
    args = parser.parse_args(argv)
    data = build(args.size)
    with open(args.output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
