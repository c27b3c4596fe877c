// gdal_threads.cpp - two datasets read whole through GDAL, one after the
// other in one thread and at the same time in two threads, REPS times in
// turn; prints the median seconds of each and their ratio.  With the
// library serialising only the calls on one dataset, two threads on two
// datasets should take about half the time on two cores.  The datasets are
// opened and their buffers made before the timing: what is timed is the
// reading.  Beside it the same for a plain copy of as many bytes as each
// read delivers, by one thread and by two: how far two threads can go at
// all where the memory, not the processor, sets the pace.
//
// Usage: tdbench_gdal_threads REPS NAME_A NAME_B   (GDAL dataset names)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gdal.h"

namespace {

// One dataset open in GDAL with a buffer for its whole band, touched once
// so that the timed reads do not fault its pages in.
struct Source {
    GDALDatasetH dataset = nullptr;
    int width = 0, height = 0;
    std::vector<float> values;

    explicit Source(const std::string& name)
        : dataset(GDALOpenEx(name.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr))
    {
        if (dataset == nullptr) {
            std::fprintf(stderr, "tdbench_gdal_threads: %s: %s\n", name.c_str(), CPLGetLastErrorMsg());
            std::exit(1);
        }
        width = GDALGetRasterXSize(dataset);
        height = GDALGetRasterYSize(dataset);
        values.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0f);
    }
    ~Source() { GDALClose(dataset); }

    // Reads band 1 whole as Float32, past GDAL's block cache as gdal_translate
    // does; the sum of its values, or NaN on failure.
    double read_whole()
    {
        const CPLErr err = GDALRasterIO(GDALGetRasterBand(dataset, 1), GF_Read, 0, 0, width, height,
                                        values.data(), width, height, GDT_Float32, 0, 0);
        double sum = 0.0;
        for (const float v : values)
            sum += v;
        return err == CE_None ? sum : 0.0 / 0.0;
    }
};

// Copies a buffer of n floats into another, 4 times.
struct Copy {
    std::vector<float> from, to;
    explicit Copy(std::size_t n) : from(n, 1.0f), to(n, 0.0f) {}
    void run()
    {
        for (int k = 0; k < 4; ++k)
            std::memcpy(to.data(), from.data(), from.size() * sizeof(float));
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: tdbench_gdal_threads REPS NAME_A NAME_B\n");
        return 2;
    }
    const int reps = std::max(1, std::atoi(argv[1]));
    GDALAllRegister();
    using clock = std::chrono::steady_clock;
    const auto seconds = [](clock::duration d) { return std::chrono::duration<double>(d).count(); };
    std::vector<double> serial, parallel;
    bool same = true;
    {
        Source a(argv[2]), b(argv[3]);
        const double expected = a.read_whole() + b.read_whole(); // also warms the page cache
        same = expected == expected;
        for (int rep = 0; rep < reps; ++rep) {
            auto t0 = clock::now();
            same = same && a.read_whole() + b.read_whole() == expected;
            serial.push_back(seconds(clock::now() - t0));
            double sum_a = 0, sum_b = 0;
            t0 = clock::now();
            std::thread other([&] { sum_b = b.read_whole(); });
            sum_a = a.read_whole();
            other.join();
            parallel.push_back(seconds(clock::now() - t0));
            same = same && sum_a + sum_b == expected;
        }
    }
    std::printf("gdal-threads: serial=%.4f parallel=%.4f ratio=%.3f same=%s\n", median(serial),
                median(parallel), median(parallel) / median(serial), same ? "yes" : "NO");
    std::vector<double> copy_serial, copy_parallel;
    {
        Copy a(4096u * 4096u), b(4096u * 4096u);
        for (int rep = 0; rep < reps; ++rep) {
            auto t0 = clock::now();
            a.run();
            b.run();
            copy_serial.push_back(seconds(clock::now() - t0));
            t0 = clock::now();
            std::thread other([&] { b.run(); });
            a.run();
            other.join();
            copy_parallel.push_back(seconds(clock::now() - t0));
        }
    }
    std::printf("copy-threads: serial=%.4f parallel=%.4f ratio=%.3f\n", median(copy_serial),
                median(copy_parallel), median(copy_parallel) / median(copy_serial));
    GDALDestroyDriverManager();
    return same ? 0 : 1;
}
