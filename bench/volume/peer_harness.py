"""What the volume peer scripts share: the command line, timing, the ITK
peer programs built on demand, vekr's own figures, and the rule that no
expected peer is dropped without a word.

Every peer a script names is expected. When one cannot be imported, built or
run, the script prints why (with the failing command's last lines) and exits
with status 1, unless that peer was switched off with --without; a switched
off peer's column says "off", and every ratio computed without it says so.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(REPO, "workloads"))

import workloads  # noqa: E402,F401  (re-exported for the scripts)

REPEATS = 5
TAIL_LINES = 15


class PeerFailure(Exception):
    """An expected peer could not be built or run; the message says why."""


def tail(text, lines=TAIL_LINES):
    kept = (text or "").strip().splitlines()[-lines:]
    return "\n".join("    " + line for line in kept)


def run(cmd, what, **kwargs):
    """Runs cmd; a failure raises PeerFailure naming `what` with the output's last lines."""
    try:
        return subprocess.run(cmd, check=True, capture_output=True, text=True, **kwargs)
    except FileNotFoundError as e:
        raise PeerFailure("%s: cannot run %s: %s" % (what, cmd[0], e)) from None
    except subprocess.CalledProcessError as e:
        raise PeerFailure("%s: `%s` failed with status %d:\n%s" %
                          (what, " ".join(cmd), e.returncode, tail((e.stdout or "") + (e.stderr or "")))) from None


def parse_args(description, bench_name, peers):
    """Command line: the vekr benchmark program (optional) and peers to switch off."""
    p = argparse.ArgumentParser(description=description)
    p.add_argument("bench", nargs="?", help="path of %s, for vekr's own figures" % bench_name)
    p.add_argument("--without", action="append", default=[], choices=[key for key, _ in peers], metavar="PEER",
                   help="leave this peer out (its column says 'off'); repeatable; one of: " +
                        ", ".join(key for key, _ in peers))
    p.add_argument("--json", metavar="FILE",
                   help="also write every figure (Mvoxels/s per workload and library) to FILE, for bench/compare.py")
    args = p.parse_args()
    if args.bench and not os.access(args.bench, os.X_OK):
        p.error("%s is not an executable benchmark program" % args.bench)
    return args


def timed(fn):
    """Median process CPU seconds of REPEATS runs."""
    samples = []
    for _ in range(REPEATS):
        t0 = time.process_time()
        fn()
        samples.append(time.process_time() - t0)
    return statistics.median(samples)


def import_peer(what, module):
    try:
        return __import__(module, fromlist=["_"])
    except ImportError as e:
        raise PeerFailure("%s: cannot import %s (%s); scripts/setup-deps --peers installs it" %
                          (what, module, e)) from None


def itk_binary(program, components):
    """Builds <program>.cpp of this folder against the installed ITK, once; its path."""
    cache = os.path.join(os.environ.get("XDG_CACHE_HOME", "/tmp"), "vekr_itk_peer_" + program)
    exe = os.path.join(cache, "build", program)
    source = os.path.join(HERE, program + ".cpp")
    inputs = [source, os.path.join(HERE, "itk_peer.h"), os.path.join(REPO, "bench", "support", "bench_volumes.h"),
              os.path.join(REPO, "workloads", "workloads.h")]
    if os.path.exists(exe) and os.path.getmtime(exe) > max(os.path.getmtime(f) for f in inputs):
        return exe
    os.makedirs(cache, exist_ok=True)
    with open(os.path.join(cache, "CMakeLists.txt"), "w") as f:
        f.write("cmake_minimum_required(VERSION 3.16)\nproject(itk_peer C CXX)\n"
                "find_package(ITK REQUIRED COMPONENTS %s)\ninclude(${ITK_USE_FILE})\n"
                "set(CMAKE_BUILD_TYPE Release)\n"
                "add_executable(%s %s)\ntarget_link_libraries(%s ${ITK_LIBRARIES})\n"
                "target_include_directories(%s PRIVATE %s %s)\n"
                % (components, program, source, program, program, os.path.join(REPO, "bench"),
                   os.path.join(REPO, "workloads")))
    what = "ITK peer (%s)" % program
    run(["cmake", "-S", cache, "-B", os.path.join(cache, "build"), "-DCMAKE_BUILD_TYPE=Release"], what)
    run(["cmake", "--build", os.path.join(cache, "build"), "-j2"], what)
    return exe


class ExternalTime:
    """A peer timed by its own program, which reports median CPU milliseconds."""

    def __init__(self, ms):
        self.ms = ms


def itk_time(exe, workload):
    out = run([exe, workload, str(REPEATS)], "ITK peer %s %s" % (os.path.basename(exe), workload)).stdout
    try:
        return ExternalTime(float(out.strip()))
    except ValueError:
        raise PeerFailure("ITK peer %s %s printed %r, not milliseconds" % (exe, workload, out)) from None


def vekr_medians(bench, pattern):
    """Median (CPU, elapsed) milliseconds per benchmark name matching pattern."""
    out = run([bench, "--benchmark_repetitions=%d" % REPEATS, "--benchmark_report_aggregates_only=true",
               "--benchmark_format=json", "--benchmark_filter=" + pattern], "vekr (%s)" % bench).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("error_occurred"):
            raise PeerFailure("vekr (%s): %s failed: %s" % (bench, b["name"], b.get("error_message", "")))
        if b.get("aggregate_name") == "median":
            scale = {"ms": 1.0, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b["time_unit"]]
            results[b["run_name"]] = (b["cpu_time"] * scale, b["real_time"] * scale)
    return results


class Table:
    """The Markdown table; peers switched off get an 'off' column and mark every ratio."""

    def __init__(self, peers, switched_off, json_path=None):
        self.peers = peers
        self.off = [name for key, name in peers if key in switched_off]
        self.json_path = json_path
        self.rows = []

    def record(self, workload, peer_rates, vekr_rate):
        """Keeps one row's rates (Mvoxels/s; None where a peer has no such mode or is off)."""
        self.rows.append({"workload": workload, "unit": "Mvoxels/s", "peers": peer_rates, "vekr": vekr_rate})

    def peer_header(self):
        return " | ".join(name + (" (off)" if name in self.off else "") for _, name in self.peers)

    def ratio(self, text):
        return text + (" (without %s)" % ", ".join(self.off) if self.off and text != "-" else "")

    def footnote(self):
        if self.off:
            print("\nSwitched off with --without: %s. The vekr-vs-peer ratios leave them out." % ", ".join(self.off))
        if self.json_path:
            tmp = self.json_path + ".tmp"
            with open(tmp, "w") as f:
                json.dump({"rows": self.rows, "off": self.off}, f, indent=1)
            os.replace(tmp, self.json_path)


def fail(error):
    print("error: %s" % error, file=sys.stderr)
    print("Install the peers with scripts/setup-deps --peers, or switch one off with --without.", file=sys.stderr)
    sys.exit(1)
