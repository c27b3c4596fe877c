// header_case_files.cpp - writes every header case into a directory as
// NAME.tdf, with the library's answers for it beside it in NAME.json: the
// kind, storage, units, orbit start time and grid as the td_ calls give
// them.  The GDAL plugin's and the Python package's tests compare what
// they show with these answers, and so keep no table of their own.
//
// Usage: header_case_files DIRECTORY
//        header_case_files --list      (the case names, one a line)
#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "header_cases.h"
#include "tidewell.h"

namespace {

std::string quoted(const char* text)
{
    return text == nullptr ? "null" : "\"" + std::string(text) + "\""; // no quotes or controls in them
}

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string array(const std::vector<double>& values)
{
    std::string out = "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i ? "," : "") + number(values[i]);
    return out + "]";
}

void check(int status, const std::string& what)
{
    if (status != TD_NOERR)
        throw std::runtime_error(what + ": " + td_strerror(status));
}

std::string answers(const std::string& path)
{
    int id = -1;
    check(td_open(path.c_str(), TD_READONLY, &id), path);
    int rows = 0, columns = 0, grid = 0, millisecond = 0;
    char kind[TD_KIND_NAME_SIZE], storage[TD_STORAGE_NAME_SIZE];
    char units[TD_UNITS_SIZE], long_name[TD_UNITS_SIZE], label[TD_UNITS_SIZE], time[TD_TIME_TEXT_SIZE];
    std::int64_t seconds = 0;
    check(td_diminq(id, 0, nullptr, &rows), path);
    check(td_diminq(id, 1, nullptr, &columns), path);
    check(td_kindinq(id, nullptr, kind), path);
    check(td_storageinq(id, nullptr, storage), path);
    check(td_unitsinq(id, units, long_name, label), path);
    const int time_status = td_timeinq(id, &seconds, &millisecond, time);
    if (time_status != TD_EBADATTVAL)
        check(time_status, path);
    std::vector<double> latitudes(static_cast<std::size_t>(rows)),
        longitudes(static_cast<std::size_t>(columns));
    check(td_gridinq(id, &grid, latitudes.data(), longitudes.data()), path);
    check(td_close(id), path);

    const bool timed = time_status == TD_NOERR;
    const char* const grids[] = {"none", "linear", "mercator"};
    std::string out = "{\"kind\":" + quoted(kind) + ",\"storage\":" + quoted(storage);
    out +=
        ",\"units\":" + quoted(units) + ",\"long_name\":" + quoted(long_name) + ",\"label\":" + quoted(label);
    out += ",\"time\":" + quoted(timed ? time : nullptr);
    out += ",\"seconds\":" + (timed ? std::to_string(seconds) : "null");
    out += ",\"millisecond\":" + (timed && millisecond >= 0 ? std::to_string(millisecond) : "null");
    out += ",\"grid\":" + quoted(grids[grid]);
    out += ",\"latitudes\":" + (grid ? array(latitudes) : "null");
    out += ",\"longitudes\":" + (grid ? array(longitudes) : "null");
    return out + "}\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: header_case_files DIRECTORY | --list\n");
        return 2;
    }
    if (std::string(argv[1]) == "--list") {
        for (const tdcases::HeaderCase& c : tdcases::header_cases())
            std::printf("%s\n", c.name.c_str());
        return 0;
    }
    try {
        for (const tdcases::HeaderCase& c : tdcases::header_cases()) {
            const std::string base = std::string(argv[1]) + "/" + c.name;
            tdw::write_dataset(base + ".tdf", c.desc);
            std::ofstream json(base + ".json", std::ios::trunc);
            json << answers(base + ".tdf");
            if (!json.flush())
                throw std::runtime_error("cannot write " + base + ".json");
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "header_case_files: %s\n", e.what());
        return 1;
    }
    return 0;
}
