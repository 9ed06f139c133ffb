// Running a patch: the host, the script, the printed events, and the audio written block by block.
#include "Patch.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <numbers>
#include <ostream>
#include <string_view>

#include "WavWriter.h"

#include <memory>

namespace tavhost {

namespace {

std::string seconds(std::int64_t sample, float rate)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.6f s", static_cast<double>(sample) / static_cast<double>(rate));
    return buf;
}

std::string sideName(Side s)
{
    return s == Side::Dsp ? "dsp" : "gui";
}
// A variable of the process environment set for the run, given back its old value afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            previous_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable()
    {
        if (previous_)
            ::setenv(name_, previous_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> previous_;
};

// The whole file; empty when it is missing or unreadable.
std::string readWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes a whole file beside its place and renames it over it, so that a reader in the bundle
// never sees half of it.
bool writeWhole(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path tmp = path.string() + ".tmp";
    {
        std::ofstream outFile(tmp, std::ios::binary | std::ios::trunc);
        outFile.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!outFile.flush())
            return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec)
        std::filesystem::remove(tmp, ec);
    return !ec;
}

// The two folders a patch names by placeholder.
struct RunFolders {
    std::filesystem::path file;
    std::filesystem::path shared;

    // ${fileFolder} and ${sharedFolder} replaced by the folders.
    std::string expand(std::string_view text) const
    {
        std::string out;
        for (std::size_t i = 0; i < text.size();) {
            if (text.substr(i, 13) == "${fileFolder}") {
                out += file.string();
                i += 13;
            } else if (text.substr(i, 15) == "${sharedFolder}") {
                out += shared.string();
                i += 15;
            } else {
                out += text[i++];
            }
        }
        return out;
    }

    // The folders written back as placeholders, so that printed lines are the same on every run
    // (the longer folder first, in case one holds the other). Only whole path parts are replaced.
    std::string shorten(std::string text) const
    {
        std::vector<std::pair<std::string, const char*>> names = {{shared.string(), "${sharedFolder}"},
                                                                  {file.string(), "${fileFolder}"}};
        if (names[0].first.size() < names[1].first.size())
            std::swap(names[0], names[1]);
        for (const auto& [folder, placeholder] : names) {
            if (folder.empty() || folder == "/")
                continue;
            for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at)) {
                const std::size_t end = at + folder.size();
                if (end == text.size() || text[end] == '/' || text[end] == '"') {
                    text.replace(at, folder.size(), placeholder);
                    at += std::string_view(placeholder).size();
                } else {
                    at = end;
                }
            }
        }
        return text;
    }
};

// A message payload: a text with its terminating zero (UTF-8 without control characters) as the
// text, with the run's folders as placeholders and cut after 80 bytes; anything else as hex.
std::string messageData(const Bytes& data, const RunFolders& folders)
{
    if (data.empty())
        return "";
    const std::string_view raw(reinterpret_cast<const char*>(data.data()), data.size() - 1);
    const bool text = data.back() == 0 &&
                      std::none_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }) &&
                      wideToUtf8(utf8ToWide(raw)) == raw;
    if (text) {
        constexpr std::size_t kShownText = 80;
        std::string shown = folders.shorten(std::string(raw));
        bool cut = false;
        if (shown.size() > kShownText) {
            std::size_t end = kShownText;
            while (end > 0 && (static_cast<unsigned char>(shown[end]) & 0xC0) == 0x80)
                --end;
            shown.resize(end);
            cut = true;
        }
        std::string escapedText;
        for (char c : shown) {
            if (c == '"' || c == '\\')
                escapedText += '\\';
            escapedText += c;
        }
        return "  text \"" + escapedText + (cut ? "\" ..." : "\"");
    }
    constexpr std::size_t kShown = 32;
    std::string s = "  data " + hexBytes(data.data(), std::min(data.size(), kShown));
    return data.size() > kShown ? s + " ..." : s;
}

// Size and time of each regular file under a folder, for telling which files a run wrote.
// Bounded, so that a patch naming a large folder does not stall the run; skip is left out.
using FileStamps = std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>>;

FileStamps scanFiles(const std::filesystem::path& folder, const std::filesystem::path& skip)
{
    constexpr std::size_t kMostEntries = 10000;
    namespace fs = std::filesystem;
    FileStamps files;
    if (folder.empty())
        return files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (std::size_t seen = 0; !ec && it != fs::recursive_directory_iterator() && seen < kMostEntries;
         it.increment(ec), ++seen) {
        if (it->path() == skip) {
            it.disable_recursion_pending();
            continue;
        }
        std::error_code entry;
        if (!it->is_regular_file(entry) || entry)
            continue;
        const auto size = it->file_size(entry);
        const auto time = it->last_write_time(entry);
        if (!entry)
            files[it->path()] = {size, time};
    }
    return files;
}

std::string endpointName(const Endpoint& e)
{
    return e.module + "." + sideName(e.side) + "." + std::to_string(e.pin);
}

// The WAV files of a run: each output's own file and the --wav file of every output, all opened
// before the run (so that a target that cannot be written is refused at once) and written after
// each block.
class AudioFiles {
public:
    bool open(const Patch& patch, const RunOptions& options, std::string& error)
    {
        patch_ = &patch;
        zeros_.assign(static_cast<std::size_t>(patch.blockLength), 0.0f);
        for (std::size_t o = 0; o < patch.outputs.size(); ++o) {
            if (patch.outputs[o].file.empty())
                continue;
            auto writer = std::make_unique<WavWriter>();
            if (!writer->open(patch.outputs[o].file, 1, patch.length, patch.sampleRate, error, options.stop))
                return false;
            single_.emplace_back(o, std::move(writer));
        }
        if (!options.wavFile.empty()) {
            all_ = std::make_unique<WavWriter>();
            const auto channels = static_cast<std::int32_t>(std::min<std::size_t>(patch.outputs.size(), INT32_MAX));
            if (!all_->open(options.wavFile, channels, patch.length, patch.sampleRate, error, options.stop)) {
                error = "--wav: " + error;
                return false;
            }
            frames_.resize(static_cast<std::size_t>(patch.blockLength) * patch.outputs.size());
        }
        return true;
    }

    // The first count samples of every output's buffer (silence for a pin without one).
    bool writeBlock(const Host& host, const std::map<std::string, std::size_t>& index, std::int32_t count,
                    std::string& error)
    {
        const std::size_t outputs = patch_->outputs.size();
        auto samples = [&](std::size_t o) {
            const Endpoint& pin = patch_->outputs[o].pin;
            const auto buf = host.buffer(index.at(pin.module), pin.pin);
            return buf.empty() ? zeros_.data() : buf.data();
        };
        for (auto& [o, writer] : single_)
            if (!writer->write(samples(o), count, error))
                return false;
        if (!all_)
            return true;
        for (std::size_t o = 0; o < outputs; ++o) {
            const float* from = samples(o);
            for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i)
                frames_[i * outputs + o] = from[i];
        }
        return all_->write(frames_.data(), count, error);
    }

    // Puts every file in place; the reasons of those that failed go to errors.
    void finish(std::vector<std::string>& errors)
    {
        std::string error;
        for (auto& [o, writer] : single_)
            if (!writer->finish(error))
                errors.push_back(error);
        if (all_ && !all_->finish(error))
            errors.push_back("--wav: " + error);
    }

private:
    const Patch* patch_ = nullptr;
    std::vector<std::pair<std::size_t, std::unique_ptr<WavWriter>>> single_; // by output index
    std::unique_ptr<WavWriter> all_;
    std::vector<float> frames_; // one block, interleaved
    std::vector<float> zeros_;
};

// What the lines mean and where the audio goes, so that a run's output reads on its own.
void printLegend(const Patch& patch, const RunOptions& options, std::ostream& out)
{
    out << "# One line per event, in time order: <time> s  <module>.<half> pin <n>  <what>\n"
           "#   half: dsp (processing) or gui (interface); \"<-\": sent in by the patch's script,\n"
           "#   other lines: sent by the modules; ${fileFolder}, ${sharedFolder}: the run's folders.\n";
    char rate[32];
    std::snprintf(rate, sizeof rate, "%g Hz", static_cast<double>(patch.sampleRate));
    for (const PatchOutput& o : patch.outputs)
        if (!o.file.empty())
            out << "# audio: " << o.file.string() << ": " << endpointName(o.pin) << " (" << rate << ", 32-bit float)\n";
    if (!options.wavFile.empty()) {
        out << "# audio: " << (options.wavFile == "-" ? std::string("standard output") : options.wavFile.string()) << ": "
            << patch.outputs.size() << (patch.outputs.size() == 1 ? " channel" : " channels");
        for (std::size_t o = 0; o < patch.outputs.size(); ++o)
            out << (o ? ", " : ": ") << endpointName(patch.outputs[o].pin);
        out << " (" << rate << ", 32-bit float)\n";
    }
}

} // namespace

int runPatch(const Patch& patch, mpapi::IMpFactory* factory, const RunOptions& options, std::ostream& out, std::ostream& err)
{
    namespace fs = std::filesystem;
    HostConfig config;
    config.sampleRate = patch.sampleRate;
    config.blockLength = patch.blockLength;
    // Refused before anything runs: a WAV of no outputs, a target that cannot be written.
    if (!options.wavFile.empty() && patch.outputs.empty()) {
        err << "--wav: the patch has no outputs\n";
        return 2;
    }
    auto stopped = [&] { return options.stop && *options.stop; };
    AudioFiles audio;
    {
        std::string error;
        if (!audio.open(patch, options, error)) {
            err << error << "\n";
            return 1;
        }
    }
    if (options.legend)
        printLegend(patch, options, out);
    // A fresh folder for the run, removed afterwards: the dialog files, and the file and shared
    // folders the patch does not name.
    struct TempFolder {
        fs::path path;
        ~TempFolder()
        {
            std::error_code ec;
            if (!path.empty())
                fs::remove_all(path, ec);
        }
    } tempFolder;
    {
        std::error_code ec;
        std::string pattern = (fs::temp_directory_path(ec) / "tavrin-run-XXXXXX").string();
        if (ec || !mkdtemp(pattern.data())) {
            err << "cannot make a temporary folder\n";
            return 1;
        }
        tempFolder.path = pattern;
    }
    auto madeFolder = [&](const char* name) {
        std::error_code ec;
        fs::create_directory(tempFolder.path / name, ec);
        return tempFolder.path / name;
    };
    // Absolute and without a trailing "/", so that expanded paths are absolute and printed ones
    // find their folder.
    auto folderPath = [](const fs::path& given) {
        std::error_code ec;
        fs::path folder = fs::absolute(given, ec).lexically_normal();
        return folder.has_filename() || !folder.has_relative_path() ? folder : folder.parent_path();
    };
    RunFolders folders;
    folders.file = patch.fileFolder ? folderPath(*patch.fileFolder) : madeFolder("files");
    const char* sharedBefore = std::getenv("TAVRIN_SHARED_FOLDER");
    if (patch.sharedFolder)
        folders.shared = folderPath(*patch.sharedFolder);
    else if (sharedBefore && *sharedBefore)
        folders.shared = folderPath(sharedBefore);
    else
        folders.shared = madeFolder("shared");
    // Folders a patch names are made when missing, as the product finds its folders in place.
    for (const fs::path& named : {folders.file, folders.shared}) {
        std::error_code ec;
        fs::create_directories(named, ec);
    }
    config.fileFolder = patch.fileFolder ? *patch.fileFolder : folders.file;
    const fs::path answersFile = tempFolder.path / "dialog-answers.txt";
    const fs::path dialogLog = tempFolder.path / "dialog-log.txt";
    const ScopedVariable sharedVariable("TAVRIN_SHARED_FOLDER", folders.shared.string());
    const ScopedVariable answersVariable("TAVRIN_DIALOG_ANSWERS", answersFile.string());
    const ScopedVariable logVariable("TAVRIN_DIALOG_LOG", dialogLog.string());

    // What the folders held before, to tell the files the run wrote.
    std::vector<std::pair<fs::path, const char*>> watched = {{folders.shared, "${sharedFolder}"},
                                                             {folders.file, "${fileFolder}"}};
    std::stable_sort(watched.begin(), watched.end(),
                     [](const auto& a, const auto& b) { return a.first.native().size() > b.first.native().size(); });
    std::vector<FileStamps> before;
    for (const auto& w : watched)
        before.push_back(scanFiles(w.first, tempFolder.path));

    Host host(factory, config);

    std::map<std::string, std::size_t> index;
    int status = 0;
    for (const PatchModule& m : patch.modules) {
        InstanceOptions o;
        o.guiPinCount = m.guiPins;
        auto created = host.addInstance(m.id, o);
        if (!created.instance) {
            err << "module \"" << m.name << "\": " << created.error << "\n";
            status = 1;
            continue;
        }
        index[m.name] = *created.instance;
        for (const auto& [e, t] : m.types)
            host.setPinType(*created.instance, e.side, e.pin, t);
    }
    if (status != 0)
        return status;

    auto problem = [&](const std::string& what) {
        err << what << "\n";
        status = 1;
    };
    const auto& name = endpointName;
    for (const PatchModule& m : patch.modules)
        for (const auto& [e, value] : m.init)
            if (!host.setInitialValue(index[m.name], e.side, e.pin, value))
                problem("init " + name(e) + ": module \"" + m.name + "\" has no " + sideName(e.side) + " half");
    for (const PatchWire& w : patch.wires)
        if (!host.connect(index[w.from.module], w.from.side, w.from.pin, index[w.to.module], w.to.side, w.to.pin))
            problem("wire " + name(w.from) + " -> " + name(w.to) + ": a module lacks that half");
    const double rate = patch.sampleRate;
    for (const PatchInput& in : patch.inputs) {
        std::function<float(std::int64_t)> f;
        switch (in.signal) {
        case PatchInput::Constant:
            f = [v = in.value](std::int64_t) { return static_cast<float>(v); };
            break;
        case PatchInput::Sine:
            f = [in, rate](std::int64_t n) {
                const double cycles = in.freq * static_cast<double>(n) / rate + in.phase;
                return static_cast<float>(in.amp * std::sin(2.0 * std::numbers::pi * cycles));
            };
            break;
        case PatchInput::Ramp:
            f = [in](std::int64_t n) {
                const double x = std::min(1.0, static_cast<double>(n) / static_cast<double>(in.duration));
                return static_cast<float>(in.start + (in.end - in.start) * x);
            };
            break;
        }
        const std::size_t i = index[in.pin.module];
        if (!host.setInputFunction(i, in.pin.pin, std::move(f)))
            problem("input " + name(in.pin) + ": no processing half, or pin beyond the host's buffers");
        else
            host.queueStreaming(i, in.pin.pin, in.streaming, 0);
    }
    if (status != 0)
        return status;

    // Names by instance index, for printing.
    std::vector<std::string> names(host.instanceCount());
    for (const auto& [n, i] : index)
        names[i] = n;
    auto wantedKind = [&](const char* kind) {
        return std::find(patch.print.kinds.begin(), patch.print.kinds.end(), kind) != patch.print.kinds.end();
    };
    auto wanted = [&](const char* kind, const std::string& module) {
        const auto& m = patch.print.modules;
        return wantedKind(kind) && (m.empty() || std::find(m.begin(), m.end(), module) != m.end());
    };
    auto hidden = [&](const CallRecord& r) {
        return std::any_of(patch.print.hide.begin(), patch.print.hide.end(), [&](const Endpoint& e) {
            return index[e.module] == r.instance && e.side == r.side && e.pin == r.pin;
        });
    };

    // Script inputs waiting to be printed with the calls of the same stretch, as (sample, line).
    std::vector<std::pair<std::int64_t, std::string>> lines;
    // The dialog requests the bundle logged since the last look, stamped at sample at: printed
    // after the script input that opened them and before the calls of the same stretch.
    std::size_t logRead = 0;
    auto takeDialogs = [&](std::int64_t at) {
        const std::string log = readWhole(dialogLog);
        if (log.size() < logRead)
            logRead = 0;
        const std::size_t end = log.rfind('\n');
        if (end == std::string::npos || end < logRead)
            return;
        std::string_view fresh = std::string_view(log).substr(logRead, end + 1 - logRead);
        logRead = end + 1;
        while (!fresh.empty()) {
            const std::size_t cut = fresh.find('\n');
            if (wantedKind("dialog"))
                lines.emplace_back(at, "dialog  " + folders.shorten(std::string(fresh.substr(0, cut))));
            fresh.remove_prefix(cut + 1);
        }
    };
    // Prints the script inputs and the calls recorded since the last flush in sample order;
    // within a sample, inputs first, then calls in the order made.
    std::size_t printed = 0;
    auto flush = [&] {
        for (std::size_t i = printed; i < host.calls().size(); ++i) {
            const CallRecord& r = host.calls()[i];
            const std::string& module = names[r.instance];
            const std::string half = module + "." + sideName(r.side);
            const ValueType type = host.pinType(r.instance, r.side, r.pin);
            std::string line;
            switch (r.kind) {
            case CallKind::SendPinValue:
            case CallKind::TransmitPin: {
                const bool midi = type == ValueType::Midi;
                if (wanted(midi ? "midi" : r.kind == CallKind::TransmitPin ? "gui" : "value", module) && !hidden(r))
                    line = half + " pin " + std::to_string(r.pin) + "  " + (midi ? "midi " : "value ") + formatValue(r.data, type);
                break;
            }
            case CallKind::SendPinStreaming:
                if (wanted("streaming", module))
                    line = half + " pin " + std::to_string(r.pin) + "  streaming " + (!r.data.empty() && r.data[0] ? "on" : "off");
                break;
            case CallKind::RequestSleep:
                if (wanted("sleep", module))
                    line = half + "  sleep";
                break;
            case CallKind::PostMessageToGui:
            case CallKind::PostMessageToAudio:
                if (wanted("message", module))
                    line = module + "  message " + (r.kind == CallKind::PostMessageToGui ? "dsp->gui" : "gui->dsp") + " id " +
                           std::to_string(r.pin) + " size " + std::to_string(r.size) + messageData(r.data, folders);
                break;
            case CallKind::OpenSharedBlock:
                if (wanted("shared", module))
                    line = half + "  shared block \"" + r.text + "\" size " + std::to_string(r.size) + " -> " + std::to_string(r.result);
                break;
            case CallKind::ExpandFileName:
                if (wanted("file", module))
                    line = half + "  file \"" + r.text + "\" -> " + std::to_string(r.result);
                break;
            case CallKind::QueryBlockLength:
            case CallKind::QuerySampleRate:
            case CallKind::QueryPinCount:
                if (wanted("query", module))
                    line = half + "  " + callKindName(r.kind);
                break;
            case CallKind::ReservedSlotCalled:
                break; // reported with the faults
            }
            // A sleep request is about what follows the block it came from: stamped at its end.
            const std::int64_t at = r.kind == CallKind::RequestSleep && r.block < host.blocksRun() ? host.samplesRun() : r.sample;
            if (!line.empty())
                lines.emplace_back(at, std::move(line));
        }
        printed = host.calls().size();
        std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [sample, line] : lines)
            out << seconds(sample, patch.sampleRate) << "  " << line << "\n";
        lines.clear();
    };

    std::size_t next = 0;
    std::int64_t pos = 0;
    host.start();
    // Pins a processing half refused its buffer for are pins it does not have.
    auto refused = [&](const Endpoint& e, const std::string& what) {
        if (e.side == Side::Dsp && e.pin < config.bufferPins && !host.bufferAccepted(index[e.module], e.pin))
            problem(what + " " + name(e) + ": module \"" + e.module + "\" has no such pin (setBuffer refused it)");
    };
    for (const PatchModule& m : patch.modules)
        for (const auto& [e, value] : m.init)
            refused(e, "init");
    for (const PatchWire& w : patch.wires) {
        refused(w.from, "wire from");
        refused(w.to, "wire to");
    }
    for (const PatchInput& in : patch.inputs)
        refused(in.pin, "input");
    for (const ScriptAction& a : patch.script)
        if (a.kind == ScriptAction::Value || a.kind == ScriptAction::Midi || a.kind == ScriptAction::Streaming)
            refused(a.target, "script");
    for (const PatchOutput& o : patch.outputs)
        refused(o.pin, "output");
    if (status != 0)
        return status;
    takeDialogs(0);
    flush();
    while (pos < patch.length) {
        if (stopped()) {
            err << "interrupted\n";
            return 1;
        }
        const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(patch.blockLength, patch.length - pos));
        // Script actions of this block: events at their sample; interface actions and messages
        // between blocks, before this one.
        for (; next < patch.script.size() && patch.script[next].at < pos + count; ++next) {
            const ScriptAction& a = patch.script[next];
            if (a.kind == ScriptAction::Panel || a.kind == ScriptAction::Alert) {
                // The answer waits in the answers file for the next dialog of its kind.
                const std::string answer = a.kind == ScriptAction::Alert ? (a.alternate ? "alert alternate" : "alert default")
                                           : a.path.empty()               ? "panel cancel"
                                                                          : "panel " + folders.expand(a.path);
                if (!writeWhole(answersFile, readWhole(answersFile) + answer + "\n")) {
                    problem("script: cannot write the dialog answers file " + answersFile.string());
                    return status;
                }
                if (wantedKind("script"))
                    lines.emplace_back(pos, "dialog answer <- " + (a.kind == ScriptAction::Panel && !a.path.empty()
                                                                      ? "panel \"" + a.path + "\""
                                                                      : answer));
                continue;
            }
            const std::size_t i = index[a.target.module];
            const auto time = static_cast<std::int32_t>(std::max<std::int64_t>(0, a.at - pos));
            const std::string target = a.target.module + "." + sideName(a.target.side);
            const ValueType type = host.pinType(i, a.target.side, a.target.pin);
            bool ok = true;
            std::string line;
            switch (a.kind) {
            case ScriptAction::Value:
                ok = host.queuePinValue(i, a.target.pin, a.data, time);
                line = target + " pin " + std::to_string(a.target.pin) + " <- value " + formatValue(a.data, type);
                break;
            case ScriptAction::Midi:
                ok = host.queueMidi(i, a.target.pin, a.data, time);
                line = target + " pin " + std::to_string(a.target.pin) + " <- midi " + hexBytes(a.data.data(), a.data.size());
                break;
            case ScriptAction::Streaming:
                ok = host.queueStreaming(i, a.target.pin, a.on, time);
                line = target + " pin " + std::to_string(a.target.pin) + " <- streaming " + (a.on ? "on" : "off");
                break;
            case ScriptAction::Gui:
                line = target + " pin " + std::to_string(a.target.pin) + " <- " + formatValue(a.data, type);
                break;
            case ScriptAction::Message:
                line = std::string("message host->") + sideName(a.target.side) + " " + a.target.module + " id " +
                       std::to_string(a.id) + " size " + std::to_string(a.data.size()) + messageData(a.data, folders);
                break;
            case ScriptAction::Panel:
            case ScriptAction::Alert:
                break; // answered above
            }
            // Interface actions and messages act between blocks, so at the block's start.
            if (wanted("script", a.target.module))
                lines.emplace_back(a.kind == ScriptAction::Gui || a.kind == ScriptAction::Message ? pos : pos + time, line);
            if (a.kind == ScriptAction::Gui)
                ok = host.guiSetPin(i, a.target.pin, a.data);
            else if (a.kind == ScriptAction::Message)
                ok = a.target.side == Side::Dsp ? host.postToDsp(i, a.id, a.data) : host.postToGui(i, a.id, a.data);
            takeDialogs(pos);
            if (!ok) {
                problem("script: " + line + ": module \"" + a.target.module + "\" has no " + sideName(a.target.side) + " half");
                return status;
            }
        }
        host.runBlock(count);
        takeDialogs(pos + count);
        flush();
        std::string error;
        if (!audio.writeBlock(host, index, count, error)) {
            problem(stopped() ? "interrupted" : error);
            return status;
        }
        pos += count;
    }
    host.shutdown();
    takeDialogs(host.samplesRun());
    flush();
    for (const std::string& f : host.faults())
        problem("fault: " + f);

    // The files the run wrote or changed in the file and shared folders, each under the most
    // specific of the two.
    if (wantedKind("written")) {
        std::map<fs::path, std::string> written;
        for (std::size_t w = 0; w < watched.size(); ++w)
            for (const auto& [file, stamp] : scanFiles(watched[w].first, tempFolder.path)) {
                const auto old = before[w].find(file);
                if ((old == before[w].end() || old->second != stamp) && !written.contains(file))
                    written[file] = std::string(watched[w].second) + "/" +
                                    file.lexically_relative(watched[w].first).generic_string() + "  " +
                                    std::to_string(stamp.first) + " bytes";
            }
        for (const auto& [file, line] : written)
            out << seconds(host.samplesRun(), patch.sampleRate) << "  written  " << line << "\n";
    }

    std::vector<std::string> errors;
    audio.finish(errors);
    for (const std::string& e : errors)
        problem(e);
    return status;
}

} // namespace tavhost
