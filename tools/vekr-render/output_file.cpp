#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vekr_render {

namespace {

// Permission bits a new file would get: 0666 less the process's umask.
// umask can only be read by setting it; the program is single-threaded
// whenever it opens an output file.
mode_t newFileMode()
{
    const mode_t mask = umask(022);
    umask(mask);
    return 0666 & ~mask;
}

// Temporary files in the making, for the signal handler below to remove
// when the program is interrupted. Fixed slots: a handler may not
// allocate, and the program writes at most two outputs at once.
constexpr int kSlots = 4;
constexpr size_t kPathBytes = 4096;
char pendingPath[kSlots][kPathBytes];
volatile sig_atomic_t pendingUsed[kSlots];

int track(const std::string& temp)
{
    if (temp.size() >= kPathBytes) return -1;
    for (int i = 0; i < kSlots; ++i)
        if (!pendingUsed[i]) {
            std::memcpy(pendingPath[i], temp.c_str(), temp.size() + 1);
            // The handler may run between any two instructions: the name
            // must be complete before the slot says it is in use.
            std::atomic_signal_fence(std::memory_order_seq_cst);
            pendingUsed[i] = 1;
            return i;
        }
    return -1;
}

void untrack(int slot)
{
    if (slot >= 0) pendingUsed[slot] = 0;
}

extern "C" void removeAndReraise(int sig)
{
    for (int i = 0; i < kSlots; ++i)
        if (pendingUsed[i]) ::unlink(pendingPath[i]);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

}  // namespace

void OutputFile::removeOnInterrupt()
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        struct sigaction action {};
        action.sa_handler = removeAndReraise;
        sigemptyset(&action.sa_mask);
        ::sigaction(sig, &action, nullptr);
    }
}

std::string OutputFile::writeError(int err) const
{
    return "cannot write '" + path_ + "': " + (err ? std::strerror(err) : "write error");
}

bool OutputFile::checkTarget(const std::string& path, std::string& error)
{
    struct stat st;
    int err = 0;
    if (path.empty()) {
        err = ENOENT;
    } else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        // A device or pipe is written in place; a folder cannot be.
        if (S_ISDIR(st.st_mode)) err = EISDIR;
    } else {
        const size_t slash = path.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        if (::access(dir.c_str(), W_OK | X_OK) != 0) err = errno;
    }
    if (err) error = "cannot write '" + path + "': " + std::strerror(err);
    return err == 0;
}

bool OutputFile::open(const std::string& path, std::string& error)
{
    discard();
    path_ = path;
    final_ = path;
    if (path.empty()) {
        error = "cannot write '': no file name given";
        return false;
    }
    struct stat st;
    mode_t mode = newFileMode();
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            if (S_ISDIR(st.st_mode)) {
                error = writeError(EISDIR);
                return false;
            }
            file_ = std::fopen(path.c_str(), "wb");
            if (!file_) {
                error = writeError(errno);
                return false;
            }
            return true;
        }
        // Replace what a symbolic link points at, not the link, and keep
        // the permissions of the file being replaced.
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            final_ = real;
            std::free(real);
        }
        mode = st.st_mode & 07777;
    }
    const size_t slash = final_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : final_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? final_ : final_.substr(slash + 1);
    std::string temp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".tmp-XXXXXX";
    const int fd = ::mkstemp(&temp[0]);
    if (fd < 0) {
        error = writeError(errno);
        return false;
    }
    temp_ = temp;
    slot_ = track(temp_);
    if (::fchmod(fd, mode) != 0 || !(file_ = ::fdopen(fd, "wb"))) {
        error = writeError(errno);
        if (!file_) ::close(fd);
        discard();
        return false;
    }
    return true;
}

bool OutputFile::commit(std::string& error)
{
    if (!file_) {
        error = writeError(EBADF);
        return false;
    }
    errno = 0;
    int err = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) err = errno ? errno : EIO;
    // The data must be on the disk before the name points at it, or a
    // crash right after the rename could leave an empty file in place.
    if (!err && !temp_.empty() && ::fsync(fileno(file_)) != 0) err = errno;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (!err && closed != 0) err = errno ? errno : EIO;
    if (!err && !temp_.empty() && std::rename(temp_.c_str(), final_.c_str()) != 0) err = errno;
    if (err) {
        error = writeError(err);
        discard();
        return false;
    }
    untrack(slot_);
    slot_ = -1;
    temp_.clear();
    return true;
}

void OutputFile::discard()
{
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temp_.empty()) {
        ::unlink(temp_.c_str());
        temp_.clear();
    }
    untrack(slot_);
    slot_ = -1;
}

}  // namespace vekr_render
