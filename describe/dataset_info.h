// dataset_info.h - what a Tidewell dataset holds, gathered through the td_
// interface alone and written as text for a person or as one JSON object
// for a script: tdfinfo's output, and the header attributes as the GDAL
// plugin shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tdi {

struct VariableInfo {
    std::string name;
    std::int16_t type = 0; // TD_BYTE or TD_FLOAT
};

struct AttributeInfo {
    std::string name;
    std::int16_t kind = 0;                // TD_ATT_ENUMERATED, TD_ATT_SHORT or TD_ATT_SCALED
    std::int16_t scale = 0;               // divisor of a scaled attribute, else 0
    std::int16_t stored = 0;              // the 16-bit value as stored
    std::optional<std::string> code_name; // name of an enumerated attribute's code, if it has one
};

struct DatasetInfo {
    std::string path;
    int rows = 0;
    int columns = 0;
    std::vector<VariableInfo> variables;    // the data variable first, then "graphics" if present
    std::string data_kind;                  // infrared, visible, scan time, angle or cloud
    std::string storage;                    // plain, compressed or unsupported
    std::optional<std::string> orbit_start; // ISO 8601 UTC; none when the header makes no time
    std::vector<AttributeInfo> attributes;  // all 57, in table order
};

// A failed td_ call: its status (1 to 51) and the name of what failed, the
// dataset path, followed for anything after the open by ": " and the item
// ("rows", "variable 0", an attribute name).
struct Failure {
    int status = 0;
    std::string name;
};

// Opens the dataset read-only, reads everything tdfinfo shows and closes it
// again (also after a failure, so that no slot stays taken).  Returns 0, or
// the status of the first failing call with `failure` filled in.
[[nodiscard]] int read_info(const std::string& path, DatasetInfo& info, Failure& failure);

// The same of a dataset the caller has opened as `id` and keeps open; the
// path is only the name used in `info` and in failures.
[[nodiscard]] int read_open_info(int id, const std::string& path, DatasetInfo& info, Failure& failure);

// The text form: labelled lines, the attributes one per line, name then
// value.  Ends with a newline.
std::string format_text(const DatasetInfo& info);

// The JSON form: one object on one line, ended by a newline.
std::string format_json(const DatasetInfo& info);

// The value of an attribute as both forms show it: the code's name, the
// integer, the scaled decimal ("30.5078125"), or for an enumerated code
// without a name its integer followed by " (unnamed code)" in text and the
// bare integer in JSON.
std::string value_text(const AttributeInfo& attribute);
std::string value_json(const AttributeInfo& attribute);

// A scaled value, stored / scale, as the shortest exact decimal with at
// least one digit after the point.
std::string scaled_decimal(std::int16_t stored, std::int16_t scale);

// JSON string literal of arbitrary bytes: quotes, escapes, and U+FFFD for
// bytes that are not valid UTF-8.
std::string json_string(const std::string& bytes);

// read_info followed by format_text / format_json.
[[nodiscard]] int info_text(const std::string& path, std::string& out, Failure& failure);
[[nodiscard]] int info_json(const std::string& path, std::string& out, Failure& failure);

} // namespace tdi
