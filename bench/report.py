#!/usr/bin/env python3
"""The benchmark's table, from the frame logs bench.sh leaves: report.py RESULTS-FOLDER."""
import glob
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import frame_stats  # noqa: E402

# name in bench.sh, what, latency timer in ms
ROWS = [("utility-%d" % ms, "the utility, wine64", ms) for ms in (16, 2)]
ROWS += [("kplx-sim-%d" % ms, "kplx, simulator backend", ms) for ms in (16, 2, 1)]
ROWS += [("kplx-libftdi-%d" % ms, "kplx, libftdi1 + emulated FT232R", ms) for ms in (16, 2, 1)]
ROWS += [("kplx-all-%d-%d" % (ms, n), "kplx --all, %d meter%s" % (n, "s" if n > 1 else ""), ms)
         for ms in (16, 2) for n in (1, 2, 4, 8)]


def main():
    folder = sys.argv[1]
    found = {}
    for name in [r[0] for r in ROWS] + ["floor-%d" % ms for ms in (16, 2, 1)]:
        logs = sorted(glob.glob(os.path.join(folder, name + "-*.frames")))
        if logs:
            found[name] = frame_stats.stats([frame_stats.load(p) for p in logs])
    print("| load | latency timer | transfer | / wire bound | floor | / floor | / one meter "
          "| host per step, median | p99 |")
    print("|---|---|---|---|---|---|---|---|---|")
    for name, what, ms in ROWS:
        s = found.get(name)
        if s is None:
            continue
        floor = found.get("floor-%d" % ms)
        one = found.get(name.rsplit("-", 1)[0] + "-1") if name.startswith("kplx-all") else None
        print("| %s | %d ms | %.2f s | %.2f | %s | %s | %s | %.3f ms | %.3f ms |" % (
            what, ms, s["transfer_s"], s["ratio"],
            "%.2f s" % floor["transfer_s"] if floor else "",
            "%.3f" % (s["transfer_s"] / floor["transfer_s"]) if floor else "",
            "%.3f" % (s["transfer_s"] / one["transfer_s"]) if one else "",
            s["host_step_ms_median"], s["host_step_ms_p99"]))
    any_one = next(iter(found.values()))
    print()
    print("Wire-time bound: %d bytes out and %d in, 10 bits a byte at 115200 baud: %.2f s." % (
        any_one["bytes_out"], any_one["bytes_in"], any_one["wire_bound_s"]))
    print("Floor: the same load on the same bridge model by a host that takes no time "
          "(the simulator's virtual clock).")


if __name__ == "__main__":
    main()
