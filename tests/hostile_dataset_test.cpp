// hostile_dataset_test.cpp - the library against headers and compressed
// streams made to hurt it: huge or negative dimensions on compressed data,
// streams far too short for the rows they claim, graphics runs that overrun
// the image.  Each gives its status and leaves the dataset usable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dataset_writer.h"
#include "run_command.h"
#include "tidewell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class HostileDataset : public testing::Test {
protected:
    tdtest::TempDir dir;
    int files = 0;

    std::string write(const Bytes& bytes)
    {
        const std::string path = dir.file("h" + std::to_string(files++) + ".tdf");
        tdw::write_bytes(path, bytes);
        return path;
    }

    int open(const Bytes& bytes)
    {
        int id = -1;
        EXPECT_EQ(td_open(write(bytes).c_str(), TD_READONLY, &id), TD_NOERR);
        return id;
    }
};

tdw::DatasetDescription compressed(int rows, int columns)
{
    tdw::DatasetDescription desc;
    desc.data_id = tdw::kInfrared;
    desc.rows = static_cast<std::int16_t>(rows);
    desc.columns = static_cast<std::int16_t>(columns);
    desc.compressed = true;
    desc.value = [](int r, int c) { return 900 + r + c; };
    return desc;
}

// Reads one row of `columns` values.  The buffer holds at most a row of the
// widest image; a larger count must be refused before anything is written.
int read_row(int id, int varid, std::uint32_t row, std::uint32_t columns)
{
    std::vector<float> out(std::min<std::uint32_t>(columns, 32767) + 1);
    const std::uint32_t start[2]{row, 0}, count[2]{1, columns};
    return td_varget_float(id, varid, start, count, out.data());
}

// A compressed dataset whose header gives a dimension of 0 or below is
// refused at every read of either variable, before its stream is walked, and
// stays refused: a negative count is never taken for a huge unsigned one.
TEST_F(HostileDataset, CompressedDataWithBadDimensionsRefusesEveryRead)
{
    struct dims {
        std::int16_t rows, columns;
    };
    for (const dims d : {dims{-2, 70}, dims{70, -2}, dims{-32768, -32768}, dims{0, 70}, dims{4, 0}}) {
        SCOPED_TRACE(std::to_string(d.rows) + "x" + std::to_string(d.columns));
        tdw::DatasetDescription desc = compressed(4, 70);
        desc.fields["rows"] = d.rows;
        desc.fields["columns"] = d.columns;
        const int id = open(tdw::build_dataset(desc));
        for (int attempt = 0; attempt < 2; ++attempt) {
            for (const int varid : {0, 1}) {
                EXPECT_EQ(read_row(id, varid, 0, 1), TD_EINDEX);
                EXPECT_EQ(read_row(id, varid, 0, 70), TD_EINDEX);
                // The count a negative dimension would wrap into.
                EXPECT_EQ(read_row(id, varid, 0, 0xFFFFFFFEu), TD_EINDEX);
            }
        }
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

// The largest dimensions a header can give, over a stream of four rows: the
// first read's walk runs out of stream and says so, every time it is tried, and the
// dataset still closes.
TEST_F(HostileDataset, StreamFarTooShortForItsRows)
{
    for (const bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "32767 x 32767" : "32767 x 70");
        tdw::DatasetDescription desc = compressed(4, 70);
        desc.fields["rows"] = 32767;
        if (wide)
            desc.fields["columns"] = 32767;
        const int id = open(tdw::build_dataset(desc));
        const std::uint32_t columns = wide ? 32767 : 70;
        EXPECT_EQ(read_row(id, 0, 0, columns), TD_EREADDATA);
        EXPECT_EQ(read_row(id, 1, 32766, columns), TD_EREADDATA);
        EXPECT_EQ(read_row(id, 0, 32767, columns), TD_EINDEX);
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

// Graphics pairs whose runs reach far past the end of the image: the rows
// fill in order and the repetitions left over after the last row are
// dropped; pairs that stop short of the image end are a cut stream.
TEST_F(HostileDataset, GraphicsRunsPastTheImageEnd)
{
    const int rows = 3, columns = 70;
    tdw::DatasetDescription desc = compressed(rows, columns);
    Bytes header_and_data = tdw::build_dataset(desc);
    // Without nibbles every row's graphics are one pair (0, 69): 2 bytes a
    // row at the end of the file.
    header_and_data.erase(header_and_data.end() - 2 * rows, header_and_data.end());

    struct run_case {
        const char* what;
        Bytes pairs;
        int status;
        std::vector<int> nibbles; // per sample, when the status is 0
    };
    std::vector<int> all_nines(rows * columns, 9);
    std::vector<int> split(rows * columns, 4);
    for (int i = 0; i < 100; ++i)
        split[static_cast<std::size_t>(i)] = 7;
    const std::vector<run_case> cases = {
        {"one pair for the whole image and more", {0xF9, 255}, TD_NOERR, all_nines},
        {"a run overruns the last row", {0x07, 99, 0x04, 255, 0x01, 255}, TD_NOERR, split},
        {"pairs stop short of the end", {0x07, 99}, TD_EREADDATA, {}},
        {"a pair cut in half", {0x07, 99, 0x04}, TD_EREADDATA, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = header_and_data;
        bytes.insert(bytes.end(), c.pairs.begin(), c.pairs.end());
        const int id = open(bytes);
        std::vector<std::uint8_t> row(columns);
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t start[2]{r, 0}, count[2]{1, static_cast<std::uint32_t>(columns)};
            const int status = td_varget_byte(id, 1, start, count, row.data());
            ASSERT_EQ(status, c.status);
            if (status != TD_NOERR)
                break;
            for (int col = 0; col < columns; ++col)
                ASSERT_EQ(row[static_cast<std::size_t>(col)],
                          c.nibbles[static_cast<std::size_t>(r * columns + col)])
                    << r << "," << col;
        }
        EXPECT_EQ(td_close(id), TD_NOERR);
    }
}

} // namespace
