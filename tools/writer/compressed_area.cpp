// compressed_area.cpp - the writer's compressed stream, made with the
// library's own coder.
#include "compressed_area.h"

#include <stdexcept>
#include <string>

#include "codec.h"

namespace tdw::detail {

namespace {

struct VectorSink {
    std::vector<std::uint8_t>& bytes;
    bool put_byte(unsigned char b)
    {
        bytes.push_back(b);
        return true;
    }
};

} // namespace

void append_compressed_stream(std::vector<std::uint8_t>& bytes, const DatasetDescription& desc)
{
    VectorSink sink{bytes};
    const int rows = desc.rows < 0 ? 0 : desc.rows;
    const int columns = desc.columns < 0 ? 0 : desc.columns;

    td::codec::ValueEncoder values;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int v = desc.value ? desc.value(r, c) : 0;
            if (v < -td::codec::kMaxMagnitude || v > td::codec::kMaxMagnitude)
                throw std::invalid_argument("data value out of range for the compressed form: " +
                                            std::to_string(v));
            (void)values.put(sink, v);
        }

    std::vector<std::uint8_t> nibbles(static_cast<std::size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c)
            nibbles[static_cast<std::size_t>(c)] =
                static_cast<std::uint8_t>((desc.nibble ? desc.nibble(r, c) : 0) & 0x0F);
        (void)td::codec::encode_graphics_row(nibbles, sink);
    }
}

} // namespace tdw::detail
