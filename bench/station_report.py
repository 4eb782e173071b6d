#!/usr/bin/env python3
"""The station benchmark's table, from what station_bench.sh leaves: station_report.py FOLDER.

Plug-in to load start: from a meter's plug-in (the simulator's timeline) to the first byte of
the first frame kplx sent it (VERSION, for the log), both on the simulator's clock. A load's
time: from its DATABASE frame's first byte to its last reply, against the lone load's."""
import glob
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import frame_stats  # noqa: E402

DATABASE = b"DATABASE"


def transfer_s(rows):
    start = next(r["first"] for r in rows if r["frame"][2:-1] == DATABASE)
    return (rows[-1]["readable"] - start) / 1000.0


def run(folder, name):
    plugins = open(os.path.join(folder, name + ".plugins")).read().split()
    starts, loads = [], []
    for i, at in enumerate(plugins, 1):
        rows = frame_stats.load(os.path.join(folder, "%s-%d.frames" % (name, i)))
        if at != "-":
            starts.append((rows[0]["first"] - float(at)) / 1000.0)
        loads.append(transfer_s(rows))
    user, system, wall = (float(x) for x in open(os.path.join(folder, name + ".cpu")).read().split())
    return {"starts": starts, "loads": loads, "cpu": user + system, "wall": wall}


def main():
    folder = sys.argv[1]
    print("| station | backend | meters | plug-in to load start, median | max | load / lone load, median | max "
          "| kplx CPU per load |")
    print("|---|---|---|---|---|---|---|---|")
    for backend, what in (("sim", "simulator backend"), ("libftdi", "libftdi1 + emulated FT232R")):
        lone = run(folder, backend + "-lone")["loads"][0]
        ticks, seconds, hz = (float(x) for x in open(os.path.join(folder, backend + "-idle.idle")).read().split())
        idle_share = ticks / hz / seconds
        for kind, label in (("staggered", "plugged in one after another"), ("burst", "plugged in at once")):
            r = run(folder, "%s-%s" % (backend, kind))
            ratios = [t / lone for t in r["loads"]]
            per_load = (r["cpu"] - idle_share * r["wall"]) / len(r["loads"])
            print("| %s | %s | %d | %.3f s | %.3f s | %.3f | %.3f | %.2f s |" % (
                label, what, len(r["loads"]), statistics.median(r["starts"]), max(r["starts"]),
                statistics.median(ratios), max(ratios), per_load))
        print("| idle | %s | 0 | | | | | %.2f %% of a core |" % (what, 100 * idle_share))
    print()
    print("Lone load: one meter plugged in alone; loads at kplx's 2 ms latency timer on the wire model.")


if __name__ == "__main__":
    main()
