// Bindings of the ray-tracing pipeline: a scene object owning the library's
// scene records (box, triangle records, kd-tree, triangle normals), the four
// intersection exports on planar ray blocks, and the render loop of
// vekr-render compiled in from the program's sources.
//
// The intersection exports check nothing, so here every plane is checked
// for its size before the call; everything else about the rays (layout
// conversion, alignment for the packet path) is done by vekr.rays.
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "binding_support.h"
#include "builtin_scene.h"
#include "camera.h"
#include "mesh.h"
#include "obj_loader.h"
#include "renderer.h"

namespace vekr_python {

namespace {

using vekr_render::Mesh;

struct TreeSettings {
    std::string kind = "sah";
    int32_t maxDepth = -1;  // -1: the depth vekr-render picks for the scene's size
    float splitFactor = 0.5f;
    int32_t memoryMB = 1024;
};

class Scene {
public:
    Scene(Mesh mesh, TreeSettings settings) : mesh_(std::move(mesh)), settings_(std::move(settings)) { build(); }
    ~Scene() { vekrKDTreeFree(tree_); }
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    const Mesh& mesh() const { return mesh_; }
    const TreeSettings& settings() const { return settings_; }
    const float* box() const { return box_; }
    const std::vector<float>& normals() const { return normals_; }
    int32_t treeBytes() const { return treeBytes_; }
    VekrIntersectContext context() const { return VekrIntersectContext{box_, accel_.data(), tree_}; }

private:
    void build()
    {
        const int32_t triangles = mesh_.triangleCount();
        vekrSetBoundBox_32f(mesh_.vertices.data(), mesh_.vertexCount(), box_);
        accel_.resize(static_cast<size_t>(triangles));
        normals_.resize(3 * static_cast<size_t>(triangles));
        VekrKDTreeBuildParams params{};
        if (settings_.kind == "sah") {
            params.algorithm = vekrKDTreeBuildSAH;
            params.maxDepth = settings_.maxDepth >= 0
                                  ? settings_.maxDepth
                                  : std::min(50, 8 + static_cast<int32_t>(1.3 * std::log2(std::max(2, triangles))));
            params.splitFactor = settings_.splitFactor;
            params.memoryLimit = settings_.memoryMB;
        } else if (settings_.kind == "simple") {
            params.algorithm = vekrKDTreeBuildSimple;
            params.maxDepth = std::max(settings_.maxDepth, 0);
        } else {
            fail("tree: expected 'sah' or 'simple'");
        }
        VekStatus status;
        {
            py::gil_scoped_release release;
            vekrTriangleAccelInit(accel_.data(), mesh_.vertices.data(), mesh_.triangles.data(), triangles);
            vekrTriangleNormal_32f(mesh_.vertices.data(), mesh_.triangles.data(), normals_.data(), triangles);
            status = vekrKDTreeBuildAlloc(&tree_, mesh_.vertices.data(), mesh_.triangles.data(), mesh_.vertexCount(),
                                          triangles, &treeBytes_, &params);
        }
        finish(status, "vekrKDTreeBuildAlloc");
    }

    Mesh mesh_;
    TreeSettings settings_;
    float box_[6];
    std::vector<VekrTriangleAccel> accel_;
    std::vector<float> normals_;
    VekrKDTreeNode* tree_ = nullptr;
    int32_t treeBytes_ = 0;
};

template <class T>
std::vector<T> copyRows(py::handle obj, const char* what, int columns, bool allowFour = false)
{
    py::array a = checkedArray<T>(obj, what, 2);
    if (a.shape(1) != columns && !(allowFour && a.shape(1) == 4))
        fail(std::string(what) + ": expected shape (n, " + std::to_string(columns) + ")");
    const auto view = py::reinterpret_borrow<py::array_t<T>>(a).template unchecked<2>();
    std::vector<T> out(static_cast<size_t>(a.shape(0)) * (allowFour ? 4 : columns), T{});
    const size_t stride = allowFour ? 4 : columns;
    for (py::ssize_t i = 0; i < a.shape(0); ++i)
        for (int k = 0; k < columns; ++k) out[static_cast<size_t>(i) * stride + k] = view(i, k);
    return out;
}

// Builds a mesh from arrays, refusing what the tree build would read out of
// bounds or choke on: vertex numbers outside the vertex array, coordinates
// that are not finite.
Mesh meshFromArrays(py::handle vertices, py::handle triangles, py::handle vertexNormals, py::handle colors,
                    py::handle mirror)
{
    Mesh m;
    m.vertices = copyRows<float>(vertices, "vertices", 3);
    for (float c : m.vertices)
        if (!std::isfinite(c)) fail("vertices: every coordinate must be finite");
    m.triangles = copyRows<int32_t>(triangles, "triangles", 3, true);
    const int32_t count = m.vertexCount();
    for (size_t i = 0; i < m.triangles.size(); ++i) {
        if (i % 4 == 3) {
            m.triangles[i] = 0;
            continue;
        }
        if (m.triangles[i] < 0 || m.triangles[i] >= count)
            fail("triangles: vertex number " + std::to_string(m.triangles[i]) + " outside 0.." +
                 std::to_string(count - 1));
    }
    if (m.triangleCount() < 1) fail("triangles: the scene needs at least one triangle");
    if (!vertexNormals.is_none()) {
        m.vertexNormals = copyRows<float>(vertexNormals, "vertex_normals", 3);
        if (m.vertexNormals.size() != m.vertices.size()) fail("vertex_normals: one normal per vertex");
    }
    if (!colors.is_none()) {
        m.triangleColors = copyRows<float>(colors, "colors", 3);
        if (m.triangleColors.size() != 3 * static_cast<size_t>(m.triangleCount()))
            fail("colors: one RGB albedo per triangle");
    } else {
        m.triangleColors.resize(3 * static_cast<size_t>(m.triangleCount()));
        for (size_t i = 0; i < m.triangleColors.size(); i += 3) {
            m.triangleColors[i] = 0.75f;
            m.triangleColors[i + 1] = 0.72f;
            m.triangleColors[i + 2] = 0.68f;
        }
    }
    if (!mirror.is_none()) {
        m.triangleMirror = copyRows<float>(mirror, "mirror", 3);
        if (m.triangleMirror.size() != 3 * static_cast<size_t>(m.triangleCount()))
            fail("mirror: one RGB mirrored share per triangle");
    }
    return m;
}

template <class T>
py::array_t<T> toArray(const std::vector<T>& v, py::ssize_t columns)
{
    py::array_t<T> a({static_cast<py::ssize_t>(v.size()) / columns, columns});
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// A C-contiguous array of `rows` planes of n entries each, element type T,
// writeable when asked; the planes' addresses.
template <class T>
std::vector<T*> planes(py::handle obj, const char* what, py::ssize_t rows, py::ssize_t n, bool writeable)
{
    py::array a = checkedArray<T>(obj, what, -1, writeable);
    if (!(a.flags() & py::array::c_style)) fail(std::string(what) + ": must be C-contiguous");
    if (a.size() != rows * n)
        fail(std::string(what) + ": expected " + std::to_string(rows) + " x " + std::to_string(n) + " entries");
    T* base = static_cast<T*>(writeable ? a.mutable_data() : const_cast<void*>(a.data()));
    std::vector<T*> p;
    for (py::ssize_t r = 0; r < rows; ++r) p.push_back(base + r * n);
    return p;
}

std::array<float, 3> point(const std::array<double, 3>& p) { return {float(p[0]), float(p[1]), float(p[2])}; }

VekrSize block(int32_t width, int32_t height)
{
    if (width < 1 || height < 1) fail("block: width and height must be at least 1");
    return VekrSize{width, height};
}

// The sRGB encoding of vekr-render's PNG output, background gradient
// included, so that a render from Python equals the program's picture.
float toSrgb(float linear)
{
    const float c = std::min(std::max(linear, 0.0f), 1.0f);
    return c <= 0.0031308f ? 12.92f * c : 1.055f * std::pow(c, 1.0f / 2.4f) - 0.055f;
}

py::tuple render(const Scene& scene, int32_t width, int32_t height, std::optional<std::array<double, 3>> eye,
                 std::optional<std::array<double, 3>> lookAt, std::array<double, 3> up, double fov,
                 std::optional<std::array<double, 3>> light, bool shadows, int32_t bounces, int32_t xray,
                 std::optional<std::array<int32_t, 4>> window, int threads)
{
    using namespace vekr_render;
    if (width < 1 || height < 1) fail("size: width and height must be at least 1");
    const std::array<int32_t, 4> win = window ? *window : std::array<int32_t, 4>{0, 0, width, height};
    if (win[0] < 0 || win[1] < 0 || win[0] % 16 || win[1] % 16 || win[2] < 1 || win[3] < 1 ||
        int64_t(win[0]) + win[2] > width || int64_t(win[1]) + win[3] > height)
        fail("window: (x, y, width, height) inside the image, x and y multiples of 16");
    if (!(fov > 0.0 && fov < 180.0)) fail("fov: degrees between 0 and 180");
    const float* box = scene.box();
    CameraPose pose = frameBox(box, fov, static_cast<double>(width) / height);
    if (eye) std::copy(eye->begin(), eye->end(), pose.eye);
    if (lookAt) std::copy(lookAt->begin(), lookAt->end(), pose.lookAt);
    std::copy(up.begin(), up.end(), pose.up);
    RenderJob job{};
    if (!makeCameraRays(pose, width, height, job.camera))
        fail("camera: the eye coincides with the look-at point, or up is parallel to the view");
    // Light and falloff as vekr-render places them.
    double radius = 0.0;
    for (int k = 0; k < 3; ++k) radius += 0.25 * double(box[k + 3] - box[k]) * double(box[k + 3] - box[k]);
    radius = std::sqrt(radius);
    double l[3];
    for (int k = 0; k < 3; ++k) {
        const double offset[3] = {0.2, 0.8, 0.45};
        l[k] = light ? (*light)[k] : 0.5 * double(box[k] + box[k + 3]) + radius * offset[k];
    }
    double lightDistance = 0.0;
    for (int k = 0; k < 3; ++k) lightDistance += (l[k] - pose.lookAt[k]) * (l[k] - pose.lookAt[k]);
    job.lighting = Lighting{{float(l[0]), float(l[1]), float(l[2])},
                            {1.0f, 0.97f, 0.92f},
                            {0.14f, 0.15f, 0.17f},
                            float(std::max(std::sqrt(lightDistance), 1.0))};
    job.mesh = &scene.mesh();
    job.triangleNormals = scene.normals().data();
    job.scene = scene.context();
    job.width = win[2];
    job.height = win[3];
    job.windowCol = win[0];
    job.windowRow = win[1];
    job.smoothNormals = scene.mesh().hasVertexNormals();
    job.shadows = shadows;
    job.xrayLayers = std::max(xray, 0);
    job.bounces = std::max(bounces, 0);
    job.threads = threads > 0 ? threads : omp_get_max_threads();

    py::array_t<uint8_t> rgb({py::ssize_t(win[3]), py::ssize_t(win[2]), py::ssize_t(3)});
    py::array_t<int32_t> triangle({py::ssize_t(win[3]), py::ssize_t(win[2])});
    uint8_t* out = rgb.mutable_data();
    int32_t* tri = triangle.mutable_data();
    {
        py::gil_scoped_release release;
        Image image;
        vekr_render::render(job, image, nullptr);
        for (int32_t r = 0; r < image.height; ++r) {
            // Background rows follow the whole image's gradient.
            const float s = static_cast<float>(r + win[1]) / std::max(1, height - 1);
            const float background[3] = {0.30f - 0.18f * s, 0.34f - 0.19f * s, 0.42f - 0.22f * s};
            for (int32_t c = 0; c < image.width; ++c) {
                const size_t px = static_cast<size_t>(r) * static_cast<size_t>(image.width) + static_cast<size_t>(c);
                tri[px] = image.triangle[px];
                for (int k = 0; k < 3; ++k) {
                    const float v = image.triangle[px] < 0 ? background[k] : image.rgb[3 * px + k];
                    out[3 * px + k] = static_cast<uint8_t>(std::lround(255.0f * toSrgb(v)));
                }
            }
        }
    }
    return py::make_tuple(rgb, triangle);
}

}  // namespace

void bindRays(py::module_& m)
{
    using namespace pybind11::literals;
    py::class_<Scene>(m, "Scene", "The library's scene records and kd-tree over a triangle mesh.")
        .def(py::init([](py::handle vertices, py::handle triangles, py::handle vertexNormals, py::handle colors,
                         py::handle mirror, std::string tree, int32_t maxDepth, float splitFactor, int32_t memoryMB) {
                 return new Scene(meshFromArrays(vertices, triangles, vertexNormals, colors, mirror),
                                  TreeSettings{tree, maxDepth, splitFactor, memoryMB});
             }),
             "vertices"_a, "triangles"_a, "vertex_normals"_a = py::none(), "colors"_a = py::none(),
             "mirror"_a = py::none(), "tree"_a = "sah", "max_depth"_a = -1, "split_factor"_a = 0.5f,
             "memory_mb"_a = 1024)
        .def_static(
            "from_obj",
            [](const std::string& path, std::string tree, int32_t maxDepth, float splitFactor, int32_t memoryMB) {
                Mesh mesh;
                std::string error;
                vekr_render::ObjLoadReport report;
                bool loaded;
                {
                    py::gil_scoped_release release;
                    loaded = vekr_render::loadObj(path, mesh, report, error);
                }
                if (!loaded) throw py::value_error(error);
                if (!report.warnings.empty()) PyErr_WarnEx(PyExc_UserWarning, report.warnings.c_str(), 2);
                return new Scene(std::move(mesh), TreeSettings{tree, maxDepth, splitFactor, memoryMB});
            },
            "path"_a, "tree"_a = "sah", "max_depth"_a = -1, "split_factor"_a = 0.5f, "memory_mb"_a = 1024)
        .def_static(
            "builtin",
            [](int32_t triangles, std::string tree) {
                if (triangles < 1) fail("triangles: at least 1");
                return new Scene(vekr_render::makeBuiltinScene(triangles), TreeSettings{tree});
            },
            "triangles"_a = 100000, "tree"_a = "sah")
        .def_property_readonly("vertices", [](const Scene& s) { return toArray(s.mesh().vertices, 3); })
        .def_property_readonly("triangles", [](const Scene& s) { return toArray(s.mesh().triangles, 4); })
        .def_property_readonly("vertex_normals",
                               [](const Scene& s) -> py::object {
                                   if (!s.mesh().hasVertexNormals()) return py::none();
                                   return toArray(s.mesh().vertexNormals, 3);
                               })
        .def_property_readonly("colors", [](const Scene& s) { return toArray(s.mesh().triangleColors, 3); })
        .def_property_readonly("mirror",
                               [](const Scene& s) -> py::object {
                                   if (!s.mesh().hasMirrors()) return py::none();
                                   return toArray(s.mesh().triangleMirror, 3);
                               })
        .def_property_readonly("triangle_normals", [](const Scene& s) { return toArray(s.normals(), 3); })
        .def_property_readonly("box",
                               [](const Scene& s) {
                                   const float* b = s.box();
                                   return std::array<float, 6>{b[0], b[1], b[2], b[3], b[4], b[5]};
                               })
        .def_property_readonly("tree_bytes", &Scene::treeBytes)
        .def_property_readonly("tree_settings",
                               [](const Scene& s) {
                                   const TreeSettings& t = s.settings();
                                   return py::make_tuple(t.kind, t.maxDepth, t.splitFactor, t.memoryMB);
                               })
        .def(
            "intersect_mo",
            [](const Scene& s, py::handle origin, py::handle dir, py::handle dist, py::handle uv, py::handle tri,
               int32_t width, int32_t height) {
                const VekrSize b = block(width, height);
                const py::ssize_t n = py::ssize_t(width) * height;
                const auto o = planes<float>(origin, "origins", 3, n, false);
                const auto d = planes<float>(dir, "directions", 3, n, false);
                const auto t = planes<float>(dist, "t", 1, n, true);
                const auto h = planes<float>(uv, "uv", 2, n, true);
                const auto i = planes<int32_t>(tri, "triangle", 1, n, true);
                const VekrIntersectContext c = s.context();
                return callLibrary("vekrIntersectMO_32f", 0, [&] {
                    return vekrIntersectMO_32f(o.data(), d.data(), t[0], h.data(), i[0], &c, b);
                });
            },
            "origins"_a, "directions"_a, "t"_a, "uv"_a, "triangle"_a, "width"_a, "height"_a)
        .def(
            "intersect_eye",
            [](const Scene& s, std::array<double, 3> origin, py::handle dir, py::handle dist, py::handle uv,
               py::handle tri, int32_t width, int32_t height) {
                const VekrSize b = block(width, height);
                const py::ssize_t n = py::ssize_t(width) * height;
                const auto o = point(origin);
                const auto d = planes<float>(dir, "directions", 3, n, false);
                const auto t = planes<float>(dist, "t", 1, n, true);
                const auto h = planes<float>(uv, "uv", 2, n, true);
                const auto i = planes<int32_t>(tri, "triangle", 1, n, true);
                const VekrIntersectContext c = s.context();
                return callLibrary("vekrIntersectEyeSO_32f", 0, [&] {
                    return vekrIntersectEyeSO_32f(o.data(), d.data(), t[0], h.data(), i[0], &c, b);
                });
            },
            "origin"_a, "directions"_a, "t"_a, "uv"_a, "triangle"_a, "width"_a, "height"_a)
        .def(
            "intersect_multiple",
            [](const Scene& s, std::array<double, 3> origin, py::handle dir, py::handle dist, py::handle uv,
               py::handle tri, int32_t width, int32_t height, int32_t hits) {
                const VekrSize b = block(width, height);
                if (hits < 1) fail("hits: at least 1");
                const py::ssize_t n = py::ssize_t(width) * height;
                const auto o = point(origin);
                const auto d = planes<float>(dir, "directions", 3, n, false);
                const auto t = planes<float>(dist, "t", hits, n, true);
                const auto h = planes<float>(uv, "uv", 2 * hits, n, true);
                const auto i = planes<int32_t>(tri, "triangle", hits, n, true);
                float* const uvPlanes[2] = {h[0], h[static_cast<size_t>(hits)]};
                const VekrIntersectContext c = s.context();
                return callLibrary("vekrIntersectMultipleSO_32f", 0, [&] {
                    return vekrIntersectMultipleSO_32f(o.data(), d.data(), t[0], uvPlanes, i[0], b, hits, &c);
                });
            },
            "origin"_a, "directions"_a, "t"_a, "uv"_a, "triangle"_a, "width"_a, "height"_a, "hits"_a)
        .def(
            "intersect_any",
            [](const Scene& s, std::array<double, 3> origin, py::handle dir, py::handle tri, py::handle mask,
               int32_t width, int32_t height) {
                const VekrSize b = block(width, height);
                const py::ssize_t n = py::ssize_t(width) * height;
                const auto o = point(origin);
                const auto d = planes<float>(dir, "directions", 3, n, false);
                const auto i = planes<int32_t>(tri, "triangle", 1, n, true);
                const auto k = planes<int32_t>(mask, "mask", 1, n, true);
                const VekrIntersectContext c = s.context();
                return callLibrary("vekrIntersectAnySO_32f", 0, [&] {
                    return vekrIntersectAnySO_32f(o.data(), d.data(), i[0], k[0], b, &c);
                });
            },
            "origin"_a, "directions"_a, "triangle"_a, "mask"_a, "width"_a, "height"_a)
        .def("render", &render, "width"_a, "height"_a, "eye"_a = py::none(), "look_at"_a = py::none(),
             "up"_a = std::array<double, 3>{0.0, 1.0, 0.0}, "fov"_a = 40.0, "light"_a = py::none(),
             "shadows"_a = true, "bounces"_a = 2, "xray"_a = 0, "window"_a = py::none(), "threads"_a = 0);
}

}  // namespace vekr_python
