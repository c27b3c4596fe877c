// dataset_writer.h - writes Tidewell datasets for tests, fuzz seeds,
// benchmarks and the demo.  Test support code, not part of the library:
// it knows the file format independently of the reading side, except for
// the compression coder, which exists once and is shared with the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tdw {

// Codes of the fields that decide the layout.
inline constexpr std::int16_t kVisible = 0;
inline constexpr std::int16_t kInfrared = 1;
inline constexpr std::int16_t kAncillary = 2;
inline constexpr std::int16_t kCloud = 3;

struct DatasetDescription {
    std::int16_t data_id = kInfrared;
    std::int16_t rows = 4;
    std::int16_t columns = 4;
    bool compressed = false; // compression_type 2 ("1b") and the compressed layout
    // Any header field by attribute name, or "rows"/"columns"/"reserved@N"
    // for the 16-bit word at byte offset N.  Applied after the defaults
    // below, so they can override anything (including rows, columns,
    // compression_type and the pixel-size fields).
    std::map<std::string, std::int16_t, std::less<>> fields;
    // Sample at (row, column).  Visible/infrared: the signed data value,
    // -2047 to 2047.  Ancillary: the stored 16-bit value (as unsigned
    // 0..65535 or signed).  Cloud: the byte 0..255.  Default: 0.
    std::function<int(int row, int column)> value;
    // Graphics nibble 0..15 of visible and infrared samples.  Default: 0.
    std::function<int(int row, int column)> nibble;
};

// Defaults written before `fields`: satellite_id hesk-14 (0xD5D1),
// calibration_type 2, channel_number 4 (avhrr_ch4) for infrared, 1 for
// visible, 101 (scan_angle) for ancillary, 401 for cloud; channel and
// ancillary pixel sizes 2; compression_type 0 (2 when compressed).
//
// Layout: row slot 0 holds the header and is W = columns x pixel size bytes
// (pixel size 1 for cloud data, 2 for every other data_id, known or not);
// data row r is slot r + 1.  Rows and columns of 0 or below give no data.
// The 136 defined header bytes are always written: when W is smaller they
// overlap the first data rows and take their place.  Compressed datasets
// (visible and infrared only) carry the first min(W, 1024) bytes of slot 0,
// but never fewer than the header fields set, in a 1024-byte header block.

// The bytes of a whole dataset file.
std::vector<std::uint8_t> build_dataset(const DatasetDescription& desc);

// Writes a dataset file; throws std::runtime_error when it cannot.
void write_dataset(const std::string& path, const DatasetDescription& desc);
void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Broken files: the first `length` bytes of a dataset (the whole file when
// it is shorter), and a file of no bytes at all.
std::vector<std::uint8_t> build_truncated(const DatasetDescription& desc, std::size_t length);
void write_empty(const std::string& path);

// Sets the 16-bit big-endian header field `name` (an attribute name, "rows",
// "columns" or "reserved@N") in a file image.  Throws for an unknown name.
void set_field(std::vector<std::uint8_t>& bytes, std::string_view name, std::int16_t value);
// Byte offset of a field name as set_field understands it.
int field_offset(std::string_view name);

// The sample word of a visible or infrared value and nibble.
std::uint16_t sample_word(int value, int nibble);

} // namespace tdw
