// Bindings of the spherical-harmonics exports: basis, single band, forward
// and inverse transforms. Directions arrive as three float32 planes (the
// package splits (N, 3) arrays); the state is built for each call in an
// aligned buffer, which costs little next to the evaluation.
#include <cstdlib>
#include <memory>

#include "binding_support.h"

namespace vekr_python {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// A state of the given order and kind in a 16-byte aligned buffer; on a
// refused query or initialisation, `status` and `function` say which.
struct SHState {
    std::unique_ptr<void, FreeDeleter> buffer;
    VekStatus status = vekStsOk;
    const char* function = "";

    SHState(uint32_t order, int32_t kind)
    {
        int32_t bytes = 0;
        status = vekrSHGetSize_32f(order, kind, &bytes);
        function = "vekrSHGetSize_32f";
        if (status != vekStsOk) return;
        buffer.reset(std::aligned_alloc(64, (static_cast<size_t>(bytes) + 63u) & ~size_t(63)));
        if (!buffer) {
            status = vekStsNoMemErr;
            return;
        }
        status = vekrSHInit_32f(static_cast<VekrSHState*>(buffer.get()), order, kind);
        function = "vekrSHInit_32f";
    }
    const VekrSHState* get() const { return static_cast<const VekrSHState*>(buffer.get()); }
};

struct Directions {
    py::array_t<float> x, y, z;
    int32_t count;
};

Directions directions(py::handle x, py::handle y, py::handle z)
{
    py::array ax = checkedArray<float>(x, "x", 1);
    const py::ssize_t n = ax.shape(0);
    return Directions{contiguousFloats(x, "x", n), contiguousFloats(y, "y", n), contiguousFloats(z, "z", n),
                      toInt32(n, "direction count")};
}

// Builds the state and runs call(state) without the GIL; reports the first
// refusal (state query, initialisation, or the call named `function`).
template <class Call>
VekStatus withState(const char* function, uint32_t order, int32_t kind, Call&& call)
{
    VekStatus status;
    const char* who = function;
    {
        py::gil_scoped_release release;
        SHState state(order, kind);
        if (state.status != vekStsOk) {
            status = state.status;
            who = state.function;
        } else {
            status = call(state.get());
        }
    }
    return finish(status, who);
}

py::array_t<float> basis(py::handle x, py::handle y, py::handle z, uint32_t order, int32_t kind)
{
    const Directions d = directions(x, y, z);
    const py::ssize_t n = order <= 15 ? py::ssize_t(order + 1) * (order + 1) : 1;
    py::array_t<float> out({py::ssize_t(d.count), n});
    float* dst = out.mutable_data();
    withState("vekrSH_32f", order, kind, [&](const VekrSHState* s) {
        return vekrSH_32f(d.x.data(), d.y.data(), d.z.data(), d.count, dst, order, s);
    });
    return out;
}

py::array_t<float> band(py::handle x, py::handle y, py::handle z, uint32_t l)
{
    const Directions d = directions(x, y, z);
    py::array_t<float> out({py::ssize_t(d.count), l <= 15 ? py::ssize_t(2 * l + 1) : py::ssize_t(1)});
    float* dst = out.mutable_data();
    callLibrary("vekrSHBand_32f", 0,
                [&] { return vekrSHBand_32f(d.x.data(), d.y.data(), d.z.data(), d.count, dst, l); });
    return out;
}

// values: (N,) one channel, (N, 3) interleaved or (3, N) planar channels;
// coeffs (n,) or (3, n), accumulated into.
void project(py::handle x, py::handle y, py::handle z, py::handle valuesObj, py::handle coeffsObj, uint32_t order,
             int32_t kind, const std::string& layout)
{
    const Directions d = directions(x, y, z);
    const py::ssize_t n = order <= 15 ? py::ssize_t(order + 1) * (order + 1) : 1;
    py::array coeffs = checkedArray<float>(coeffsObj, "coeffs", layout == "c1" ? 1 : 2, true);
    if (!(coeffs.flags() & py::array::c_style)) fail("coeffs: must be C-contiguous");
    if (coeffs.size() != (layout == "c1" ? n : 3 * n))
        fail("coeffs: expected " + std::to_string(layout == "c1" ? n : 3 * n) + " values for order " +
             std::to_string(order));
    float* c = static_cast<float*>(coeffs.mutable_data());
    float* const planes[3] = {c, c + n, c + 2 * n};
    const int channels = layout == "c1" ? 1 : 3;
    const py::array_t<float> values = contiguousFloats(valuesObj, "values", channels * py::ssize_t(d.count));
    const float* v = values.data();
    if (layout == "c1") {
        withState("vekrSHTFwd_32f_C1I", order, kind, [&](const VekrSHState* s) {
            return vekrSHTFwd_32f_C1I(d.x.data(), d.y.data(), d.z.data(), v, d.count, c, order, s);
        });
    } else if (layout == "c3") {
        withState("vekrSHTFwd_32f_C3P3I", order, kind, [&](const VekrSHState* s) {
            return vekrSHTFwd_32f_C3P3I(d.x.data(), d.y.data(), d.z.data(), v, d.count, planes, order, s);
        });
    } else if (layout == "p3") {
        const float* const src[3] = {v, v + d.count, v + 2 * py::ssize_t(d.count)};
        withState("vekrSHTFwd_32f_P3I", order, kind, [&](const VekrSHState* s) {
            return vekrSHTFwd_32f_P3I(d.x.data(), d.y.data(), d.z.data(), src, d.count, planes, order, s);
        });
    } else {
        fail("layout: expected 'c1', 'c3' or 'p3'");
    }
}

// coeffs (n,) or (3, n); result (N,), (3, N) planar ('p3') or (N, 3)
// interleaved ('p3c3').
py::array_t<float> reconstruct(py::handle coeffsObj, py::handle x, py::handle y, py::handle z, uint32_t order,
                               int32_t kind, const std::string& layout)
{
    const Directions d = directions(x, y, z);
    const py::ssize_t n = order <= 15 ? py::ssize_t(order + 1) * (order + 1) : 1;
    const int channels = layout == "c1" ? 1 : 3;
    const py::array_t<float> coeffs = contiguousFloats(coeffsObj, "coeffs", channels * n);
    const float* c = coeffs.data();
    const float* const planes[3] = {c, c + n, c + 2 * n};
    if (layout == "c1") {
        py::array_t<float> out(py::ssize_t(d.count));
        float* dst = out.mutable_data();
        withState("vekrSHTInv_32f_C1", order, kind, [&](const VekrSHState* s) {
            return vekrSHTInv_32f_C1(c, order, d.x.data(), d.y.data(), d.z.data(), dst, d.count, s);
        });
        return out;
    }
    if (layout == "p3") {
        py::array_t<float> out({py::ssize_t(3), py::ssize_t(d.count)});
        float* o = out.mutable_data();
        float* const dst[3] = {o, o + d.count, o + 2 * py::ssize_t(d.count)};
        withState("vekrSHTInv_32f_P3", order, kind, [&](const VekrSHState* s) {
            return vekrSHTInv_32f_P3(planes, order, d.x.data(), d.y.data(), d.z.data(), dst, d.count, s);
        });
        return out;
    }
    if (layout == "p3c3") {
        py::array_t<float> out({py::ssize_t(d.count), py::ssize_t(3)});
        float* dst = out.mutable_data();
        withState("vekrSHTInv_32f_P3C3", order, kind, [&](const VekrSHState* s) {
            return vekrSHTInv_32f_P3C3(planes, order, d.x.data(), d.y.data(), d.z.data(), dst, d.count, s);
        });
        return out;
    }
    fail("layout: expected 'c1', 'p3' or 'p3c3'");
}

}  // namespace

void bindSH(py::module_& m)
{
    using namespace pybind11::literals;
    m.def("sh_basis", &basis, "x"_a, "y"_a, "z"_a, "order"_a, "kind"_a,
          "vekrSH_32f: (N, (order+1)^2) basis values at unit directions given as three float32 planes.");
    m.def("sh_band", &band, "x"_a, "y"_a, "z"_a, "band"_a, "vekrSHBand_32f: (N, 2 band + 1) values of one band.");
    m.def("sh_project", &project, "x"_a, "y"_a, "z"_a, "values"_a, "coeffs"_a, "order"_a, "kind"_a, "layout"_a,
          "vekrSHTFwd_32f_*: accumulates values x basis into coeffs (layout 'c1', 'c3' or 'p3').");
    m.def("sh_reconstruct", &reconstruct, "coeffs"_a, "x"_a, "y"_a, "z"_a, "order"_a, "kind"_a, "layout"_a,
          "vekrSHTInv_32f_*: values of the coefficients at the directions (layout 'c1', 'p3' or 'p3c3').");
}

}  // namespace vekr_python
