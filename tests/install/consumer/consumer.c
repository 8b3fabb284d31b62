/*
 * A program that uses only vekr* functions, built against an installed
 * tree: it starts only if the installed libraries find each other.
 */
#include <stdio.h>

#include <vekr.h>

int main(void)
{
    const VekLibraryVersion* v = vekrGetLibVersion();
    float box[6];
    const float vertex[3] = {1.0f, 2.0f, 3.0f};
    if (vekrSetBoundBox_32f(vertex, 1, box) != vekStsOk || !(box[0] < 1.0f && box[3] > 1.0f)) {
        fprintf(stderr, "consumer: the bounding box call failed\n");
        return 1;
    }
    printf("%s %s\n", v->libraryName, v->versionText);
    return 0;
}
