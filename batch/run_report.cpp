// run_report.cpp - the JSON lines of the report.
#include "run_report.h"

#include <cstdio>

#include "dataset_info.h"

namespace tdb {

namespace {

std::string text_or_null(const std::string& text)
{
    return text.empty() ? "null" : tdi::json_string(text);
}

const char* outcome_name(Outcome outcome)
{
    switch (outcome) {
    case Outcome::converted:
        return "converted";
    case Outcome::skipped:
        return "skipped";
    case Outcome::failed:
        break;
    }
    return "failed";
}

} // namespace

std::string join_path(const std::string& folder, const std::string& relative)
{
    if (folder.empty() || folder == ".")
        return relative;
    return folder.back() == '/' ? folder + relative : folder + "/" + relative;
}

std::string report_line(const std::string& source, const std::string& output, const std::string& gif,
                        const Record& r, Outcome outcome, double seconds)
{
    const DatasetSummary& s = r.summary;
    std::string line = "{\"path\":" + tdi::json_string(join_path(source, r.path));
    line += ",\"output\":" + tdi::json_string(join_path(output, gif));
    line += ",\"status\":\"" + std::string(outcome_name(outcome)) + "\"";
    const bool exited = r.signal == 0 && r.exit_status >= 0;
    line += ",\"exit\":" + (exited ? std::to_string(r.exit_status) : std::string("null"));
    line += ",\"signal\":" + (r.signal != 0 ? std::to_string(r.signal) : std::string("null"));
    line += ",\"message\":" + tdi::json_string(outcome == Outcome::failed ? r.message : std::string());
    char number[48];
    std::snprintf(number, sizeof number, "%.3f", seconds);
    line += ",\"seconds\":";
    line += number;
    line += ",\"bytes\":" + (r.gif_bytes >= 0 ? std::to_string(r.gif_bytes) : std::string("null"));
    line += ",\"satellite\":" + text_or_null(s.satellite);
    line += ",\"kind\":" + text_or_null(s.kind);
    line += ",\"time\":" + (s.time ? tdi::json_string(utc_text(*s.time)) : std::string("null"));
    line += ",\"dimensions\":";
    line += s.rows >= 0 && s.columns >= 0
                ? "{\"rows\":" + std::to_string(s.rows) + ",\"columns\":" + std::to_string(s.columns) + "}"
                : std::string("null");
    line += ",\"storage\":" + text_or_null(s.storage);
    line += "}\n";
    return line;
}

} // namespace tdb
