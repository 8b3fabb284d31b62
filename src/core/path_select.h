// The rule by which an export chooses between its 4-wide and scalar paths.
//
// The 4-wide path runs when the element count is a multiple of 4 and every
// array the export names for the test is 16-byte aligned. The test is on the
// count's low bits, so 0 and negative multiples of 4 also qualify (and then
// do nothing). Each export states which arrays it names in one predicate of
// its own built on this helper; nothing else decides the path.
#ifndef VEKR_CORE_PATH_SELECT_H
#define VEKR_CORE_PATH_SELECT_H

#include <cstdint>

namespace vekr {

inline bool isAligned16(const void* p)
{
    return (reinterpret_cast<uintptr_t>(p) & 15u) == 0;
}

template <class... P>
inline bool allAligned16(const P*... p)
{
    return (isAligned16(p) && ...);
}

inline bool isMultipleOf4(int32_t count)
{
    return (count & 3) == 0;
}

template <class... P>
inline bool takesFourWidePath(int32_t count, const P*... arrays)
{
    return isMultipleOf4(count) && allAligned16(arrays...);
}

}  // namespace vekr

#endif
