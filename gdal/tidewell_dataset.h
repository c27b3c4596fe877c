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

private:
    friend class TidewellRasterBand;

    std::unique_ptr<Source> source_;
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
    CPLErr IRasterIO(GDALRWFlag rw, int x_offset, int y_offset, int x_size, int y_size, void* buffer,
                     int buffer_x_size, int buffer_y_size, GDALDataType buffer_type,
                     GSpacing pixel_space, GSpacing line_space,
                     GDALRasterIOExtraArg* extra) override;

private:
    // Reads `count` whole rows from `row` into `out`, packed; reports a
    // failure as a GDAL error.
    CPLErr read_rows(int row, int count, void* out);

    int variable_;
    std::string unit_;
};

} // namespace tdgdal
