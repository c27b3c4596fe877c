// output_file.h - where the GIF goes: standard output, or the file named by
// -o, which is replaced whole or not at all.
//
// A regular output file (existing or new; through a symbolic link, its
// target) is never opened for writing.  The image is written into a new
// file in the same folder, anonymous while it is written where the file
// system allows (O_TMPFILE), else under a name ".tdftogif-" and 12 hex
// digits made only when the image is written and removed on every failure.
// Once the image is complete it gets the mode of the file it replaces (and
// its owner where permitted) or, for a new file, the mode fopen(..., "wb")
// would give; it is flushed to the disk, renamed over the output name and
// the folder is flushed.  A failure or a kill at any moment leaves the
// earlier file as it was, or no file, and no temporary file (but for a kill
// in the instant between the anonymous file's naming and the rename, which
// leaves the complete new image under the temporary name).
//
// An output that is not a regular file (a FIFO, a device, /dev/stdout and
// the other links of /proc/self/fd) is opened and written directly.
#pragma once

#include <cstdio>
#include <string>

#include <sys/stat.h>

namespace tdf {

enum class output_status {
    ok,
    not_created, // the folder cannot take a new file, or the file cannot be replaced
    is_input,    // the output is the dataset being read
    not_written, // the image could not be written completely
};

class output_file {
public:
    output_file() = default;
    // A file not put in place is discarded: an anonymous one closed, a
    // named temporary one removed.
    ~output_file();
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;

    // Settles where the image goes, before anything is drawn: `name` (null:
    // standard output), compared with the dataset `input`.  Creates nothing
    // under the output name.  `anonymous` false always takes the named
    // temporary file (for tests of that way).
    [[nodiscard]] output_status prepare(const char* name, const char* input, bool anonymous = true);

    // The stream to write the image to (the named temporary file is made
    // here).  not_created when it cannot be made.
    [[nodiscard]] output_status open_stream(std::FILE*& stream);

    // Makes sure every byte reached the output, then puts a new file in its
    // place.  not_written when that fails (the earlier file is left alone).
    [[nodiscard]] output_status commit();

private:
    enum class way { standard_output, direct, replace };

    [[nodiscard]] output_status prepare_direct(const char* name, const char* input);
    [[nodiscard]] output_status prepare_replace(const std::string& target, bool anonymous);
    [[nodiscard]] bool name_temporary();
    void discard() noexcept;

    way way_ = way::standard_output;
    std::FILE* stream_ = nullptr;
    int fd_ = -1;             // the new file (replace)
    int folder_ = -1;         // the folder of the output (replace)
    std::string base_;        // the output's name in that folder
    std::string temporary_;   // the temporary name, while there is one
    bool exists_ = false;     // a file is replaced (else a new one made)
    struct stat replaced_ {}; // the file replaced
    mode_t new_mode_ = 0644;  // the mode of a new file
};

} // namespace tdf
