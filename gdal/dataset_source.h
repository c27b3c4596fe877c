// dataset_source.h - a GDAL dataset's way into the td_ library: its file
// as a handle of the library's pool.  A local file is opened by the
// library; a GDAL virtual file (an archive member, a remote object) through
// VSI, on callbacks (vsi_source.h).
//
// GDAL may keep far more datasets open than the library has slots (a
// mosaic of hundreds of files) and read them from several threads.  So a
// GDAL dataset holds no slot of its own: it holds a pool handle, and each
// read acquires the handle's dataset id for the time of the read.  The
// library keeps the most recently used datasets open (reopening one means
// walking a compressed stream again), serialises the calls on one dataset,
// runs those on different datasets at once, and refuses a file that has
// changed since the GDAL dataset was opened.  The driver has no lock and
// no process-wide state of its own.
#pragma once

#include <string>

namespace tdgdal {

// The outcome of a read through a Source.
struct ReadResult {
    int status = 0;       // 0 or the library's status
    bool changed = false; // the file has changed on disk since it was opened
};

// The message of a failed read, with the reason when the file has changed.
std::string read_message(const ReadResult& result);

// One file as a GDAL dataset reads it.
class Source {
public:
    // Opens `path`, a local path or a GDAL virtual file name, through the
    // pool (read-only); 0 or the library's status.
    [[nodiscard]] int open(const std::string& path);
    ~Source();
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    const std::string& path() const { return path_; }

    // Runs `read(id)` with the dataset's id and returns its status, or the
    // status of the acquisition.  `read` may call td_ operations only.
    template <class Read>
    [[nodiscard]] ReadResult with_id(Read&& read) const
    {
        int id = -1;
        ReadResult result;
        result.status = acquire(id);
        if (result.status == 0) {
            result.status = read(id);
            result.changed = result.status != 0 && changed(id);
            release();
        } else {
            result.changed = refused_as_changed(result.status);
        }
        return result;
    }

private:
    [[nodiscard]] int acquire(int& id) const;
    void release() const;
    static bool changed(int id);
    static bool refused_as_changed(int status);

    std::string path_;
    int handle_ = -1;
};

// The most datasets kept open at once: the configuration option
// TIDEWELL_MAX_OPEN_DATASETS (1 to 100), else the library's default.
void apply_pool_limit();

} // namespace tdgdal
