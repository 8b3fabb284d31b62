/**
 * @file vekr.h
 * The public interface of the vekr library.
 *
 * vekr is a library of rendering and 3-D data-processing primitives with a
 * flat C interface. Every function works on memory that the caller owns and
 * returns a VekStatus (see vekr_base.h). Include this one header; it pulls in
 * the per-subsystem headers:
 *
 *   vekr_base.h       status codes, version record, calling convention
 *   vekr_shading.h    ray generation, hit points, normals, shading arithmetic
 *   vekr_scene.h      scene bounds, triangle records, kd-tree build
 *   vekr_intersect.h  ray-scene intersection
 *   vekr_sh.h         real spherical harmonics and transforms
 *   vekr_volume.h     3-D volume resize, warp, remap and filter
 *
 * Array conventions shared by the per-ray functions:
 *   P3    const float* const p[3]: three separate planes x, y, z, one entry
 *         per element;
 *   C1    one float array, one entry per element;
 *   point const float p[3]: three consecutive floats (never null-checked);
 *   mask  int32_t array; an entry below 0 marks the element inactive. The
 *         triangle-number output of an intersection serves as the mask.
 * Element counts are int32_t; a count below 1 does nothing and returns
 * vekStsOk. Counts that are multiples of 4 on 16-byte aligned arrays take the
 * 4-wide path; the per-function comments say where the two paths differ.
 * The @ref conventions "conventions page" gives these rules in full.
 */
#ifndef VEKR_H
#define VEKR_H

#include "vekr_base.h"
#include "vekr_shading.h"
#include "vekr_scene.h"
#include "vekr_intersect.h"
#include "vekr_sh.h"
#include "vekr_volume.h"

#endif /* VEKR_H */
