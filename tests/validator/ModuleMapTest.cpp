// MODULES.md, the module map, against the bundle as built: every registered identifier has one
// row naming the files of its halves, its tests and its benchmark; every file named exists and
// says the identifier. A module added, renamed or moved without its row fails here; so does a
// test or benchmark named after a module or a listed family that its row leaves out.
#include "MpFactory.h"
#include "mpapi.h"
#include "Utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
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

// A test's or benchmark's text with that of the support headers it includes from tests/ or bench/
// (and theirs in turn): a fixture there may be what names the module the test creates.
std::string textWithSupport(const std::filesystem::path& file)
{
    namespace fs = std::filesystem;
    std::string all;
    std::set<fs::path> seen;
    std::vector<fs::path> next{file};
    const fs::path roots[] = {kSourceDir / "tests", kSourceDir / "bench"};
    while (!next.empty()) {
        const fs::path at = next.back();
        next.pop_back();
        std::error_code error;
        const fs::path real = fs::weakly_canonical(at, error);
        if (error || !seen.insert(real).second)
            continue;
        const std::string text = fileText(real);
        all += text;
        all += '\n';
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("#include \"", 0) != 0)
                continue;
            const std::size_t end = line.find('"', 10);
            if (end == std::string::npos)
                continue;
            const std::string name = line.substr(10, end - 10);
            for (const fs::path& base : {real.parent_path(), roots[0], roots[1]}) {
                const fs::path candidate = base / name;
                if (fs::is_regular_file(candidate, error)) {
                    next.push_back(candidate);
                    break;
                }
            }
        }
    }
    return all;
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
        // A test or benchmark may say it through the fixture it includes.
        const auto check = [&](const std::vector<std::string>& files, std::string_view says, const char* what,
                               bool withSupport = true) {
            for (const auto& file : files) {
                const auto path = kSourceDir / file;
                if (!std::filesystem::is_regular_file(path))
                    problems.push_back(identifier + ": " + what + " " + file + " does not exist");
                else if ((withSupport ? textWithSupport(path) : fileText(path)).find(says) == std::string::npos)
                    problems.push_back(identifier + ": " + what + " " + file + " does not say " + std::string(says));
            }
        };
        // A half's file registers it: MP_REGISTER_MODULE(Qv_name, L"QV_Name"), its stem the class.
        const auto half = [&](const std::vector<std::string>& files, int32_t type, const char* what) {
            if (files.size() != (types->second.count(type) ? 1u : 0u))
                problems.push_back(identifier + ": the " + what + " cell must name " + (types->second.count(type) ? "its one file" : "no file"));
            for (const auto& file : files)
                check({file}, "MP_REGISTER_MODULE(" + std::filesystem::path(file).stem().string() + ", L" + quoted + ")", what, false);
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

// The other way round: a test under tests/<subsystem>/ or a benchmark in bench/ named after a
// module (Qv_<name>...Test.cpp, Qv_<name>...Bench.cpp; the longest class name of a half that
// fits) is in that module's row; one named after a family whose own test or benchmark the map
// lists (ListManagerWorkerTest.cpp beside ListManagerTest.cpp) is in the row of every module of
// that family it creates. Each problem names the file and the row it is missing from.
TEST(ModuleMap, ListsEveryTestAndBenchmarkNamedAfterAModuleOrAFamily)
{
    namespace fs = std::filesystem;
    std::vector<std::string> problems;
    const auto rows = moduleMap(problems);

    std::map<std::string, std::string> classes;  // class name of a half -> identifier
    // (folder, family name, "Test" or "Bench") -> identifiers whose row lists the family's file
    std::map<std::tuple<std::string, std::string, std::string>, std::set<std::string>> families;
    for (const auto& [identifier, row] : rows) {
        for (const auto* half : {&row.processing, &row.interface})
            for (const auto& file : *half)
                classes[fs::path(file).stem().string()] = identifier;
        for (const auto& [files, kind] : {std::pair{&row.tests, "Test"}, std::pair{&row.benchmarks, "Bench"}})
            for (const auto& file : *files) {
                const std::string stem = fs::path(file).stem().string();
                const std::string suffix = kind;
                if (!stem.starts_with("Qv_") && stem.ends_with(suffix))
                    families[{fs::path(file).parent_path().string(), stem.substr(0, stem.size() - suffix.size()), suffix}].insert(identifier);
            }
    }
    const auto listed = [&](const std::string& identifier, const std::string& file, const std::string& kind) {
        const Row& row = rows.at(identifier);
        const auto& cell = kind == "Test" ? row.tests : row.benchmarks;
        return std::find(cell.begin(), cell.end(), file) != cell.end();
    };
    const auto missing = [&](const std::string& file, const std::string& identifier, const std::string& kind) {
        problems.push_back(file + ": missing from the " + (kind == "Test" ? "tests" : "benchmark") + " cell of the row of " + identifier);
    };

    std::vector<std::pair<std::string, std::string>> files;  // relative path, "Test" or "Bench"
    for (const auto& subsystem : fs::directory_iterator(kSourceDir / "Sources")) {
        const fs::path folder = kSourceDir / "tests" / subsystem.path().filename();
        if (subsystem.is_directory() && fs::is_directory(folder))
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().filename().string().ends_with("Test.cpp"))
                    files.emplace_back(fs::relative(entry.path(), kSourceDir).generic_string(), "Test");
    }
    for (const auto& entry : fs::directory_iterator(kSourceDir / "bench"))
        if (entry.path().filename().string().ends_with("Bench.cpp"))
            files.emplace_back(fs::relative(entry.path(), kSourceDir).generic_string(), "Bench");
    ASSERT_GT(files.size(), 20u);

    for (const auto& [file, kind] : files) {
        const std::string stem = fs::path(file).stem().string();
        const std::string folder = fs::path(file).parent_path().generic_string();
        if (stem.starts_with("Qv_")) {
            std::string best;
            for (const auto& [name, identifier] : classes)
                if (stem.starts_with(name) && name.size() > best.size())
                    best = name;
            if (best.empty())
                problems.push_back(file + ": named after a module, but no row names a half of that class");
            else if (!listed(classes.at(best), file, kind))
                missing(file, classes.at(best), kind);
            continue;
        }
        const std::set<std::string>* family = nullptr;
        std::size_t longest = 0;
        for (const auto& [key, identifiers] : families)
            if (std::get<0>(key) == folder && std::get<2>(key) == kind && stem.starts_with(std::get<1>(key)) &&
                std::get<1>(key).size() > longest) {
                family = &identifiers;
                longest = std::get<1>(key).size();
            }
        if (!family)
            continue;
        const std::string text = textWithSupport(kSourceDir / file);
        for (const auto& identifier : *family)
            if (text.find("\"" + identifier + "\"") != std::string::npos && !listed(identifier, file, kind))
                missing(file, identifier, kind);
    }
    for (const auto& problem : problems)
        ADD_FAILURE() << problem;
}
