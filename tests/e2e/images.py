#!/usr/bin/env python3
"""Test inputs: databases of any size, and images packed by hand (also broken ones that the
team's packer refuses to make).

  images.py db SIZE SEED OUT                 deterministic bytes, no two blocks alike
  images.py append EXE DB OUT [--size N] [--tag TAG]
                                             EXE + DB + trailer (N as uint32 LE, TAG)
"""
import argparse
import random
import struct
import sys


def make_db(size, seed):
    rng = random.Random(seed)
    return bytes(rng.getrandbits(8) for _ in range(size))


def main():
    ap = argparse.ArgumentParser()
    sub = ap.add_subparsers(dest="cmd", required=True)
    d = sub.add_parser("db")
    d.add_argument("size", type=int)
    d.add_argument("seed", type=int)
    d.add_argument("out")
    a = sub.add_parser("append")
    a.add_argument("exe")
    a.add_argument("db")
    a.add_argument("out")
    a.add_argument("--size", type=int, help="size written in the trailer (default: the database's)")
    a.add_argument("--tag", default="DATA")
    args = ap.parse_args()
    if args.cmd == "db":
        with open(args.out, "wb") as f:
            f.write(make_db(args.size, args.seed))
        return 0
    exe = open(args.exe, "rb").read()
    db = open(args.db, "rb").read()
    size = len(db) if args.size is None else args.size
    tag = args.tag.encode("latin-1")
    if len(tag) != 4:
        sys.exit("tag must be 4 bytes")
    with open(args.out, "wb") as f:
        f.write(exe + db + struct.pack("<I", size) + tag)
    return 0


if __name__ == "__main__":
    sys.exit(main())
