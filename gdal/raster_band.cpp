// raster_band.cpp - reading the rows of a Tidewell variable into GDAL.
#include <algorithm>
#include <cstdint>
#include <string>

#include "tidewell.h"
#include "tidewell_dataset.h"

namespace tdgdal {

namespace {

// Rows read by one library call in a whole-width read: about a million
// samples, so the library's own buffer stays small.
constexpr int kSamplesPerRead = 1 << 20;

} // namespace

TidewellRasterBand::TidewellRasterBand(TidewellDataset* dataset, int variable, const std::string& name,
                                       const std::string& unit)
    : variable_(variable), unit_(unit)
{
    poDS = dataset;
    nBand = 1;
    eDataType = variable == 0 ? GDT_Float32 : GDT_Byte;
    nBlockXSize = dataset->GetRasterXSize();
    nBlockYSize = 1;
    eAccess = dataset->GetAccess();
    GDALRasterBand::SetDescription(name.c_str());
}

double TidewellRasterBand::GetNoDataValue(int* has_nodata)
{
    if (variable_ != 0)
        return GDALPamRasterBand::GetNoDataValue(has_nodata);
    if (has_nodata != nullptr)
        *has_nodata = TRUE;
    return TD_BAD_VALUE;
}

const char* TidewellRasterBand::GetUnitType()
{
    return unit_.c_str();
}

CPLErr TidewellRasterBand::read_rows(int row, int count, void* out)
{
    const auto& dataset = *static_cast<TidewellDataset*>(poDS);
    const std::uint32_t start[2] = {static_cast<std::uint32_t>(row), 0};
    const std::uint32_t size[2] = {static_cast<std::uint32_t>(count),
                                   static_cast<std::uint32_t>(nRasterXSize)};
    return report(dataset.with_id([&](int id) {
        return variable_ == 0 ? td_varget_float(id, 0, start, size, static_cast<float*>(out))
                              : td_varget_byte(id, 1, start, size, static_cast<std::uint8_t*>(out));
    }),
                  "", row, count);
}

CPLErr TidewellRasterBand::write_rows(int row, int count, const void* in)
{
    const auto& dataset = *static_cast<TidewellDataset*>(poDS);
    const std::uint32_t start[2] = {static_cast<std::uint32_t>(row), 0};
    const std::uint32_t size[2] = {static_cast<std::uint32_t>(count),
                                   static_cast<std::uint32_t>(nRasterXSize)};
    return report(dataset.with_id([&](int id) {
        return variable_ == 0 ? td_varput_float(id, 0, start, size, static_cast<const float*>(in))
                              : td_varput_byte(id, 1, start, size, static_cast<const std::uint8_t*>(in));
    }),
                  "writing ", row, count);
}

CPLErr TidewellRasterBand::report(const ReadResult& result, const char* what, int row, int count)
{
    if (result.status == TD_NOERR)
        return CE_None;
    const auto& dataset = *static_cast<TidewellDataset*>(poDS);
    const std::string rows = count == 1
                                 ? "row " + std::to_string(row)
                                 : "rows " + std::to_string(row) + " to " + std::to_string(row + count - 1);
    CPLError(CE_Failure, CPLE_FileIO, "%s: %s %s%s: %s", dataset.source().path().c_str(), GetDescription(),
             what, rows.c_str(), read_message(result).c_str());
    return CE_Failure;
}

CPLErr TidewellRasterBand::IReadBlock(int, int block_y, void* image)
{
    return read_rows(block_y, 1, image);
}

CPLErr TidewellRasterBand::IWriteBlock(int, int block_y, void* image)
{
    return write_rows(block_y, 1, image);
}

CPLErr TidewellRasterBand::IRasterIO(GDALRWFlag rw, int x_offset, int y_offset, int x_size, int y_size,
                                     void* buffer, int buffer_x_size, int buffer_y_size,
                                     GDALDataType buffer_type, GSpacing pixel_space, GSpacing line_space,
                                     GDALRasterIOExtraArg* extra)
{
    // Whole rows into a packed buffer of the band's own type go straight
    // from the library into the caller's buffer, past the block cache.  A
    // dataset open for update reads through the cache, which may hold rows
    // written and not yet flushed.
    const GSpacing value_size = GDALGetDataTypeSizeBytes(eDataType);
    const bool direct = rw == GF_Read && eAccess == GA_ReadOnly && x_offset == 0 && x_size == nRasterXSize &&
                        buffer_x_size == x_size && buffer_y_size == y_size && buffer_type == eDataType &&
                        pixel_space == value_size && line_space == value_size * x_size;
    if (!direct)
        return GDALPamRasterBand::IRasterIO(rw, x_offset, y_offset, x_size, y_size, buffer, buffer_x_size,
                                            buffer_y_size, buffer_type, pixel_space, line_space, extra);
    const int rows_per_read = std::max(1, kSamplesPerRead / nRasterXSize);
    auto* out = static_cast<GByte*>(buffer);
    for (int done = 0; done < y_size;) {
        const int count = std::min(rows_per_read, y_size - done);
        if (read_rows(y_offset + done, count, out + line_space * done) != CE_None)
            return CE_Failure;
        done += count;
        if (extra != nullptr && extra->pfnProgress != nullptr &&
            !extra->pfnProgress(static_cast<double>(done) / y_size, "", extra->pProgressData)) {
            CPLError(CE_Failure, CPLE_UserInterrupt, "User terminated");
            return CE_Failure;
        }
    }
    return CE_None;
}

} // namespace tdgdal
