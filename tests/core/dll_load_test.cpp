// The Windows DLLs as a program sees them that knows only their file names
// and the functions' plain names: LoadLibrary, GetProcAddress and calls
// through function pointers with the platform's calling convention. Nothing
// here includes the library's headers or links its import libraries; the
// record and the signatures are declared the way such a program would.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// All names the two DLLs export (generated from the tests' export lists).
const char* const kVekrExports[] = {
#include "vekr_exports.inc"
};
const char* const kVekcoreExports[] = {
#include "vekcore_exports.inc"
};

struct VersionRecord {
    int32_t versionMajor, versionMinor, buildMajor, buildNumber;
    char cpuTag[4];
    const char* libraryName;
    const char* versionText;
    const char* buildDate;
};

using GetLibVersionFn = const VersionRecord*(WINAPI*)(void);
using SHGetSizeFn = int32_t(WINAPI*)(uint32_t order, int32_t kind, int32_t* size);
using MulMaskedFn = int32_t(WINAPI*)(const float* src, const int32_t* mask, float* srcDst, int32_t count);
using MallocFn = void*(WINAPI*)(int32_t size);
using FreeFn = void(WINAPI*)(void* p);
using NumThreadsFn = int32_t(WINAPI*)(void);

constexpr int32_t kNullPtrErr = -8;
constexpr int32_t kRangeErr = -7;

HMODULE loadVekr()
{
    // By file name alone: the DLL sits beside the program, as an
    // application would ship it, and pulls vekcore-6.1.dll in after it.
    HMODULE m = LoadLibraryA("vekrt7-6.1.dll");
    EXPECT_NE(m, nullptr) << "LoadLibrary failed, error " << GetLastError();
    return m;
}

template <class Fn>
Fn function(HMODULE m, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

// The fixed part of a DLL's version resource and one of its strings.
struct FileVersion {
    uint16_t parts[4] = {0, 0, 0, 0};
    std::string originalName;
};

FileVersion fileVersion(HMODULE m)
{
    FileVersion v;
    char path[MAX_PATH];
    if (GetModuleFileNameA(m, path, MAX_PATH) == 0) return v;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return v;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(path, 0, size, block.data())) return v;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &len) && fixed) {
        v.parts[0] = HIWORD(fixed->dwFileVersionMS);
        v.parts[1] = LOWORD(fixed->dwFileVersionMS);
        v.parts[2] = HIWORD(fixed->dwFileVersionLS);
        v.parts[3] = LOWORD(fixed->dwFileVersionLS);
    }
    char* name = nullptr;
    if (VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\OriginalFilename",
                       reinterpret_cast<void**>(&name), &len) && name)
        v.originalName = name;
    return v;
}

}  // namespace

TEST(DllLoad, EveryExportFoundByPlainNameAndNoDecoratedOne)
{
    HMODULE vekr = loadVekr();
    ASSERT_NE(vekr, nullptr);
    HMODULE core = GetModuleHandleA("vekcore-6.1.dll");
    ASSERT_NE(core, nullptr) << "vekcore-6.1.dll was not loaded with vekrt7-6.1.dll";
    for (const char* name : kVekrExports) EXPECT_NE(GetProcAddress(vekr, name), nullptr) << name;
    for (const char* name : kVekcoreExports) EXPECT_NE(GetProcAddress(core, name), nullptr) << name;
    // The 32-bit __stdcall decorations must not leak into the export table.
    for (const char* name : {"vekrGetLibVersion@0", "_vekrGetLibVersion@0", "_vekrGetLibVersion"})
        EXPECT_EQ(GetProcAddress(vekr, name), nullptr) << name;
    EXPECT_EQ(GetProcAddress(core, "vekMalloc@4"), nullptr);
}

TEST(DllLoad, CallsThroughFunctionPointers)
{
    HMODULE vekr = loadVekr();
    ASSERT_NE(vekr, nullptr);

    auto getVersion = function<GetLibVersionFn>(vekr, "vekrGetLibVersion");
    ASSERT_NE(getVersion, nullptr);
    const VersionRecord* v = getVersion();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, getVersion());
    EXPECT_EQ(v->versionMajor, 6);
    EXPECT_EQ(v->versionMinor, 1);
    EXPECT_STREQ(v->libraryName, "vekrt7-6.1.dll");

    // Three arguments, one of them a pointer: with a wrong calling convention
    // the arguments are read from the wrong places or the stack is left
    // unbalanced, and repeated calls would not keep giving these results.
    auto shGetSize = function<SHGetSizeFn>(vekr, "vekrSHGetSize_32f");
    ASSERT_NE(shGetSize, nullptr);
    for (int round = 0; round < 100; ++round) {
        int32_t size0 = 0, size1 = 0;
        ASSERT_EQ(shGetSize(3, 0, &size0), 0);
        ASSERT_EQ(shGetSize(3, 1, &size1), 0);
        EXPECT_GT(size0, 0);
        EXPECT_GT(size1, size0);  // kind 1 adds its recurrence tables
        ASSERT_EQ(shGetSize(3, 2, &size0), kRangeErr);
        ASSERT_EQ(shGetSize(3, 0, nullptr), kNullPtrErr);
    }

    auto mul = function<MulMaskedFn>(vekr, "vekrMul_32f_C1IM");
    ASSERT_NE(mul, nullptr);
    const float src[5] = {2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    const int32_t mask[5] = {0, -1, 7, 0, -1};
    float srcDst[5] = {1.0f, 1.0f, 1.5f, -2.0f, 9.0f};
    ASSERT_EQ(mul(src, mask, srcDst, 5), 0);
    const float expected[5] = {2.0f, 0.0f, 6.0f, -10.0f, 0.0f};  // inactive: 0
    for (int i = 0; i < 5; ++i) EXPECT_EQ(srcDst[i], expected[i]) << i;

    HMODULE core = GetModuleHandleA("vekcore-6.1.dll");
    ASSERT_NE(core, nullptr);
    auto vekMalloc = function<MallocFn>(core, "vekMalloc");
    auto vekFree = function<FreeFn>(core, "vekFree");
    auto numThreads = function<NumThreadsFn>(core, "ownGetNumThreads");
    ASSERT_TRUE(vekMalloc && vekFree && numThreads);
    void* p = vekMalloc(1000);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
    std::memset(p, 0x5A, 1000);
    vekFree(p);
    EXPECT_GE(numThreads(), 1);
}

// The version resource that file properties and installers read carries
// the numbers of the version record that the library reports.
TEST(DllLoad, VersionResourcesMatchTheVersionRecord)
{
    HMODULE vekr = loadVekr();
    ASSERT_NE(vekr, nullptr);
    auto getVersion = function<GetLibVersionFn>(vekr, "vekrGetLibVersion");
    ASSERT_NE(getVersion, nullptr);
    const VersionRecord* v = getVersion();
    const uint16_t record[4] = {static_cast<uint16_t>(v->versionMajor), static_cast<uint16_t>(v->versionMinor),
                                static_cast<uint16_t>(v->buildMajor), static_cast<uint16_t>(v->buildNumber)};

    const FileVersion dll = fileVersion(vekr);
    const FileVersion core = fileVersion(GetModuleHandleA("vekcore-6.1.dll"));
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(dll.parts[k], record[k]) << "vekrt7-6.1.dll, part " << k;
        EXPECT_EQ(core.parts[k], record[k]) << "vekcore-6.1.dll, part " << k;
    }
    EXPECT_EQ(dll.originalName, v->libraryName);
    EXPECT_EQ(core.originalName, "vekcore-6.1.dll");
}
