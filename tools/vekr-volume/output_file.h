// Output files of vekr-volume that appear whole or not at all.
//
// Every output is written to a temporary file next to its target and
// renamed over the target only when the whole run has succeeded, so a
// failed write (full disk, file-size limit, interruption) never leaves a
// truncated file behind and never destroys an older file of that name.
// Targets that are not regular files (a terminal, /dev/stdout, a pipe) are
// written in place: there is nothing to rename there.
#ifndef VEKR_TOOLS_OUTPUT_FILE_H
#define VEKR_TOOLS_OUTPUT_FILE_H

#include <cstddef>
#include <string>

namespace vekr_tool {

class OutputFile {
public:
    // Creates the temporary file at once, so that an unwritable folder is
    // reported before any work is done.
    explicit OutputFile(const std::string& path);
    // Removes the temporary file unless commit() succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& path() const { return path_; }

    // Each throws ToolError naming the target and the system's reason.
    void write(const void* data, size_t bytes);
    // Flushes the data to the disk and closes the file.
    void finish();
    // Renames the finished temporary file over the target.
    void commit();

private:
    std::string path_;    // as the user named it, for messages
    std::string target_;  // what the rename replaces (symbolic links resolved)
    std::string temp_;    // empty when written in place
    int fd_ = -1;
    int cleanupSlot_ = -1;
    bool committed_ = false;
};

// Makes a file-size limit a write error instead of a fatal signal, and
// removes the temporary files of unfinished outputs when the program is
// interrupted or terminated. Call once at start-up.
void prepareOutputSignals();

}  // namespace vekr_tool

#endif
