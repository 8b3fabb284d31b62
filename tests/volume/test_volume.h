// A C1PV test volume: one plane-pointer array over a block of memory with a
// margin of voxels around the nominal extent on every side, so kernels that
// read before voxel 0 (the filter) or tests of untouched borders can use it.
// Rows may be stored bottom-up (negative row step).
#ifndef VEKR_TESTS_VOLUME_TEST_VOLUME_H
#define VEKR_TESTS_VOLUME_TEST_VOLUME_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace vekr_test {

template <class T>
class TestVolume {
public:
    // Voxels (x, y, z) with -margin <= x < width + margin (and likewise) exist.
    TestVolume(int width, int height, int depth, int margin = 0, bool bottomUp = false, int rowPad = 3)
        : w_(width), h_(height), d_(depth), m_(margin), pitch_(width + 2 * margin + rowPad),
          rows_(height + 2 * margin), data_(static_cast<size_t>(pitch_) * rows_ * (depth + 2 * margin)),
          bottomUp_(bottomUp)
    {
        linkPlanes();
    }
    // Copies own their memory: the plane pointers are rebuilt over it.
    TestVolume(const TestVolume& o)
        : w_(o.w_), h_(o.h_), d_(o.d_), m_(o.m_), pitch_(o.pitch_), rows_(o.rows_), data_(o.data_),
          bottomUp_(o.bottomUp_)
    {
        linkPlanes();
    }
    TestVolume& operator=(const TestVolume&) = delete;

    int width() const { return w_; }
    int height() const { return h_; }
    int depth() const { return d_; }
    int32_t step() const { return static_cast<int32_t>((bottomUp_ ? -pitch_ : pitch_) * sizeof(T)); }

    // Plane arrays as the exports take them: element z is plane z.
    T* const* planes() { return planes_.data() + m_; }
    const T* const* cplanes() const { return cplanes_.data() + m_; }

    T& at(int x, int y, int z)
    {
        return planes()[z][static_cast<ptrdiff_t>(y) * (step() / static_cast<int32_t>(sizeof(T))) + x];
    }
    T at(int x, int y, int z) const
    {
        return cplanes()[z][static_cast<ptrdiff_t>(y) * (step() / static_cast<int32_t>(sizeof(T))) + x];
    }

    // Every stored element, margins and row padding included.
    std::vector<T>& raw() { return data_; }
    const std::vector<T>& raw() const { return data_; }

    template <class Gen>
    void fillAll(Gen&& gen)
    {
        for (T& v : data_) v = gen();
    }

private:
    void linkPlanes()
    {
        planes_.resize(d_ + 2 * m_);
        for (int p = 0; p < d_ + 2 * m_; ++p) {
            T* plane = data_.data() + static_cast<size_t>(p) * pitch_ * rows_ + m_;
            // Row 0 of the plane: first stored row (top-down) or last (bottom-up).
            planes_[p] = bottomUp_ ? plane + static_cast<ptrdiff_t>(rows_ - 1 - m_) * pitch_
                                   : plane + static_cast<ptrdiff_t>(m_) * pitch_;
        }
        cplanes_.assign(planes_.begin(), planes_.end());
    }

    int w_, h_, d_, m_, pitch_, rows_;
    std::vector<T> data_;
    std::vector<T*> planes_;
    std::vector<const T*> cplanes_;
    bool bottomUp_;
};

}  // namespace vekr_test

#endif
