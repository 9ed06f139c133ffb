#include "PresetBank.h"

#include "Common/NumberText.h"
#include "TextFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace preset_bank {

namespace {

// A path the file operations may open: not empty, no NUL, shorter than the path fields.
bool pathUsable(std::string_view path)
{
    return !path.empty() && path.size() < kPathBytes && path.find('\0') == std::string_view::npos;
}

// Hands the bytes of the regular file at path to feed(data, size) chunk by chunk until feed
// returns false, the file ends or limit bytes have been handed over. Only regular files are read
// (platform::ReadableFile): a folder, a pipe or a device would block or never end. false when the
// file cannot be opened.
template <class Feed>
bool streamFile(std::string_view path, std::size_t limit, Feed&& feed)
{
    if (!pathUsable(path))
        return false;
    char name[kPathBytes];
    std::memcpy(name, path.data(), path.size());
    name[path.size()] = 0;
    platform::ReadableFile file(name);
    if (!file.isOpen())
        return false;
    char chunk[16384];
    std::size_t handed = 0;
    while (handed < limit) {
        const ssize_t got = file.read(chunk, std::min(sizeof chunk, limit - handed));
        if (got <= 0)
            break;
        handed += static_cast<std::size_t>(got);
        if (!feed(chunk, static_cast<std::size_t>(got)))
            break;
    }
    return true;
}

// The most of a preset or bank file that is read: many times the largest the writers make (every
// name and value at its widest: some 14 KB and 1.7 MB), so that hand-edited files load whole
// while a huge file chosen by mistake cannot hold up the thread that reads it.
constexpr std::size_t kMostPresetFileBytes = std::size_t{1} << 20;
constexpr std::size_t kMostBankFileBytes = std::size_t{64} << 20;

// One name field of a preset or bank file: "," and the name right-aligned in 24 columns. The
// readers drop leading spaces, so the name goes without them: a 25-byte name with leading spaces
// would otherwise be written unpadded and come back shorter, then be written padded. Shorter
// names give the same bytes either way.
void appendNameField(std::string& out, std::string_view name)
{
    name.remove_prefix(std::min(name.find_first_not_of(' '), name.size()));
    out += ',';
    if (name.size() < static_cast<std::size_t>(kNameFieldColumns))
        out.append(static_cast<std::size_t>(kNameFieldColumns) - name.size(), ' ');
    out.append(name);
}

// One value field: "," and the value widened to double, "%11.7f".
void appendValueField(std::string& out, float value)
{
    out += ',';
    number_text::appendFixed(out, static_cast<double>(value), 11, 7);
}

// A name being taken byte by byte under the 25/24 count rule.
struct CountedName {
    char text[kNameKeepWhole] = {};
    int length = 0;
    int taken = 0;

    void take(char c)
    {
        if (taken <= kNameKeepWhole)
            ++taken;
        if (taken <= kNameKeepWhole)
            text[length++] = c;
        else
            length = static_cast<int>(pin_text::cutAtCharBoundary(view(), kNameFieldColumns).size());
    }
    std::string_view view() const { return std::string_view(text, static_cast<std::size_t>(length)); }
    void restart() { length = taken = 0; }
};

// The preset file reader: the name line, then values in file order, into a PresetFile.
class PresetReader {
public:
    explicit PresetReader(PresetFile& file) : file_(file) {}

    // false once nothing more can change the result.
    bool feed(const char* data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (onNameLine_) {
                if (c == '\n') {
                    onNameLine_ = false;
                    continue;
                }
                if (c == ';') {
                    file_.hasName = true;
                    file_.nameLength = field_.name().size();
                    std::memcpy(file_.name, field_.name().data(), file_.nameLength);
                    field_.restart();
                }
                field_.feed(c);
                continue;
            }
            if (c == ';') {
                file_.values[file_.count++] = value_.value();
                value_.clear();
                if (file_.count == kSlots)
                    return false;
            } else {
                value_.feed(c);
            }
        }
        return true;
    }

private:
    PresetFile& file_;
    bool onNameLine_ = true;
    NameField field_;
    number_text::AtofField value_;
};

// The bank file reader, writing straight into the name table and bank memory.
class BankReader {
public:
    BankReader(NameTable& names, BankMemory* bank, FieldConversion conversion)
        : names_(names), bank_(bank), conversion_(conversion)
    {
    }

    // false once nothing more can change the result.
    bool feed(const char* data, std::size_t size)
    {
        for (std::size_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (onNamesLine_) {
                if (!feedName(c))
                    return false;
            } else if (!feedValue(c)) {
                return false;
            }
        }
        return true;
    }

private:
    bool feedName(char c)
    {
        if (c == '\n') {
            onNamesLine_ = false;
            return bank_ != nullptr;  // the names-only reader ends with the line
        }
        if (c == ',') {
            if (skipComma_) {
                skipComma_ = false;
            } else {
                names_.setName(nameSlot_, name_.name());
                name_.restart();
                nameSlot_ = std::min(nameSlot_ + 1, kPresets - 1);
            }
        } else if (c == ';') {
            names_.setName(nameSlot_, name_.name());
            name_.restart();
            skipComma_ = true;
            if (!bank_)
                return false;  // the names-only reader stops at the first ";"
        }
        name_.feed(c);
        return true;
    }

    bool feedValue(char c)
    {
        if (c == ',') {
            if (skipComma_) {
                skipComma_ = false;
                return true;
            }
            storeField();
            column_ = std::min(column_ + 1, kPresets - 1);
            return true;
        }
        if (c == ';') {
            storeField();
            column_ = 0;
            skipComma_ = true;
            return ++row_ < kSlots;
        }
        if (conversion_ == FieldConversion::Decimal)
            decimal_.feed(c);
        else
            atof_.feed(c);
        return true;
    }

    void storeField()
    {
        float value;
        if (conversion_ == FieldConversion::Decimal) {
            value = decimal_.value();
            decimal_.clear();
        } else {
            value = atof_.value();
            atof_.clear();
        }
        bank_->set(column_, row_, value);
    }

    NameTable& names_;
    BankMemory* bank_;  // null: names only
    FieldConversion conversion_;
    bool onNamesLine_ = true;
    bool skipComma_ = true;
    NameField name_;
    int nameSlot_ = 0;
    int row_ = 0;
    int column_ = 0;  // every row line starts at column 0, whatever the names line reached
    number_text::DecimalField decimal_;
    number_text::AtofField atof_;
};

} // namespace

// ---- Bank memory ------------------------------------------------------------------------------

void BankMemory::clear()
{
    for (auto& preset : values_)
        std::fill(std::begin(preset), std::end(preset), 0.0f);
}

float BankMemory::get(int p, int k) const
{
    if (k < 0 || k >= kSlots)
        return 0.0f;
    return values_[clampPreset(p)][k];
}

void BankMemory::set(int p, int k, float value)
{
    if (k >= 0 && k < kSlots)
        values_[clampPreset(p)][k] = value;
}

void BankMemory::storeFrom(int p, const PresetValues& values)
{
    std::copy(std::begin(values), std::end(values), values_[clampPreset(p)]);
}

// ---- Name table -------------------------------------------------------------------------------

NameTable::NameTable(int slotBytes)
    : slotBytes_(std::clamp(slotBytes, 2, kWideNameSlotBytes))
{
    reset();
}

void NameTable::reset()
{
    std::memset(names_, 0, sizeof names_);
    setName(0, kDefaultName);
    for (int slot = 1; slot < kPresets; ++slot)
        setName(slot, kEmptyName);
}

void NameTable::setName(int slot, std::string_view name)
{
    if (slot < 0 || slot >= kPresets)
        return;
    name = name.substr(0, name.find('\0'));
    name = pin_text::cutAtCharBoundary(name, static_cast<std::size_t>(slotBytes_ - 1));
    char* target = names_[slot];
    std::memcpy(target, name.data(), name.size());
    std::memset(target + name.size(), 0, static_cast<std::size_t>(kWideNameSlotBytes) - name.size());
}

// ---- Name rules -------------------------------------------------------------------------------

void NameField::feed(char c)
{
    if (c == '\0')
        return;
    if (c == ',' || c == ';' || c == '\n') {
        taking_ = false;
        return;
    }
    if (c != ' ')
        taking_ = true;
    if (!taking_)
        return;
    if (taken_ <= kNameKeepWhole)
        ++taken_;
    if (taken_ <= kNameKeepWhole)
        text_[length_++] = c;
    else
        length_ = static_cast<int>(pin_text::cutAtCharBoundary(name(), kNameFieldColumns).size());
}

bool applyNameEditingRule(std::string& name)
{
    bool changed = false;
    for (char& c : name) {
        if (c == '\n' || c == '"' || c == ',' || c == '/' || c == ':' || c == ';' || c == '<' || c == '\\' || c == '|') {
            c = ' ';
            changed = true;
        }
    }
    if (name.size() >= static_cast<std::size_t>(kNameKeepWhole)) {
        name.resize(pin_text::cutAtCharBoundary(name, kNameFieldColumns).size());
        changed = true;
    }
    return changed;
}

// ---- Preset file ------------------------------------------------------------------------------

std::string presetFileText(std::string_view name, const PresetValues& values)
{
    std::string text;
    text.reserve(3868 + name.size());
    appendNameField(text, name);
    text += ";\r\n";
    for (float value : values) {
        appendValueField(text, value);
        text += ";\r\n";
    }
    return text;
}

bool SavePreset(std::string_view path, std::string_view name, const PresetValues& values)
{
    if (!pathUsable(path))
        return false;
    return platform::writeFileAtomically(std::filesystem::path(path), presetFileText(name, values));
}

bool SavePreset(std::string_view path, std::string_view name, const PresetBlock& block)
{
    PresetValues values;
    block.read(values);
    return SavePreset(path, name, values);
}

void PresetFile::applyTo(NameTable& names, int current, PresetValues& target) const
{
    if (hasName)
        names.setName(current, nameView());
    std::copy(values, values + count, target);
}

void PresetFile::applyTo(NameTable& names, int current, PresetBlock& block) const
{
    if (hasName)
        names.setName(current, nameView());
    for (int slot = 0; slot < count; ++slot)
        block.set(slot, values[slot]);
}

bool ReadPresetFile(std::string_view path, PresetFile& file)
{
    PresetFile read;
    PresetReader reader(read);
    if (!streamFile(path, kMostPresetFileBytes, [&](const char* data, std::size_t size) { return reader.feed(data, size); }))
        return false;
    file = read;
    return true;
}

StartupPath startupBankPath(std::optional<std::string> hostPath, bool autoPath, std::wstring_view idPin,
                            std::wstring_view pathMacPin)
{
    StartupPath result;
    result.idText = pin_text::idText(idPin);
    if (autoPath) {
        result.baseFolder = std::string();
        result.workingPath = std::move(hostPath);
    } else {
        result.baseFolder = pin_text::baseFolderText(pathMacPin);
        if (result.baseFolder && result.idText)
            result.workingPath = startupBankPathIn(*result.baseFolder, *result.idText);
    }
    return result;
}

StartupPath startupBankPath(const pin_text::FileSettings& settings)
{
    return startupBankPath(settings.hostFilePath(), settings.autoPath, settings.idPin(), settings.pathMacPin());
}

namespace {

template <class Target>
bool loadPresetInto(std::string_view path, NameTable& names, int current, Target& target)
{
    PresetFile file;
    if (!ReadPresetFile(path, file))
        return false;
    file.applyTo(names, current, target);
    return true;
}

} // namespace

bool LoadPreset(std::string_view path, NameTable& names, int current, PresetValues& values)
{
    return loadPresetInto(path, names, current, values);
}

bool LoadPreset(std::string_view path, NameTable& names, int current, PresetBlock& block)
{
    return loadPresetInto(path, names, current, block);
}

bool LoadName(std::string_view path, NameTable& names, int current)
{
    NameField field;
    return streamFile(path, 28, [&](const char* data, std::size_t size) {
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == '\n')
                return false;
            if (data[i] == ';') {
                names.setName(current, field.name());
                return false;
            }
            field.feed(data[i]);
        }
        return true;
    });
}

// ---- Bank file --------------------------------------------------------------------------------

std::string bankFileText(const NameTable& names, const BankMemory& bank)
{
    std::string text;
    text.reserve(397187 + 64);
    for (int p = 0; p < kPresets; ++p)
        appendNameField(text, names.view(p));
    text += ";\r\n";
    for (int k = 0; k < kSlots; ++k) {
        for (int p = 0; p < kPresets; ++p)
            appendValueField(text, bank.get(p, k));
        text += ";\r\n";
    }
    return text;
}

bool SaveBank(std::string_view path, const NameTable& names, const BankMemory& bank)
{
    if (!pathUsable(path))
        return false;
    return platform::writeFileAtomically(std::filesystem::path(path), bankFileText(names, bank));
}

bool LoadBank(std::string_view path, NameTable& names, BankMemory& bank, FieldConversion conversion)
{
    BankReader reader(names, &bank, conversion);
    return streamFile(path, kMostBankFileBytes, [&](const char* data, std::size_t size) { return reader.feed(data, size); });
}

bool LoadNames(std::string_view path, NameTable& names)
{
    BankReader reader(names, nullptr, FieldConversion::Decimal);
    return streamFile(path, 3203, [&](const char* data, std::size_t size) { return reader.feed(data, size); });
}

// ---- Numbered list text -----------------------------------------------------------------------

void ListText::build(const NameTable& names)
{
    length_ = 0;
    for (int slot = 0; slot < kPresets; ++slot) {
        if (slot > 0)
            text_[length_++] = ',';
        // "%3d" of slot + 1 (1-128), without the C library's formatting.
        const int number = slot + 1;
        text_[length_++] = number >= 100 ? static_cast<char>('0' + number / 100) : ' ';
        text_[length_++] = number >= 10 ? static_cast<char>('0' + number / 10 % 10) : ' ';
        text_[length_++] = static_cast<char>('0' + number % 10);
        text_[length_++] = ':';
        // A name holds at most 99 bytes (the widest slot less its NUL), so the buffer has room.
        const std::string_view name = names.view(slot);
        std::memcpy(text_ + length_, name.data(), name.size());
        length_ += name.size();
    }
    text_[length_] = 0;
}

std::string SaveList(const NameTable& names)
{
    const auto text = std::make_unique<ListText>();
    text->build(names);
    return std::string(text->view());
}

void ReadList(std::string_view text, NameTable& names)
{
    text = text.substr(0, text.find('\0'));
    CountedName name;
    int slot = 0;
    bool afterColon = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // A ";" or an LF would end a name field in the preset and bank files. A CR would not, and
        // the name editing rule lets it through, so it stays: the list text comes back unchanged.
        if (c != ',' && afterColon)
            name.take(c == ';' || c == '\n' ? ' ' : c);
        if (c == ',') {
            names.setName(slot, name.view());
            name.restart();
            slot = std::min(slot + 1, kPresets - 1);
            afterColon = false;
        }
        if (i + 1 == text.size()) {
            names.setName(slot, name.view());
            name.restart();
            afterColon = false;
        }
        if (c == ':')
            afterColon = true;
    }
}

// ---- Paths ------------------------------------------------------------------------------------

bool PathBuffer::assign(std::string_view text)
{
    if (text.size() >= kPathBytes || text.find('\0') != std::string_view::npos) {
        clear();
        return false;
    }
    if (!text.empty())  // an empty view may hold a null pointer, which memcpy must not see
        std::memcpy(text_, text.data(), text.size());
    text_[text.size()] = 0;
    length_ = text.size();
    return true;
}

std::optional<std::string> startupBankPathIn(std::string_view baseFolder, std::string_view id)
{
    if (!pin_text::isFolderSafeId(id) || baseFolder.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::string path;
    path.reserve(baseFolder.size() + id.size() + 40);
    path.append(baseFolder);
    path.append("Quorvane/");
    path.append(id);
    path.append("/Presetbase");
    path.append("/DEFAULTBANK.tavbank");
    if (path.size() >= kPathBytes)
        return std::nullopt;
    return path;
}

} // namespace preset_bank
