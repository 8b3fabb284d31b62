#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "volume_file.h"

namespace vekr_tool {

namespace {

// Temporary files an interruption must remove. A signal handler may only
// read plain memory and call async-signal-safe functions, so the names live
// in fixed arrays and a slot is marked in use only once its name is whole.
constexpr int kCleanupSlots = 8;
char gCleanupPath[kCleanupSlots][PATH_MAX];
volatile std::sig_atomic_t gCleanupUsed[kCleanupSlots];

int claimCleanupSlot(const std::string& path)
{
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kCleanupSlots; ++i)
        if (!gCleanupUsed[i]) {
            std::memcpy(gCleanupPath[i], path.c_str(), path.size() + 1);
            gCleanupUsed[i] = 1;
            return i;
        }
    return -1;
}

void releaseCleanupSlot(int slot)
{
    if (slot >= 0) gCleanupUsed[slot] = 0;
}

extern "C" void removeTemporariesAndDie(int sig)
{
    for (int i = 0; i < kCleanupSlots; ++i)
        if (gCleanupUsed[i]) ::unlink(gCleanupPath[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

std::string systemReason()
{
    return std::strerror(errno);
}

mode_t currentUmask()
{
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

}  // namespace

void prepareOutputSignals()
{
    // A file-size limit or a closed pipe then shows as a failed write,
    // reported like any other.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, removeTemporariesAndDie);
}

OutputFile::OutputFile(const std::string& path) : path_(path), target_(path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Replace the file the link points at, not the link.
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved != nullptr) {
            target_ = resolved;
            std::free(resolved);
        }
    }
    if (::stat(target_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) throw ToolError("cannot write '" + path_ + "': it is a folder");
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) throw ToolError("cannot open '" + path_ + "': " + systemReason());
        return;
    }
    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    // Shortened if need be, so that a name near the length limit still
    // leaves room for the temporary file's prefix and suffix.
    std::string pattern = folder + "." + name.substr(0, 200) + ".partial-XXXXXX";
    fd_ = ::mkstemp(&pattern[0]);
    if (fd_ < 0) throw ToolError("cannot create '" + path_ + "': " + systemReason());
    temp_ = pattern;
    cleanupSlot_ = claimCleanupSlot(temp_);
    // mkstemp makes the file private; the result gets the usual permissions.
    ::fchmod(fd_, 0666 & ~currentUmask());
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
    releaseCleanupSlot(cleanupSlot_);
}

void OutputFile::write(const void* data, size_t bytes)
{
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            throw ToolError("cannot write '" + path_ + "': " + systemReason());
        }
        p += n;
        bytes -= static_cast<size_t>(n);
    }
}

void OutputFile::finish()
{
    // fsync reports what delayed allocation only finds out at write-back;
    // devices and pipes written in place have nothing to sync.
    if (!temp_.empty() && ::fsync(fd_) != 0)
        throw ToolError("cannot write '" + path_ + "': " + systemReason());
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw ToolError("cannot write '" + path_ + "': " + systemReason());
}

void OutputFile::commit()
{
    if (fd_ >= 0) finish();
    if (!temp_.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0)
        throw ToolError("cannot write '" + path_ + "': " + systemReason());
    committed_ = true;
    releaseCleanupSlot(cleanupSlot_);
    cleanupSlot_ = -1;
}

}  // namespace vekr_tool
