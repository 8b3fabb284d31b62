// What every binding of the extension shares: turning a status into a Python
// exception or warning, running a library call without the GIL on a chosen
// number of threads, and viewing numpy arrays as the library's layouts.
//
// The bindings check only what keeps memory safe (dtype, byte order, rank,
// layout, writability, extents that the library trusts the caller with);
// every argument check the library makes itself is left to it, so that its
// status codes reach Python unchanged.
#ifndef VEKR_PYTHON_BINDING_SUPPORT_H
#define VEKR_PYTHON_BINDING_SUPPORT_H

#include <omp.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "vekr.h"

namespace vekr_python {

namespace py = pybind11;

// A negative status on its way to Python (translated in module.cpp into
// vekr.VekrError carrying the status name and code).
struct StatusFailure {
    VekStatus code;
    std::string function;
};

// Errors become StatusFailure; warnings become a vekr.VekrWarning through
// Python's warnings module (the GIL must be held). Returns the status.
VekStatus finish(VekStatus status, const char* function);

// Sets the calling thread's OpenMP thread count for the library call it
// wraps (the library asks OpenMP on the calling thread, unless an
// application has fixed a count with vekSetNumThreads), and restores it.
// Other threads, such as other Dask tasks, are not affected.
class ThreadCount {
public:
    explicit ThreadCount(int threads) : previous_(omp_get_max_threads()), set_(threads > 0)
    {
        if (set_) omp_set_num_threads(threads);
    }
    ~ThreadCount()
    {
        if (set_) omp_set_num_threads(previous_);
    }
    ThreadCount(const ThreadCount&) = delete;
    ThreadCount& operator=(const ThreadCount&) = delete;

private:
    int previous_;
    bool set_;
};

// Runs call() without the GIL on `threads` threads (0: OpenMP's default),
// then reports its status.
template <class Call>
VekStatus callLibrary(const char* function, int threads, Call&& call)
{
    VekStatus status;
    {
        py::gil_scoped_release release;
        ThreadCount count(threads);
        status = call();
    }
    return finish(status, function);
}

[[noreturn]] void fail(const std::string& message);  // raises ValueError
[[noreturn]] void failType(const std::string& message);  // raises TypeError

// The array `obj` if it is a numpy array of element type T in native byte
// order with `ndim` dimensions (any when ndim < 0), aligned for T, and
// writeable when `writeable`; otherwise raises with a message naming `what`.
template <class T>
py::array checkedArray(py::handle obj, const char* what, int ndim, bool writeable = false);

// A float32 array holding exactly `count` values, C-contiguous.
py::array_t<float> contiguousFloats(py::handle obj, const char* what, py::ssize_t count);

int32_t toInt32(py::ssize_t v, const char* what);

// A volume seen by the library: the address of absolute voxel (0, 0, 0)
// for the contiguous (C1V) layout, the plane pointers for the plane-pointer
// (C1PV) layout, and the steps. A numpy array (z, y, x) whose x stride is
// the element size is used in place; so is a sequence of 2-D planes sharing
// one row stride. `origin` is the absolute index (z, y, x) of the array's
// first voxel: the array may hold only a region of a larger volume, as a
// Dask block with its halo does.
template <class T>
struct VolumeView {
    int32_t depth = 0, height = 0, width = 0;  // extent of the array
    int32_t oz = 0, oy = 0, ox = 0;            // absolute index of its first voxel (may be negative)
    int32_t zBase = 0;                         // absolute plane of planes[0]: min(0, oz)
    int32_t rowStep = 0;                       // bytes
    int64_t planeStep = 0;                     // bytes; 0 for a sequence of planes
    bool uniform = false;                      // planes equally spaced (C1V possible)
    std::vector<T*> planes;                    // absolute plane z at planes[z - zBase]
    std::vector<py::object> keep;              // the arrays behind the pointers

    // The plane-pointer array as the library indexes it: absolute plane z
    // at [z]. Planes outside the array point at its nearest plane.
    T* const* planePointers() const { return planes.data() - zBase; }
    // Extends the pointer array to absolute planes up to depth - 1 (those
    // past the array point at its last plane), for a volume of that depth.
    void coverPlanes(int32_t depth)
    {
        const int64_t need = int64_t(depth) - zBase;
        if (need > static_cast<int64_t>(planes.size())) planes.resize(static_cast<size_t>(need), planes.back());
    }
    // Address of absolute voxel (0, 0, 0): may lie outside the array, which
    // the library never reads there when the region is right.
    T* origin0() const
    {
        // planes[] already place row and column 0; only the plane is left.
        const auto base = reinterpret_cast<intptr_t>(planes[static_cast<size_t>(oz - zBase)]);
        return reinterpret_cast<T*>(base - static_cast<intptr_t>(oz) * planeStep);
    }
};

template <class T>
VolumeView<T> viewVolume(py::handle obj, py::handle origin, const char* what, bool writeable);

}  // namespace vekr_python

#endif
