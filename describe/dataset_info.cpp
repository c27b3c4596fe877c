// dataset_info.cpp - gathers a dataset's description through the td_
// interface and writes it as text or JSON.
#include "dataset_info.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <system_error>

#include "tidewell.h"

namespace tdi {

namespace {

constexpr int kDataVariable = 0;

// An open dataset that is closed when it goes out of scope, unless the
// caller has closed it already to learn the status of the close.
class OpenDataset {
public:
    explicit OpenDataset(int id) : id_(id) {}
    ~OpenDataset()
    {
        if (open_)
            static_cast<void>(td_close(id_));
    }
    OpenDataset(const OpenDataset&) = delete;
    OpenDataset& operator=(const OpenDataset&) = delete;

    int id() const { return id_; }
    [[nodiscard]] int close()
    {
        const int status = td_close(id_);
        if (status == TD_NOERR)
            open_ = false;
        return status;
    }

private:
    int id_;
    bool open_ = true;
};

std::string_view type_name(std::int16_t type)
{
    switch (type) {
    case TD_BYTE:
        return "byte";
    case TD_FLOAT:
        return "float";
    default:
        return "unknown";
    }
}

[[nodiscard]] int read_attributes(int id, DatasetInfo& info, Failure& failure)
{
    info.attributes.clear();
    for (int number = 0; number < TD_NUM_ATTRIBUTES; ++number) {
        AttributeInfo attribute;
        std::array<char, TD_ATT_NAME_SIZE> name{};
        int status = td_attinq(id, kDataVariable, number, name.data(), &attribute.kind, &attribute.scale);
        if (status != TD_NOERR) {
            failure = {status, info.path + ": attribute " + std::to_string(number)};
            return status;
        }
        attribute.name = name.data();
        status = td_attget_stored(id, kDataVariable, name.data(), &attribute.stored);
        if (status == TD_NOERR && attribute.kind == TD_ATT_ENUMERATED) {
            std::array<char, TD_ATT_TEXT_SIZE> text{};
            status = td_attget_text(id, kDataVariable, name.data(), text.data());
            if (status == TD_NOERR)
                attribute.code_name = text.data();
            else if (status == TD_EBADATTVAL)
                status = TD_NOERR; // a code without a name is shown as the code
        }
        if (status != TD_NOERR) {
            failure = {status, info.path + ": " + attribute.name};
            return status;
        }
        info.attributes.push_back(std::move(attribute));
    }
    return TD_NOERR;
}

[[nodiscard]] int read_open(int id, DatasetInfo& info, Failure& failure)
{
    auto failed = [&](int status, std::string_view item) {
        failure = {status, info.path + ": " + std::string(item)};
        return status;
    };

    int rows_id = 0;
    int columns_id = 0;
    if (const int s = td_dimid(id, "rows", &rows_id); s != TD_NOERR)
        return failed(s, "rows");
    if (const int s = td_dimid(id, "columns", &columns_id); s != TD_NOERR)
        return failed(s, "columns");
    if (const int s = td_diminq(id, rows_id, nullptr, &info.rows); s != TD_NOERR)
        return failed(s, "rows");
    if (const int s = td_diminq(id, columns_id, nullptr, &info.columns); s != TD_NOERR)
        return failed(s, "columns");

    info.variables.clear();
    VariableInfo data;
    std::array<char, TD_VAR_NAME_SIZE> name{};
    if (const int s = td_varinq(id, kDataVariable, name.data(), &data.type, nullptr, nullptr, nullptr);
        s != TD_NOERR)
        return failed(s, "variable 0");
    data.name = name.data();
    info.variables.push_back(data);
    int graphics_id = 0;
    if (td_varid(id, "graphics", &graphics_id) == TD_NOERR) {
        VariableInfo graphics;
        if (const int s = td_varinq(id, graphics_id, name.data(), &graphics.type, nullptr, nullptr, nullptr);
            s != TD_NOERR)
            return failed(s, "graphics");
        graphics.name = name.data();
        info.variables.push_back(graphics);
    }

    if (const int s = read_attributes(id, info, failure); s != TD_NOERR)
        return s;

    // What the header means, as the library says it.
    std::array<char, TD_KIND_NAME_SIZE> kind{};
    std::array<char, TD_STORAGE_NAME_SIZE> storage{};
    std::array<char, TD_TIME_TEXT_SIZE> start{};
    if (const int s = td_kindinq(id, nullptr, kind.data()); s != TD_NOERR)
        return failed(s, "data_id");
    if (const int s = td_storageinq(id, nullptr, storage.data()); s != TD_NOERR)
        return failed(s, "compression_type");
    info.data_kind = kind.data();
    info.storage = storage.data();
    const int time_status = td_timeinq(id, nullptr, nullptr, start.data());
    if (time_status == TD_NOERR)
        info.orbit_start = start.data();
    else if (time_status != TD_EBADATTVAL)
        return failed(time_status, "orbit_start_year");
    return TD_NOERR;
}

void append_json_codepoint(std::string& out, unsigned codepoint)
{
    std::array<char, 8> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "\\u%04x", codepoint);
    out += buffer.data();
}

// Length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8_sequence(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned min_second = 0x80;
    unsigned max_second = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            min_second = 0xA0; // no overlong forms
        if (lead == 0xED)
            max_second = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            min_second = 0x90;
        if (lead == 0xF4)
            max_second = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    if (byte(1) < min_second || byte(1) > max_second)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

} // namespace

int read_info(const std::string& path, DatasetInfo& info, Failure& failure)
{
    info = DatasetInfo{};
    info.path = path;
    failure = Failure{};
    int id = 0;
    if (const int s = td_open(path.c_str(), TD_READONLY, &id); s != TD_NOERR) {
        failure = {s, path};
        return s;
    }
    OpenDataset dataset(id);
    if (const int s = read_open(id, info, failure); s != TD_NOERR)
        return s;
    if (const int s = dataset.close(); s != TD_NOERR) {
        failure = {s, path};
        return s;
    }
    return TD_NOERR;
}

int read_open_info(int id, const std::string& path, DatasetInfo& info, Failure& failure)
{
    info = DatasetInfo{};
    info.path = path;
    failure = Failure{};
    return read_open(id, info, failure);
}

std::string scaled_decimal(std::int16_t stored, std::int16_t scale)
{
    if (scale == 0)
        return std::to_string(stored);
    // Every stored / 128 and stored / 100 of a 16-bit integer is exact, or
    // nearest, in a double with far fewer than 17 digits, so the shortest
    // round-trip form is the plain decimal.
    const double value = static_cast<double>(stored) / static_cast<double>(scale);
    std::array<char, 64> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed);
    std::string text(buffer.data(), result.ptr);
    if (text.find('.') == std::string::npos)
        text += ".0";
    return text;
}

std::string value_text(const AttributeInfo& attribute)
{
    switch (attribute.kind) {
    case TD_ATT_ENUMERATED:
        if (attribute.code_name)
            return *attribute.code_name;
        return std::to_string(attribute.stored) + " (unnamed code)";
    case TD_ATT_SCALED:
        return scaled_decimal(attribute.stored, attribute.scale);
    default:
        return std::to_string(attribute.stored);
    }
}

std::string value_json(const AttributeInfo& attribute)
{
    switch (attribute.kind) {
    case TD_ATT_ENUMERATED:
        if (attribute.code_name)
            return json_string(*attribute.code_name);
        return std::to_string(attribute.stored);
    case TD_ATT_SCALED:
        return scaled_decimal(attribute.stored, attribute.scale);
    default:
        return std::to_string(attribute.stored);
    }
}

std::string json_string(const std::string& bytes)
{
    std::string out = "\"";
    std::string_view rest(bytes);
    while (!rest.empty()) {
        const unsigned char c = static_cast<unsigned char>(rest.front());
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            append_json_codepoint(out, c);
        } else if (c >= 0x80) {
            const std::size_t length = utf8_sequence(rest);
            if (length == 0) {
                append_json_codepoint(out, 0xFFFD);
                rest.remove_prefix(1);
            } else {
                out.append(rest.substr(0, length));
                rest.remove_prefix(length);
            }
            continue;
        } else {
            out += static_cast<char>(c);
        }
        rest.remove_prefix(1);
    }
    out += '"';
    return out;
}

std::string format_text(const DatasetInfo& info)
{
    constexpr std::size_t kLabelWidth = 12;
    constexpr std::size_t kNameWidth = TD_ATT_NAME_SIZE + 1;
    auto line = [](std::string& out, std::string_view label, std::string_view value) {
        out += label;
        out.append(kLabelWidth - label.size(), ' ');
        out += value;
        out += '\n';
    };
    std::string out;
    line(out, "dataset", info.path);
    line(out, "dimensions",
         "rows = " + std::to_string(info.rows) + ", columns = " + std::to_string(info.columns));
    std::string variables;
    for (const VariableInfo& variable : info.variables) {
        if (!variables.empty())
            variables += ", ";
        variables += variable.name + " (" + std::string(type_name(variable.type)) + ")";
    }
    line(out, "variables", variables);
    line(out, "data kind", info.data_kind);
    line(out, "storage", info.storage);
    line(out, "orbit start", info.orbit_start.value_or("none"));
    out += "attributes\n";
    for (const AttributeInfo& attribute : info.attributes) {
        out += "  ";
        out += attribute.name;
        out.append(attribute.name.size() < kNameWidth ? kNameWidth - attribute.name.size() : 1, ' ');
        out += value_text(attribute);
        out += '\n';
    }
    return out;
}

std::string format_json(const DatasetInfo& info)
{
    std::string out = "{\"dataset\":" + json_string(info.path);
    out += ",\"dimensions\":{\"rows\":" + std::to_string(info.rows) +
           ",\"columns\":" + std::to_string(info.columns) + "}";
    out += ",\"variables\":[";
    bool first = true;
    for (const VariableInfo& variable : info.variables) {
        if (!first)
            out += ',';
        first = false;
        out += "{\"name\":" + json_string(variable.name) + ",\"type\":\"" +
               std::string(type_name(variable.type)) + "\"}";
    }
    out += "],\"data_kind\":" + json_string(info.data_kind);
    out += ",\"storage\":" + json_string(info.storage);
    out += ",\"orbit_start\":" + (info.orbit_start ? json_string(*info.orbit_start) : "null");
    out += ",\"attributes\":{";
    first = true;
    for (const AttributeInfo& attribute : info.attributes) {
        if (!first)
            out += ',';
        first = false;
        out += json_string(attribute.name) + ":" + value_json(attribute);
    }
    out += "}}\n";
    return out;
}

int info_text(const std::string& path, std::string& out, Failure& failure)
{
    DatasetInfo info;
    const int status = read_info(path, info, failure);
    if (status == TD_NOERR)
        out = format_text(info);
    return status;
}

int info_json(const std::string& path, std::string& out, Failure& failure)
{
    DatasetInfo info;
    const int status = read_info(path, info, failure);
    if (status == TD_NOERR)
        out = format_json(info);
    return status;
}

} // namespace tdi
