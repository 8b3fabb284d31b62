// The ray-casting loop: tiles of primary rays traced and shaded entirely
// through the library's exports.
#ifndef VEKR_RENDER_RENDERER_H
#define VEKR_RENDER_RENDERER_H

#include <cstdint>
#include <vector>

#include "camera.h"
#include "mesh.h"
#include "vekr.h"

namespace vekr_render {

struct Lighting {
    float light[3];         // point light position
    float lightColor[3];    // intensity at falloffDistance from the light
    float ambient[3];       // added to every lit or unlit surface
    float falloffDistance;  // intensity falls off as falloffDistance / distance
};

struct RenderJob {
    const Mesh* mesh;
    const float* triangleNormals;  // unit normal per triangle (flat shading)
    VekrIntersectContext scene;
    CameraRays camera;
    Lighting lighting;
    int32_t width, height;
    // Top-left pixel of the rendered window within the camera's whole image,
    // multiples of 16: the window's pixels come out bit for bit as in the
    // whole image (the eye rays of each 16 x 16 tile are cast from the same
    // absolute tile), so an image can be rendered in pieces.
    int32_t windowCol = 0, windowRow = 0;
    bool smoothNormals;  // interpolate the mesh's vertex normals
    bool shadows;        // test every lit point for occluders between it and the light
    int32_t xrayLayers;  // above 0: an x-ray picture counting up to this many surfaces per ray
    int32_t bounces;     // mirror reflections followed per eye ray (0: none)
    int threads;
};

struct Image {
    int32_t width = 0, height = 0;
    std::vector<float> rgb;          // linear colour, 3 per pixel, row-major
    std::vector<int32_t> triangle;   // triangle seen through each pixel, -1 for none
    double seconds = 0.0;            // wall time of the whole loop
    double intersectSeconds = 0.0;   // time spent in the intersection calls, summed over threads
};

// Renders job into image. progress(done, total) is called from the master
// thread now and then, and once at the end. Returns false when a thread
// could not get its (small) ray buffers; the image is then incomplete.
// Allocating the image itself may throw std::bad_alloc.
bool render(const RenderJob& job, Image& image, void (*progress)(int64_t done, int64_t total));

}  // namespace vekr_render

#endif
