// Helpers shared by the libFuzzer targets: decoding the input bytes into
// arguments (sizes, hostile floats, null pointers, misalignment) and output
// buffers that prove an export wrote nothing.
//
// Every target follows one pattern: decode a call, fill each output with a
// sentinel, call the export, then require a status the export documents
// and, unless the call succeeded, every output byte unchanged. A broken
// expectation aborts with a message, which libFuzzer reports as a crash
// and saves the input for replay.
#ifndef VEKR_TESTS_FUZZ_SUPPORT_H
#define VEKR_TESTS_FUZZ_SUPPORT_H

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <type_traits>
#include <vector>

#include "vekr.h"

#define FUZZ_REQUIRE(cond, ...)                                                   \
    do {                                                                          \
        if (!(cond)) {                                                            \
            std::fprintf(stderr, "%s:%d: failed: %s: ", __FILE__, __LINE__, #cond); \
            std::fprintf(stderr, __VA_ARGS__);                                    \
            std::fprintf(stderr, "\n");                                           \
            std::abort();                                                         \
        }                                                                         \
    } while (0)

namespace fuzz {

// Reads the input front to back; past its end every read yields zero, so
// short inputs decode to small, valid calls.
class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}

    size_t left() const { return static_cast<size_t>(end_ - p_); }
    uint8_t u8() { return p_ < end_ ? *p_++ : 0; }
    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(u8()) << (8 * i);
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // True with probability about 1 / oneIn.
    bool chance(unsigned oneIn) { return u8() % oneIn == 0; }
    // An integer in [lo, hi].
    int32_t range(int32_t lo, int32_t hi)
    {
        const uint32_t span = static_cast<uint32_t>(hi - lo) + 1u;
        return span == 0 ? static_cast<int32_t>(u32()) : lo + static_cast<int32_t>(u32() % span);
    }
    template <class T>
    T pick(std::initializer_list<T> values)
    {
        return values.begin()[u8() % values.size()];
    }

    // A count for arrays of at most cap elements: usually 0 .. cap (often
    // small, or a multiple of 4 for the 4-wide paths); sometimes a negative
    // value. hugeCount() gives sizes no caller could back with memory, for
    // calls that must fail before touching one.
    int32_t count(int32_t cap)
    {
        switch (u8() % 8) {
        case 0: return pick<int32_t>({0, -1, -4, INT32_MIN});
        case 1: return 4 * range(0, cap / 4);
        case 2: return range(1, 5);
        default: return range(0, cap);
        }
    }
    int32_t hugeCount() { return pick<int32_t>({INT32_MAX, 1 << 30, 0x7FFFFFFC, 536870912}); }

    // A float: edge values (zeros, NaN, infinities, denormals, extremes),
    // small integers and plain values of moderate size, or raw bits.
    float real()
    {
        static const float edges[] = {0.0f,     -0.0f,    1.0f,          -1.0f,        0.5f,
                                      NAN,      -NAN,     INFINITY,      -INFINITY,    FLT_MAX,
                                      -FLT_MAX, FLT_MIN,  -FLT_MIN,      1e-45f,       -1e-45f,
                                      1e-30f,   1e30f,    FLT_EPSILON,   1.0f + FLT_EPSILON, 0.9999f};
        switch (u8() % 8) {
        case 0: return edges[u8() % (sizeof edges / sizeof edges[0])];
        case 1: {
            float f;
            const uint32_t b = u32();
            std::memcpy(&f, &b, 4);
            return f;
        }
        case 2: return static_cast<float>(range(-8, 8));
        default: return static_cast<float>(i32() % 20001) / 1000.0f;  // -20 .. 20
        }
    }
    double real64()
    {
        switch (u8() % 8) {
        case 0: return pick<double>({0.0, -0.0, NAN, INFINITY, -INFINITY, DBL_MAX, 1e-300, 1e300, 1e-12, 4.9e-324});
        case 1: {
            double d;
            const uint64_t b = uint64_t(u32()) | uint64_t(u32()) << 32;
            std::memcpy(&d, &b, 8);
            return d;
        }
        case 2: return static_cast<double>(range(-4, 4));
        default: return static_cast<double>(i32() % 40001) / 10000.0;  // -4 .. 4
        }
    }
    // n floats, each drawn as above.
    void fill(float* v, size_t n)
    {
        for (size_t i = 0; i < n; ++i) v[i] = real();
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

// An array of n elements starting `offset` elements into its allocation,
// which is exactly large enough, so AddressSanitizer sees any access past
// the last element (an empty array still gets one element, so that its
// pointer is not null; the sentinel check covers it). An offset of 1 float
// breaks 16-byte alignment and selects the scalar paths.
template <class T>
class Array {
public:
    Array(size_t n, size_t offset = 0) : n_(n), store_(n + offset > 0 ? n + offset : 1), data_(store_.data() + offset) {}
    T* data() { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    const T* data() const { return data_; }
    size_t size() const { return n_; }
    void fillFrom(Input& in)
    {
        for (size_t i = 0; i < n_; ++i) data_[i] = draw(in);
    }
    // Fills with a recognisable pattern and remembers it.
    void sentinel()
    {
        std::memset(static_cast<void*>(store_.data()), 0x5B, store_.size() * sizeof(T));
        snapshot();
    }
    void snapshot() { saved_.assign(store_.begin(), store_.end()); }
    bool unchanged() const
    {
        return std::memcmp(saved_.data(), store_.data(), store_.size() * sizeof(T)) == 0;
    }
    // Bit for bit, except that any two NaNs match: which NaN a product of
    // two NaNs gives depends on the operand order the compiler chose, and no
    // caller can rely on a NaN's sign or payload.
    bool sameBits(const Array& o) const
    {
        if (n_ != o.n_) return false;
        for (size_t i = 0; i < n_; ++i) {
            if (std::memcmp(&data_[i], &o.data_[i], sizeof(T)) == 0) continue;
            if constexpr (std::is_floating_point_v<T>)
                if (std::isnan(data_[i]) && std::isnan(o.data_[i])) continue;
            return false;
        }
        return true;
    }

private:
    static T draw(Input& in)
    {
        if constexpr (std::is_floating_point_v<T>)
            return static_cast<T>(in.real());
        else
            return static_cast<T>(in.u32());
    }
    size_t n_;
    std::vector<T> store_;
    T* data_;
    std::vector<T> saved_;
};

// Three planes of n floats and the pointer array a P3 argument takes.
struct Planes {
    Planes(size_t n, size_t offset = 0) : x(n, offset), y(n, offset), z(n, offset) {}
    Array<float> x, y, z;
    float* p[3] = {x.data(), y.data(), z.data()};
    const float* const* in() const { return p; }
    float* const* out() { return p; }
    void fillFrom(Input& in)
    {
        x.fillFrom(in);
        y.fillFrom(in);
        z.fillFrom(in);
    }
    void sentinel()
    {
        x.sentinel();
        y.sentinel();
        z.sentinel();
    }
    void snapshot()
    {
        x.snapshot();
        y.snapshot();
        z.snapshot();
    }
    bool unchanged() const { return x.unchanged() && y.unchanged() && z.unchanged(); }
    bool sameBits(const Planes& o) const { return x.sameBits(o.x) && y.sameBits(o.y) && z.sameBits(o.z); }
};

// Which of an export's checked pointers are passed as null: usually none,
// sometimes one or several. nulled(k) says whether pointer k (in the
// export's check order) is null; any() whether the call must fail with
// vekStsNullPtrErr. A plan over no pointers is empty; a forced one nulls
// at least one.
class NullPlan {
public:
    NullPlan(Input& in, int pointers, bool force = false)
    {
        if (pointers > 0 && (force || in.chance(4))) {
            mask_ = in.u8() & ((1u << pointers) - 1u);
            if (mask_ == 0) mask_ = 1u << (in.u8() % pointers);
        }
    }
    bool nulled(int k) const { return (mask_ >> k) & 1u; }
    bool any() const { return mask_ != 0; }
    template <class P>
    P pass(int k, P p) const
    {
        return nulled(k) ? nullptr : p;
    }

private:
    unsigned mask_ = 0;
};

inline float bitsToFloat(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

inline bool statusIn(VekStatus s, std::initializer_list<VekStatus> allowed)
{
    for (VekStatus a : allowed)
        if (s == a) return true;
    return false;
}

// Masks: negative entries mark inactive elements; active ones are below
// `limit` (the number of triangles an index may name).
inline void fillMask(Input& in, Array<int32_t>& mask, int32_t limit)
{
    for (size_t i = 0; i < mask.size(); ++i) {
        const uint8_t b = in.u8();
        if (b < 80 || limit < 1)
            mask[i] = (b & 1) ? -1 : INT32_MIN + b;
        else
            mask[i] = static_cast<int32_t>(in.u8()) % limit;
    }
}

}  // namespace fuzz

#endif
