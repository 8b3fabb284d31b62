#include "fuzz_support.h"
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }
