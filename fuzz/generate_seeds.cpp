// Writes the seed corpora of the fuzz targets with the project's own writers:
//     build/fuzz/fuzz/generate_fuzz_seeds fuzz/corpus
// Seeds of the readers that take a file are the writers' files (the bank cut to its first rows,
// so that mutations stay fast); the path expander's seeds are what users write in a folder
// setting and the forms it refuses.
#include "Common/TaggedValue.h"
#include "PresetStore/FactoryBank.h"
#include "PresetStore/ListFileExchange.h"
#include "PresetStore/PresetBank.h"
#include "TextFiles.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using namespace preset_bank;

namespace {

fs::path root;

void seed(const std::string& target, const std::string& name, std::string_view bytes)
{
    const fs::path folder = root / target;
    fs::create_directories(folder);
    if (!platform::writeFileAtomically(folder / name, bytes))
        std::fprintf(stderr, "cannot write %s\n", (folder / name).c_str());
}

// The first lines of text (line ends included).
std::string firstLines(const std::string& text, int lines)
{
    std::size_t end = 0;
    for (int i = 0; i < lines && end != std::string::npos; ++i)
        end = text.find('\n', end) == std::string::npos ? std::string::npos : text.find('\n', end) + 1;
    return end == std::string::npos ? text : text.substr(0, end);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    root = argv[1];

    NameTable names;
    auto bank = std::make_unique<BankMemory>();
    factory_bank::layInto(names, *bank);
    bank->set(3, 0, -250.25f);
    bank->set(4, 1, 1500.5f);
    bank->set(5, 2, 845.9344482f);
    names.setName(6, std::string(25, 'Y'));

    // Preset files.
    seed("preset_file", "factory-0.tavpreset", presetFileText(names.view(0), bank->preset(0)));
    seed("preset_file", "wide-values.tavpreset", presetFileText(names.view(6), bank->preset(4)));
    seed("preset_file", "short.tavpreset", firstLines(presetFileText("Default", bank->preset(3)), 5));

    // Bank files, both readers.
    const std::string bankText = bankFileText(names, *bank);
    NameTable constructed;
    auto empty = std::make_unique<BankMemory>();
    for (const char* target : {"bank_decimal", "bank_atof"}) {
        seed(target, "factory-rows.tavbank", firstLines(bankText, 4));
        seed(target, "constructed-rows.tavbank", firstLines(bankFileText(constructed, *empty), 2));
    }

    // Numbered list text and List.txt.
    seed("list_text", "factory.txt", SaveList(names));
    seed("list_text", "constructed.txt", SaveList(constructed));
    seed("list_file", "factory-List.txt", list_file::listFileBytes(SaveList(names)));
    seed("list_file", "constructed-List.txt", list_file::listFileBytes(SaveList(constructed)));
    // A CR kept in a typed name; a 25-byte name with leading spaces.
    seed("list_file", "typed-names.txt", std::string_view("Pad\rTwo\0  abcdefghijklmnopqrstuvw", 33));
    seed("list_file", "spaced-List.txt", list_file::listFileBytes("  1:  abcdefghijklmnopqrstuvw,  2:Pad\rTwo"));

    // Path.txt as the interface half writes it.
    const fs::path scratch = fs::temp_directory_path() / "tavrin-fuzz-seeds";
    fs::create_directories(scratch);
    const std::string folder = scratch.string() + "/";
    int n = 0;
    for (const char* chosen : {"", "/Users/ann/Presets/Warm Pad.tavpreset", "/Users/Shared/Quorvane/x.tavbank"}) {
        list_file::writePathFile(folder, chosen);
        seed("path_file", "Path-" + std::to_string(n++) + ".txt", platform::readFile(folder + list_file::kPathFileName).value_or(""));
    }
    fs::remove_all(scratch);

    // Tagged value texts with their terminating zero.
    n = 0;
    for (float value : {0.0f, -1.5f, 845.9344482f, 3.4e38f, 1e-7f}) {
        for (char tag : {'d', 'v'}) {
            char text[number_text::kTaggedTextBytes];
            const auto size = number_text::formatTaggedValue(tag, value, text);
            seed("tagged_value", "value-" + std::to_string(n++), std::string_view(text, static_cast<std::size_t>(size)));
        }
    }

    // Folder settings.
    n = 0;
    for (const char* text : {"~/Presets/", "$HOME/Music/", "${HOME}/Library/", "$TAVRIN_SHARED_FOLDER/",
                             "\"$HOME/My Presets/\"", "'/Volumes/My Disk/'", "/Volumes/My\\ Disk/ second",
                             "~root/x", "$(id)", "${X?msg}", "${#H:=$O}", "$((1))", "$[1]", "`id`", "$0$$$1",
                             "/*/*/?[a]/"}) {
        seed("path_expander", "setting-" + std::to_string(n++), text);
    }
    return 0;
}
