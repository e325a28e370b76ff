// lumohistory: a station's history as CSV on standard output, for scheduled
// jobs and spreadsheets: minutes, hours, events or daily volumes of chosen
// instruments over a range (see options.h). Reads history.db only; a
// station may be writing it meanwhile.
//
// Without --dir, history.db is looked for in the data directories of both
// programs; when both or neither have one, --dir must say which.
//
// Exit status: 0 written, 1 the history cannot be read, 2 the command line
// is wrong.

#include "datadirectory.h"
#include "historyexport.h"
#include "localclock.h"
#include "options.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

using namespace lumo;
using namespace lumo::history;

bool exists(const std::string& utf8)
{
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(std::u8string(utf8.begin(), utf8.end())), error);
}

// history.db in DIR, or the one data directory that has it.
std::optional<std::string> historyFile(const std::optional<std::string>& directory, std::string& why)
{
    if (directory) {
        const std::string path = *directory + "/history.db";
        if (exists(path))
            return path;
        why = "找不到历史文件 " + path + "（no history.db in " + *directory + "）";
        return std::nullopt;
    }
    std::vector<std::string> found, looked;
    for (const char* program : {"lumoscan12", "lumoscan13"}) {
        const std::string path = machineDataDirectory(program) + "/history.db";
        looked.push_back(path);
        if (exists(path))
            found.push_back(path);
    }
    if (found.size() == 1)
        return found.front();
    why = found.empty() ? "找不到历史文件：" + looked[0] + " 和 " + looked[1] + " 都不存在，用 --dir 指定目录"
                        : "两个程序都有历史文件（" + found[0] + "，" + found[1] + "），用 --dir 指定哪一个";
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto options = parseHistoryOptions(arguments, [](const LocalTime& t) { return utcOfLocal(t); });
    if (!options.ok()) {
        std::fprintf(stderr, "lumohistory: %s\n%s", options.error().c_str(), kHistoryUsage);
        return 2;
    }
    std::string why;
    const auto path = historyFile(options.value().directory, why);
    if (!path) {
        std::fprintf(stderr, "lumohistory: %s\n", why.c_str());
        return 1;
    }
    HistoryFile file;
    if (const auto fault = file.openForReading(*path)) {
        std::fprintf(stderr, "lumohistory: 历史文件读不出（%s）\n", fault->message.c_str());
        return 1;
    }
    const auto csv = exportCsv(file, options.value().request, [](std::int64_t ms) { return localTimeOf(ms); });
    if (!csv.ok()) {
        std::fprintf(stderr, "lumohistory: 历史文件读不出（%s）\n", csv.error().c_str());
        return 1;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);  // the CSV's line ends as they are
#endif
    const std::string& text = csv.value().csv;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "lumohistory: standard output cannot be written\n");
        return 1;
    }
    std::fprintf(stderr, "lumohistory: %zu rows\n", csv.value().rows);
    return 0;
}
