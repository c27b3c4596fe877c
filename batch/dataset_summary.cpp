// dataset_summary.cpp - the header essentials of a dataset, as the dataset
// library says them: this file is the one place of tdfbatch that asks.
#include "dataset_summary.h"

#include <array>
#include <ctime>

#include "tidewell.h"

namespace tdb {

namespace {

// Closes the dataset when it goes out of scope.
class OpenDataset {
public:
    explicit OpenDataset(int id) : id_(id) {}
    ~OpenDataset() { static_cast<void>(td_close(id_)); }
    OpenDataset(const OpenDataset&) = delete;
    OpenDataset& operator=(const OpenDataset&) = delete;

private:
    int id_;
};

} // namespace

Recognition read_summary(const std::string& path, DatasetSummary& summary)
{
    summary = DatasetSummary{};
    int id = 0;
    const int opened = td_open(path.c_str(), TD_READONLY, &id);
    if (opened == TD_EMAGIC || opened == TD_ENOMAGIC)
        return Recognition::not_a_dataset;
    if (opened != TD_NOERR)
        return Recognition::damaged;
    const OpenDataset dataset(id);

    int dim = 0;
    if (td_dimid(id, "rows", &dim) == TD_NOERR)
        static_cast<void>(td_diminq(id, dim, nullptr, &summary.rows));
    if (td_dimid(id, "columns", &dim) == TD_NOERR)
        static_cast<void>(td_diminq(id, dim, nullptr, &summary.columns));
    std::array<char, TD_ATT_TEXT_SIZE> satellite{};
    if (td_attget_text(id, 0, "satellite_id", satellite.data()) == TD_NOERR)
        summary.satellite = satellite.data();
    std::array<char, TD_KIND_NAME_SIZE> kind{};
    if (td_kindinq(id, nullptr, kind.data()) == TD_NOERR)
        summary.kind = kind.data();
    std::array<char, TD_STORAGE_NAME_SIZE> storage{};
    if (td_storageinq(id, nullptr, storage.data()) == TD_NOERR)
        summary.storage = storage.data();
    // A header whose fields make no valid time has none (TD_EBADATTVAL).
    std::int64_t seconds = 0;
    if (td_timeinq(id, &seconds, nullptr, nullptr) == TD_NOERR)
        summary.time = seconds;
    return Recognition::dataset;
}

std::string utc_text(std::int64_t seconds)
{
    const auto t = static_cast<std::time_t>(seconds);
    std::tm calendar{};
    std::array<char, 32> text{};
    if (gmtime_r(&t, &calendar) == nullptr ||
        std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &calendar) == 0)
        return {};
    return text.data();
}

} // namespace tdb
