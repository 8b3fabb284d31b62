// Pinhole camera: where the eye is, and the primary-ray directions of the
// image as the eye-ray export takes them.
#ifndef VEKR_RENDER_CAMERA_H
#define VEKR_RENDER_CAMERA_H

#include <cstdint>

namespace vekr_render {

struct CameraPose {
    double eye[3];
    double lookAt[3];
    double up[3];
    double fovDegrees;  // vertical
};

// Directions through pixel centres: pixel (row r, column c) looks along
// d00 + c·du + r·dv. Square pixels; row 0 at the top.
struct CameraRays {
    float eye[3];
    float d00[3];
    float du[3];
    float dv[3];
};

// False when the view is degenerate (eye on the look-at point, or up along
// the view direction).
bool makeCameraRays(const CameraPose& pose, int32_t width, int32_t height, CameraRays& out);

// A view of the box (6 floats, min then max) from the front, a little to
// the right and above, with the whole box in the field of view.
CameraPose frameBox(const float box[6], double fovDegrees, double aspect);

}  // namespace vekr_render

#endif
