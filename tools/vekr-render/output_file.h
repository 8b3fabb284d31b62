// Output files that appear whole or not at all.
#ifndef VEKR_RENDER_OUTPUT_FILE_H
#define VEKR_RENDER_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace vekr_render {

// Writes go to a temporary file beside the target (same folder, so the
// final rename stays on one file system and is atomic); commit() checks
// that every byte reached the file and only then renames it into place.
// Anything that fails, or an object destroyed before commit(), removes the
// temporary file, so neither a partial file nor a stray temporary is left
// and an existing file at the target is kept as it was.
//
// A target that exists and is not a regular file (a terminal, a pipe,
// /dev/null, /dev/full) cannot be replaced by a rename; it is written
// directly, still with every write checked.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { discard(); }

    // Makes an interrupt (SIGINT, SIGTERM, SIGHUP, SIGQUIT) remove the
    // temporary files being written before the program ends as the signal
    // would have ended it. Called once at start-up.
    static void removeOnInterrupt();

    // Whether path can be written as far as can be told without writing:
    // not a folder, and its folder exists and is writable. Checked before a
    // long render so that a mistyped path fails at once.
    static bool checkTarget(const std::string& path, std::string& error);

    // Opens the temporary file; false with a one-line reason in error.
    bool open(const std::string& path, std::string& error);

    std::FILE* stream() const { return file_; }
    const std::string& path() const { return path_; }

    // Flushes and closes the stream, checking both, then renames the
    // temporary file to the target. False with a reason in error, and the
    // temporary file removed, when anything fails.
    bool commit(std::string& error);

    // Removes the temporary file (if any) without touching the target.
    void discard();

    // The message for a failed write to this file, from errno (or from
    // the stream's error flag when errno says nothing).
    std::string writeError(int err) const;

private:
    std::FILE* file_ = nullptr;
    std::string path_;   // the target as the user named it
    std::string final_;  // where the rename goes (symbolic links resolved)
    std::string temp_;   // empty when writing the target directly
    int slot_ = -1;      // where the interrupt handler finds temp_
};

}  // namespace vekr_render

#endif
