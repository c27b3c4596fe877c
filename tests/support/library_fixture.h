// library_fixture.h - the base of the dataset library's tests: a scratch
// directory for dataset files and an empty table of open datasets after
// every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dataset_writer.h"
#include "run_command.h"
#include "tidewell.h"

namespace tdtest {

// A dataset of a kind with some header fields set, the writer's defaults
// for the rest.
inline tdw::DatasetDescription description_of(std::int16_t data_id,
                                              std::map<std::string, std::int16_t, std::less<>> fields = {})
{
    tdw::DatasetDescription desc;
    desc.data_id = data_id;
    desc.fields = std::move(fields);
    return desc;
}

class LibraryTest : public ::testing::Test {
protected:
    // The table of open datasets is process-wide: leave it empty for the
    // next test.
    void TearDown() override
    {
        for (int id = 0; id < TD_MAX_DATASETS; ++id)
            (void)td_close(id);
    }

    std::string write(const std::string& name, const tdw::DatasetDescription& desc)
    {
        const std::string path = dir.file(name);
        tdw::write_dataset(path, desc);
        return path;
    }

    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const std::string path = dir.file(name);
        tdw::write_bytes(path, bytes);
        return path;
    }

    // Opens a file that must open; returns its id.
    int open_ok(const std::string& path, int mode = TD_READONLY)
    {
        int id = -1;
        EXPECT_EQ(td_open(path.c_str(), mode, &id), TD_NOERR) << path;
        return id;
    }

    TempDir dir;
};

} // namespace tdtest
