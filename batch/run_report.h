// run_report.h - the report of --report: one JSON object per dataset of
// the run, one a line.
//
//   {"path":"data/2024/061/pass 01.tdf","output":"gif/2024/061/pass 01.gif",
//    "status":"converted","exit":0,"signal":null,"message":"","seconds":0.031,
//    "bytes":4567,"satellite":"hesk-14","kind":"infrared",
//    "time":"2024-03-01T12:34:56Z","dimensions":{"rows":512,"columns":512},
//    "storage":"compressed"}
//
// status is "converted", "skipped" (up to date) or "failed"; exit is
// tdftogif's exit status (null when a signal or the time limit ended it),
// message its failure line (without "tdftogif: ") or tdfbatch's own;
// seconds the time the conversion took in this run (0 when skipped); bytes
// the size of the quicklook in place (an earlier one for a failed dataset,
// null when there is none); the header fields are null where the header
// does not give them.
#pragma once

#include <string>

#include "manifest.h"

namespace tdb {

enum class Outcome { converted, skipped, failed };

// One line of the report, with its newline.  `source` and `output` are the
// folders as given on the command line.
std::string report_line(const std::string& source, const std::string& output, const std::string& gif,
                        const Record& record, Outcome outcome, double seconds);

// A path below a folder as given on the command line ("data" + "a/b.tdf").
std::string join_path(const std::string& folder, const std::string& relative);

} // namespace tdb
