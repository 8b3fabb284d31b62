#!/usr/bin/env python3
"""Resize workloads V1 and V2 through peer libraries, next to vekr.

Runs the standard resize workloads on the same generated volumes through
scipy.ndimage.zoom, ITK's ResampleImageFilter (when ITK's development files
are installed: itk_resample.cpp is built once into a cache folder) and VTK's
vtkImageReslice (each single-threaded), and,
when given the path of vekr_volume_bench, through vekr in the same session.
Prints one table: milliseconds and Mvoxels/s per workload and library, and
vekr's speed-up over the fastest peer.

    /usr/bin/python3 bench/volume/peers.py [build/release/bench/volume/vekr_volume_bench]

Times are process CPU seconds (medians of several runs), which keeps the
comparison fair on a machine shared with other work; the peers run on one
thread, so CPU time is their elapsed time on an idle machine.

Mapping: destination voxel d stands for the source position
(d + 0.5) / F - 0.5 with taps clamped to the faces (scipy: grid_mode=True,
mode='nearest'; VTK: output origin (1 / F - 1) / 2, spacing 1 / F, border
clamping). scipy's cubic is the B-spline without prefilter (vekr mode 5),
VTK's cubic is Catmull-Rom (vekr mode 6), ITK's cubic is the B-spline
interpolator (with its prefilter, so it does more work than vekr mode 5).
"""
import json
import os
import statistics
import subprocess
import sys
import time

import numpy as np

REPEATS = 5


# ---------------------------------------------------------------- volumes

def voxel_hash(n_voxels, seed):
    n = np.arange(n_voxels, dtype=np.uint32)
    with np.errstate(over="ignore"):
        x = n + np.uint32((seed * 0x9E3779B9) & 0xFFFFFFFF)
        x ^= x >> np.uint32(16)
        x *= np.uint32(0x7FEB352D)
        x ^= x >> np.uint32(15)
        x *= np.uint32(0x846CA68B)
        x ^= x >> np.uint32(16)
    return x


def source_a():
    """Workload source A: 8u 128^3, seed 1, array index [z, y, x]."""
    return (voxel_hash(128 ** 3, 1) >> np.uint32(24)).astype(np.uint8).reshape(128, 128, 128)


def source_b():
    """Workload source B: 32f 256^3, seed 2."""
    v = (voxel_hash(256 ** 3, 2) >> np.uint32(8)).astype(np.float32) * np.float32(2.0 ** -24)
    return v.reshape(256, 256, 256)


# Workload name -> (source, factor, mode name). Mode names follow the
# benchmark program: Nearest, Linear, CatmullRom, BSpline.
WORKLOADS = [
    ("V1_Nearest", "A", 2.0, "Nearest"),
    ("V1_Linear", "A", 2.0, "Linear"),
    ("V1_CatmullRom", "A", 2.0, "CatmullRom"),
    ("V1_BSpline", "A", 2.0, "BSpline"),
    ("V2_Nearest", "B", 0.5, "Nearest"),
    ("V2_Linear", "B", 0.5, "Linear"),
    ("V2_CatmullRom", "B", 0.5, "CatmullRom"),
]


def timed(fn):
    samples = []
    for _ in range(REPEATS):
        t0 = time.process_time()
        fn()
        samples.append(time.process_time() - t0)
    return statistics.median(samples)


# ---------------------------------------------------------------- peers

def scipy_runner(src, factor, mode):
    from scipy import ndimage
    order = {"Nearest": 0, "Linear": 1, "BSpline": 3}.get(mode)
    if order is None:
        return None
    return lambda: ndimage.zoom(src, factor, order=order, mode="nearest", grid_mode=True, prefilter=False)


def vtk_runner(src, factor, mode):
    import vtk
    from vtk.util import numpy_support
    interp = {"Nearest": "SetInterpolationModeToNearestNeighbor", "Linear": "SetInterpolationModeToLinear",
              "CatmullRom": "SetInterpolationModeToCubic"}.get(mode)
    if interp is None:
        return None
    vtk.vtkMultiThreader.SetGlobalMaximumNumberOfThreads(1)
    n = src.shape[0]
    image = vtk.vtkImageData()
    image.SetDimensions(n, n, n)
    image.SetSpacing(1, 1, 1)
    image.SetOrigin(0, 0, 0)
    image.GetPointData().SetScalars(numpy_support.numpy_to_vtk(src.ravel(), deep=True))
    out_n = int(round(n * factor))
    reslice = vtk.vtkImageReslice()
    reslice.SetInputData(image)
    getattr(reslice, interp)()
    reslice.SetOutputSpacing(1 / factor, 1 / factor, 1 / factor)
    origin = (1 / factor - 1) / 2
    reslice.SetOutputOrigin(origin, origin, origin)
    reslice.SetOutputExtent(0, out_n - 1, 0, out_n - 1, 0, out_n - 1)
    reslice.BorderOn()
    reslice.SetNumberOfThreads(1)
    if hasattr(reslice, "SetEnableSMP"):
        reslice.SetEnableSMP(False)

    def run():
        reslice.Modified()
        reslice.Update()
    return run


def itk_binary(program="itk_resample", components="ITKCommon ITKImageFunction ITKImageGrid ITKTransform"):
    """Builds <program>.cpp of this folder against the installed ITK; None without ITK."""
    here = os.path.dirname(os.path.abspath(__file__))
    cache = os.path.join(os.environ.get("XDG_CACHE_HOME", "/tmp"), "vekr_itk_peer_" + program)
    exe = os.path.join(cache, "build", program)
    source = os.path.join(here, program + ".cpp")
    inputs = [source, os.path.join(here, "itk_peer.h"), os.path.join(os.path.dirname(here), "support", "bench_volumes.h")]
    if os.path.exists(exe) and os.path.getmtime(exe) > max(os.path.getmtime(f) for f in inputs):
        return exe
    os.makedirs(cache, exist_ok=True)
    with open(os.path.join(cache, "CMakeLists.txt"), "w") as f:
        f.write("cmake_minimum_required(VERSION 3.16)\nproject(itk_peer C CXX)\n"
                "find_package(ITK REQUIRED COMPONENTS %s)\ninclude(${ITK_USE_FILE})\n"
                "set(CMAKE_BUILD_TYPE Release)\n"
                "add_executable(%s %s)\ntarget_link_libraries(%s ${ITK_LIBRARIES})\n"
                "target_include_directories(%s PRIVATE %s)\n"
                % (components, program, source, program, program, os.path.dirname(here)))
    try:
        subprocess.run(["cmake", "-S", cache, "-B", os.path.join(cache, "build"), "-DCMAKE_BUILD_TYPE=Release"],
                       check=True, capture_output=True)
        subprocess.run(["cmake", "--build", os.path.join(cache, "build"), "-j2"], check=True, capture_output=True)
    except (subprocess.CalledProcessError, FileNotFoundError):
        return None
    return exe


class ExternalTime:
    """A peer timed by its own program, which reports median CPU milliseconds."""

    def __init__(self, ms):
        self.ms = ms


def itk_runner(exe):
    def make(src, factor, mode):
        if exe is None or mode not in ("Nearest", "Linear", "BSpline"):
            return None
        name = ("V1_" if factor > 1 else "V2_") + mode
        out = subprocess.run([exe, name, str(REPEATS)], check=True, capture_output=True, text=True).stdout
        return ExternalTime(float(out.strip()))
    return make


# ---------------------------------------------------------------- vekr

def vekr_medians(bench, pattern):
    """Median (CPU, elapsed) milliseconds per benchmark name matching pattern."""
    out = subprocess.run([bench, "--benchmark_repetitions=%d" % REPEATS, "--benchmark_report_aggregates_only=true",
                          "--benchmark_format=json", "--benchmark_filter=" + pattern],
                         check=True, capture_output=True, text=True).stdout
    results = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            scale = {"ms": 1.0, "us": 1e-3, "ns": 1e-6, "s": 1e3}[b["time_unit"]]
            results[b["run_name"]] = (b["cpu_time"] * scale, b["real_time"] * scale)
    return results


def vekr_times(bench):
    """Median CPU milliseconds per resize workload from the benchmark program."""
    return {name: cpu for name, (cpu, _) in vekr_medians(bench, "^V[12]_").items()}


def main():
    bench = sys.argv[1] if len(sys.argv) > 1 else None
    sources = {"A": source_a(), "B": source_b()}
    peers = [("scipy.ndimage.zoom", scipy_runner), ("ITK ResampleImageFilter", itk_runner(itk_binary())),
             ("vtkImageReslice", vtk_runner)]
    vekr = vekr_times(bench) if bench and os.path.exists(bench) else {}

    header = "| Workload | Output voxels | " + " | ".join(p for p, _ in peers) + " | vekr | vekr vs fastest peer |"
    print(header)
    print("|" + "---|" * (header.count("|") - 1))
    for name, src_id, factor, mode in WORKLOADS:
        src = sources[src_id]
        voxels = int(round(src.shape[0] * factor)) ** 3
        cells, best = [], None
        for _, make in peers:
            try:
                fn = make(src, factor, mode)
            except ImportError:
                fn = None
            if fn is None:
                cells.append("-")
                continue
            if isinstance(fn, ExternalTime):
                ms = fn.ms
            else:
                fn()  # warm-up
                ms = timed(fn) * 1e3
            best = ms if best is None else min(best, ms)
            cells.append("%.1f ms (%.0f Mvox/s)" % (ms, voxels / ms / 1e3))
        v = vekr.get(name)
        cells.append("%.1f ms (%.0f Mvox/s)" % (v, voxels / v / 1e3) if v else "-")
        cells.append("%.1fx" % (best / v) if v and best else "-")
        print("| %s | %d | %s |" % (name, voxels, " | ".join(cells)))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
