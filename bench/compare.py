#!/usr/bin/python3
"""Every standard workload against every peer, in one sitting: one table, one chart.

Runs, one after the other on the same machine:
  - the ray workloads W1, W2, W3 on the bunny and the spheres scene through
    vekr_intersect_packet_bench, whose Embree rows cover every packet width
    (1, 4, 8, 16) and both BVH qualities (medium, high); Embree's figure is
    the best of all of them;
  - the build of each scene's acceleration structure on 1 and 2 threads
    through vekr_sah_build_bench: the SAH kd-tree against Embree's BVH at
    high quality (its SAH build, the like-for-like figure) and, in rows of
    their own, at medium quality (its fast build);
  - the volume workloads V1-V5 through bench/volume/peers.py and
    bench/volume/warp_filter_peers.py (scipy.ndimage, ITK, VTK, single
    thread; the fastest peer per workload);
and prints one Markdown table (vekr, the best peer and the setting it used,
the ratio), with the instruction sets each side ran. The same figures go to
OUT/compare.md, OUT/compare.json and a bar chart of the ratios,
OUT/compare.png (matplotlib), which the README shows. Run it with Debian's
Python, which has the peers' modules:

    /usr/bin/python3 bench/compare.py [--build build/release] [--out build/compare]
                  [--only rays|builds|volumes] [--repetitions N]

Every peer is expected (scripts/setup-deps --peers installs them): a peer
that cannot be built or run stops the script with the reason and status 1.
Figures are medians of repeated runs; the machine is small and shared, so
only ratios measured in the same sitting are worth quoting.
"""
import argparse
import json
import os
import platform
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SCENES = {"0": "bunny", "1": "spheres"}


def fail(message):
    print("compare: " + message, file=sys.stderr)
    sys.exit(1)


def run(cmd, what):
    try:
        done = subprocess.run(cmd, capture_output=True, text=True)
    except OSError as e:
        fail("%s: cannot run %s: %s" % (what, cmd[0], e))
    if done.returncode != 0:
        lines = (done.stdout + done.stderr).strip().splitlines()[-15:]
        fail("%s: `%s` failed with status %d:\n%s" % (what, " ".join(cmd), done.returncode,
                                                      "\n".join("    " + l for l in lines)))
    return done.stdout


def cpu_flags():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return set()


def vekr_isa():
    """The kernel set vekr chooses here: the widest of AVX-512 (F, BW, VL, DQ), AVX2 and SSE3 that the
    processor has, unless VEKR_ISA caps it."""
    flags = cpu_flags()
    widest = "SSE3"
    if "avx2" in flags:
        widest = "AVX2"
        if {"avx512f", "avx512bw", "avx512vl", "avx512dq"} <= flags and sys.platform != "win32":
            widest = "AVX-512"
    cap = os.environ.get("VEKR_ISA", "").lower()
    if cap == "sse3" or (cap == "avx2" and widest == "AVX-512"):
        return cap.upper() + " (held by VEKR_ISA)"
    return widest + " (chosen at run time)" if widest != "SSE3" else widest


def embree_isa():
    config = os.environ.get("VEKR_BENCH_EMBREE_CONFIG", "")
    if "isa=" in config:
        return config
    flags = cpu_flags()
    widest = "AVX-512" if "avx512f" in flags else "AVX2" if "avx2" in flags else "SSE4.2"
    return "its default, the widest here: " + widest


# ------------------------------------------------------------------ rays

def ray_rows(build, repetitions):
    bench = os.path.join(build, "bench", "intersect", "vekr_intersect_packet_bench")
    if not os.access(bench, os.X_OK):
        fail("%s is missing: build the release preset with benchmarks first" % bench)
    out = run([bench, "--benchmark_format=json", "--benchmark_repetitions=%d" % repetitions,
               "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.5",
               "--benchmark_filter=^W[123]/(EyeSO|AnySO|MO|MultipleSO_1|embree)"], "ray workloads")
    data = json.loads(out)
    if data.get("context", {}).get("embree_peer", "absent") == "absent":
        fail("the Embree peer is absent from %s (install libembree-dev with scripts/setup-deps --peers, "
             "configure and build again)" % bench)
    rates = {}  # (workload, scene) -> {setting: Mrays/s}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        if b.get("error_occurred"):
            fail("ray workloads: %s failed: %s" % (b["name"], b.get("error_message", "")))
        parts = b["run_name"].split("/")
        workload = parts[0]
        if parts[1] == "embree":
            scene = parts[3].split(":")[1]
            quality = "high" if parts[4].split(":")[1] == "1" else "medium"
            setting = "embree %s, %s BVH" % (parts[2], quality)
        else:
            scene = parts[-1]
            setting = "vekr %s %s" % (parts[1], parts[2])
        rates.setdefault((workload, SCENES[scene]), {})[setting] = b["Mrays/s"]

    # What each workload compares: vekr's fastest packet-path call on W1 (the
    # closest-hit calls, and the successive-hit call asked for one hit, which
    # answers the same query) and W2 against Embree's best width, and on W3 the ray-by-ray path against
    # single rays and the best of vekr against the best of Embree.
    plan = [("W1", "packet", None), ("W2", "packet", None), ("W3", "scalar", "rtcIntersect1"), ("W3", None, None)]
    rows = []
    for workload, vekr_setting, peer_call in plan:
        for scene in ("bunny", "spheres"):
            r = rates.get((workload, scene), {})
            # Settings read "vekr <call> <path>" and "embree <call>, <quality> BVH".
            vekr = {k: v for k, v in r.items()
                    if k.startswith("vekr") and (not vekr_setting or k.split()[2] == vekr_setting)}
            peer = {k: v for k, v in r.items()
                    if k.startswith("embree") and (not peer_call or k.split()[1].rstrip(",") == peer_call)}
            if not vekr or not peer:
                fail("ray workloads: no figures for %s %s" % (workload, scene))
            vs = max(vekr, key=vekr.get)
            ps = max(peer, key=peer.get)
            label = "%s %s" % (workload, scene)
            if workload == "W3":
                label += " (ray by ray)" if peer_call else " (best of each)"
            rows.append({"workload": label, "unit": "Mrays/s", "vekr": vekr[vs], "vekr_setting": vs[5:],
                         "peer": peer[ps], "peer_setting": ps})
    return rows


# ---------------------------------------------------------------- builds

def build_rows(build, repetitions):
    bench = os.path.join(build, "bench", "scene", "vekr_sah_build_bench")
    if not os.access(bench, os.X_OK):
        fail("%s is missing: build the release preset with benchmarks first" % bench)
    out = run([bench, "--benchmark_format=json", "--benchmark_repetitions=%d" % repetitions,
               "--benchmark_report_aggregates_only=true", "--benchmark_filter=^BM_(SAH|Embree)Build/"],
              "acceleration structure builds")
    seconds = {}  # (builder, scene, threads) -> median wall seconds
    triangles = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("error_occurred"):
            fail("builds: %s failed: %s" % (b["run_name"], b.get("error_message", "")))
        if b.get("aggregate_name") != "median":
            continue
        # BM_SAHBuild/<scene>_<n>thread(s)[/...] and
        # BM_EmbreeBuild/<scene>_<n>thread(s)_<quality>[/...].
        builder, name = b["run_name"].split("/")[:2]
        parts = name.split("_")
        scene, threads = parts[0], int(parts[1][0])
        key = "vekr" if builder == "BM_SAHBuild" else "embree " + parts[2]
        unit_s = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
        seconds[(key, scene, threads)] = b["real_time"] * unit_s
        triangles[scene] = b["triangles"]
    rows = []
    for quality in ("high", "medium"):
        for scene in ("bunny", "spheres"):
            for threads in (1, 2):
                vekr = seconds.get(("vekr", scene, threads))
                peer = seconds.get(("embree " + quality, scene, threads))
                if vekr is None or peer is None:
                    fail("builds: no figures for %s on %d thread(s)" % (scene, threads))
                rate = lambda s: triangles[scene] / s * 1e-6
                label = "build %s, %d thread%s" % (scene, threads, "s" if threads > 1 else "")
                if quality == "medium":
                    label += " (vs fast BVH)"
                rows.append({"workload": label, "unit": "Mtriangles/s", "vekr": rate(vekr),
                             "vekr_setting": "SAH kd-tree, %.1f ms" % (1e3 * vekr), "peer": rate(peer),
                             "peer_setting": "embree %s BVH, %.1f ms" % (quality, 1e3 * peer)})
    return rows


# ---------------------------------------------------------------- volumes

def volume_rows(build, repetitions):
    rows = []
    scripts = [("peers.py", "vekr_volume_bench"), ("warp_filter_peers.py", "vekr_volume_warp_bench")]
    for script, program in scripts:
        bench = os.path.join(build, "bench", "volume", program)
        if not os.access(bench, os.X_OK):
            fail("%s is missing: build the release preset with benchmarks first" % bench)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "figures.json")
            run([sys.executable, os.path.join(HERE, "volume", script), "--json", path, bench],
                "volume workloads (%s)" % script)
            with open(path) as f:
                figures = json.load(f)
        for row in figures["rows"]:
            peers = {k: v for k, v in row["peers"].items() if v}
            if not peers or not row["vekr"]:
                continue
            best = max(peers, key=peers.get)
            rows.append({"workload": row["workload"], "unit": row["unit"], "vekr": row["vekr"],
                         "vekr_setting": "1 thread", "peer": peers[best], "peer_setting": best + ", 1 thread"})
    return rows


# ----------------------------------------------------------------- output

def figure(v):
    # One decimal for the large rates; three digits for the small ones (a
    # build of a few thousand triangles is well under one Mtriangle/s).
    return "%.1f" % v if v >= 10 else "%.3g" % v


def table(rows, isas):
    lines = ["| Workload | vekr | setting | best peer | peer setting | vekr / peer |", "|---|---|---|---|---|---|"]
    for r in rows:
        lines.append("| %s | %s %s | %s | %s | %s | %.2fx |" % (
            r["workload"], figure(r["vekr"]), r["unit"], r["vekr_setting"], figure(r["peer"]), r["peer_setting"],
            r["vekr"] / r["peer"]))
    lines.append("")
    lines.append("vekr kernels: %s. Embree: %s. scipy, ITK and VTK: as Debian builds them. Machine: %s, %d cores." %
                 (isas["vekr"], isas["embree"], platform.processor() or platform.machine(), os.cpu_count() or 0))
    return "\n".join(lines) + "\n"


def chart(rows, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError as e:
        fail("cannot draw the chart: %s (scripts/setup-deps --peers installs python3-matplotlib)" % e)
    names = [r["workload"] for r in rows]
    ratios = [r["vekr"] / r["peer"] for r in rows]
    fig, ax = plt.subplots(figsize=(10, 0.32 * len(rows) + 1.2))
    colours = ["#2a7a2a" if x >= 1.0 else "#b03030" for x in ratios]
    ax.barh(range(len(rows)), ratios, color=colours)
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.set_yticks(range(len(rows)))
    ax.set_yticklabels(names, fontsize=8)
    ax.invert_yaxis()
    ax.set_xscale("log")
    ax.set_xlabel("vekr speed / fastest peer's speed (log scale; right of 1 = vekr faster)")
    for i, x in enumerate(ratios):
        ax.text(x, i, " %.2fx" % x, va="center", fontsize=7)
    fig.tight_layout()
    tmp = path + ".tmp.png"
    fig.savefig(tmp, dpi=100)
    os.replace(tmp, path)


def write(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text)
    os.replace(tmp, path)


def main():
    p = argparse.ArgumentParser(description="Every standard workload against every peer: one table, one chart.")
    p.add_argument("--build", default=os.path.join(REPO, "build", "release"), help="release build folder")
    p.add_argument("--out", default=os.path.join(REPO, "build", "compare"), help="folder for the table and chart")
    p.add_argument("--only", choices=["rays", "builds", "volumes"], help="run one group only")
    p.add_argument("--repetitions", type=int, default=3, help="runs per figure (the median is kept)")
    args = p.parse_args()
    if args.repetitions < 1:
        p.error("--repetitions must be at least 1")
    os.makedirs(args.out, exist_ok=True)
    rows = []
    if args.only in (None, "rays"):
        rows += ray_rows(args.build, args.repetitions)
    if args.only in (None, "builds"):
        rows += build_rows(args.build, args.repetitions)
    if args.only in (None, "volumes"):
        rows += volume_rows(args.build, args.repetitions)
    isas = {"vekr": vekr_isa(), "embree": embree_isa()}
    text = table(rows, isas)
    print(text, end="")
    write(os.path.join(args.out, "compare.md"), text)
    write(os.path.join(args.out, "compare.json"), json.dumps({"rows": rows, "isa": isas}, indent=1))
    chart(rows, os.path.join(args.out, "compare.png"))
    print("\nwritten: %s/compare.{md,json,png}" % args.out)


if __name__ == "__main__":
    main()
