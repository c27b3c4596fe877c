// tidewell_dataset.cpp - recognising and opening Tidewell datasets in GDAL.
#include "tidewell_dataset.h"

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "cpl_string.h"
#include "dataset_metadata.h"
#include "tidewell.h"
#include "vsi_source.h"

namespace tdgdal {

namespace {

constexpr std::string_view kPrefix = "TIDEWELL:";
constexpr std::string_view kGraphics = "graphics";

// A dataset name: a path, or TIDEWELL:"path":component.
struct DatasetName {
    std::string path;
    std::string component; // empty for a plain path
};

bool has_prefix(std::string_view name)
{
    return name.size() >= kPrefix.size() && EQUALN(name.data(), kPrefix.data(), kPrefix.size());
}

std::optional<DatasetName> parse_name(std::string_view name)
{
    if (!has_prefix(name))
        return DatasetName{std::string(name), {}};
    name.remove_prefix(kPrefix.size());
    const std::size_t colon = name.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    std::string_view path = name.substr(0, colon);
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
        path = path.substr(1, path.size() - 2);
    if (path.empty())
        return std::nullopt;
    return DatasetName{std::string(path), std::string(name.substr(colon + 1))};
}

std::string subdataset_name(const std::string& path, std::string_view component)
{
    return std::string(kPrefix) + "\"" + path + "\":" + std::string(component);
}

std::string absolute_path(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

} // namespace

int TidewellDataset::Identify(GDALOpenInfo* open_info)
{
    if (has_prefix(open_info->pszFilename))
        return TRUE;
    // The bytes GDAL read from the start of the file, judged by the library
    // as td_open judges a file.
    if (open_info->fpL == nullptr || open_info->nHeaderBytes < 1)
        return FALSE;
    return td_identify(open_info->pabyHeader, static_cast<size_t>(open_info->nHeaderBytes)) == TD_NOERR;
}

GDALDataset* TidewellDataset::Open(GDALOpenInfo* open_info)
{
    if (!Identify(open_info))
        return nullptr;
    const std::optional<DatasetName> name = parse_name(open_info->pszFilename);
    if (!name) {
        CPLError(CE_Failure, CPLE_OpenFailed,
                 "%s: not a Tidewell subdataset name (TIDEWELL:\"path\":graphics)", open_info->pszFilename);
        return nullptr;
    }

    // The file is opened once, through the library's pool: what is
    // described here is the file that will be read (a file changed or
    // replaced later is refused at its reads), and the plain dataset cut
    // short is refused now rather than at its first missing row.
    const std::string path = absolute_path(name->path);
    // A virtual file is read through callbacks; the library writes back
    // only a local file (a new file beside it, renamed over it).
    if (open_info->eAccess == GA_Update && is_virtual_file(name->path)) {
        CPLError(CE_Failure, CPLE_NotSupported, "%s: a GDAL virtual file opens read-only",
                 name->path.c_str());
        return nullptr;
    }
    auto source = std::make_unique<Source>();
    DatasetMetadata metadata;
    tdi::Failure failure;
    std::int64_t needed = -1;
    std::int64_t size = 0;
    int status = source->open(path);
    if (status == TD_NOERR)
        status = source
                     ->with_id([&](int id) {
                         int s = read_metadata(id, path, metadata, failure);
                         if (s == TD_NOERR)
                             s = td_lengthinq(id, &needed);
                         if (s == TD_NOERR)
                             s = td_fileinq(id, nullptr, nullptr, &size, nullptr, nullptr);
                         return s;
                     })
                     .status;
    const tdi::DatasetInfo& info = metadata.info;
    if (status != TD_NOERR) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s",
                 failure.name.empty() ? name->path.c_str() : failure.name.c_str(), td_strerror(status));
        return nullptr;
    }
    if (info.rows < 1 || info.columns < 1) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: %d rows and %d columns: nothing to read",
                 name->path.c_str(), info.rows, info.columns);
        return nullptr;
    }
    if (needed >= 0 && size < needed) {
        CPLError(
            CE_Failure, CPLE_OpenFailed,
            "%s: file too small for its header: %d rows of %d samples need %lld bytes, the file has %lld",
            name->path.c_str(), info.rows, info.columns, static_cast<long long>(needed),
            static_cast<long long>(size));
        return nullptr;
    }
    const std::string& variable = info.variables.front().name;
    const bool has_graphics = info.variables.size() > 1;
    const bool graphics = name->component == kGraphics;
    if (!name->component.empty() && name->component != variable && !(graphics && has_graphics)) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: no variable %s (it has %s%s)", name->path.c_str(),
                 name->component.c_str(), variable.c_str(), has_graphics ? " and graphics" : "");
        return nullptr;
    }

    auto dataset = std::make_unique<TidewellDataset>();
    dataset->nRasterXSize = info.columns;
    dataset->nRasterYSize = info.rows;
    dataset->eAccess = GA_ReadOnly;
    dataset->source_ = std::move(source);

    // A dataset of two variables (the data and the graphics planes of
    // visible and infrared data) opened by its path is a container of two
    // subdatasets, as GDAL's multi-variable formats are, so that GDAL's
    // tools choose between them (gdalbuildvrt -sd 2, gdalinfo -sd 2, QGIS's
    // dialog); a dataset of one variable, or a subdataset, has one band.
    const bool container = has_graphics && name->component.empty();
    if (open_info->eAccess == GA_Update) {
        // A band to write is a band of its own: the container has none.
        if (container) {
            CPLError(CE_Failure, CPLE_NotSupported, "%s: open a subdataset for update (%s, %s)",
                     name->path.c_str(), subdataset_name(name->path, variable).c_str(),
                     subdataset_name(name->path, kGraphics).c_str());
            return nullptr;
        }
        if (const int s = td_open(path.c_str(), TD_WRITE, &dataset->writable_id_); s != TD_NOERR) {
            dataset->writable_id_ = -1;
            CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", name->path.c_str(), td_strerror(s));
            return nullptr;
        }
        dataset->eAccess = GA_Update;
    }
    if (graphics)
        dataset->SetBand(1, std::make_unique<TidewellRasterBand>(dataset.get(), 1, "graphics", "").release());
    else if (!container)
        dataset->SetBand(
            1, std::make_unique<TidewellRasterBand>(dataset.get(), 0, variable, metadata.unit).release());

    // The driver's metadata goes into the base object, not the PAM state,
    // so that it is never copied into a .aux.xml file.
    auto set_all = [&](const MetadataList& list, const char* domain) {
        for (const auto& [key, value] : list)
            dataset->GDALDataset::SetMetadataItem(key.c_str(), value.c_str(), domain);
    };
    set_all(metadata.essentials, "");
    set_all(metadata.attributes, "TIDEWELL");
    set_all(metadata.imagery, "IMAGERY");
    // Only the container lists the subdatasets: a reader that opens every
    // subdataset it finds (rioxarray) must not find them again inside each.
    if (container) {
        const std::string dims = "[" + std::to_string(info.rows) + "x" + std::to_string(info.columns) + "] ";
        set_all({{"SUBDATASET_1_NAME", subdataset_name(name->path, variable)},
                 {"SUBDATASET_1_DESC", dims + variable + " (32-bit floating-point)"},
                 {"SUBDATASET_2_NAME", subdataset_name(name->path, kGraphics)},
                 {"SUBDATASET_2_DESC", dims + "graphics planes 1-4 as bits 0-3 (8-bit unsigned integer)"}},
                "SUBDATASETS");
    }

    if (metadata.georeference) {
        dataset->has_geotransform_ = true;
        dataset->geotransform_ = metadata.georeference->transform;
        dataset->srs_.importFromEPSG(metadata.georeference->epsg);
        dataset->srs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }

    dataset->SetDescription(open_info->pszFilename);
    if (!name->component.empty()) {
        dataset->SetPhysicalFilename(name->path.c_str());
        dataset->SetSubdatasetName(name->component.c_str());
        dataset->TryLoadXML();
    } else {
        dataset->TryLoadXML(open_info->GetSiblingFiles());
        dataset->oOvManager.Initialize(dataset.get(), open_info->pszFilename);
    }
    return dataset.release();
}

TidewellDataset::~TidewellDataset()
{
    // Statistics and user georeferencing go to the .aux.xml file while this
    // object is whole, and the rows written (held in GDAL's block cache) go
    // to the library.
    GDALPamDataset::FlushCache(true);
    if (writable_id_ < 0)
        return;
    // The changed dataset is written back whole, or not at all.
    if (const int status = td_close(writable_id_); status != TD_NOERR)
        CPLError(CE_Failure, CPLE_FileIO, "%s: not written back: %s", source_->path().c_str(),
                 td_strerror(status));
}

CPLErr TidewellDataset::GetGeoTransform(double* transform)
{
    // A georeferencing set by the user (in the .aux.xml file) comes first.
    if (GDALPamDataset::GetGeoTransform(transform) == CE_None)
        return CE_None;
    if (!has_geotransform_)
        return CE_Failure;
    std::copy(geotransform_.begin(), geotransform_.end(), transform);
    return CE_None;
}

const OGRSpatialReference* TidewellDataset::GetSpatialRef() const
{
    if (const OGRSpatialReference* user = GDALPamDataset::GetSpatialRef())
        return user;
    return has_geotransform_ ? &srs_ : nullptr;
}

char** TidewellDataset::GetFileList()
{
    // A subdataset's description is its TIDEWELL: name; its file is the
    // physical one.
    CPLStringList files(GDALPamDataset::GetFileList());
    const char* physical = GetPhysicalFilename();
    if (physical != nullptr && *physical != '\0' && files.FindString(physical) < 0)
        files.InsertString(0, physical);
    return files.StealList();
}

} // namespace tdgdal
