// exit_probe.cpp - a program that leaves Tidewell datasets open and has
// GDAL close them at exit, from an exit handler registered before the
// plugin was loaded (so running after the plugin's static objects are
// destroyed; the library's state never is).  It must end with status 0, and run
// clean under valgrind and the sanitizers.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dataset_writer.h"
#include "gdal.h"

namespace {

std::string scratch;

void remove_scratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

} // namespace

int main()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tdf-exit-probe.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("exit_probe: mkdtemp");
        return 1;
    }
    scratch = pattern;
    std::atexit(remove_scratch); // runs last
    std::atexit(GDALDestroyDriverManager);
    GDALAllRegister();
    for (const bool compressed : {false, true}) {
        tdw::DatasetDescription desc;
        desc.rows = 8;
        desc.columns = 80;
        desc.compressed = compressed;
        desc.value = [](int r, int c) { return 1 + r * 80 + c; };
        const std::string path = scratch + (compressed ? "/compressed.tdf" : "/plain.tdf");
        tdw::write_dataset(path, desc);
        const std::string name = "TIDEWELL:\"" + path + "\":avhrr_ch4";
        GDALDatasetH dataset = GDALOpen(name.c_str(), GA_ReadOnly);
        std::vector<float> row(80);
        if (dataset == nullptr || GDALRasterIO(GDALGetRasterBand(dataset, 1), GF_Read, 0, 3, 80, 1,
                                               row.data(), 80, 1, GDT_Float32, 0, 0) != CE_None) {
            std::fprintf(stderr, "exit_probe: %s: %s\n", path.c_str(), CPLGetLastErrorMsg());
            return 1;
        }
    }
    return 0; // the datasets stay open
}
