// main.cpp - the tdfbatch command: nightly conversion of an archive of
// Tidewell datasets into GIF quicklooks, with tdftogif.
//
//   tdfbatch [options] SRC DST [-- tdftogif options]
//   tdfbatch --index-only DST
#include <csignal>
#include <exception>
#include <new>

#include "batch_options.h"
#include "batch_run.h"
#include "failure_line.h"

int main(int argc, char** argv)
{
    // A closed standard error (a pipe whose reader went away) must not end
    // the run half way.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        tdb::BatchOptions options;
        const tdb::ParseOutcome parsed = tdb::parse_options(argc, argv, options);
        if (!parsed.run)
            return parsed.status;
        return tdb::run_batch(options);
    } catch (const std::bad_alloc&) {
        tdf::write_failure_line("tdfbatch", "tdfbatch", "out of memory");
    } catch (const std::exception& e) {
        tdf::write_failure_line("tdfbatch", "tdfbatch", e.what());
    } catch (...) {
        tdf::write_failure_line("tdfbatch", "tdfbatch", "internal error");
    }
    return tdb::kSomeFailed;
}
