// Order-preserving unsigned images of float values, used wherever split
// candidates are sorted or merged.
#ifndef VEKR_SCENE_SAH_KEYS_H
#define VEKR_SCENE_SAH_KEYS_H

#include <cstdint>
#include <cstring>

namespace vekr::sah {

// Negative values inverted, non-negative ones with the sign bit set, so
// unsigned order is float order (with -0 just below +0).
inline uint32_t floatKey(float v)
{
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b ^ (static_cast<uint32_t>(static_cast<int32_t>(b) >> 31) | 0x80000000u);
}

inline float keyFloat(uint32_t k)
{
    const uint32_t b = k ^ (static_cast<uint32_t>(static_cast<int32_t>(~k) >> 31) | 0x80000000u);
    float v;
    std::memcpy(&v, &b, 4);
    return v;
}

}  // namespace vekr::sah

#endif
