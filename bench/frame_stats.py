#!/usr/bin/env python3
"""Figures of transfers from the simulated meters' frame logs.

Each line of a log: time-ms valid frame-hex reply-readable-ms first-byte-ms reply-hex (see
sim/README.md). A transfer runs from its first frame's first byte to its last reply being
readable; the wire-time bound is the time the same bytes take at the baud rate (10 bits a
byte, frames out and replies in, nothing else); the host's time per step runs from a reply
being readable to the first byte of the next frame.

  frame_stats.py LOG...            one transfer per log, or several meters loaded at once
"""
import argparse
import json
import statistics
import sys

BAUD = 115200


def percentile(values, p):
    ordered = sorted(values)
    rank = max(0, min(len(ordered) - 1, int(round(p / 100.0 * len(ordered) + 0.5)) - 1))
    return ordered[rank]


def load(path):
    rows = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 6:
                continue
            rows.append({
                "end": float(parts[0]),
                "frame": bytes.fromhex(parts[2]),
                "readable": float(parts[3]),
                "first": float(parts[4]),
                "reply": b"" if parts[5] == "-" else bytes.fromhex(parts[5]),
            })
    if len(rows) < 2:
        sys.exit("frame_stats: fewer than two frames in " + path)
    if any(r["readable"] < 0 for r in rows):
        sys.exit("frame_stats: a frame in %s got no reply; the transfer did not complete" % path)
    return rows


def stats(logs, baud=BAUD):
    """One transfer (one log) or several side by side: the wall time spans all of them."""
    first = min(rows[0]["first"] for rows in logs)
    last = max(rows[-1]["readable"] for rows in logs)
    one = logs[0]
    out_bytes = sum(len(r["frame"]) for r in one)
    in_bytes = sum(len(r["reply"]) for r in one)
    wire_ms = (out_bytes + in_bytes) * 10 * 1000.0 / baud
    steps = [rows[i + 1]["first"] - rows[i]["readable"] for rows in logs for i in range(len(rows) - 1)]
    return {
        "meters": len(logs),
        "frames": len(one),
        "bytes_out": out_bytes,
        "bytes_in": in_bytes,
        "transfer_s": (last - first) / 1000.0,
        "wire_bound_s": wire_ms / 1000.0,
        "ratio": (last - first) / wire_ms,
        "host_step_ms_median": statistics.median(steps),
        "host_step_ms_p99": percentile(steps, 99),
        "frame_to_reply_ms_median": statistics.median(r["readable"] - r["end"] for rows in logs for r in rows),
    }


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("logs", nargs="+", help="frames-out files of the simulated meters")
    ap.add_argument("--baud", type=int, default=BAUD)
    ap.add_argument("--label", default="")
    ap.add_argument("--json", action="store_true", help="one JSON object instead of text")
    args = ap.parse_args()
    result = stats([load(p) for p in args.logs], args.baud)
    result["label"] = args.label
    if args.json:
        print(json.dumps(result))
        return
    print("%-22s %d meter(s), %d frames, %d bytes out, %d bytes in" % (
        args.label, result["meters"], result["frames"], result["bytes_out"], result["bytes_in"]))
    print("  transfer            %8.2f s   (first byte of the first frame to the last reply)" % result["transfer_s"])
    print("  wire-time bound     %8.2f s   (the same bytes at %d baud, 10 bits a byte)" % (result["wire_bound_s"], args.baud))
    print("  transfer / bound    %8.2f" % result["ratio"])
    print("  frame to reply      %8.2f ms  median (wire, meter, latency timer)" % result["frame_to_reply_ms_median"])
    print("  host time per step  %8.3f ms  median, %.3f ms p99" % (result["host_step_ms_median"], result["host_step_ms_p99"]))


if __name__ == "__main__":
    main()
