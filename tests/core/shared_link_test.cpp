// A C++ program linked against the shared library the way an application
// is (on Windows through the import libraries made from the .def files):
// every call below must bind to the DLL's or .so's export, with the
// calling convention the headers declare.
#include <gtest/gtest.h>

#include <cstdint>

#include "vekcore.h"
#include "vekr.h"

TEST(SharedLink, CallsResolveToTheLibraryExports)
{
    const VekLibraryVersion* v = vekrGetLibVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->libraryName, "vekrt7-6.1.dll");

    int32_t size = 0;
    EXPECT_EQ(vekrSHGetSize_32f(4, 1, &size), vekStsOk);
    EXPECT_GT(size, 0);
    EXPECT_EQ(vekrSHGetSize_32f(4, 1, nullptr), vekStsNullPtrErr);

    const float src[3] = {2.0f, 3.0f, 4.0f};
    const int32_t mask[3] = {1, -1, 0};
    float srcDst[3] = {5.0f, 5.0f, 5.0f};
    EXPECT_EQ(vekrMul_32f_C1IM(src, mask, srcDst, 3), vekStsOk);
    EXPECT_EQ(srcDst[0], 10.0f);
    EXPECT_EQ(srcDst[1], 0.0f);
    EXPECT_EQ(srcDst[2], 20.0f);

    void* p = vekMalloc(256);
    ASSERT_NE(p, nullptr);
    vekFree(p);
    EXPECT_GE(ownGetNumThreads(), 1);
}
