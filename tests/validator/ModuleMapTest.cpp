// MODULES.md, the module map, against the bundle as built: every registered identifier has one
// row naming the files of its halves, its tests and its benchmark; every file named exists and
// says the identifier. A module added, renamed or moved without its row fails here.
#include "MpFactory.h"
#include "mpapi.h"
#include "Utf8.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::filesystem::path kSourceDir = TAVRIN_SOURCE_DIR;

struct Row {
    std::vector<std::string> processing, interface, tests, benchmarks;
};

std::string fileText(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last - first + 1));
}

// A cell's `quoted` names; "-" or nothing for none.
std::vector<std::string> names(std::string_view cell)
{
    std::vector<std::string> out;
    for (std::size_t at = cell.find('`'); at != std::string_view::npos; at = cell.find('`', at)) {
        const std::size_t end = cell.find('`', at + 1);
        if (end == std::string_view::npos)
            break;
        out.emplace_back(cell.substr(at + 1, end - at - 1));
        at = end + 1;
    }
    return out;
}

// The table rows of MODULES.md: "| `QV_x` | processing | interface | tests | benchmark |".
std::map<std::string, Row> moduleMap(std::vector<std::string>& problems)
{
    std::map<std::string, Row> rows;
    std::istringstream lines(fileText(kSourceDir / "MODULES.md"));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("| `QV_", 0) != 0)
            continue;
        std::vector<std::string> cells;
        std::size_t at = 1;
        for (std::size_t bar; (bar = line.find('|', at)) != std::string::npos; at = bar + 1)
            cells.push_back(trimmed(std::string_view(line).substr(at, bar - at)));
        if (cells.size() != 5) {
            problems.push_back("a row without five cells: " + line);
            continue;
        }
        const auto identifier = names(cells[0]);
        if (identifier.size() != 1 || !rows.emplace(identifier[0], Row{names(cells[1]), names(cells[2]), names(cells[3]), names(cells[4])}).second)
            problems.push_back("one identifier per row, each once: " + line);
    }
    return rows;
}

} // namespace

TEST(ModuleMap, NamesEveryRegisteredModuleWithItsFiles)
{
    std::vector<std::string> problems;
    const auto rows = moduleMap(problems);

    std::map<std::string, std::set<int32_t>> registered;
    // The bundle's modules; the test binary's own probes register as "TEST_...".
    for (const auto& [key, create] : Factory()->registrations())
        if (key.second.starts_with(L"QV_"))
            registered[utf8::fromWide(key.second, utf8::OnError::Replace)].insert(key.first);
    for (const auto& [identifier, types] : registered)
        if (!rows.count(identifier))
            problems.push_back(identifier + ": registered, but no row");

    for (const auto& entry : rows) {
        const std::string& identifier = entry.first;  // a plain name: lambdas below capture it
        const Row& row = entry.second;
        const auto types = registered.find(identifier);
        if (types == registered.end()) {
            problems.push_back(identifier + ": a row, but not registered");
            continue;
        }
        const std::string quoted = "\"" + identifier + "\"";
        const auto check = [&](const std::vector<std::string>& files, std::string_view says, const char* what) {
            for (const auto& file : files) {
                const auto path = kSourceDir / file;
                if (!std::filesystem::is_regular_file(path))
                    problems.push_back(identifier + ": " + what + " " + file + " does not exist");
                else if (fileText(path).find(says) == std::string::npos)
                    problems.push_back(identifier + ": " + what + " " + file + " does not say " + std::string(says));
            }
        };
        // A half's file registers it: MP_REGISTER_MODULE(Qv_name, L"QV_Name"), its stem the class.
        const auto half = [&](const std::vector<std::string>& files, int32_t type, const char* what) {
            if (files.size() != (types->second.count(type) ? 1u : 0u))
                problems.push_back(identifier + ": the " + what + " cell must name " + (types->second.count(type) ? "its one file" : "no file"));
            for (const auto& file : files)
                check({file}, "MP_REGISTER_MODULE(" + std::filesystem::path(file).stem().string() + ", L" + quoted + ")", what);
        };
        half(row.processing, mpapi::MP_TYPE_AUDIO, "processing half");
        half(row.interface, mpapi::MP_TYPE_GUI, "interface half");
        if (row.tests.empty())
            problems.push_back(identifier + ": no test named");
        check(row.tests, quoted, "test");
        check(row.benchmarks, quoted, "benchmark");
    }
    for (const auto& problem : problems)
        ADD_FAILURE() << problem;
}
