#!/usr/bin/env python3
"""The benchmark's table, from the frame logs bench.sh leaves: report.py RESULTS-FOLDER."""
import glob
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import frame_stats  # noqa: E402

ROWS = [
    ("utility-defaults", "the utility, wine64", "defaults"),
    ("utility-tuned", "the utility, wine64", "tuned"),
    ("kplx-sim-defaults", "kplx, simulator backend", "defaults"),
    ("kplx-sim-tuned", "kplx, simulator backend", "tuned"),
    ("kplx-libftdi-defaults", "kplx, libftdi1 + emulated FT232R", "defaults"),
    ("kplx-libftdi-tuned", "kplx, libftdi1 + emulated FT232R", "tuned"),
    ("kplx-all-defaults-1", "kplx --all, 1 meter", "defaults"),
    ("kplx-all-defaults-2", "kplx --all, 2 meters", "defaults"),
    ("kplx-all-defaults-4", "kplx --all, 4 meters", "defaults"),
    ("kplx-all-tuned-1", "kplx --all, 1 meter", "tuned"),
    ("kplx-all-tuned-2", "kplx --all, 2 meters", "tuned"),
    ("kplx-all-tuned-4", "kplx --all, 4 meters", "tuned"),
]


def main():
    folder = sys.argv[1]
    found = {}
    for name, _, _ in ROWS:
        logs = sorted(glob.glob(os.path.join(folder, name + "-*.frames")))
        if logs:
            found[name] = frame_stats.stats([frame_stats.load(p) for p in logs])
    print("| load | bridge | transfer | / wire bound | / one meter | host per step, median | p99 |")
    print("|---|---|---|---|---|---|---|")
    for name, what, mode in ROWS:
        s = found.get(name)
        if s is None:
            continue
        one = found.get(name[:-1] + "1") if name.startswith("kplx-all") else None
        versus_one = "%.2f" % (s["transfer_s"] / one["transfer_s"]) if one else ""
        print("| %s | %s | %.2f s | %.2f | %s | %.3f ms | %.3f ms |" % (
            what, mode, s["transfer_s"], s["ratio"], versus_one, s["host_step_ms_median"], s["host_step_ms_p99"]))
    any_one = next(iter(found.values()))
    print()
    print("Wire-time bound: %d bytes out and %d in, 10 bits a byte at 115200 baud: %.2f s." % (
        any_one["bytes_out"], any_one["bytes_in"], any_one["wire_bound_s"]))


if __name__ == "__main__":
    main()
