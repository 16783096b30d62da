#!/usr/bin/env python3
"""Attributes the main thread's CPU samples of bench.sh's profile run.

Usage: profile.py RUN_DIR > profile.txt

RUN_DIR holds the marks, the tap files (written with
VELLORA_TAP_ALLOC_ORIGIN=1) and one perf recording per measured scene
(COPY-SCENE.perf: cpu-clock samples of the program's main thread with DWARF
call chains). A sample counts as the program's own when its innermost
frame is in the program's executable, or is in the C or C++ runtime (libc,
libm, libstdc++, libgcc) called from the executable. Everything else (the GL
driver and its JIT code, X, SDL and its libraries, the kernel) is not. The
own CPU time per presented frame is own samples x sample period / frames.
"""
import collections
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import analyze  # noqa: E402

RUNTIME = re.compile(r"/(libc|libm|libstdc\+\+|libgcc_s)[.-]")
HEADER = re.compile(r"^\S.*?\s(\d+)\s+(\d+)\s*(?:cpu-clock|$)")


def own_of(chain, program):
    """Own function name of a sample's call chain (innermost first), or None."""
    for ip_sym, dso in chain:
        if os.path.basename(dso) == program:
            return ip_sym
        if not RUNTIME.search(dso):
            return None
    return None


def parse(perf_file, program):
    out = subprocess.run(["perf", "script", "-i", perf_file, "-F", "tid,period,ip,sym,dso"],
                         capture_output=True, text=True, check=False).stdout
    total_ns = own_ns = 0
    owners = collections.Counter()
    for block in out.split("\n\n"):
        rows = [r for r in block.split("\n") if r.strip()]
        if not rows:
            continue
        head = rows[0].split()
        try:
            period = int(head[1])
        except (IndexError, ValueError):
            continue
        chain = []
        for row in rows[1:]:
            m = re.match(r"\s*[0-9a-f]+\s+(.*)\s+\((.*)\)\s*$", row)
            if m:
                chain.append((m.group(1), m.group(2)))
        total_ns += period
        name = own_of(chain, program)
        if name is not None:
            own_ns += period
            owners[re.sub(r"\+0x[0-9a-f]+$", "", name)] += period
    return total_ns, own_ns, owners


def main():
    run = sys.argv[1]
    program = sys.argv[2] if len(sys.argv) > 2 else "vellora"
    windows, _ = analyze.read_marks(run)
    rows, worst, owners_all = [], 0.0, collections.Counter()
    for scene, copy, start, end, _ in windows:
        perf_file = os.path.join(run, f"{copy}-{scene}.perf")
        if not os.path.exists(perf_file):
            continue
        tap = analyze.read_tap(os.path.join(run, copy + ".tap"))
        frames = [f for f in tap["frames"] if start <= f[1] <= end]
        if len(frames) < 2:
            continue
        total_ns, own_ns, owners = parse(perf_file, program)
        n = len(frames) - 1
        own_ms = own_ns / 1e6 / n
        worst = max(worst, own_ms)
        owners_all.update(owners)
        own_allocs = (frames[-1][7] - frames[0][7]) / n
        driver_allocs = (frames[-1][8] - frames[0][8]) / n
        rows.append(f"| {scene} ({copy}) | {total_ns / 1e6 / n:.2f} | {own_ms:.3f} | "
                    f"{own_allocs:.2f} | {driver_allocs:.0f} |")
    print("Own code, from a separate profiled run (perf, cpu-clock samples of the main thread "
          "with DWARF call chains; own = innermost frame in the executable, or in libc/libm/"
          "libstdc++ called from it):")
    print()
    print("| Scene | main thread ms/frame sampled | own code ms/frame | "
          "own allocations/frame | GL driver allocations/frame |")
    print("|---|---|---|---|---|")
    for row in rows:
        print(row)
    top = ", ".join(f"{name} {100 * ns / max(1, sum(owners_all.values())):.0f} %"
                    for name, ns in owners_all.most_common(5))
    print()
    print(f"Largest own functions: {top or 'none sampled'}")
    sites = collections.Counter()
    for copy in ("solo", "host", "guest"):
        path = os.path.join(run, copy + ".tap")
        if os.path.exists(path):
            with open(path, "rb") as f:
                for raw in f:
                    parts = raw.decode("utf-8", "replace").split()
                    if len(parts) == 3 and parts[0] == "W":
                        sites[parts[2]] += int(parts[1])
    print("What the program's own code called that allocated, over the whole run (start-up "
          "included), and how often: " +
          ", ".join(f"{name} {count}" for name, count in sites.most_common(8)))
    print(f"<!-- own_ms_max={worst:.4f} -->")


if __name__ == "__main__":
    main()
