// register_driver.cpp - the plugin's entry point: GDAL calls
// GDALRegister_Tidewell when it loads gdal_Tidewell.so.
#include "gdal_priv.h"
#include "tidewell_dataset.h"

extern "C" __attribute__((visibility("default"))) void GDALRegister_Tidewell()
{
    if (!GDAL_CHECK_VERSION("Tidewell"))
        return;
    if (GDALGetDriverByName("Tidewell") != nullptr)
        return;
    auto driver = std::make_unique<GDALDriver>();
    driver->SetDescription("Tidewell");
    driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
    driver->SetMetadataItem(GDAL_DMD_LONGNAME, "Tidewell satellite dataset");
    driver->SetMetadataItem(GDAL_DMD_EXTENSION, "tdf");
    driver->SetMetadataItem(GDAL_DMD_SUBDATASETS, "YES");
    driver->SetMetadataItem(GDAL_DCAP_VIRTUALIO, "NO");
    driver->pfnIdentify = tdgdal::TidewellDataset::Identify;
    driver->pfnOpen = tdgdal::TidewellDataset::Open;
    GetGDALDriverManager()->RegisterDriver(driver.release());
}
