// converter_probe.cpp - finding tdftogif and asking what it can do.
#include "converter_probe.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string_view>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "archive_walk.h"
#include "child_processes.h"

namespace tdb {

namespace {

bool executable_file(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string on_path(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const auto colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        const std::string candidate = (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        if (executable_file(candidate))
            return candidate;
        if (colon == std::string_view::npos)
            return {};
        rest.remove_prefix(colon + 1);
    }
}

std::string beside_self(const std::string& name)
{
    std::vector<char> buffer(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    std::string self(buffer.data(), static_cast<std::size_t>(n));
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1) + name;
}

// A hash of the executable's bytes, for a tdftogif without --version.
std::string content_hash(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char text[40];
    std::snprintf(text, sizeof text, "build %016llx", static_cast<unsigned long long>(fnv1a64(bytes)));
    return text;
}

ChildOutcome ask(const std::string& path, const char* option)
{
    ChildCommand command;
    command.argv = {path, option};
    command.time_limit = std::chrono::seconds(30);
    command.capture_stdout = true;
    return run_child(command);
}

bool succeeded(const ChildOutcome& o)
{
    return o.started && o.exited && o.exit_status == 0;
}

} // namespace

int find_converter(const std::string& given, Converter& converter)
{
    converter = Converter{};
    if (!given.empty())
        converter.path = given.find('/') != std::string::npos ? given : on_path(given);
    else if (const std::string installed = beside_self("tdftogif"); executable_file(installed))
        converter.path = installed;
    else
        converter.path = on_path("tdftogif");
    if (converter.path.empty())
        return ENOENT;
    if (!executable_file(converter.path))
        return ::access(converter.path.c_str(), X_OK) != 0 ? errno : EACCES;

    const ChildOutcome version = ask(converter.path, "--version");
    if (!version.started)
        return version.start_error;
    std::string line = version.out.substr(0, version.out.find('\n'));
    converter.version = succeeded(version) && !line.empty() ? line : content_hash(converter.path);

    const ChildOutcome help = ask(converter.path, "--help");
    converter.fits = succeeded(help) && help.out.find("--fit") != std::string::npos;
    return 0;
}

} // namespace tdb
