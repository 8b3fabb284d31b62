#include <gtest/gtest.h>

#include <cstring>

#include "vekr.h"

TEST(Version, ConstantRecordWithFixedValues)
{
    const VekLibraryVersion* v = vekrGetLibVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, vekrGetLibVersion());
    EXPECT_EQ(v->versionMajor, 6);
    EXPECT_EQ(v->versionMinor, 1);
    EXPECT_EQ(v->buildMajor, 137);
    EXPECT_EQ(v->buildNumber, 667);
    EXPECT_EQ(std::memcmp(v->cpuTag, "t7\0\0", 4), 0);
    EXPECT_STREQ(v->libraryName, "vekrt7-6.1.dll");
    EXPECT_STREQ(v->versionText, "6.1 build 137.20");
    EXPECT_STREQ(v->buildDate, "Jun 10 2009");
}
