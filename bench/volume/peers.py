#!/usr/bin/env python3
"""Resize workloads V1 and V2 through peer libraries, next to vekr.

Runs the standard resize workloads on the same generated volumes
(workloads/workloads.py) through scipy.ndimage.zoom, ITK's
ResampleImageFilter (itk_resample.cpp, built once into a cache folder) and
VTK's vtkImageReslice (each single-threaded), and, when given the path of
vekr_volume_bench, through vekr in the same session. Prints one table:
milliseconds and Mvoxels/s per workload and library, and vekr's speed-up
over the fastest peer. "n/a" marks a mode the peer does not have.

    /usr/bin/python3 bench/volume/peers.py [--without scipy|itk|vtk]... \
        [build/release/bench/volume/vekr_volume_bench]

Every peer is expected: one that cannot be imported, built or run stops the
script with the reason and exit status 1 (scripts/setup-deps --peers
installs them all), unless it is switched off with --without; its column
then says "off" and the speed-ups say they leave it out.

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
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer_harness import (ExternalTime, PeerFailure, Table, fail, import_peer, itk_binary, itk_time,  # noqa: E402
                          parse_args, timed, vekr_medians, workloads)

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


# ---------------------------------------------------------------- peers

def scipy_runner(src, factor, mode):
    ndimage = import_peer("scipy peer", "scipy.ndimage")
    order = {"Nearest": 0, "Linear": 1, "BSpline": 3}.get(mode)
    if order is None:
        return None
    return lambda: ndimage.zoom(src, factor, order=order, mode="nearest", grid_mode=True, prefilter=False)


def vtk_runner(src, factor, mode):
    vtk = import_peer("VTK peer", "vtk")
    numpy_support = import_peer("VTK peer", "vtk.util.numpy_support")
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


ITK_PROGRAM = ("itk_resample", "ITKCommon ITKImageFunction ITKImageGrid ITKTransform")


def itk_runner(src, factor, mode):
    if mode not in ("Nearest", "Linear", "BSpline"):
        return None
    return itk_time(itk_binary(*ITK_PROGRAM), ("V1_" if factor > 1 else "V2_") + mode)


# ---------------------------------------------------------------- vekr

def vekr_times(bench):
    """Median CPU milliseconds per resize workload from the benchmark program."""
    return {name: cpu for name, (cpu, _) in vekr_medians(bench, "^V[12]_").items()}


PEERS = [("scipy", "scipy.ndimage.zoom"), ("itk", "ITK ResampleImageFilter"), ("vtk", "vtkImageReslice")]
RUNNERS = {"scipy": scipy_runner, "itk": itk_runner, "vtk": vtk_runner}


def main():
    args = parse_args("Resize workloads V1 and V2 through peer libraries, next to vekr.", "vekr_volume_bench", PEERS)
    sources = {"A": workloads.source_a(), "B": workloads.source_b()}
    table = Table(PEERS, args.without)
    try:
        # Everything a peer needs, before the first line of the table.
        for key, what, module in (("scipy", "scipy peer", "scipy.ndimage"), ("vtk", "VTK peer", "vtk")):
            if key not in args.without:
                import_peer(what, module)
        if "itk" not in args.without:
            itk_binary(*ITK_PROGRAM)
        vekr = vekr_times(args.bench) if args.bench else {}
        header = "| Workload | Output voxels | " + table.peer_header() + " | vekr | vekr vs fastest peer |"
        print(header)
        print("|" + "---|" * (header.count("|") - 1))
        for name, src_id, factor, mode in WORKLOADS:
            src = sources[src_id]
            voxels = int(round(src.shape[0] * factor)) ** 3
            cells, best = [], None
            for key, _ in PEERS:
                if key in args.without:
                    cells.append("off")
                    continue
                fn = RUNNERS[key](src, factor, mode)
                if fn is None:  # the library has no such mode
                    cells.append("n/a")
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
            cells.append(table.ratio("%.1fx" % (best / v) if v and best else "-"))
            print("| %s | %d | %s |" % (name, voxels, " | ".join(cells)))
            sys.stdout.flush()
    except PeerFailure as e:
        fail(e)
    table.footnote()


if __name__ == "__main__":
    main()
