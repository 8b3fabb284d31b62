/*
 * Prints the library's version record. Once the ray-casting functions are
 * available this example also casts a block of eye rays.
 */
#include <stdio.h>

#include <vekr.h>

int main(void)
{
    const VekLibraryVersion* v = vekrGetLibVersion();
    printf("%s %s (%d.%d build %d.%d, cpu %s, %s)\n", v->libraryName, v->versionText, v->versionMajor,
           v->versionMinor, v->buildMajor, v->buildNumber, v->cpuTag, v->buildDate);
    return 0;
}
