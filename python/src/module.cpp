// The extension module vekr._vekr: status translation, array views, the
// library's version and thread settings, and the registration of the
// volume, spherical-harmonics and ray bindings.
#include <pybind11/stl.h>

#include <cstring>

#include "binding_support.h"
#include "vekcore.h"

namespace vekr_python {

void bindVolume(py::module_& m);
void bindSH(py::module_& m);
void bindRays(py::module_& m);

VekStatus finish(VekStatus status, const char* function)
{
    if (status < 0) throw StatusFailure{status, function};
    if (status > 0) py::module_::import("vekr._status").attr("warn_status")(status, function);
    return status;
}

void fail(const std::string& message) { throw py::value_error(message); }
void failType(const std::string& message) { throw py::type_error(message); }

int32_t toInt32(py::ssize_t v, const char* what)
{
    if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min())
        fail(std::string(what) + ": " + std::to_string(v) + " does not fit the library's 32-bit sizes and steps");
    return static_cast<int32_t>(v);
}

namespace {
std::string dtypeName(const py::dtype& d) { return std::string(py::str(static_cast<py::handle>(d))); }
}  // namespace

template <class T>
py::array checkedArray(py::handle obj, const char* what, int ndim, bool writeable)
{
    if (!py::isinstance<py::array>(obj))
        failType(std::string(what) + ": expected a numpy array, got " + std::string(py::str(obj.get_type())));
    auto a = py::reinterpret_borrow<py::array>(obj);
    const py::dtype want = py::dtype::of<T>();
    const char order = a.dtype().attr("byteorder").cast<std::string>()[0];
    if (a.dtype().kind() == want.kind() && a.dtype().itemsize() == want.itemsize() && order != '=' && order != '|')
        fail(std::string(what) + ": non-native byte order (" + dtypeName(a.dtype()) +
             "); convert with .astype(" + dtypeName(want) + ") first");
    if (!a.dtype().is(want) && !a.dtype().equal(want))
        failType(std::string(what) + ": expected dtype " + dtypeName(want) + ", got " +
                 dtypeName(a.dtype()));
    if (ndim >= 0 && a.ndim() != ndim)
        fail(std::string(what) + ": expected " + std::to_string(ndim) + " dimensions, got " + std::to_string(a.ndim()));
    if (reinterpret_cast<uintptr_t>(a.data()) % alignof(T) != 0)
        fail(std::string(what) + ": data not aligned to its element size");
    for (py::ssize_t k = 0; k < a.ndim(); ++k)
        if (a.strides(k) % static_cast<py::ssize_t>(sizeof(T)) != 0)
            fail(std::string(what) + ": strides not multiples of the element size");
    if (writeable && !a.writeable()) fail(std::string(what) + ": array is read-only");
    return a;
}

py::array_t<float> contiguousFloats(py::handle obj, const char* what, py::ssize_t count)
{
    py::array a = checkedArray<float>(obj, what, -1);
    if (a.size() != count)
        fail(std::string(what) + ": expected " + std::to_string(count) + " values, got " + std::to_string(a.size()));
    if (!(a.flags() & py::array::c_style)) fail(std::string(what) + ": array must be C-contiguous");
    return py::reinterpret_borrow<py::array_t<float>>(a);
}

namespace {

template <class T>
void addPlane(VolumeView<T>&, py::array plane, const char* what)
{
    if (plane.shape(plane.ndim() - 1) > 1 && plane.strides(plane.ndim() - 1) != static_cast<py::ssize_t>(sizeof(T)))
        fail(std::string(what) + ": voxels of a row must be adjacent (x stride " +
             std::to_string(plane.strides(plane.ndim() - 1)) + " bytes); pass a copy");
}

}  // namespace

template <class T>
VolumeView<T> viewVolume(py::handle obj, py::handle origin, const char* what, bool writeable)
{
    VolumeView<T> v;
    if (!origin.is_none()) {
        auto o = origin.cast<std::vector<int64_t>>();
        if (o.size() != 3) fail(std::string(what) + ": origin must be (z, y, x)");
        for (auto c : o)
            if (c < -(int64_t(1) << 30) || c > (int64_t(1) << 30)) fail(std::string(what) + ": origin out of range");
        v.oz = static_cast<int32_t>(o[0]);
        v.oy = static_cast<int32_t>(o[1]);
        v.ox = static_cast<int32_t>(o[2]);
        v.zBase = v.oz < 0 ? v.oz : 0;
    }
    const size_t first = static_cast<size_t>(v.oz - v.zBase);  // index of the array's first plane
    std::vector<py::array> planeArrays;
    if (py::isinstance<py::array>(obj)) {
        py::array a = checkedArray<T>(obj, what, 3, writeable);
        v.depth = toInt32(a.shape(0), what);
        v.height = toInt32(a.shape(1), what);
        v.width = toInt32(a.shape(2), what);
        addPlane(v, a, what);
        v.rowStep = toInt32(a.shape(1) > 1 ? a.strides(1) : a.shape(2) * py::ssize_t(sizeof(T)), what);
        v.planeStep = a.shape(0) > 1 ? a.strides(0) : int64_t(a.shape(1)) * v.rowStep;
        v.uniform = v.planeStep >= std::numeric_limits<int32_t>::min() &&
                    v.planeStep <= std::numeric_limits<int32_t>::max();
        v.keep.push_back(a);
        const auto base = reinterpret_cast<intptr_t>(writeable ? a.mutable_data() : const_cast<void*>(a.data()));
        v.planes.resize(first + static_cast<size_t>(v.depth));
        for (int32_t z = 0; z < v.depth; ++z)
            v.planes[first + static_cast<size_t>(z)] = reinterpret_cast<T*>(
                base + static_cast<intptr_t>(z) * v.planeStep - static_cast<intptr_t>(v.oy) * v.rowStep -
                static_cast<intptr_t>(v.ox) * static_cast<intptr_t>(sizeof(T)));
    } else if (py::isinstance<py::sequence>(obj) && !py::isinstance<py::str>(obj)) {
        // A sequence of 2-D planes: the plane-pointer layout proper.
        auto seq = py::reinterpret_borrow<py::sequence>(obj);
        v.depth = toInt32(static_cast<py::ssize_t>(seq.size()), what);
        if (v.depth == 0) fail(std::string(what) + ": empty sequence of planes");
        v.planes.resize(first + static_cast<size_t>(v.depth));
        for (int32_t z = 0; z < v.depth; ++z) {
            py::array p = checkedArray<T>(seq[static_cast<size_t>(z)], what, 2, writeable);
            addPlane(v, p, what);
            const int32_t h = toInt32(p.shape(0), what), w = toInt32(p.shape(1), what);
            const int32_t step = toInt32(p.shape(0) > 1 ? p.strides(0) : p.shape(1) * py::ssize_t(sizeof(T)), what);
            if (z == 0) {
                v.height = h;
                v.width = w;
                v.rowStep = step;
            } else if (h != v.height || w != v.width || step != v.rowStep) {
                fail(std::string(what) + ": every plane must have the shape and row stride of the first");
            }
            v.keep.push_back(p);
            const auto base = reinterpret_cast<intptr_t>(writeable ? p.mutable_data() : const_cast<void*>(p.data()));
            v.planes[first + static_cast<size_t>(z)] = reinterpret_cast<T*>(
                base - static_cast<intptr_t>(v.oy) * v.rowStep -
                static_cast<intptr_t>(v.ox) * static_cast<intptr_t>(sizeof(T)));
        }
    } else {
        failType(std::string(what) + ": expected a 3-D numpy array or a sequence of 2-D planes");
    }
    if (v.depth < 1 || v.height < 1 || v.width < 1) fail(std::string(what) + ": empty volume");
    // Planes below the region are never read; they point at its first plane.
    for (size_t z = 0; z < first; ++z) v.planes[z] = v.planes[first];
    return v;
}

#define VEKR_PYTHON_INSTANTIATE(T)                                                                  \
    template py::array checkedArray<T>(py::handle, const char*, int, bool);                        \
    template VolumeView<T> viewVolume<T>(py::handle, py::handle, const char*, bool);
VEKR_PYTHON_INSTANTIATE(uint8_t)
VEKR_PYTHON_INSTANTIATE(uint16_t)
VEKR_PYTHON_INSTANTIATE(int16_t)
VEKR_PYTHON_INSTANTIATE(int32_t)
VEKR_PYTHON_INSTANTIATE(float)
VEKR_PYTHON_INSTANTIATE(double)
#undef VEKR_PYTHON_INSTANTIATE

}  // namespace vekr_python

using namespace vekr_python;

PYBIND11_MODULE(_vekr, m)
{
    m.doc() = "Compiled bindings of the vekr library; use the modules vekr.volume, vekr.sh and vekr.rays.";

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const StatusFailure& e) {
            py::object error = py::module_::import("vekr._status").attr("VekrError")(e.code, e.function);
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
        }
    });

    m.def(
        "version",
        []() {
            const VekLibraryVersion* v = vekrGetLibVersion();
            py::dict d;
            d["major"] = v->versionMajor;
            d["minor"] = v->versionMinor;
            d["build_major"] = v->buildMajor;
            d["build"] = v->buildNumber;
            d["cpu"] = std::string(v->cpuTag, strnlen(v->cpuTag, sizeof(v->cpuTag)));
            d["name"] = std::string(v->libraryName);
            d["text"] = std::string(v->versionText);
            d["date"] = std::string(v->buildDate);
            return d;
        },
        "The library's version record as a dict.");
    m.def(
        "num_threads", []() { return ownGetNumThreads(); },
        "Threads the library's parallel functions use on this thread when a call is given threads=None.");

    bindVolume(m);
    bindSH(m);
    bindRays(m);
}
