// The forward transform of the affine warp: the test that rejects a
// degenerate linear part before anything else is checked, and the inversion
// into the destination-to-source matrix that the traversal advances.
#ifndef VEKR_VOLUME_AFFINE_TRANSFORM_H
#define VEKR_VOLUME_AFFINE_TRANSFORM_H

namespace vekr {
namespace volume {

// a: 3 x 4 doubles row by row, rows (a_r0, a_r1, a_r2, b_r). True when the
// diagonal vanishes (to 1e-100) or none of three 2 x 2 minor tests of the
// linear part shows a relative spread above 1e-10. A cyclic permutation of
// the axes is rejected here although it is invertible.
bool isDegenerateTransform(const double* a);

// Writes the inverse of a into m (same layout) and returns true, or returns
// false when the determinant of the linear part lies strictly between -1e-10
// and 1e-10. Adjugate over determinant; the translation is minus the
// inverted linear part applied to (b_0, b_1, b_2).
bool invertTransform(const double* a, double* m);

}  // namespace volume
}  // namespace vekr

#endif
