#!/usr/bin/env python3
"""Turns the swap tap's records of bench.sh's runs into out/bench.md.

Usage: analyze.py OUT_DIR RUN_DIR... [--profile PROFILE_TXT]

Each RUN_DIR holds "marks" (what drive.sh measured when) and one tap file
per copy of the program (COPY.tap, lines described in swap_tap.cpp). Every
figure is computed per run and the median over the runs is reported.
"""
import os
import platform
import re
import statistics
import sys

PACE_MS = 17  # the program's frame wait at 60 frames per second
FPS_CAP = 1000.0 / PACE_MS
GOALS = {
    "fps": 0.98 * FPS_CAP,
    "p99_ms": 20.0,
    "cpu_share": 0.50,
    "own_ms": 0.5,
    "first_frame_ms": 400.0,
    "join_frames": 2,
    "query_frames": 1,
    "hwm_mib": 120.0,
    "scaled_cpu_ratio": 1.5,
    "refresh_ms": 2000.0,
    "refresh_gap_ms": 100.0,
    "names_ms": 2500.0,
    "directory_ms": 2000.0,
    "directory_read_kb": 256.0,
    "per_announcement_ratio": 2.0,
    "plain_apart": 0.10,
}
LOADS = []  # the machine's load average at the end of each measured window
SCENES = [
    ("title", "solo", "title, menu open"),
    ("character_select", "solo", "character select"),
    ("room_list", "host", "room list"),
    ("free_lobby", "solo", "free-battle lobby"),
    ("title_2x", "solo2x", "title, menu open, picture doubled (1280 x 960)"),
    ("free_lobby_2x", "solo2x", "free-battle lobby, picture doubled (1280 x 960)"),
    ("title_fs", "solofs", "title, menu open, full screen (1920 x 1080, picture doubled)"),
    ("free_lobby_fs", "solofs", "free-battle lobby, full screen (1920 x 1080, picture doubled)"),
    ("net_lobby", "host", "network lobby with a guest (host)"),
    ("net_lobby", "guest", "network lobby (the guest copy)"),
    ("game_select", "host", "game select over the host's lobby"),
    ("game_select_alone", "host", "game select over the host's lobby, guest copy stopped"),
    ("relay_lobby", "rhost", "network lobby with a guest through the relay (host)"),
]
# The scaled pictures beside the 640 x 480 window: (scene, label) of the
# solo copy's scenes, each measured as SCENE (copy solo), SCENE_2x (solo2x:
# a 1280 x 960 window) and SCENE_fs (solofs: full screen on 1920 x 1080).
# The budget holds the scaled ones to a multiple of the CPU a frame of the
# same scene at 1x.
SCALED = [("title", "title, menu open"), ("character_select", "character select"),
          ("free_lobby", "free-battle lobby")]
SCALED_KINDS = [("2x", "solo2x", "doubled window (1280 x 960)"),
                ("fs", "solofs", "full screen (1920 x 1080)")]
# Scenes measured while a second copy of the program ran on the same cores.
TWO_COPIES = {("net_lobby", "host"), ("net_lobby", "guest"), ("game_select", "host"),
              ("relay_lobby", "rhost")}


def read_tap(path):
    frames, events, renderer, loaded = [], [], None, None
    if not os.path.exists(path):
        return {"frames": frames, "events": events, "renderer": renderer, "loaded": loaded}
    with open(path, "rb") as f:
        for raw in f:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            kind, _, rest = line.partition(" ")
            parts = rest.split()
            if kind == "F" and len(parts) >= 9:
                frames.append([int(v) for v in parts[:9]])
            elif kind in ("S", "R") and len(parts) >= 3:
                events.append((kind, int(parts[0]), int(parts[1]), parts[2]))
            elif kind in ("A", "C", "X") and parts:
                events.append((kind, int(parts[0]), 0, ""))
            elif kind == "G":
                renderer = rest
            elif kind == "L" and len(parts) >= 2:
                loaded = (int(parts[0]), int(parts[1]))
    return {"frames": frames, "events": events, "renderer": renderer, "loaded": loaded}


def read_marks(run):
    windows, launches = [], {}
    with open(os.path.join(run, "marks")) as f:
        for line in f:
            p = line.split()
            if p and p[0] == "window":
                windows.append((p[1], p[2], int(p[3]), int(p[4]), int(p[5])))
                if len(p) > 6:
                    LOADS.append(float(p[6]))
            elif p and p[0] == "launch":
                launches[p[1]] = int(p[2])
    return windows, launches


def percentile(values, q):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    rank = q * (len(ordered) - 1)
    low = int(rank)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (rank - low)


def scene_figures(tap, start, end, hwm_kb):
    """Figures of the frames presented between start and end (realtime)."""
    inside = [f for f in tap["frames"] if start <= f[1] <= end]
    if len(inside) < 3:
        return None
    intervals = [(b[0] - a[0]) / 1e6 for a, b in zip(inside, inside[1:])]
    n = len(intervals)
    wall_ns = inside[-1][0] - inside[0][0]
    cpu_ns = inside[-1][2] - inside[0][2]
    main_ns = inside[-1][3] - inside[0][3]
    return {
        "fps": n / (wall_ns / 1e9),
        "median_ms": statistics.median(intervals),
        "p99_ms": percentile(intervals, 0.99),
        "cpu_ms": cpu_ns / 1e6 / n,
        "cpu_share": cpu_ns / wall_ns,
        "main_ms": main_ns / 1e6 / n,
        "swap_ms": statistics.median(f[4] / 1e6 for f in inside),
        "allocs": (inside[-1][5] - inside[0][5]) / n,
        "hwm_mib": hwm_kb / 1024.0,
    }


def frames_between(tap, t0, t1):
    return sum(1 for f in tap["frames"] if t0 < f[0] <= t1)


def net_figures(host, guest):
    """Join and room query timings of one run (monotonic clock, both copies)."""
    joins, queries = [], []
    hsends = [e for e in host["events"] if e[0] == "S"]
    for kind, t0, length, hexed in guest["events"]:
        if kind == "S" and length == 3 and hexed == "010000":
            # The host's answer: from = the new slot, type Join, length 1.
            sent = next((e for e in hsends if e[1] > t0 and e[3][2:8] == "010100"), None)
            read = next((e for e in guest["events"]
                         if e[0] == "R" and e[1] > t0 and e[3][2:8] == "010100"), None)
            if sent:
                joins.append({"frames": frames_between(host, t0, sent[1]),
                              "ms": (sent[1] - t0) / 1e6,
                              "read_ms": (read[1] - t0) / 1e6 if read else None})
        elif kind == "S" and length == 3 and hexed == "000000":
            reply = next((e for e in hsends if e[1] > t0 and e[2] == 712), None)
            read = next((e for e in host["events"]
                         if e[0] == "R" and e[1] > t0 and e[2] == 3 and e[3] == "000000"), None)
            if reply:
                queries.append({"frames": frames_between(host, t0, reply[1]),
                                "ms": (reply[1] - t0) / 1e6,
                                "read_frames": frames_between(host, read[1], reply[1])
                                if read else None})
    return joins, queries


def refresh_figures(tap, start, end):
    """One refresh of the room list: from the first connection it started to
    the last one closed, within the measured window (realtime)."""
    if not tap["loaded"]:
        return None
    offset = tap["loaded"][1] - tap["loaded"][0]  # realtime minus monotonic
    s, e = start - offset, end - offset
    starts = [t for k, t, _, _ in tap["events"] if k == "C" and s <= t <= e]
    ends = [t for k, t, _, _ in tap["events"] if k == "X" and s <= t <= e]
    if not starts or not ends:
        return None
    t0, t1 = min(starts), max(ends)
    presented = [f[0] for f in tap["frames"]]
    before = [t for t in presented if t < t0][-1:]
    after = [t for t in presented if t > t1][:1]
    stretch = before + [t for t in presented if t0 <= t <= t1] + after
    gaps = [b - a for a, b in zip(stretch, stretch[1:])]
    answered = sum(got for k, t, got, _ in tap["events"] if k == "R" and t0 <= t <= t1)
    return {"ms": (t1 - t0) / 1e6, "press_ms": (t1 - s) / 1e6,
            "gap_ms": max(gaps) / 1e6 if gaps else float("nan"),
            "frames": len(stretch) - len(before) - len(after), "connections": len(starts),
            "answers": answered / 712}


def directory_figures(tap, start, end):
    """A refresh through the room directory: as refresh_figures, with the
    rooms answered counted as the receives that begin a room record (the
    stand-in rooms' records begin with their empty host field, eight zero
    bytes; the directory's own connection receives XML text)."""
    fig = refresh_figures(tap, start, end)
    if fig is None:
        return None
    offset = tap["loaded"][1] - tap["loaded"][0]
    s, e = start - offset, end - offset
    fig["answers"] = sum(1 for k, t, _, head in tap["events"]
                         if k == "R" and s <= t <= e and head == "00" * 8)
    return fig


def plain_check(run, tap):
    """The run's check against a plain measurement (drive.sh,
    scenario_plain_check): its scene and, as medians over its rounds (a
    stretch of each copy), the tapped copy's CPU a frame by its tap and by
    perf stat, the CPU a frame of the copy without the tap by perf stat, its
    frame rate and the two CPU shares. The plain copy's frames are its writev
    calls over the tapped copy's calls a frame in the same round (the same
    scene sends the X server the same requests a frame); without calls
    counted, the shares stand in for the figures a frame. None without a
    check in the run."""
    stretches, scene = {"checked": [], "plain": []}, None
    with open(os.path.join(run, "marks")) as f:
        for line in f:
            p = line.split()
            if p and p[0] == "plain" and len(p) >= 7 and p[2] in stretches:
                scene = p[1]
                stretches[p[2]].append({"start": int(p[3]), "end": int(p[4]), "cpu_ms": int(p[5]),
                                        "window_ms": int(p[6]),
                                        "writevs": int(p[7]) if len(p) > 7 else 0})
    rounds = []
    for checked, plain in zip(stretches["checked"], stretches["plain"]):
        fig = scene_figures(tap, checked["start"], checked["end"], 0)
        if not fig:
            continue
        frames = fig["fps"] * checked["window_ms"] / 1000  # in perf stat's window
        per_frame = checked["writevs"] / frames if frames > 0 else 0
        share = plain["cpu_ms"] / plain["window_ms"]
        if per_frame > 0 and plain["writevs"] > 0:
            plain_frames = plain["writevs"] / per_frame
            plain_ms, plain_fps = plain["cpu_ms"] / plain_frames, plain_frames / (plain["window_ms"] / 1000)
        else:
            plain_ms, plain_fps = share * 1000 / fig["fps"], float("nan")
        rounds.append({"tap_ms": fig["cpu_ms"], "perf_ms": checked["cpu_ms"] / frames,
                       "plain_ms": plain_ms, "fps": fig["fps"], "plain_fps": plain_fps,
                       "tap_share": fig["cpu_share"], "plain_share": share,
                       "ratio": fig["cpu_ms"] / plain_ms if plain_ms > 0 else float("nan")})
    if scene is None or not rounds:
        return None
    return {"scene": scene, "rounds": len(rounds),
            **{k: med([r[k] for r in rounds]) for k in rounds[0]}}


def plain_check_lines(checks):
    """One line a run: the tap's CPU a frame of the checked scene beside
    perf stat's, of the same copy and of a copy without the tap."""
    lines = ["Checked against perf stat (one free-battle scene a run, in two copies measured "
             "alone in turn, the one with the tap and one without it, as a player runs the "
             "program; CPU ms a frame, every thread, and the ratio of the two copies' in each "
             "round, medians over the rounds):", ""]
    if not checks:
        return lines + ["- not measured", ""]
    for number, c in checks:
        lines.append(
            f"- run {number}, {c['scene']}: the bench (the tap) {shown(c['tap_ms'], '.2f')} ms "
            f"({shown(100 * c['tap_share'], '.1f')} % of a core at {shown(c['fps'], '.1f')} fps; "
            f"perf stat of the same copy {shown(c['perf_ms'], '.2f')} ms); perf stat of the copy "
            f"without the tap {shown(c['plain_ms'], '.2f')} ms "
            f"({shown(100 * c['plain_share'], '.1f')} % at {shown(c['plain_fps'], '.1f')} fps, "
            f"its frames told by its writev calls): the bench / plain = "
            f"{shown(c['ratio'], '.2f')} ({c['rounds']} rounds)")
    return lines + [""]


def plain_check_budget(checks):
    """The budget row: the run whose bench figure lies farthest from the
    plain measurement."""
    worst = max((abs(c["ratio"] - 1) for _, c in checks if c["ratio"] == c["ratio"]),
                default=float("nan"))
    return ("the bench's CPU a frame against perf stat of a copy without the tap, worst run",
            shown(100 * worst, ".1f", " % apart"), "<= 10 %", within(worst, GOALS["plain_apart"]))


# The room directory's scenes (drive.sh, scenario_directory_scale): hosts
# announcing this many rooms while a guest refreshes; the first is the
# small directory the larger one's costs are held against.
DIRECTORY_COUNTS = (20, 2000)
CONSOLE_LINE = re.compile(r"directory: (\d+) rooms announced, (\d+) to ask \((\d+) KiB read")


def directory_runs(run, windows, taps):
    """Per announced count, one run's fill of the directory (its "announce"
    mark) and its refreshes: the tap's figures of each refresh window, the
    guest's console line for it (in order) and the server's share of it
    (its "serve" mark)."""
    found = {count: {"fills": [], "refreshes": []} for count in DIRECTORY_COUNTS}
    serves = {}
    with open(os.path.join(run, "marks")) as f:
        for line in f:
            p = line.split()
            if p and p[0] == "announce" and len(p) >= 6 and int(p[1]) in found:
                found[int(p[1])]["fills"].append(
                    {"ms": int(p[2]), "cpu_ms": int(p[3]), "in": int(p[4]), "out": int(p[5]),
                     "load_cpu_ms": int(p[6]) if len(p) > 6 else None})
            elif p and p[0] == "serve" and len(p) >= 6:
                serves[(int(p[1]), int(p[2]))] = {"cpu_ms": int(p[3]),
                                                  "bytes": int(p[4]) + int(p[5])}
    for count in DIRECTORY_COUNTS:
        copy = f"directory{count}"
        consoles = []
        log = os.path.join(run, copy + ".log")
        if os.path.exists(log):
            with open(log, errors="replace") as f:
                consoles = [tuple(int(v) for v in m.groups()) for m in CONSOLE_LINE.finditer(f.read())]
        starts = [(start, end) for scene, _, start, end, _ in windows if scene == copy]
        for k, (start, end) in enumerate(starts):
            fig = directory_figures(taps[copy], start, end) or {}
            if k < len(consoles):
                fig["announced"], fig["asked"], fig["read_kib"] = consoles[k]
            served = serves.get((count, start))
            if served:
                fig["server_cpu_ms"] = served["cpu_ms"]
                fig["server_bytes"] = served["bytes"]
            found[count]["refreshes"].append(fig)
    return found


def directory_section(directory):
    """The directory's table, the small and the large one side by side, and
    its budget rows."""
    small, large = DIRECTORY_COUNTS

    def fill(count, field):
        fills = directory[count]["fills"]
        if field == "bytes":
            return med([(f["in"] + f["out"]) / count for f in fills])
        return med([f[field] for f in fills if f[field] is not None])

    def refresh(count, field):
        return med([r.get(field) for r in directory[count]["refreshes"]])

    def ratio(a, b):
        return b / a if a == a and b == b and a > 0 else float("nan")

    rows = [
        ("key press to the last room's answer (the full list), ms", "press_ms", ".0f", 1),
        ("longest gap between presented frames meanwhile, ms", "gap_ms", ".1f", 1),
        ("read from the directory (the guest's console line), KiB", "read_kib", ".0f", 1),
        ("announcements the guest took / rooms it asked", None, "", 1),
        ("rooms that answered", "answers", ".0f", 1),
        ("the server's CPU for the refresh, ms", "server_cpu_ms", ".0f", 1),
        ("port 5222's traffic for the refresh, KB", "server_bytes", ".0f", 1000),
    ]
    lines = ["", f"The room directory at {small} and at {large:,} announced rooms (prosody with "
             "the shipped configuration, in a network namespace; tools/bench/announcers.py "
             "announces the rooms, each on an address of its own answered by a stand-in; "
             "medians over the runs' refreshes, and over the runs for the fill):", "",
             f"| | {small} rooms | {large:,} rooms | {large:,} / {small} |", "|---|---|---|---|"]
    for label, field, fmt, unit in rows:
        if field is None:
            cells = [f"{shown(refresh(c, 'announced'), '.0f')} / {shown(refresh(c, 'asked'), '.0f')}"
                     for c in DIRECTORY_COUNTS]
            lines.append(f"| {label} | {cells[0]} | {cells[1]} | |")
            continue
        a, b = refresh(small, field) / unit, refresh(large, field) / unit
        lines.append(f"| {label} | {shown(a, fmt)} | {shown(b, fmt)} | {shown(ratio(a, b), '.2f')} |")
    cpu_a, cpu_b = fill(small, "cpu_ms") / small, fill(large, "cpu_ms") / large
    bytes_a, bytes_b = fill(small, "bytes") / 1000, fill(large, "bytes") / 1000
    lines += [
        f"| filling the directory: from the first sign-in to the server idle, s | "
        f"{shown(fill(small, 'ms') / 1000, '.1f')} | {shown(fill(large, 'ms') / 1000, '.1f')} | |",
        f"| the load tool's own CPU for the fill (announcers.py), s | "
        f"{shown(fill(small, 'load_cpu_ms') / 1000, '.1f')} | "
        f"{shown(fill(large, 'load_cpu_ms') / 1000, '.1f')} | |",
        f"| the server's CPU per announcement (the fill), ms | {shown(cpu_a, '.2f')} | "
        f"{shown(cpu_b, '.2f')} | {shown(ratio(cpu_a, cpu_b), '.2f')} |",
        f"| port 5222's traffic per announcement (the fill, both ways, IP packets), KB | "
        f"{shown(bytes_a, '.1f')} | {shown(bytes_b, '.1f')} | {shown(ratio(bytes_a, bytes_b), '.2f')} |",
    ]
    press, gap = refresh(large, "press_ms"), refresh(large, "gap_ms")
    read_kb = refresh(large, "read_kib") * 1.024
    budget = [
        (f"refresh through the directory, {large:,} announced rooms, from the key press to the "
         f"full list", shown(press, ".0f", " ms"), "<= 2000 ms", within(press, GOALS["directory_ms"])),
        (f"read from the directory by the guest, {large:,} announced rooms",
         shown(read_kb, ".0f", " KB"), "<= 256 KB", within(read_kb, GOALS["directory_read_kb"])),
        (f"longest gap between frames during the {large:,}-room refresh", shown(gap, ".1f", " ms"),
         "<= 100 ms", within(gap, GOALS["refresh_gap_ms"])),
        (f"the server's CPU per announcement, {large:,} rooms against {small}",
         shown(ratio(cpu_a, cpu_b), ".2f", " x"), "<= 2 x",
         within(ratio(cpu_a, cpu_b), GOALS["per_announcement_ratio"])),
        (f"the server's traffic per announcement, {large:,} rooms against {small}",
         shown(ratio(bytes_a, bytes_b), ".2f", " x"), "<= 2 x",
         within(ratio(bytes_a, bytes_b), GOALS["per_announcement_ratio"])),
    ]
    return lines, budget


def med(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else float("nan")


def machine_lines(renderer):
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    threads = os.environ.get("LP_NUM_THREADS")
    threads = threads if threads else "unset (llvmpipe's default: one per core)"
    return [
        f"- Machine: {os.cpu_count()} cores (nproc), {cpu}, Linux {platform.release()}",
        f"- Renderer: {renderer or '?'} under Xvfb; LP_NUM_THREADS {threads}",
    ]


def verdict(ok):
    return "yes" if ok else "**no**"


def shown(value, fmt, unit=""):
    """A figure for the tables, or "not measured" when there is none."""
    if value is None or value != value:  # NaN
        return "not measured"
    return f"{value:{fmt}}{unit}"


def within(value, goal, below=True):
    """False for a figure that was not measured."""
    if value is None or value != value:
        return False
    return value <= goal if below else value >= goal


def main():
    args = sys.argv[1:]
    profile = None
    if "--profile" in args:
        i = args.index("--profile")
        profile = args[i + 1]
        del args[i:i + 2]
    out_dir, runs = args[0], args[1:]

    per_scene = {(s, c): [] for s, c, _ in SCENES}
    for scene, _ in SCALED:
        per_scene.setdefault((scene, "solo"), [])
        for sfx, copy, _ in SCALED_KINDS:
            per_scene.setdefault((f"{scene}_{sfx}", copy), [])
    # Per run and scaled scene: CPU a frame scaled / the same scene's at 1x.
    ratios = {(scene, sfx): [] for scene, _ in SCALED for sfx, _, _ in SCALED_KINDS}
    first_frame, first_picture, joins, queries, refreshes = [], [], [], [], []
    relayed_joins, relayed_queries = [], []  # through the directory's relay
    named = []  # refreshes of the 40 host names
    directory = {count: {"fills": [], "refreshes": []} for count in DIRECTORY_COUNTS}
    checks = []  # (run, plain_check's figures)
    peaks = []  # peak resident MiB at the end of every measured window, of every scene
    renderer = None
    for number, run in enumerate(runs, 1):
        windows, launches = read_marks(run)
        taps = {c: read_tap(os.path.join(run, c + ".tap"))
                for c in ("solo", "solo2x", "solofs", "host", "guest", "refresh", "names", "checked",
                          "rhost", "rguest")
                + tuple(f"directory{count}" for count in DIRECTORY_COUNTS)}
        for tap in taps.values():
            renderer = renderer or tap["renderer"]
        this_run = {}
        for scene, copy, start, end, hwm in windows:
            peaks.append(hwm / 1024.0)
            if scene in ("refresh", "names"):
                fig = refresh_figures(taps[copy], start, end)
                if fig:
                    (refreshes if scene == "refresh" else named).append(fig)
            if (scene, copy) in per_scene:
                fig = scene_figures(taps[copy], start, end, hwm)
                if fig:
                    per_scene[(scene, copy)].append(fig)
                    this_run[(scene, copy)] = fig
        for scene, _ in SCALED:
            plain = this_run.get((scene, "solo"))
            for sfx, copy, _ in SCALED_KINDS:
                big = this_run.get((f"{scene}_{sfx}", copy))
                if plain and big:
                    ratios[(scene, sfx)].append(big["cpu_ms"] / plain["cpu_ms"])
        for copy in ("solo", "host"):  # the guest starts while the host runs
            frames = taps[copy]["frames"]
            if copy in launches and len(frames) >= 2:
                first_frame.append((frames[0][1] - launches[copy]) / 1e6)
                first_picture.append((frames[1][1] - launches[copy]) / 1e6)
        checked = plain_check(run, taps["checked"])
        if checked:
            checks.append((number, checked))
        for count, found in directory_runs(run, windows, taps).items():
            directory[count]["fills"] += found["fills"]
            directory[count]["refreshes"] += found["refreshes"]
        j, q = net_figures(taps["host"], taps["guest"])
        joins += j
        queries += q
        j, q = net_figures(taps["rhost"], taps["rguest"])
        relayed_joins += j
        relayed_queries += q

    def scene_med(key, field):
        return med([f[field] for f in per_scene[key]])

    lines = ["# Vellora benchmark", ""]
    lines += machine_lines(renderer)
    lines += [f"- Runs: {len(runs)}; every figure is the median over the runs; "
              f"pacing cap {FPS_CAP:.1f} fps (17 ms waits)", ""]
    lines += ["| Scene | fps | median interval ms | p99 interval ms | CPU ms/frame | "
              "CPU % of a core | main thread ms/frame | peak RSS MiB |",
              "|---|---|---|---|---|---|---|---|"]
    for scene, copy, label in SCENES:
        key = (scene, copy)
        if not per_scene[key]:
            lines.append(f"| {label} | no data | | | | | | |")
            continue
        lines.append(
            f"| {label} | {scene_med(key, 'fps'):.1f} | {scene_med(key, 'median_ms'):.2f} | "
            f"{scene_med(key, 'p99_ms'):.2f} | {scene_med(key, 'cpu_ms'):.2f} | "
            f"{100 * scene_med(key, 'cpu_share'):.0f} | {scene_med(key, 'main_ms'):.2f} | "
            f"{scene_med(key, 'hwm_mib'):.1f} |")
    lines.append("")
    lines += ["The scaled pictures beside the 640 x 480 window, the same scenes in one run "
              "(CPU ms a frame, every thread of the process; ratio: the median over the runs "
              "of scaled / 1x within each run; peak RSS MiB in brackets):", ""]
    header = "| Scene | 640 x 480 window |"
    rule = "|---|---|"
    for _, _, label in SCALED_KINDS:
        header += f" {label} | ratio |"
        rule += "---|---|"
    lines += [header, rule]
    for scene, label in SCALED:
        key = (scene, "solo")
        row = (f"| {label} | {shown(scene_med(key, 'cpu_ms'), '.2f')} "
               f"({shown(scene_med(key, 'hwm_mib'), '.1f')}) |")
        for sfx, copy, _ in SCALED_KINDS:
            big = (f"{scene}_{sfx}", copy)
            row += (f" {shown(scene_med(big, 'cpu_ms'), '.2f')} "
                    f"({shown(scene_med(big, 'hwm_mib'), '.1f')}) | "
                    f"{shown(med(ratios[(scene, sfx)]), '.2f')} |")
        lines.append(row)
    lines.append("")
    lines += plain_check_lines(checks)
    if LOADS:
        lines.append(f"- Machine load (1-minute average, everything on the machine) at the end "
                     f"of the measured windows: {min(LOADS):.2f} to {max(LOADS):.2f} "
                     f"(median {statistics.median(LOADS):.2f}) on {os.cpu_count()} cores")
    ff = med(first_frame)
    lines.append(f"- Start to first presented frame: {ff:.0f} ms "
                 f"(first frame the title drew: {med(first_picture):.0f} ms)")
    jf = med([j["frames"] for j in joins])
    qf = med([q["frames"] for q in queries])
    lines.append(f"- Join: {shown(jf, '.0f')} host frames from the guest's Join leaving to the "
                 f"host's answer leaving (and arriving, over loopback): "
                 f"{shown(med([j['ms'] for j in joins]), '.1f')} ms; the guest reads it "
                 f"{shown(med([j['read_ms'] for j in joins]), '.1f')} ms after its Join left, "
                 f"at its next poll ({len(joins)} joins)")
    lines.append(f"- Room query: {shown(qf, '.0f')} host frames from the query leaving (the "
                 f"guest sends it as soon as its connection is made) to the host's answer "
                 f"leaving ({shown(med([q['ms'] for q in queries]), '.1f')} ms; "
                 f"{shown(med([q['read_frames'] for q in queries]), '.0f')} frames from the "
                 f"host reading it; {len(queries)} queries)")
    rjf = med([j["frames"] for j in relayed_joins])
    rqf = med([q["frames"] for q in relayed_queries])
    rjms = med([j["ms"] for j in relayed_joins])
    rqms = med([q["ms"] for q in relayed_queries])
    lines.append(f"- Through the room directory's relay (coturn with the shipped configuration, "
                 f"host and guest on this machine, relay=always): Join {shown(rjf, '.0f')} host "
                 f"frames, {shown(rjms, '.1f')} ms from the guest's Join leaving to the host's "
                 f"answer leaving (the guest reads it "
                 f"{shown(med([j['read_ms'] for j in relayed_joins]), '.1f')} ms after its Join "
                 f"left; {len(relayed_joins)} joins), beside {shown(jf, '.0f')} frames and "
                 f"{shown(med([j['ms'] for j in joins]), '.1f')} ms directly; room query "
                 f"{shown(rqf, '.0f')} host frames, {shown(rqms, '.1f')} ms "
                 f"({len(relayed_queries)} queries), beside {shown(qf, '.0f')} frames and "
                 f"{shown(med([q['ms'] for q in queries]), '.1f')} ms directly")
    rms = med([r["ms"] for r in refreshes])
    rgap = med([r["gap_ms"] for r in refreshes])
    lines.append(f"- Refresh of a room list of 100 rooms (50 take the connection and never "
                 f"answer, 25 ports closed, 25 answer): {rms:.0f} ms from its first connection "
                 f"to its last one closed, after the wait dialog's opening (longest {max((r['ms'] for r in refreshes), default=0):.0f}"
                 f" ms); longest gap between presented frames meanwhile {rgap:.1f} ms "
                 f"(longest {max((r['gap_ms'] for r in refreshes), default=0):.1f} ms); "
                 f"{med([r['frames'] for r in refreshes]):.0f} frames presented, "
                 f"{med([r['connections'] for r in refreshes]):.0f} connections started, "
                 f"{med([r['answers'] for r in refreshes]):.0f} rooms answered "
                 f"({len(refreshes)} refreshes)")
    nms = med([r["press_ms"] for r in named])
    ngap = med([r["gap_ms"] for r in named])
    lines.append(f"- Refresh of a room list of 40 host names, each looked up through a name "
                 f"server that answers in 150 ms (40 rooms that answer): {nms:.0f} ms from the "
                 f"key press to its last connection closed, the wait dialog's opening included "
                 f"({med([r['ms'] for r in named]):.0f} ms from its first connection); longest "
                 f"gap between presented frames meanwhile {ngap:.1f} ms; "
                 f"{med([r['connections'] for r in named]):.0f} connections started, "
                 f"{med([r['answers'] for r in named]):.0f} rooms answered "
                 f"({len(named)} refreshes)")
    directory_lines, directory_budget = directory_section(directory)
    lines += directory_lines
    own = None
    if profile and os.path.exists(profile):
        with open(profile) as f:
            text = f.read()
        lines += ["", text.strip()]
        m = re.search(r"own_ms_max=([0-9.]+)", text)
        own = float(m.group(1)) if m else None

    allocs = med([med([f["allocs"] for f in v]) for v in per_scene.values() if v])
    worst_fps = min((scene_med(k, "fps") for k in per_scene if per_scene[k]), default=0)
    worst_p99 = max((scene_med(k, "p99_ms") for k in per_scene if per_scene[k]), default=0)
    worst_cpu = max((scene_med(k, "cpu_share") for k in per_scene
                     if per_scene[k] and k not in TWO_COPIES), default=0)
    worst_cpu_two = max((scene_med(k, "cpu_share") for k in per_scene
                         if per_scene[k] and k in TWO_COPIES), default=0)
    worst_hwm = max(peaks, default=float("nan"))
    ratio_meds = [med(r) for r in ratios.values()]
    worst_ratio = float("nan") if any(r != r for r in ratio_meds) else max(ratio_meds)
    jms = med([j["ms"] for j in joins])
    qms = med([q["ms"] for q in queries])
    lines += ["", "| Budget | measured | goal | met |", "|---|---|---|---|"]
    budget = [
        ("presented fps, worst scene", f"{worst_fps:.1f}", f">= {GOALS['fps']:.1f}",
         worst_fps >= GOALS["fps"]),
        ("p99 frame interval, worst scene", f"{worst_p99:.1f} ms", "< 20 ms",
         worst_p99 < GOALS["p99_ms"]),
        ("process CPU, worst scene, one copy running", f"{100 * worst_cpu:.0f} % of a core",
         "<= 50 %", worst_cpu <= GOALS["cpu_share"]),
        ("process CPU, worst scene, a second copy running alongside",
         f"{100 * worst_cpu_two:.0f} % of a core", "<= 50 %",
         worst_cpu_two <= GOALS["cpu_share"]),
        ("own code CPU per frame, worst scene",
         f"{own:.3f} ms" if own is not None else "not profiled", "<= 0.5 ms",
         own is not None and own <= GOALS["own_ms"]),
        ("start to first presented frame", shown(ff, ".0f", " ms"), "<= 400 ms",
         within(ff, GOALS["first_frame_ms"])),
        ("Join answered", f"{shown(jf, '.0f', ' host frames')} ({shown(jms, '.1f', ' ms')})",
         "<= 2 host frames", within(jf, GOALS["join_frames"])),
        ("room query answered",
         f"{shown(qf, '.0f', ' host frames')} ({shown(qms, '.1f', ' ms')})", "<= 1 host frame",
         within(qf, GOALS["query_frames"])),
        ("Join answered through the relay",
         f"{shown(rjf, '.0f', ' host frames')} ({shown(rjms, '.1f', ' ms')})",
         "<= 2 host frames", within(rjf, GOALS["join_frames"])),
        ("room query answered through the relay",
         f"{shown(rqf, '.0f', ' host frames')} ({shown(rqms, '.1f', ' ms')})", "<= 1 host frame",
         within(rqf, GOALS["query_frames"])),
        ("refresh of 100 rooms", shown(rms, ".0f", " ms"), "<= 2000 ms",
         within(rms, GOALS["refresh_ms"])),
        ("longest gap between frames during a refresh", shown(rgap, ".1f", " ms"), "<= 100 ms",
         within(rgap, GOALS["refresh_gap_ms"])),
        ("refresh of 40 host names, from the key press", shown(nms, ".0f", " ms"),
         "<= 2500 ms", within(nms, GOALS["names_ms"])),
        ("longest gap between frames during the 40-name refresh", shown(ngap, ".1f", " ms"),
         "<= 100 ms", within(ngap, GOALS["refresh_gap_ms"])),
        ("scaled picture CPU a frame, worst scene, as a multiple of the same scene at 1x",
         shown(worst_ratio, ".2f", " x"), "<= 1.5 x",
         within(worst_ratio, GOALS["scaled_cpu_ratio"])),
        plain_check_budget(checks),
        *directory_budget,
        ("peak resident set, any scene of any run",
         f"{shown(worst_hwm, '.1f', ' MiB')} ({shown(worst_hwm * 1.048576, '.1f', ' MB')})",
         "< 120 MiB", within(worst_hwm, GOALS["hwm_mib"]) and worst_hwm < GOALS["hwm_mib"]),
    ]
    for name, measured, goal, ok in budget:
        lines.append(f"| {name} | {measured} | {goal} | {verdict(ok)} |")
    lines.append("")
    lines.append(f"Main-thread allocations per presented frame (median over scenes): "
                 f"{allocs:.1f}, the GL driver's and the program's together (the profiled run "
                 f"above tells them apart).")
    text = "\n".join(lines) + "\n"
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, "bench.md"), "w") as f:
        f.write(text)
    print(text, end="")


if __name__ == "__main__":
    main()
