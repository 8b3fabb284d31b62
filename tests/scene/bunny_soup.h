// The bunny scene of the shared data folder as a triangle soup, for tests
// that want a real mesh; they skip when the file is not there.
#ifndef VEKR_TESTS_SCENE_BUNNY_SOUP_H
#define VEKR_TESTS_SCENE_BUNNY_SOUP_H

#include <cstdio>

#include "support/random_scene.h"

namespace vekr_test {

// Reads "v x y z" and "f a b c" lines (1-based). False when the file is missing.
inline bool loadBunny(TriangleSoup& s)
{
    FILE* f = std::fopen(VEKR_SHARED_DATA_DIR "/bunny.obj", "r");
    if (!f) return false;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        float x, y, z;
        int a, b, c;
        if (std::sscanf(line, "v %f %f %f", &x, &y, &z) == 3)
            s.addVertex(x, y, z);
        else if (std::sscanf(line, "f %d %d %d", &a, &b, &c) == 3)
            s.addTriangle(a - 1, b - 1, c - 1);
    }
    std::fclose(f);
    return s.triangleCount() > 0;
}

}  // namespace vekr_test

#endif
