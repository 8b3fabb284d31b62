// The main of the test programs whose subsystem has kernels for more than
// one instruction set. Every test runs once per set the process may use
// (SSE3 first, then AVX2 where the processor has it and VEKR_ISA does not
// hold the library to SSE3), so each brute-force reference and worked value
// checks every copy of the kernels, not only the one the processor picks.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "core/isa.h"

namespace {

class KernelsPerIteration : public testing::EmptyTestEventListener {
public:
    explicit KernelsPerIteration(std::vector<vekr::Isa> sets) : sets_(std::move(sets)) {}

    void OnTestIterationStart(const testing::UnitTest&, int iteration) override
    {
        const vekr::Isa isa = sets_[static_cast<size_t>(iteration) % sets_.size()];
        if (!vekr::useIsaForTesting(isa)) std::fprintf(stderr, "cannot run the %s kernels\n", vekr::isaName(isa));
        std::printf("[  KERNELS ] %s\n", vekr::isaName(isa));
        std::fflush(stdout);
    }

private:
    std::vector<vekr::Isa> sets_;
};

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    // activeIsa() is the widest set allowed, VEKR_ISA included; every set up
    // to it is run.
    std::vector<vekr::Isa> sets;
    for (int i = 0; i <= static_cast<int>(vekr::activeIsa()); ++i) sets.push_back(static_cast<vekr::Isa>(i));
    // An explicit --gtest_repeat is the caller's; otherwise one pass per set.
    if (GTEST_FLAG_GET(repeat) == 1) GTEST_FLAG_SET(repeat, static_cast<int>(sets.size()));
    testing::UnitTest::GetInstance()->listeners().Append(new KernelsPerIteration(sets));
    return RUN_ALL_TESTS();
}
