#!/usr/bin/env python3
"""Figures of one transfer from the simulated meter's frame log.

Each line: time-ms valid frame-hex reply-readable-ms first-byte-ms reply-hex (see sim/README.md).
Prints the transfer time (first frame's first byte to the last reply readable), the wire-time
bound of the same bytes at the baud rate (10 bits a byte, frames out and replies in, nothing
else), and the host's turnaround per frame: from a reply becoming readable to the first byte of
the next frame.
"""
import argparse
import json
import statistics
import sys


def percentile(values, p):
    ordered = sorted(values)
    rank = max(0, min(len(ordered) - 1, int(round(p / 100.0 * len(ordered) + 0.5)) - 1))
    return ordered[rank]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("frames", help="frames-out file of the simulated meter")
    ap.add_argument("--baud", type=int, default=115200)
    ap.add_argument("--label", default="")
    ap.add_argument("--json", action="store_true", help="one JSON object instead of text")
    args = ap.parse_args()

    rows = []
    with open(args.frames) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 6:
                continue
            rows.append({
                "end": float(parts[0]),
                "valid": parts[1] == "1",
                "frame": bytes.fromhex(parts[2]),
                "readable": float(parts[3]),
                "first": float(parts[4]),
                "reply": b"" if parts[5] == "-" else bytes.fromhex(parts[5]),
            })
    if len(rows) < 2:
        sys.exit("frame_stats: fewer than two frames in " + args.frames)
    if any(r["readable"] < 0 for r in rows):
        sys.exit("frame_stats: a frame got no reply; the transfer did not complete")

    out_bytes = sum(len(r["frame"]) for r in rows)
    in_bytes = sum(len(r["reply"]) for r in rows)
    wire_ms = (out_bytes + in_bytes) * 10 * 1000.0 / args.baud
    transfer_ms = rows[-1]["readable"] - rows[0]["first"]
    turns = [rows[i + 1]["first"] - rows[i]["readable"] for i in range(len(rows) - 1)]
    per_frame = [r["readable"] - r["first"] for r in rows]
    result = {
        "label": args.label,
        "frames": len(rows),
        "bytes_out": out_bytes,
        "bytes_in": in_bytes,
        "transfer_s": transfer_ms / 1000.0,
        "wire_bound_s": wire_ms / 1000.0,
        "ratio": transfer_ms / wire_ms,
        "frame_to_reply_ms_median": statistics.median(per_frame),
        "turnaround_ms_median": statistics.median(turns),
        "turnaround_ms_p99": percentile(turns, 99),
        "turnaround_ms_max": max(turns),
    }
    if args.json:
        print(json.dumps(result))
        return
    print("%-22s %d frames, %d bytes out, %d bytes in" % (args.label, len(rows), out_bytes, in_bytes))
    print("  transfer            %8.2f s   (first byte of the first frame to the last reply)" % result["transfer_s"])
    print("  wire-time bound     %8.2f s   (the same bytes at %d baud, 10 bits a byte)" % (result["wire_bound_s"], args.baud))
    print("  transfer / bound    %8.2f" % result["ratio"])
    print("  frame to reply      %8.2f ms  median (wire, meter, latency timer)" % result["frame_to_reply_ms_median"])
    print("  host turnaround     %8.2f ms  median, %.2f ms p99, %.2f ms max" % (
        result["turnaround_ms_median"], result["turnaround_ms_p99"], result["turnaround_ms_max"]))


if __name__ == "__main__":
    main()
