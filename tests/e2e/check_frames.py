#!/usr/bin/env python3
"""Checks what the simulated meter received against what the packed image must put on the wire.

The expected frames are rebuilt here from the image's own trailer, independently of the
utility: "DATABASE", then N // 128 + 1 blocks of 128 bytes taken from the database's first
byte onwards (the trailer follows the database; past the end of the file come zeros), then
"END". Each frame is STX, LEN, payload, NOT of the 8-bit sum of LEN and payload.

--expect names the frame log as pieces of that sequence, in order, comma-separated:
  full      the whole sequence
  upto:K    frames 0..K of it (the transfer stopped at frame K)
  some      a proper prefix of it with at least one block, ended by a new "DATABASE"
  version   one "VERSION" query
  none      no frame at all
"""
import argparse
import statistics
import struct
import sys

STX = 0x02
BLOCK = 128


def frame(payload):
    body = bytes([len(payload)]) + payload
    return bytes([STX]) + body + bytes([~sum(body) & 0xFF])


# The framing as the protocol documents it, byte for byte: a wrong rebuild would make every
# comparison below meaningless.
assert frame(b"DATABASE") == bytes.fromhex("02084441544142415345C2")
assert frame(b"END") == bytes.fromhex("0203454E4425")


def fail(msg):
    print("check_frames: FAIL: " + msg)
    sys.exit(1)


def read_image(path):
    data = open(path, "rb").read()
    if len(data) < 8 or data[-4:] != b"DATA":
        fail(f"{path} has no DATA trailer")
    n = struct.unpack("<I", data[-8:-4])[0]
    if n + 8 > len(data):
        fail(f"{path}: trailer claims {n} bytes, file has {len(data)}")
    start = len(data) - 8 - n
    return data, n, start


def expected_frames(data, n, start):
    stream = data[start:]
    blocks = []
    for k in range(n // BLOCK + 1):
        blocks.append(stream[k * BLOCK:(k + 1) * BLOCK].ljust(BLOCK, b"\0"))
    frames = [frame(b"DATABASE")] + [frame(b) for b in blocks] + [frame(b"END")]
    return frames, blocks


def read_log(path):
    records = []
    for lineno, line in enumerate(open(path, encoding="ascii"), 1):
        parts = line.split()
        if not parts:
            continue
        if len(parts) < 3:
            fail(f"{path}:{lineno}: short line {line!r}")
        try:
            t = float(parts[0])
            valid = parts[1] == "1"
            raw = bytes.fromhex(parts[2]) if parts[2] != "-" else b""
            reply = bytes.fromhex(parts[5]) if len(parts) > 5 and parts[5] != "-" else b""
        except ValueError as e:
            fail(f"{path}:{lineno}: {e}: {line!r}")
        records.append((t, valid, raw, reply))
    return records


def name_of(f, expected):
    if f == expected[0]:
        return "DATABASE"
    if f == expected[-1]:
        return "END"
    if f == frame(b"VERSION"):
        return "VERSION"
    if f in expected:
        return f"block {expected.index(f) - 1}"
    return f"unknown frame {f[:12].hex()}... ({len(f)} bytes)"


def match_pieces(log, expected, pieces):
    got = [r[2] for r in log]
    i = 0
    described = []
    for p in pieces:
        if p == "none":
            continue
        if p == "full":
            want = expected
        elif p == "version":
            want = [frame(b"VERSION")]
        elif p.startswith("upto:"):
            k = int(p[5:])
            want = expected[:k + 1]
        elif p == "some":
            # up to the next DATABASE
            j = i + 1
            while j < len(got) and got[j] != expected[0]:
                j += 1
            want = expected[:j - i]
            if not 2 <= len(want) < len(expected):
                fail(f"piece 'some' at frame {i} is {len(want)} frames long: expected a partial transfer")
        else:
            fail(f"unknown piece {p}")
        for k, w in enumerate(want):
            if i + k >= len(got):
                fail(f"log ends after {len(got)} frames; expected frame {i + k} = {name_of(w, expected)} ({p})")
            if got[i + k] != w:
                fail(f"frame {i + k} is {name_of(got[i + k], expected)}: {got[i + k][:20].hex()}..., "
                     f"expected {name_of(w, expected)}: {w[:20].hex()}... ({p})")
        described.append(f"{p}={len(want)} frames")
        i += len(want)
    if i != len(got):
        fail(f"{len(got) - i} frame(s) after the expected {i}: first is {name_of(got[i], expected)} "
             f"at frame {i}, reply {log[i][3].hex() or '-'}")
    return described


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--image", required=True, help="the packed utility the meter was loaded from")
    ap.add_argument("--db", help="the database that was packed into it")
    ap.add_argument("--frames", help="the meter's frame log")
    ap.add_argument("--expect", default="full")
    ap.add_argument("--database-out", help="the database the meter kept")
    ap.add_argument("--kept-blocks", help="blocks the meter kept: 'all' (default) or a number")
    ap.add_argument("--data-frames", type=int, help="the number of data frames the image must make")
    ap.add_argument("--min-median-gap-ms", type=float, default=0.0,
                    help="frames go out one per timer tick: the median gap between frames")
    args = ap.parse_args()

    data, n, start = read_image(args.image)
    expected, blocks = expected_frames(data, n, start)
    trailer = data[-8:]
    print(f"image: database of {n} bytes at offset {start}, {len(blocks)} data frames, "
          f"{len(expected)} frames in all")
    if args.data_frames is not None and len(blocks) != args.data_frames:
        fail(f"the image makes {len(blocks)} data frames, expected {args.data_frames}")
    if args.db:
        db = open(args.db, "rb").read()
        if data[start:start + n] != db:
            fail(f"the image's database differs from {args.db}")
        print(f"ok: the image carries {args.db} unchanged")

    if args.frames:
        log = read_log(args.frames)
        pieces = args.expect.split(",")
        if pieces == ["none"]:
            if log:
                fail(f"expected no frame, the meter got {len(log)}")
            print("ok: no frame")
        else:
            bad = [k for k, r in enumerate(log) if not r[1]]
            if bad:
                fail(f"the meter found frame(s) {bad[:10]} invalid")
            described = match_pieces(log, expected, pieces)
            times = [r[0] for r in log]
            if any(b < a for a, b in zip(times, times[1:])):
                fail("frame times go backwards")
            gaps = [b - a for a, b in zip(times, times[1:])]
            median = statistics.median(gaps) if gaps else 0.0
            print(f"ok: {len(log)} frames, byte for byte as expected ({', '.join(described)}); "
                  f"{times[-1] - times[0]:.0f} ms from first to last, median gap {median:.1f} ms")
            if gaps and median < args.min_median_gap_ms:
                fail(f"median gap {median:.1f} ms between frames, expected >= {args.min_median_gap_ms}")

    if args.database_out:
        got = open(args.database_out, "rb").read()
        kept = len(blocks) if args.kept_blocks in (None, "all") else int(args.kept_blocks)
        want = b"".join(blocks[:kept])
        if kept == len(blocks):
            # The same, said as the meter's user sees it.
            full = len(blocks) * BLOCK
            if len(got) != full:
                fail(f"the meter kept {len(got)} bytes, expected {full}")
            if got[:n] != data[start:start + n]:
                k = next(i for i in range(n) if got[i] != data[start + i])
                fail(f"the meter's database differs from the packed one at byte {k}")
            tail = trailer[:max(0, min(8, full - n))]
            if got[n:n + len(tail)] != tail:
                fail(f"after the database the meter got {got[n:n + 8].hex()}, expected the trailer {tail.hex()}")
            if any(got[n + len(tail):]):
                fail("the bytes after the trailer are not all zero")
        if got != want:
            fail(f"the meter kept {len(got)} bytes, expected {len(want)} ({kept} blocks)")
        print(f"ok: the meter kept {len(got)} bytes = {kept} block(s) as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
