#!/usr/bin/env python3
"""Warp, remap and filter workloads V3, V4, V5 through peer libraries, next to vekr.

Runs the workloads on the same generated volumes (workloads/workloads.py)
through scipy.ndimage (affine_transform, map_coordinates, convolve), VTK
(vtkImageReslice, vtkImageConvolve) and ITK (ResampleImageFilter with an
AffineTransform, WarpImageFilter, ConvolutionImageFilter;
itk_warp_filter.cpp, built on demand), each single-threaded, and, when given
the path of vekr_volume_warp_bench, through vekr in the same session. Prints
one table: milliseconds and Mvoxels/s per workload and library, vekr's
speed-up over the fastest peer, and vekr's scaling from one to two threads.

    /usr/bin/python3 bench/volume/warp_filter_peers.py [--without scipy|vtk|itk]... \
        [build/release/bench/volume/vekr_volume_warp_bench]

Every peer is expected, as in peers.py: one that cannot be imported, built or
run stops the script with the reason and exit status 1, unless it is switched
off with --without; its column then says "off" and the speed-ups say they
leave it out.

Times are process CPU seconds (medians of several runs) for the single-threaded
comparison, as in peers.py; vekr's two-thread scaling is the ratio of its
elapsed times, which needs an otherwise idle machine to mean anything.

Mapping: voxel k is the point k. scipy and VTK write a background value 0 where
the source position falls outside; vekr leaves those voxels untouched. The
cubic peers: scipy's order 3 is the B-spline without prefilter (vekr mode 5),
VTK's cubic is Catmull-Rom (vekr mode 6); both are set against vekr's
Catmull-Rom; ITK's cubic is the B-spline with its prefilter. The filter peers compute in floating point with the kernel
divided by the divisor and write 16-bit integers; the outputs of scipy, VTK
and ITK cover the whole 260^3 source, so their rates count their own output
voxels.
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peer_harness import (ExternalTime, PeerFailure, Table, fail, import_peer, itk_binary, itk_time,  # noqa: E402
                          parse_args, timed, vekr_medians, workloads)

N = 256


def inverse_zyx(a):
    """Destination-to-source matrix and offset in array index order (z, y, x)."""
    inv = np.linalg.inv(a[:, :3])
    off = -inv @ a[:, 3]
    return inv[::-1, ::-1].copy(), off[::-1].copy()


def maps_v4():
    """V4 source positions in array index order (z, y, x) of every destination voxel."""
    sx, sy, sz = workloads.remap_maps(N)
    return np.stack([sz, sy, sx])


def binomial(n):
    """The V5 kernel divided by its divisor, for peers that filter in floating point."""
    k, divisor = workloads.kernel(n)
    return k.astype(np.float64) / divisor


# ---------------------------------------------------------------- peers

def scipy_runner(workload, data):
    ndimage = import_peer("scipy peer", "scipy.ndimage")
    if workload.startswith("V3"):
        order = 1 if workload.endswith("Linear") else 3
        matrix, offset = inverse_zyx(workloads.rot30())
        return lambda: ndimage.affine_transform(data["B"], matrix, offset=offset, order=order, mode="constant",
                                                prefilter=False), N ** 3
    if workload.startswith("V4"):
        return lambda: ndimage.map_coordinates(data["B"], data["maps"], order=1, mode="constant"), N ** 3
    n = 3 if workload.endswith("K3") else 5
    return lambda: ndimage.convolve(data["C"], binomial(n), output=np.int16, mode="constant"), 260 ** 3


def vtk_image(array):
    vtk = import_peer("VTK peer", "vtk")
    numpy_support = import_peer("VTK peer", "vtk.util.numpy_support")
    image = vtk.vtkImageData()
    d, h, w = array.shape
    image.SetDimensions(w, h, d)
    image.GetPointData().SetScalars(numpy_support.numpy_to_vtk(array.ravel(), deep=True))
    return image


def vtk_runner(workload, data):
    vtk = import_peer("VTK peer", "vtk")
    vtk.vtkMultiThreader.SetGlobalMaximumNumberOfThreads(1)
    if workload.startswith("V3"):
        inv = np.linalg.inv(np.vstack([workloads.rot30(), [0, 0, 0, 1]]))
        matrix = vtk.vtkMatrix4x4()
        for i in range(4):
            for j in range(4):
                matrix.SetElement(i, j, inv[i, j])
        transform = vtk.vtkMatrixToLinearTransform()
        transform.SetInput(matrix)
        algorithm = vtk.vtkImageReslice()
        algorithm.SetResliceTransform(transform)
        if workload.endswith("Linear"):
            algorithm.SetInterpolationModeToLinear()
        else:
            algorithm.SetInterpolationModeToCubic()
        algorithm.SetOutputExtent(0, N - 1, 0, N - 1, 0, N - 1)
        algorithm.SetOutputSpacing(1, 1, 1)
        algorithm.SetOutputOrigin(0, 0, 0)
        algorithm.SetBackgroundLevel(0)
        algorithm.SetInputData(vtk_image(data["B"]))
        voxels = N ** 3
    elif workload.startswith("V5"):
        n = 3 if workload.endswith("K3") else 5
        algorithm = vtk.vtkImageConvolve()
        getattr(algorithm, "SetKernel%dx%dx%d" % (n, n, n))(list(binomial(n).ravel()))
        algorithm.SetInputData(vtk_image(data["C"]))
        voxels = 260 ** 3
    else:
        return None
    algorithm.SetNumberOfThreads(1)
    if hasattr(algorithm, "SetEnableSMP"):
        algorithm.SetEnableSMP(False)

    def run():
        algorithm.Modified()
        algorithm.Update()
    return run, voxels


ITK_PROGRAM = ("itk_warp_filter", "ITKCommon ITKImageFunction ITKImageGrid ITKTransform ITKConvolution")
ITK_NAMES = {"V3_Linear": "V3_Linear", "V3_CatmullRom": "V3_Cubic", "V4_Linear": "V4_Linear", "V5_K3": "V5_K3",
             "V5_K5": "V5_K5"}


def itk_runner(workload, data):
    return itk_time(itk_binary(*ITK_PROGRAM), ITK_NAMES[workload]), (260 ** 3 if workload.startswith("V5") else N ** 3)


# Workload, benchmark name with one thread, with two threads (None: serial).
WORKLOADS = [
    ("V3_Linear", "V3_Warp/Linear/threads:1/real_time", "V3_Warp/Linear/threads:2/real_time"),
    ("V3_CatmullRom", "V3_Warp/CatmullRom/threads:1/real_time", "V3_Warp/CatmullRom/threads:2/real_time"),
    ("V4_Linear", "V4_Remap/Linear/threads:1/real_time", "V4_Remap/Linear/threads:2/real_time"),
    ("V5_K3", "V5_Filter/K3", None),
    ("V5_K5", "V5_Filter/K5", None),
]


PEERS = [("scipy", "scipy.ndimage"), ("vtk", "VTK"), ("itk", "ITK")]
RUNNERS = {"scipy": scipy_runner, "vtk": vtk_runner, "itk": itk_runner}


def main():
    args = parse_args("Warp, remap and filter workloads V3, V4, V5 through peer libraries, next to vekr.",
                      "vekr_volume_warp_bench", PEERS)
    table = Table(PEERS, args.without)
    try:
        # Everything a peer needs, before the first line of the table.
        for key, what, module in (("scipy", "scipy peer", "scipy.ndimage"), ("vtk", "VTK peer", "vtk")):
            if key not in args.without:
                import_peer(what, module)
        if "itk" not in args.without:
            itk_binary(*ITK_PROGRAM)
        data = {"B": workloads.source_b(), "C": workloads.source_c(), "maps": maps_v4()}
        vekr = vekr_medians(args.bench, "^V[345]_") if args.bench else {}
        header = ("| Workload | " + table.peer_header() +
                  " | vekr, 1 thread | vekr vs fastest peer | vekr 2 threads / 1 thread |")
        print(header)
        print("|" + "---|" * (header.count("|") - 1))
        for name, one, two in WORKLOADS:
            cells, best_rate = [], None
            for key, _ in PEERS:
                if key in args.without:
                    cells.append("off")
                    continue
                made = RUNNERS[key](name, data)
                if made is None:  # the library has no such operation
                    cells.append("n/a")
                    continue
                fn, voxels = made
                if isinstance(fn, ExternalTime):
                    ms = fn.ms
                else:
                    fn()  # warm-up
                    ms = timed(fn) * 1e3
                rate = voxels / ms / 1e3
                best_rate = rate if best_rate is None else max(best_rate, rate)
                cells.append("%.0f ms (%.1f Mvox/s)" % (ms, rate))
            single = vekr.get(one)
            if single:
                rate = N ** 3 / single[0] / 1e3
                cells.append("%.0f ms (%.1f Mvox/s)" % (single[0], rate))
                cells.append(table.ratio("%.1fx" % (rate / best_rate) if best_rate else "-"))
            else:
                cells += ["-", "-"]
            double = vekr.get(two) if two else None
            cells.append("%.2fx" % (single[1] / double[1]) if single and double else "serial")
            print("| %s | %s |" % (name, " | ".join(cells)))
            sys.stdout.flush()
    except PeerFailure as e:
        fail(e)
    table.footnote()


if __name__ == "__main__":
    main()
