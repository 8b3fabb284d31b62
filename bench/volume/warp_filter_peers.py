#!/usr/bin/env python3
"""Warp, remap and filter workloads V3, V4, V5 through peer libraries, next to vekr.

Runs the workloads on the same generated volumes through scipy.ndimage
(affine_transform, map_coordinates, convolve), VTK (vtkImageReslice,
vtkImageConvolve) and ITK (ResampleImageFilter with an AffineTransform,
WarpImageFilter, ConvolutionImageFilter; itk_warp_filter.cpp, built on
demand), each single-threaded, and, when given the path of
vekr_volume_warp_bench, through vekr in the same session. Prints one table:
milliseconds and Mvoxels/s per workload and library, vekr's speed-up over
the fastest peer, and vekr's scaling from one to two threads.

    /usr/bin/python3 bench/volume/warp_filter_peers.py [build/release/bench/volume/vekr_volume_warp_bench]

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
import subprocess
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from peers import REPEATS, ExternalTime, itk_binary, source_b, timed, vekr_medians, voxel_hash  # noqa: E402

N = 256


def source_c():
    """Workload source C: 16s 260^3, seed 3, array index [z, y, x]."""
    v = (voxel_hash(260 ** 3, 3) >> np.uint32(20)).astype(np.int32) - 2048
    return v.astype(np.int16).reshape(260, 260, 260)


def rotation_v3():
    """Forward 3 x 4 matrix of V3 (x, y, z order), as in workloads.h."""
    c, s, m = 0.8660254037844386, 0.5, 127.5
    return np.array([[c, -s, 0.0, (m - c * m) + s * m],
                     [s, c, 0.0, (m - s * m) - c * m],
                     [0.0, 0.0, 1.0, 0.0]])


def inverse_zyx(a):
    """Destination-to-source matrix and offset in array index order (z, y, x)."""
    inv = np.linalg.inv(a[:, :3])
    off = -inv @ a[:, 3]
    return inv[::-1, ::-1].copy(), off[::-1].copy()


def maps_v4():
    """V4 source positions (z, y, x order) of every destination voxel."""
    k = np.arange(N)
    s64 = 4.0 * np.sin(np.pi * (k % 64) / 32.0)
    z, y, x = np.meshgrid(k, k, k, indexing="ij")
    return np.stack([(z + s64[x]).astype(np.float32), (y + s64[z]).astype(np.float32),
                     (x + s64[y]).astype(np.float32)])


def binomial(n):
    b = np.array([1, 2, 1] if n == 3 else [1, 4, 6, 4, 1], dtype=np.float64)
    return np.einsum("i,j,k->ijk", b, b, b) / (64.0 if n == 3 else 4096.0)


# ---------------------------------------------------------------- peers

def scipy_runner(workload, data):
    from scipy import ndimage
    if workload.startswith("V3"):
        order = 1 if workload.endswith("Linear") else 3
        matrix, offset = inverse_zyx(rotation_v3())
        return lambda: ndimage.affine_transform(data["B"], matrix, offset=offset, order=order, mode="constant",
                                                prefilter=False), N ** 3
    if workload.startswith("V4"):
        return lambda: ndimage.map_coordinates(data["B"], data["maps"], order=1, mode="constant"), N ** 3
    n = 3 if workload.endswith("K3") else 5
    return lambda: ndimage.convolve(data["C"], binomial(n), output=np.int16, mode="constant"), 260 ** 3


def vtk_image(array):
    import vtk
    from vtk.util import numpy_support
    image = vtk.vtkImageData()
    d, h, w = array.shape
    image.SetDimensions(w, h, d)
    image.GetPointData().SetScalars(numpy_support.numpy_to_vtk(array.ravel(), deep=True))
    return image


def vtk_runner(workload, data):
    import vtk
    vtk.vtkMultiThreader.SetGlobalMaximumNumberOfThreads(1)
    if workload.startswith("V3"):
        inv = np.linalg.inv(np.vstack([rotation_v3(), [0, 0, 0, 1]]))
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


def itk_runner(exe):
    names = {"V3_Linear": "V3_Linear", "V3_CatmullRom": "V3_Cubic", "V4_Linear": "V4_Linear", "V5_K3": "V5_K3",
             "V5_K5": "V5_K5"}

    def make(workload, data):
        if exe is None:
            return None
        out = subprocess.run([exe, names[workload], str(REPEATS)], check=True, capture_output=True, text=True).stdout
        return ExternalTime(float(out.strip())), (260 ** 3 if workload.startswith("V5") else N ** 3)
    return make


# Workload, benchmark name with one thread, with two threads (None: serial).
WORKLOADS = [
    ("V3_Linear", "V3_Warp/Linear/threads:1/real_time", "V3_Warp/Linear/threads:2/real_time"),
    ("V3_CatmullRom", "V3_Warp/CatmullRom/threads:1/real_time", "V3_Warp/CatmullRom/threads:2/real_time"),
    ("V4_Linear", "V4_Remap/Linear/threads:1/real_time", "V4_Remap/Linear/threads:2/real_time"),
    ("V5_K3", "V5_Filter/K3", None),
    ("V5_K5", "V5_Filter/K5", None),
]


def main():
    bench = sys.argv[1] if len(sys.argv) > 1 else None
    data = {"B": source_b(), "C": source_c(), "maps": maps_v4()}
    peers = [("scipy.ndimage", scipy_runner), ("VTK", vtk_runner),
             ("ITK", itk_runner(itk_binary("itk_warp_filter", "ITKCommon ITKImageFunction ITKImageGrid "
                                                              "ITKTransform ITKConvolution")))]
    vekr = vekr_medians(bench, "^V[345]_") if bench and os.path.exists(bench) else {}

    header = ("| Workload | " + " | ".join(p for p, _ in peers) +
              " | vekr, 1 thread | vekr vs fastest peer | vekr 2 threads / 1 thread |")
    print(header)
    print("|" + "---|" * (header.count("|") - 1))
    for name, one, two in WORKLOADS:
        cells, best_rate = [], None
        for _, make in peers:
            try:
                made = make(name, data)
            except ImportError:
                made = None
            if made is None:
                cells.append("-")
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
            cells.append("%.1fx" % (rate / best_rate) if best_rate else "-")
        else:
            cells += ["-", "-"]
        double = vekr.get(two) if two else None
        cells.append("%.2fx" % (single[1] / double[1]) if single and double else "serial")
        print("| %s | %s |" % (name, " | ".join(cells)))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
