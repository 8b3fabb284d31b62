// The library's one constant version record.

#include "vekr.h"

namespace {

// cpuTag names the processor variant the code paths were written for:
// SSE3-class x86.
constexpr VekLibraryVersion kVersion = {
    6, 1, 137, 667, {'t', '7', '\0', '\0'}, "vekrt7-6.1.dll", "6.1 build 137.20", "Jun 10 2009",
};

}  // namespace

extern "C" VEKR_API const VekLibraryVersion* VEK_CALL vekrGetLibVersion(void)
{
    return &kVersion;
}
