// Patch files for tavrin-run: a JSON description of module instances, wires, audio inputs, a
// timed script and recorded outputs (format in host/README.md), and the runner that plays one
// through a Host and prints what leaves the modules.
#pragma once

#include "Host.h"

#include <csignal>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tav_host {

// "name.dsp.3": a pin of one half of a named module.
struct Endpoint {
    std::string module;
    Side side = Side::Dsp;
    std::int32_t pin = 0;
};

struct PatchModule {
    std::string name;
    std::string id;
    std::int32_t guiPins = 0;
    std::vector<std::pair<Endpoint, Bytes>> init;
    std::vector<std::pair<Endpoint, ValueType>> types;
};

struct PatchWire {
    Endpoint from;
    Endpoint to;
};

struct PatchInput {
    enum Signal { Constant, Sine, Ramp } signal = Constant;
    Endpoint pin;
    double value = 0.0;                    // constant
    double freq = 0.0, amp = 1.0, phase = 0.0; // sine: Hz, peak, cycles
    double start = 0.0, end = 1.0;         // ramp, linear then held
    std::int64_t duration = 1;             // ramp length in samples
    bool streaming = false;
};

struct ScriptAction {
    enum Kind { Value, Midi, Streaming, Gui, Message, Panel, Alert } kind = Value;
    std::int64_t at = 0; // samples
    Endpoint target;     // for Message only module and side (the receiving half); none for Panel, Alert
    Bytes data;
    bool on = false;     // Streaming
    std::int32_t id = 0; // Message
    std::string path;    // Panel: the chosen file, may hold ${fileFolder} / ${sharedFolder}; empty: cancel
    bool alternate = false; // Alert: the alternate button, else the default one
};

struct PatchOutput {
    Endpoint pin;
    std::filesystem::path file; // empty: only in the --wav file
};

struct PrintOptions {
    // value midi streaming gui message sleep script dialog written shared file query
    std::vector<std::string> kinds;
    std::vector<std::string> modules; // empty: all
    std::vector<Endpoint> hide;       // pins whose values are not printed
    bool notes = false;               // MIDI note messages also by name ("note on C4 100")
};

struct Patch {
    float sampleRate = 48000.0f;
    std::int32_t blockLength = 64;
    std::int64_t length = 0; // samples
    std::optional<std::filesystem::path> fileFolder;
    std::optional<std::string> sharedFolder;
    std::vector<PatchModule> modules;
    std::vector<PatchWire> wires;
    std::vector<PatchInput> inputs;
    std::vector<ScriptAction> script; // sorted by time, stable
    std::vector<PatchOutput> outputs;
    PrintOptions print;
};

// [load time] Reads and checks a patch. On any problem returns nothing and a message naming the
// key at fault; never throws.
std::optional<Patch> parsePatch(const nlohmann::json& json, std::string& error);
std::optional<Patch> loadPatch(const std::filesystem::path& file, std::string& error);

struct RunOptions {
    std::filesystem::path wavFile; // every output as one channel of one file; "-": standard output; empty: none
    bool legend = false;           // print what the lines mean and where the audio goes first
    // A signal handler's flag: once nonzero the run stops between blocks (or in a blocked write)
    // and returns 1, its temporary files removed.
    const volatile std::sig_atomic_t* stop = nullptr;
};

// Runs the patch on the calling thread, printing one line per event to out and problems to err.
// Returns the process exit code: 0 fine; 1 a module could not be made, refused a pin the patch
// uses or misbehaved, a file could not be written, or the run was stopped; 2 --wav for a patch
// without outputs. Audio files are opened before the run and written block by block.
//
// For the run it keeps a fresh temporary folder (removed afterwards) and sets, restoring them
// afterwards, the environment the bundle reads at each use: TAVRIN_SHARED_FOLDER (the patch's
// sharedFolder, else the variable as it was, else a folder in the temporary one), and
// TAVRIN_DIALOG_ANSWERS / TAVRIN_DIALOG_LOG, the answers file that panel and alert actions append
// to and the log of dialog requests that is printed. Not for concurrent use in one process.
int runPatch(const Patch& patch, mpapi::IMpFactory* factory, const RunOptions& options, std::ostream& out,
             std::ostream& err);

} // namespace tav_host
