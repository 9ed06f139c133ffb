#include "CategoryBrowser/CategoryStore.h"

#include "CategoryBrowser/PresetLibrary.h"
#include "Log.h"
#include "NoReplaceRename.h"
#include "Trash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace prescat {

namespace fs = std::filesystem;

// ---- Preset values ------------------------------------------------------------------------------

void migrateOldPreset(float (&slots)[256])
{
    static constexpr double kBounds[31] = {
        0.0183387,  0.0210161, 0.02369355, 0.026371,   0.0290484, 0.0317258,  0.0344032, 0.03708065,
        0.0397581,  0.0424355, 0.0451129,  0.0477903,  0.05046775, 0.0531452, 0.0558226, 0.0585,
        0.0611774,  0.0638548, 0.06653225, 0.0692097,  0.0718871, 0.0745645,  0.0772419, 0.07991935,
        0.0825968,  0.0852742, 0.0879516,  0.090629,   0.09330645, 0.0959839, 0.0986613};
    static constexpr float kBands[32][3] = {
        {2, 2, 1},  {1, 1, 1},   {2, 2, 1},   {3, 3, 1},  {4, 4, 1},  {5, 5, 1},   {6, 6, 1},  {7, 7, 1},
        {8, 8, 1},  {9, 9, 1},   {10, 10, 1}, {11, 11, 1}, {12, 12, 1}, {13, 13, 1}, {14, 14, 1}, {1, 2, 1},
        {2, 1, 1},  {1, 16, 1},  {2, 16, 1},  {16, 1, 1}, {16, 2, 1}, {1, 1, 2},   {2, 2, 2},  {7, 7, 2},
        {16, 16, 2}, {1, 2, 2},  {2, 1, 2},   {2, 16, 2}, {2, 15, 2}, {1, 16, 3},  {16, 1, 3}, {16, 16, 1}};
    const double mode = static_cast<double>(slots[0]);
    int band = -1;
    if (mode < kBounds[0])
        band = 0;
    else if (mode > kBounds[30])
        band = 31;
    else
        for (int k = 0; k < 30; ++k)
            if (mode > kBounds[k] && mode < kBounds[k + 1])
                band = k + 1;
    if (band < 0)
        return;  // on a bound (or NaN): no band
    for (int i = 0; i < 3; ++i)
        if (slots[151 + i] < 0.5f)
            slots[151 + i] = kBands[band][i];
}

void writeInitPatch(float (&slots)[256])
{
    struct Value {
        int slot;
        float value;
    };
    static constexpr Value kValues[] = {
        {0, 0.017f},     {2, -4.0f},       {3, 4.26f},     {7, -5.0f},     {8, 0.1322151f},  {9, 3.9249997f},
        {12, 10.0f},     {13, 10.0f},      {14, 10.0f},    {16, 0.2f},     {17, 1.25f},      {18, 1.0f},
        {19, 5.0f},      {23, 1.0f},       {26, 1.0f},     {30, 1.0f},     {32, 1.0f},       {34, 1.0f},
        {38, 1.0f},      {33, 47.0f},      {36, 0.063623f}, {54, 1.0f},    {56, 1.0f},       {58, 1.0f},
        {60, 1.0f},      {62, -0.01425f},  {65, 1.0f},     {66, 1.0f},     {67, 1.0f},       {71, 1.0f},
        {82, 1.0f},      {83, 1.0f},       {88, 1.0f},     {89, 0.083333f}, {90, -4.0f},     {91, 8.81f},
        {93, 0.18f},     {94, 5.1f},       {95, 6.8f},     {96, 7.6f},     {98, 10.0f},      {99, 10.0f},
        {102, 0.54f},    {128, -5.0f},     {129, 1.3f},    {130, 1.3f},    {132, 9.17401f},  {134, 0.0053735f},
        {136, 0.3f},     {151, 2.0f},      {152, 2.0f},    {153, 1.0f}};
    static_assert(sizeof kValues / sizeof kValues[0] == 52);
    const float kept = slots[244];
    std::fill(std::begin(slots), std::end(slots), 0.0f);
    for (const Value& v : kValues)
        slots[v.slot] = v.value;
    slots[244] = kept;
}

// ---- Library files --------------------------------------------------------------------------

namespace {

std::string_view lastComponent(std::string_view path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace

bool isPresetFileInLibrary(std::string_view path, const std::string& root)
{
    if (path.empty() || !isPresetFileName(lastComponent(path)))
        return false;
    const std::string file(path);
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)))
        return false;
    std::error_code error;
    const fs::path realRoot = fs::canonical(root, error);
    if (error)
        return false;
    const fs::path folder = fs::canonical(fs::path(file).parent_path(), error);
    if (error)
        return false;
    const std::string rootText = realRoot.string() + "/";
    const std::string folderText = folder.string() + "/";
    return folderText.compare(0, rootText.size(), rootText) == 0;
}

bool renamePresetFile(std::string_view path, const std::string& root, std::string_view newName)
{
    if (!isPresetFileInLibrary(path, root) || !isPresetFileName(newName) || newName.find('/') != std::string_view::npos)
        return false;
    const std::string from(path);
    const std::string to = from.substr(0, from.size() - lastComponent(path).size()) + std::string(newName);
    if (to == from)
        return true;
    return platform::renameNoReplace(from, to);
}

void writeBankFolder(std::string_view folder, const preset_bank::NameTable& names, const preset_bank::BankMemory& bank)
{
    std::error_code error;
    fs::create_directories(fs::path(std::string(folder)), error);
    for (int i = 0; i < preset_bank::kPresets; ++i) {
        char number[8];
        std::snprintf(number, sizeof number, "#%03d ", i + 1);
        const std::string path = std::string(folder) + "/" + number + safeNameComponent(names.view(i)) + std::string(kExtension);
        preset_bank::SavePreset(path, names.view(i), bank.preset(i));
    }
}

bool trashPresetFile(std::string_view path, const std::string& root)
{
    const bool moved = isPresetFileInLibrary(path, root) && platform::moveToTrash(std::string(path));
    platform::logLine("trashItemAtURL %hhd", static_cast<signed char>(moved ? 1 : 0));
    return moved;
}

} // namespace prescat
