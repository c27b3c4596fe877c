// tidewell_dataset.h - the GDAL dataset and raster bands of a Tidewell
// dataset, read through the td_ library.
//
// The data variable is one Float32 band (values as the library calibrates
// them, nodata -999), the graphics planes of visible and infrared datasets
// one Byte band holding the plane bits (plane p is bit p - 1).  A dataset
// of one variable (ancillary and cloud data) opened by its path has the
// data band; one of two variables (visible and infrared data) opened by its
// path is a container of two subdatasets, TIDEWELL:"path":VARIABLE and
// TIDEWELL:"path":graphics, each with its band.
//
// Opened for update (GA_Update), a band is written through the library
// (td_varput_float, td_varput_byte): the GDAL dataset holds a read-write
// library dataset of its own for its whole life, its reads and writes go to
// it, and closing the GDAL dataset writes the changed dataset back whole
// (the library's td_close).  So gdal_rasterize burns vector lines into the
// graphics planes.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "gdal_pam.h"
#include "dataset_source.h"
#include "ogr_spatialref.h"

namespace tdgdal {

class TidewellDataset final : public GDALPamDataset {
public:
    static int Identify(GDALOpenInfo* open_info);
    static GDALDataset* Open(GDALOpenInfo* open_info);
    ~TidewellDataset() override;

    CPLErr GetGeoTransform(double* transform) override;
    const OGRSpatialReference* GetSpatialRef() const override;
    char** GetFileList() override;

    const Source& source() const { return *source_; }

    // Runs a library call with an id of the dataset: the read-write one of
    // a dataset opened for update, else one acquired from the pool.
    template <class Call>
    [[nodiscard]] ReadResult with_id(Call&& call) const
    {
        if (writable_id_ < 0)
            return source_->with_id(call);
        return ReadResult{call(writable_id_), false};
    }

private:
    friend class TidewellRasterBand;

    std::unique_ptr<Source> source_;
    int writable_id_ = -1; // the read-write library dataset (update only)
    bool has_geotransform_ = false;
    std::array<double, 6> geotransform_{};
    OGRSpatialReference srs_;
};

class TidewellRasterBand final : public GDALPamRasterBand {
public:
    // variable 0 (the data, Float32) or 1 (graphics, Byte).
    TidewellRasterBand(TidewellDataset* dataset, int variable, const std::string& name,
                       const std::string& unit);

    double GetNoDataValue(int* has_nodata) override;
    const char* GetUnitType() override;

protected:
    CPLErr IReadBlock(int block_x, int block_y, void* image) override;
    CPLErr IWriteBlock(int block_x, int block_y, void* image) override;
    CPLErr IRasterIO(GDALRWFlag rw, int x_offset, int y_offset, int x_size, int y_size, void* buffer,
                     int buffer_x_size, int buffer_y_size, GDALDataType buffer_type, GSpacing pixel_space,
                     GSpacing line_space, GDALRasterIOExtraArg* extra) override;

private:
    // Reads `count` whole rows from `row` into `out`, packed, or writes
    // them from it; reports a failure as a GDAL error.
    CPLErr read_rows(int row, int count, void* out);
    CPLErr write_rows(int row, int count, const void* in);
    CPLErr report(const ReadResult& result, const char* what, int row, int count);

    int variable_;
    std::string unit_;
};

} // namespace tdgdal
