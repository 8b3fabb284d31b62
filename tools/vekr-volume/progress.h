// A progress bar on standard error for the long steps of vekr-volume, drawn
// only when standard error is a terminal and the user did not ask for quiet.
#ifndef VEKR_TOOLS_PROGRESS_H
#define VEKR_TOOLS_PROGRESS_H

#include <unistd.h>

#include <cstdio>
#include <string>

namespace vekr_tool {

class Progress {
public:
    Progress(std::string label, long total, bool wanted)
        : label_(std::move(label)), total_(total > 0 ? total : 1), shown_(wanted && ::isatty(2))
    {
        draw();
    }
    ~Progress()
    {
        if (shown_) std::fputc('\n', stderr);
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void advance(long n)
    {
        done_ += n;
        draw();
    }

private:
    void draw() const
    {
        if (!shown_) return;
        constexpr int kWidth = 40;
        const long filled = done_ * kWidth / total_;
        std::fprintf(stderr, "\r%-8s [", label_.c_str());
        for (int i = 0; i < kWidth; ++i) std::fputc(i < filled ? '#' : '.', stderr);
        std::fprintf(stderr, "] %3ld%%", done_ * 100 / total_);
        std::fflush(stderr);
    }

    std::string label_;
    long total_;
    long done_ = 0;
    bool shown_;
};

}  // namespace vekr_tool

#endif
