// Running a patch: the host, the script, the printed events, and the audio written block by block.
#include "Patch.h"

#include "WavWriter.h"
#include "WriteTarget.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <ostream>
#include <string_view>

namespace tav_host {

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
    platform::AtomicWriter writer;
    return writer.begin(path) && writer.write(bytes) && writer.commit();
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

// A fresh folder for a run, removed afterwards: the dialog files, and the file and shared folders
// the patch does not name.
class TempFolder {
public:
    TempFolder() = default;
    ~TempFolder()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool make()
    {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "tavrin-run-XXXXXX").string();
        if (ec || !::mkdtemp(pattern.data()))
            return false;
        path_ = pattern;
        return true;
    }
    // A folder inside, made when missing.
    std::filesystem::path folder(const char* name) const
    {
        std::error_code ec;
        std::filesystem::create_directory(path_ / name, ec);
        return path_ / name;
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// One run of a patch: the run's folders and environment, the host and its graph, the script, the
// printed lines and the audio files.
class PatchRun {
public:
    PatchRun(const Patch& patch, mpapi::IMpFactory* factory, const RunOptions& options, std::ostream& out, std::ostream& err)
        : patch_(patch), factory_(factory), options_(options), out_(out), err_(err)
    {
    }

    int run()
    {
        // Refused before anything runs: a WAV of no outputs, a target that cannot be written.
        if (!options_.wavFile.empty() && patch_.outputs.empty()) {
            err_ << "--wav: the patch has no outputs\n";
            return 2;
        }
        std::string error;
        if (!audio_.open(patch_, options_, error)) {
            err_ << error << "\n";
            return 1;
        }
        if (options_.legend)
            printLegend(patch_, options_, out_);
        if (!temp_.make()) {
            err_ << "cannot make a temporary folder\n";
            return 1;
        }
        HostConfig config;
        config.sampleRate = patch_.sampleRate;
        config.blockLength = patch_.blockLength;
        setUpFolders(config);
        Host host(factory_, config);
        host_ = &host;
        if (!buildGraph())
            return status_;
        host.start();
        if (!checkPins())
            return status_;
        takeDialogs(0);
        flush();
        std::int64_t pos = 0;
        while (pos < patch_.length) {
            if (stopped()) {
                err_ << "interrupted\n";
                return 1;
            }
            const auto count = static_cast<std::int32_t>(std::min<std::int64_t>(patch_.blockLength, patch_.length - pos));
            if (!runScript(pos, count))
                return status_;
            host.runBlock(count);
            takeDialogs(pos + count);
            flush();
            if (!audio_.writeBlock(host, index_, count, error)) {
                problem(stopped() ? "interrupted" : error);
                return status_;
            }
            pos += count;
        }
        host.shutdown();
        takeDialogs(host.samplesRun());
        flush();
        for (const std::string& f : host.faults())
            problem("fault: " + f);
        if (wantedKind("written"))
            printWritten();
        std::vector<std::string> errors;
        audio_.finish(errors);
        for (const std::string& e : errors)
            problem(e);
        return status_;
    }

private:
    bool stopped() const { return options_.stop && *options_.stop; }

    void problem(const std::string& what)
    {
        err_ << what << "\n";
        status_ = 1;
    }

    // The file and shared folders, the environment the bundle reads, and what the folders held
    // before, to tell the files the run wrote.
    void setUpFolders(HostConfig& config)
    {
        namespace fs = std::filesystem;
        // Absolute and without a trailing "/", so that expanded paths are absolute and printed
        // ones find their folder.
        auto folderPath = [](const fs::path& given) {
            std::error_code ec;
            fs::path folder = fs::absolute(given, ec).lexically_normal();
            return folder.has_filename() || !folder.has_relative_path() ? folder : folder.parent_path();
        };
        folders_.file = patch_.fileFolder ? folderPath(*patch_.fileFolder) : temp_.folder("files");
        const char* sharedBefore = std::getenv("TAVRIN_SHARED_FOLDER");
        if (patch_.sharedFolder)
            folders_.shared = folderPath(*patch_.sharedFolder);
        else if (sharedBefore && *sharedBefore)
            folders_.shared = folderPath(sharedBefore);
        else
            folders_.shared = temp_.folder("shared");
        // Folders a patch names are made when missing, as the product finds its folders in place.
        for (const fs::path& named : {folders_.file, folders_.shared}) {
            std::error_code ec;
            fs::create_directories(named, ec);
        }
        config.fileFolder = patch_.fileFolder ? *patch_.fileFolder : folders_.file;
        answersFile_ = temp_.path() / "dialog-answers.txt";
        dialogLog_ = temp_.path() / "dialog-log.txt";
        sharedVariable_.emplace("TAVRIN_SHARED_FOLDER", folders_.shared.string());
        answersVariable_.emplace("TAVRIN_DIALOG_ANSWERS", answersFile_.string());
        logVariable_.emplace("TAVRIN_DIALOG_LOG", dialogLog_.string());

        watched_ = {{folders_.shared, "${sharedFolder}"}, {folders_.file, "${fileFolder}"}};
        std::stable_sort(watched_.begin(), watched_.end(),
                         [](const auto& a, const auto& b) { return a.first.native().size() > b.first.native().size(); });
        for (const auto& w : watched_)
            before_.push_back(scanFiles(w.first, temp_.path()));
    }

    // Modules, initial values, wires and audio inputs. False (status set) on any problem.
    bool buildGraph()
    {
        Host& host = *host_;
        for (const PatchModule& m : patch_.modules) {
            InstanceOptions o;
            o.guiPinCount = m.guiPins;
            auto created = host.addInstance(m.id, o);
            if (!created.instance) {
                problem("module \"" + m.name + "\": " + created.error);
                continue;
            }
            index_[m.name] = *created.instance;
            for (const auto& [e, t] : m.types)
                host.setPinType(*created.instance, e.side, e.pin, t);
        }
        if (status_ != 0)
            return false;
        for (const PatchModule& m : patch_.modules)
            for (const auto& [e, value] : m.init)
                if (!host.setInitialValue(index_[m.name], e.side, e.pin, value))
                    problem("init " + endpointName(e) + ": module \"" + m.name + "\" has no " + sideName(e.side) + " half");
        for (const PatchWire& w : patch_.wires)
            if (!host.connect(index_[w.from.module], w.from.side, w.from.pin, index_[w.to.module], w.to.side, w.to.pin))
                problem("wire " + endpointName(w.from) + " -> " + endpointName(w.to) + ": a module lacks that half");
        const double rate = patch_.sampleRate;
        for (const PatchInput& in : patch_.inputs) {
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
            const std::size_t i = index_[in.pin.module];
            if (!host.setInputFunction(i, in.pin.pin, std::move(f)))
                problem("input " + endpointName(in.pin) + ": no processing half, or pin beyond the host's buffers");
            else
                host.queueStreaming(i, in.pin.pin, in.streaming, 0);
        }
        if (status_ != 0)
            return false;
        // Names by instance index, for printing.
        names_.assign(host.instanceCount(), std::string());
        for (const auto& [n, i] : index_)
            names_[i] = n;
        return true;
    }

    // Pins a processing half refused its buffer for are pins it does not have.
    bool checkPins()
    {
        auto refused = [&](const Endpoint& e, const std::string& what) {
            if (e.side == Side::Dsp && e.pin < host_->config().bufferPins && !host_->bufferAccepted(index_[e.module], e.pin))
                problem(what + " " + endpointName(e) + ": module \"" + e.module + "\" has no such pin (setBuffer refused it)");
        };
        for (const PatchModule& m : patch_.modules)
            for (const auto& [e, value] : m.init)
                refused(e, "init");
        for (const PatchWire& w : patch_.wires) {
            refused(w.from, "wire from");
            refused(w.to, "wire to");
        }
        for (const PatchInput& in : patch_.inputs)
            refused(in.pin, "input");
        for (const ScriptAction& a : patch_.script)
            if (a.kind == ScriptAction::Value || a.kind == ScriptAction::Midi || a.kind == ScriptAction::Streaming)
                refused(a.target, "script");
        for (const PatchOutput& o : patch_.outputs)
            refused(o.pin, "output");
        return status_ == 0;
    }

    bool wantedKind(const char* kind) const
    {
        return std::find(patch_.print.kinds.begin(), patch_.print.kinds.end(), kind) != patch_.print.kinds.end();
    }
    bool wanted(const char* kind, const std::string& module) const
    {
        const auto& m = patch_.print.modules;
        return wantedKind(kind) && (m.empty() || std::find(m.begin(), m.end(), module) != m.end());
    }
    bool hidden(const CallRecord& r) const
    {
        return std::any_of(patch_.print.hide.begin(), patch_.print.hide.end(), [&](const Endpoint& e) {
            return index_.at(e.module) == r.instance && e.side == r.side && e.pin == r.pin;
        });
    }

    // The script actions of the block at pos: events at their sample; interface actions and
    // messages between blocks, before this one. False (status set) when one cannot be done.
    bool runScript(std::int64_t pos, std::int32_t count)
    {
        Host& host = *host_;
        for (; next_ < patch_.script.size() && patch_.script[next_].at < pos + count; ++next_) {
            const ScriptAction& a = patch_.script[next_];
            if (a.kind == ScriptAction::Panel || a.kind == ScriptAction::Alert) {
                // The answer waits in the answers file for the next dialog of its kind.
                const std::string answer = a.kind == ScriptAction::Alert ? (a.alternate ? "alert alternate" : "alert default")
                                           : a.path.empty()               ? "panel cancel"
                                                                          : "panel " + folders_.expand(a.path);
                if (!writeWhole(answersFile_, readWhole(answersFile_) + answer + "\n")) {
                    problem("script: cannot write the dialog answers file " + answersFile_.string());
                    return false;
                }
                if (wantedKind("script"))
                    lines_.emplace_back(pos, "dialog answer <- " + (a.kind == ScriptAction::Panel && !a.path.empty()
                                                                       ? "panel \"" + a.path + "\""
                                                                       : answer));
                continue;
            }
            const std::size_t i = index_[a.target.module];
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
                line = target + " pin " + std::to_string(a.target.pin) + " <- midi " + midiText(a.data);
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
                       std::to_string(a.id) + " size " + std::to_string(a.data.size()) + messageData(a.data, folders_);
                break;
            case ScriptAction::Panel:
            case ScriptAction::Alert:
                break; // answered above
            }
            // Interface actions and messages act between blocks, so at the block's start.
            if (wanted("script", a.target.module))
                lines_.emplace_back(a.kind == ScriptAction::Gui || a.kind == ScriptAction::Message ? pos : pos + time, line);
            if (a.kind == ScriptAction::Gui)
                ok = host.guiSetPin(i, a.target.pin, a.data);
            else if (a.kind == ScriptAction::Message)
                ok = a.target.side == Side::Dsp ? host.postToDsp(i, a.id, a.data) : host.postToGui(i, a.id, a.data);
            takeDialogs(pos);
            if (!ok) {
                problem("script: " + line + ": module \"" + a.target.module + "\" has no " + sideName(a.target.side) + " half");
                return false;
            }
        }
        return true;
    }

    // The dialog requests the bundle logged since the last look, stamped at sample at: printed
    // after the script input that opened them and before the calls of the same stretch.
    void takeDialogs(std::int64_t at)
    {
        const std::string log = readWhole(dialogLog_);
        if (log.size() < logRead_)
            logRead_ = 0;
        const std::size_t end = log.rfind('\n');
        if (end == std::string::npos || end < logRead_)
            return;
        std::string_view fresh = std::string_view(log).substr(logRead_, end + 1 - logRead_);
        logRead_ = end + 1;
        while (!fresh.empty()) {
            const std::size_t cut = fresh.find('\n');
            if (wantedKind("dialog"))
                lines_.emplace_back(at, "dialog  " + folders_.shorten(std::string(fresh.substr(0, cut))));
            fresh.remove_prefix(cut + 1);
        }
    }

    // MIDI bytes in hex, with the note named when the patch asks for it.
    std::string midiText(const Bytes& midi) const
    {
        std::string text = hexBytes(midi.data(), midi.size());
        if (patch_.print.notes)
            if (const std::string note = describeNote(midi); !note.empty())
                text += "  " + note;
        return text;
    }

    // The line of one recorded call; empty when it is not printed.
    std::string callLine(const CallRecord& r) const
    {
        const std::string& module = names_[r.instance];
        const std::string half = module + "." + sideName(r.side);
        const ValueType type = host_->pinType(r.instance, r.side, r.pin);
        switch (r.kind) {
        case CallKind::SendPinValue:
        case CallKind::TransmitPin: {
            const bool midi = type == ValueType::Midi;
            if (wanted(midi ? "midi" : r.kind == CallKind::TransmitPin ? "gui" : "value", module) && !hidden(r))
                return half + " pin " + std::to_string(r.pin) + "  " + (midi ? "midi " + midiText(r.data) : "value " + formatValue(r.data, type));
            break;
        }
        case CallKind::SendPinStreaming:
            if (wanted("streaming", module))
                return half + " pin " + std::to_string(r.pin) + "  streaming " + (!r.data.empty() && r.data[0] ? "on" : "off");
            break;
        case CallKind::RequestSleep:
            if (wanted("sleep", module))
                return half + "  sleep";
            break;
        case CallKind::PostMessageToGui:
        case CallKind::PostMessageToAudio:
            if (wanted("message", module))
                return module + "  message " + (r.kind == CallKind::PostMessageToGui ? "dsp->gui" : "gui->dsp") + " id " +
                       std::to_string(r.pin) + " size " + std::to_string(r.size) + messageData(r.data, folders_);
            break;
        case CallKind::OpenSharedBlock:
            if (wanted("shared", module))
                return half + "  shared block \"" + r.text + "\" size " + std::to_string(r.size) + " -> " + std::to_string(r.result);
            break;
        case CallKind::ExpandFileName:
            if (wanted("file", module))
                return half + "  file \"" + r.text + "\" -> " + std::to_string(r.result);
            break;
        case CallKind::QueryBlockLength:
        case CallKind::QuerySampleRate:
        case CallKind::QueryPinCount:
            if (wanted("query", module))
                return half + "  " + callKindName(r.kind);
            break;
        case CallKind::ReservedSlotCalled:
            break; // reported with the faults
        }
        return "";
    }

    // Prints the script inputs and the calls recorded since the last flush in sample order;
    // within a sample, inputs first, then calls in the order made.
    void flush()
    {
        const Host& host = *host_;
        for (std::size_t i = printed_; i < host.calls().size(); ++i) {
            const CallRecord& r = host.calls()[i];
            std::string line = callLine(r);
            // A sleep request is about what follows the block it came from: stamped at its end.
            const std::int64_t at = r.kind == CallKind::RequestSleep && r.block < host.blocksRun() ? host.samplesRun() : r.sample;
            if (!line.empty())
                lines_.emplace_back(at, std::move(line));
        }
        printed_ = host.calls().size();
        std::stable_sort(lines_.begin(), lines_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [sample, line] : lines_)
            out_ << seconds(sample, patch_.sampleRate) << "  " << line << "\n";
        lines_.clear();
    }

    // The files the run wrote or changed in the file and shared folders, each under the most
    // specific of the two.
    void printWritten()
    {
        namespace fs = std::filesystem;
        std::map<fs::path, std::string> written;
        for (std::size_t w = 0; w < watched_.size(); ++w)
            for (const auto& [file, stamp] : scanFiles(watched_[w].first, temp_.path())) {
                const auto old = before_[w].find(file);
                if ((old == before_[w].end() || old->second != stamp) && !written.contains(file))
                    written[file] = std::string(watched_[w].second) + "/" +
                                    file.lexically_relative(watched_[w].first).generic_string() + "  " +
                                    std::to_string(stamp.first) + " bytes";
            }
        for (const auto& [file, line] : written)
            out_ << seconds(host_->samplesRun(), patch_.sampleRate) << "  written  " << line << "\n";
    }

    const Patch& patch_;
    mpapi::IMpFactory* factory_;
    const RunOptions& options_;
    std::ostream& out_;
    std::ostream& err_;
    int status_ = 0;

    AudioFiles audio_;
    TempFolder temp_;
    RunFolders folders_;
    std::filesystem::path answersFile_;
    std::filesystem::path dialogLog_;
    std::optional<ScopedVariable> sharedVariable_;
    std::optional<ScopedVariable> answersVariable_;
    std::optional<ScopedVariable> logVariable_;
    std::vector<std::pair<std::filesystem::path, const char*>> watched_;
    std::vector<FileStamps> before_;

    Host* host_ = nullptr; // during run
    std::map<std::string, std::size_t> index_;
    std::vector<std::string> names_; // by instance index
    std::size_t next_ = 0;           // the next script action
    std::size_t logRead_ = 0;        // bytes of the dialog log printed
    std::size_t printed_ = 0;        // calls printed
    // Script inputs and dialogs waiting to be printed with the calls of the same stretch, as
    // (sample, line).
    std::vector<std::pair<std::int64_t, std::string>> lines_;
};

} // namespace

int runPatch(const Patch& patch, mpapi::IMpFactory* factory, const RunOptions& options, std::ostream& out, std::ostream& err)
{
    return PatchRun(patch, factory, options, out, err).run();
}

} // namespace tav_host
