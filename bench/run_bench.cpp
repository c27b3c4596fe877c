// run_bench.cpp - the benchmark driver behind `make bench`.
//
//   tdbench --work DIR [--reps N] [--sizes all|quick] [--commit TEXT]
//           [--bin DIR] [--tdftogif PATH]
//
// Makes (once, then keeps) synthetic infrared datasets, plain and
// compressed, of 1024 x 1024, 4096 x 4096, 32767 x 300 and 300 x 32767
// pixels (columns x rows); then runs, N times each, interleaved so that the
// two forms of one size take turns, for every dataset:
//   floor     gd alone: the converter's image size, palette and raster
//             indices set pixel by pixel, the same gdImageGif
//   default   tdftogif with its defaults
//   planes    tdftogif -1 255,0,0 -2 160,160,160 -3 dyn -s -u
//   phases    tdftogif_phases (the converter with timers at its seams) with
//             the defaults
//   fit       tdftogif --fit 1024, the reduced quicklook (datasets more than
//             1024 pixels wide or high)
// and, for the compressed ones, tdbench_first_read (the first read's pass
// over the stream against the expansion into a temporary copy); for the
// largest square ones, tdbench_callback_read (a whole read by path against
// the same read through caller callbacks); and prints
// the medians of the wall times and of the peak resident sizes, the ratios
// to the floor, compressed against plain, and where the converter's time
// goes.  Every run
// is a separate process; its peak resident size is the kernel's ru_maxrss.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Bumped whenever the generated scene changes, so stale datasets are remade.
constexpr std::string_view kSceneVersion = "v1";

// The largest side of the reduced quicklooks.
constexpr int kFit = 1024;

struct Options {
    fs::path bin = TDBENCH_BIN;
    fs::path tdftogif = TDBENCH_TDFTOGIF;
    fs::path work;
    int reps = 7;
    bool quick = false;
    std::string commit = "unknown";
};

struct Dataset {
    int rows = 0;
    int columns = 0;
    bool compressed = false;
    fs::path path;
    std::string label() const { return std::to_string(columns) + " x " + std::to_string(rows); }
};

struct RunResult {
    double wall = 0.0;     // seconds
    double cpu = 0.0;      // user + system seconds
    double peak_mib = 0.0; // ru_maxrss
    std::string err;       // what the process wrote on standard error
};

[[noreturn]] void die(const std::string& what)
{
    std::fprintf(stderr, "tdbench: %s\n", what.c_str());
    std::exit(1);
}

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs argv[0] with the arguments, standard output to /dev/null and
// standard error to a file; fails the benchmark unless it exits with 0.
RunResult run(const std::vector<std::string>& argv, const fs::path& err_file)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        die("fork failed");
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (null < 0 || err < 0 || dup2(null, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        die("wait4 failed");
    const auto t1 = std::chrono::steady_clock::now();
    RunResult r;
    r.wall = std::chrono::duration<double>(t1 - t0).count();
    r.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    r.err = slurp(err_file);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const std::string& a : argv)
            line += a + " ";
        die("command failed: " + line + "\n" + r.err);
    }
    return r;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// "key=value key=value" after a prefix on a line of standard error.
std::map<std::string, double> fields_after(const std::string& text, std::string_view prefix)
{
    std::map<std::string, double> out;
    const std::size_t at = text.find(prefix);
    if (at == std::string::npos)
        return out;
    std::istringstream line(text.substr(at + prefix.size(), text.find('\n', at) - at - prefix.size()));
    std::string item;
    while (line >> item) {
        const std::size_t eq = item.find('=');
        if (eq != std::string::npos)
            out[item.substr(0, eq)] = std::strtod(item.c_str() + eq + 1, nullptr);
    }
    return out;
}

// Compared in small pieces: the driver stays small, since a child's peak
// resident size starts from the driver's own at the fork.
bool same_file(const fs::path& a, const fs::path& b)
{
    if (fs::file_size(a) != fs::file_size(b))
        return false;
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::array<char, 65536> ba, bb;
    while (fa && fb) {
        fa.read(ba.data(), ba.size());
        fb.read(bb.data(), bb.size());
        if (fa.gcount() != fb.gcount() ||
            std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(fa.gcount())) != 0)
            return false;
    }
    return true;
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                die("missing value after " + std::string(a));
            return argv[++i];
        };
        if (a == "--bin")
            o.bin = value();
        else if (a == "--tdftogif")
            o.tdftogif = value();
        else if (a == "--work")
            o.work = value();
        else if (a == "--reps")
            o.reps = std::max(1, std::atoi(value().c_str()));
        else if (a == "--sizes")
            o.quick = value() == "quick";
        else if (a == "--commit")
            o.commit = value();
        else
            die("usage: tdbench --work DIR [--reps N] [--sizes all|quick] [--commit TEXT] [--bin DIR] "
                "[--tdftogif PATH]");
    }
    if (o.work.empty())
        die("--work is required");
    return o;
}

struct Series {
    std::vector<double> wall, cpu, peak;
    std::map<std::string, std::vector<double>> parts;
    void add(const RunResult& r, std::string_view prefix = {})
    {
        wall.push_back(r.wall);
        cpu.push_back(r.cpu);
        peak.push_back(r.peak_mib);
        if (!prefix.empty())
            for (const auto& [k, v] : fields_after(r.err, prefix))
                parts[k].push_back(v);
    }
    double part(const std::string& k) const
    {
        const auto it = parts.find(k);
        return it == parts.end() ? 0.0 : median(it->second);
    }
};

struct Measured {
    Dataset ds;
    Series floor, plain_run, planes, phases, fit, nocheck;
    // Default conversion over the same without the per-read file check,
    // run by run: each pair ran back to back.
    std::vector<double> check_ratio, check_cpu_ratio;
    bool nocheck_identical = false;
    std::uintmax_t gif_bytes = 0;
    bool phases_identical = false;
    bool floor_same_raster = false;
    std::map<std::string, double> first_read;    // compressed only: index, expansion, index_bytes
    std::map<std::string, double> callback_read; // largest square only: local, callbacks
};

std::string host_summary()
{
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    std::string cpu = "unknown cpu";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    return std::to_string(cores) + " cores, " + cpu;
}

} // namespace

int main(int argc, char** argv)
{
    const Options opt = parse(argc, argv);
    fs::create_directories(opt.work);
    const std::string tdftogif = opt.tdftogif.string();
    const std::string phases_bin = (opt.bin / "tdftogif_phases").string();
    const std::string nocheck_bin = (opt.bin / "tdftogif_nocheck").string();
    const std::string floor_bin = (opt.bin / "tdbench_floor").string();
    const std::string indices_bin = (opt.bin / "tdbench_indices").string();
    const std::string make_bin = (opt.bin / "tdbench_make_dataset").string();
    const std::string first_read_bin = (opt.bin / "tdbench_first_read").string();
    const std::string callback_read_bin = (opt.bin / "tdbench_callback_read").string();
    const fs::path err = opt.work / "stderr.txt";

    // Rows by columns: 32767 columns are the widest rows, 32767 rows the
    // largest row index.
    std::vector<std::array<int, 2>> sizes{{1024, 1024}, {4096, 4096}, {300, 32767}, {32767, 300}};
    if (opt.quick)
        sizes = {{1024, 1024}};
    // The size read by path and through callbacks, and how often: a whole
    // read takes some 40 ms, so more repetitions than the converter's.
    const int callback_side = opt.quick ? 1024 : 4096;
    const int callback_reps = 3 * opt.reps;

    std::vector<Dataset> datasets;
    for (const auto& [rows, columns] : sizes)
        for (const bool compressed : {false, true}) {
            Dataset ds{rows, columns, compressed, {}};
            ds.path = opt.work /
                      ("ir-" + std::to_string(columns) + "x" + std::to_string(rows) + "-" +
                       (compressed ? "compressed" : "plain") + "-" + std::string(kSceneVersion) + ".tdf");
            if (!fs::exists(ds.path)) {
                std::fprintf(stderr, "tdbench: making %s\n", ds.path.filename().c_str());
                const fs::path part = ds.path.string() + ".part";
                run({make_bin, part.string(), std::to_string(rows), std::to_string(columns),
                     compressed ? "compressed" : "plain"},
                    err);
                fs::rename(part, ds.path);
            }
            datasets.push_back(ds);
        }

    const std::vector<std::string> plane_options{"-1", "255,0,0", "-2", "160,160,160",
                                                 "-3", "dyn",     "-s", "-u"};
    // Each dataset's files in the work directory.
    const auto file_of = [&opt](const Dataset& ds, const std::string& name) {
        return opt.work / (std::to_string(ds.columns) + "x" + std::to_string(ds.rows) + "-" +
                           (ds.compressed ? "compressed-" : "plain-") + name);
    };
    std::vector<Measured> results;
    for (const Dataset& ds : datasets) {
        Measured m{};
        m.ds = ds;
        const fs::path ref = file_of(ds, "default.gif");
        const fs::path with_phases = file_of(ds, "phases.gif");
        // The reference image (this run also warms the page cache), the
        // floor's index array taken from it, and a check that the timer
        // build draws exactly the same image.
        run({tdftogif, "-o", ref.string(), ds.path.string()}, err);
        run({indices_bin, ref.string(), file_of(ds, "raster.idx").string(), std::to_string(ds.rows),
             std::to_string(ds.columns), "256"},
            err);
        run({phases_bin, "-o", with_phases.string(), ds.path.string()}, err);
        m.phases_identical = same_file(ref, with_phases);
        run({nocheck_bin, "-o", file_of(ds, "nocheck.gif").string(), ds.path.string()}, err);
        m.nocheck_identical = same_file(ref, file_of(ds, "nocheck.gif"));
        m.gif_bytes = fs::file_size(ref);
        results.push_back(std::move(m));
    }

    // The plain and compressed forms of one size are measured in turn
    // within each repetition, so that both see the same load.
    for (std::size_t group = 0; group < results.size(); group += 2) {
        for (int rep = 0; rep < opt.reps; ++rep) {
            for (std::size_t k = group; k < group + 2 && k < results.size(); ++k) {
                Measured& m = results[k];
                const Dataset& ds = m.ds;
                if (rep == 0)
                    std::fprintf(stderr, "tdbench: %s %s\n", ds.label().c_str(),
                                 ds.compressed ? "compressed" : "plain");
                std::vector<std::string> planes_cmd{tdftogif};
                planes_cmd.insert(planes_cmd.end(), plane_options.begin(), plane_options.end());
                planes_cmd.insert(planes_cmd.end(),
                                  {"-o", file_of(ds, "planes.gif").string(), ds.path.string()});
                m.floor.add(
                    run({floor_bin, file_of(ds, "raster.idx").string(), file_of(ds, "floor.gif").string()},
                        err),
                    "floor:");
                const RunResult with_check =
                    run({tdftogif, "-o", file_of(ds, "default.gif").string(), ds.path.string()}, err);
                const RunResult without =
                    run({nocheck_bin, "-o", file_of(ds, "nocheck.gif").string(), ds.path.string()}, err);
                m.plain_run.add(with_check);
                m.nocheck.add(without);
                m.check_ratio.push_back(with_check.wall / without.wall);
                m.check_cpu_ratio.push_back(with_check.cpu / without.cpu);
                m.planes.add(run(planes_cmd, err));
                m.phases.add(
                    run({phases_bin, "-o", file_of(ds, "phases.gif").string(), ds.path.string()}, err),
                    "tdf-phases:");
                if (std::max(ds.rows, ds.columns) > kFit)
                    m.fit.add(run({tdftogif, "--fit", std::to_string(kFit), "-o",
                                   file_of(ds, "fit.gif").string(), ds.path.string()},
                                  err));
            }
        }
    }
    for (Measured& m : results) {
        // The floor's GIF differs from the converter's only outside the
        // raster (no frames, scale or labels): its raster must be the same.
        const fs::path floor_index = file_of(m.ds, "floor.idx");
        run({indices_bin, file_of(m.ds, "floor.gif").string(), floor_index.string(),
             std::to_string(m.ds.rows), std::to_string(m.ds.columns), "256"},
            err);
        m.floor_same_raster = same_file(file_of(m.ds, "raster.idx"), floor_index);
        // The first read of a compressed dataset against the expansion.
        if (m.ds.compressed)
            m.first_read = fields_after(
                run({first_read_bin, m.ds.path.string(), std::to_string(opt.reps)}, err).err, "first-read:");
        // The same whole read by path and through callbacks.
        if (m.ds.rows == callback_side && m.ds.columns == callback_side)
            m.callback_read = fields_after(
                run({callback_read_bin, m.ds.path.string(), std::to_string(callback_reps)}, err).err,
                "callback-read:");
    }

    // The tables.
    std::printf("tdftogif benchmark: commit %s; %s; median of %d runs each\n\n", opt.commit.c_str(),
                host_summary().c_str(), opt.reps);
    std::printf(
        "End to end: wall seconds, ratio = converter / floor (wall; in brackets the same ratio of\n"
        "user + system CPU seconds, which a busy machine disturbs less); peak = max resident MiB\n\n");
    std::printf(
        "| dataset | form | floor s | default s | ratio (cpu) | planes+stamp s | ratio (cpu) | peak floor | "
        "peak default | peak planes | default - floor MiB |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Measured& m : results) {
        const double f = median(m.floor.wall);
        const double d = median(m.plain_run.wall);
        const double p = median(m.planes.wall);
        const double pf = median(m.floor.peak), pd = median(m.plain_run.peak), pp = median(m.planes.peak);
        const double fc = median(m.floor.cpu);
        std::printf(
            "| %s | %s | %.3f | %.3f | %.2fx (%.2fx) | %.3f | %.2fx (%.2fx) | %.1f | %.1f | %.1f | %+.1f |\n",
            m.ds.label().c_str(), m.ds.compressed ? "compressed" : "plain", f, d, d / f,
            median(m.plain_run.cpu) / fc, p, p / f, median(m.planes.cpu) / fc, pf, pd, pp, pd - pf);
    }

    // The two forms of one size side by side.
    const auto twin_of = [&results](const Measured& m) -> const Measured* {
        for (const Measured& t : results)
            if (t.ds.rows == m.ds.rows && t.ds.columns == m.ds.columns && t.ds.compressed != m.ds.compressed)
                return &t;
        return nullptr;
    };
    std::printf(
        "\nCompressed against plain, the same image (wall seconds; ratio = compressed / plain, wall and "
        "in brackets cpu)\n\n");
    std::printf(
        "| dataset | default plain s | default compressed s | ratio (cpu) | planes+stamp plain s | "
        "planes+stamp compressed s | ratio (cpu) |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|\n");
    for (const Measured& c : results) {
        const Measured* p = twin_of(c);
        if (!c.ds.compressed || p == nullptr)
            continue;
        std::printf("| %s | %.3f | %.3f | %.3fx (%.3fx) | %.3f | %.3f | %.3fx (%.3fx) |\n",
                    c.ds.label().c_str(), median(p->plain_run.wall), median(c.plain_run.wall),
                    median(c.plain_run.wall) / median(p->plain_run.wall),
                    median(c.plain_run.cpu) / median(p->plain_run.cpu), median(p->planes.wall),
                    median(c.planes.wall), median(c.planes.wall) / median(p->planes.wall),
                    median(c.planes.cpu) / median(p->planes.cpu));
    }

    std::printf(
        "\nThe per-read check that the dataset's file has not changed (one fstat a read): the default\n"
        "conversion against the same converter with the check linked out, run in pairs; ratio = median\n"
        "of the pairs' ratios, wall and in brackets cpu\n\n");
    std::printf("| dataset | form | reads | default s | without check s | ratio (cpu) |\n");
    std::printf("|---|---|---:|---:|---:|---:|\n");
    for (const Measured& m : results)
        std::printf("| %s | %s | %d | %.3f | %.3f | %.3fx (%.3fx) |\n", m.ds.label().c_str(),
                    m.ds.compressed ? "compressed" : "plain", m.ds.rows, median(m.plain_run.wall),
                    median(m.nocheck.wall), median(m.check_ratio), median(m.check_cpu_ratio));

    std::printf(
        "\nFirst read of a compressed dataset: the pass that checks the stream and indexes its rows,\n"
        "against the expansion into an uncompressed temporary copy (seconds, median of %d)\n\n",
        opt.reps);
    std::printf("| dataset | index pass s | expansion s | expansion / index | row index bytes |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    for (const Measured& m : results) {
        if (!m.ds.compressed)
            continue;
        const auto get = [&m](const char* k) {
            const auto it = m.first_read.find(k);
            return it == m.first_read.end() ? 0.0 : it->second;
        };
        std::printf("| %s | %.4f | %.4f | %.1fx | %.0f |\n", m.ds.label().c_str(), get("index"),
                    get("expansion"), get("expansion") / get("index"), get("index_bytes"));
    }

    std::printf(
        "\nA whole read (every row of both variables) by path against the same file through caller\n"
        "callbacks (td_open_callbacks over pread): seconds of the wall clock and of CPU time, median of\n"
        "%d; ratio = callbacks / path\n\n",
        callback_reps);
    std::printf(
        "| dataset | form | path s | callbacks s | ratio | path cpu s | callbacks cpu s | cpu ratio |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|\n");
    for (const Measured& m : results) {
        if (m.callback_read.empty())
            continue;
        const auto& c = m.callback_read;
        std::printf("| %s | %s | %.4f | %.4f | %.3fx | %.4f | %.4f | %.3fx |\n", m.ds.label().c_str(),
                    m.ds.compressed ? "compressed" : "plain", c.at("local"), c.at("callbacks"),
                    c.at("callbacks") / c.at("local"), c.at("local_cpu"), c.at("callbacks_cpu"),
                    c.at("callbacks_cpu") / c.at("local_cpu"));
    }

    std::printf(
        "\nWhere the time goes (tdftogif_phases, default options; seconds, and share of the floor)\n\n");
    std::printf(
        "| dataset | form | open | setup | scale | index | reads | colour | gif | close | process | total | "
        "floor: fill | floor: gif |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    const std::array<std::string, 8> keys{"open",  "setup",  "scale", "index",
                                          "reads", "colour", "gif",   "close"};
    for (const Measured& m : results) {
        const double f = median(m.floor.wall);
        const double total = median(m.phases.wall);
        double sum = 0.0;
        std::printf("| %s | %s |", m.ds.label().c_str(), m.ds.compressed ? "compressed" : "plain");
        for (const std::string& k : keys) {
            const double v = m.phases.part(k);
            sum += v;
            std::printf(" %.3f (%.2f) |", v, v / f);
        }
        const double rest = total - sum;
        std::printf(" %.3f (%.2f) | %.3f (%.2f) | %.3f | %.3f |\n", rest, rest / f, total, total / f,
                    m.floor.part("fill"), m.floor.part("gif"));
    }
    std::printf(
        "\nprocess: exec, loading and exit, outside main's phases.  floor: fill and gif are the floor's\n"
        "own two parts (gdImageSetPixel of every raster pixel; gdImageGif and the file's close).\n");

    std::printf(
        "\nReduced quicklooks: tdftogif --fit %d against the full-size conversion (default options),\n"
        "measured in the same runs (wall seconds; ratio = fit / full, wall and in brackets cpu)\n\n",
        kFit);
    std::printf(
        "| dataset | form | factor | full s | fit s | ratio (cpu) | peak full | peak fit | GIF bytes full | "
        "GIF bytes fit |\n");
    std::printf("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Measured& m : results) {
        if (m.fit.wall.empty())
            continue;
        const int longest = std::max(m.ds.rows, m.ds.columns);
        std::printf("| %s | %s | %d | %.3f | %.3f | %.2fx (%.2fx) | %.1f | %.1f | %ju | %ju |\n",
                    m.ds.label().c_str(), m.ds.compressed ? "compressed" : "plain",
                    (longest + kFit - 1) / kFit, median(m.plain_run.wall), median(m.fit.wall),
                    median(m.fit.wall) / median(m.plain_run.wall),
                    median(m.fit.cpu) / median(m.plain_run.cpu), median(m.plain_run.peak), median(m.fit.peak),
                    m.gif_bytes, static_cast<std::uintmax_t>(fs::file_size(file_of(m.ds, "fit.gif"))));
    }

    std::printf("\nChecks\n\n");
    for (const Measured& m : results) {
        std::printf(
            "- %s %s: timer build draws the same GIF: %s; floor raster identical to the converter's: %s; "
            "build without the file check draws the same GIF: %s\n",
            m.ds.label().c_str(), m.ds.compressed ? "compressed" : "plain", m.phases_identical ? "yes" : "NO",
            m.floor_same_raster ? "yes" : "NO", m.nocheck_identical ? "yes" : "NO");
    }
    for (const Measured& m : results) {
        const double ratio = median(m.check_ratio);
        std::printf(
            "- %s %s: file check costs %+.1f%% of the default conversion, cpu %+.1f%% (goal <= 3%%): %s\n",
            m.ds.label().c_str(), m.ds.compressed ? "compressed" : "plain", (ratio - 1) * 100,
            (median(m.check_cpu_ratio) - 1) * 100, ratio <= 1.03 ? "met" : "NOT MET");
    }
    for (const Measured& m : results) {
        if (m.ds.rows != 4096 || m.ds.columns != 4096 || m.ds.compressed)
            continue;
        const double f = median(m.floor.wall);
        const double ratio = median(m.plain_run.wall) / f;
        const double cpu_ratio = median(m.plain_run.cpu) / median(m.floor.cpu);
        const double extra = median(m.plain_run.peak) - median(m.floor.peak);
        std::printf(
            "- 4096 x 4096 plain: default / floor %.2f, cpu %.2f (goal <= 1.15): %s; peak over the floor "
            "%+.1f MiB (goal <= 8): %s\n",
            ratio, cpu_ratio, ratio <= 1.15 ? "met" : "NOT MET", extra, extra <= 8.0 ? "met" : "NOT MET");
    }
    for (const Measured& m : results) {
        if (m.ds.rows != 4096 || m.ds.columns != 4096 || m.fit.wall.empty())
            continue;
        const double ratio = median(m.fit.wall) / median(m.plain_run.wall);
        std::printf("- 4096 x 4096 %s: --fit %d / full %.2f, cpu %.2f (goal <= 0.35): %s\n",
                    m.ds.compressed ? "compressed" : "plain", kFit, ratio,
                    median(m.fit.cpu) / median(m.plain_run.cpu), ratio <= 0.35 ? "met" : "NOT MET");
    }
    for (const Measured& m : results) {
        if (m.callback_read.empty())
            continue;
        const auto& c = m.callback_read;
        const double ratio = c.at("callbacks") / c.at("local");
        const double cpu_ratio = c.at("callbacks_cpu") / c.at("local_cpu");
        std::printf(
            "- %s %s: callbacks / path %.3f, cpu %.3f (goal <= 1.05, on CPU time, which other load "
            "disturbs less): %s\n",
            m.ds.label().c_str(), m.ds.compressed ? "compressed" : "plain", ratio, cpu_ratio,
            cpu_ratio <= 1.05 ? "met" : "NOT MET");
    }
    for (const Measured& c : results) {
        const Measured* p = twin_of(c);
        if (!c.ds.compressed || p == nullptr)
            continue;
        const double ratio = median(c.plain_run.wall) / median(p->plain_run.wall);
        const double cpu_ratio = median(c.plain_run.cpu) / median(p->plain_run.cpu);
        const double extra = median(c.plain_run.peak) - median(p->plain_run.peak);
        std::printf("- %s compressed / plain: %.3f, cpu %.3f (goal <= 1.05): %s; peak %+.1f MiB over plain\n",
                    c.ds.label().c_str(), ratio, cpu_ratio, ratio <= 1.05 ? "met" : "NOT MET", extra);
    }
    return 0;
}
