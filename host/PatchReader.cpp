// Reading patch files: every key checked, and every problem named by where it was found.
#include "Patch.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

namespace tav_host {

using nlohmann::json;

namespace {


// An integer of the JSON text; nothing for a non-integer or one beyond 64-bit signed range, which
// the library would otherwise wrap around to a negative number.
std::optional<std::int64_t> wholeNumber(const json& v)
{
    if (v.is_number_unsigned()) {
        const auto u = v.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(u);
    }
    if (v.is_number_integer())
        return v.get<std::int64_t>();
    return std::nullopt;
}

// An integer within lo..hi.
std::optional<std::int64_t> wholeNumber(const json& v, std::int64_t lo, std::int64_t hi)
{
    const auto n = wholeNumber(v);
    return n && *n >= lo && *n <= hi ? n : std::nullopt;
}

// Whether a float field holds the number: samples and values are 32-bit floats.
bool fitsFloat(double x)
{
    return std::isfinite(x) && std::fabs(x) <= std::numeric_limits<float>::max();
}

// Parse state: the first error wins and names where it was found.
struct Reader {
    std::string error;
    float sampleRate = 48000.0f;

    bool fail(const std::string& where, const std::string& what)
    {
        if (error.empty())
            error = where + ": " + what;
        return false;
    }

    bool onlyKeys(const json& obj, std::initializer_list<const char*> keys, const std::string& where)
    {
        if (!obj.is_object())
            return fail(where, "must be an object");
        for (auto it = obj.begin(); it != obj.end(); ++it)
            if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return it.key() == k; }))
                return fail(where, "unknown key \"" + it.key() + "\"");
        return true;
    }

    bool string(const json& obj, const char* key, std::string& out, const std::string& where, bool required = true)
    {
        if (!obj.contains(key))
            return !required || fail(where, std::string("missing \"") + key + "\"");
        if (!obj[key].is_string())
            return fail(where + "." + key, "must be a string");
        out = obj[key].get<std::string>();
        return true;
    }

    bool number(const json& obj, const char* key, double& out, const std::string& where, bool required = false)
    {
        if (!obj.contains(key))
            return !required || fail(where, std::string("missing \"") + key + "\"");
        if (!obj[key].is_number())
            return fail(where + "." + key, "must be a number");
        out = obj[key].get<double>();
        if (!fitsFloat(out))
            return fail(where + "." + key, "must be a finite number within +-3.4e38");
        return true;
    }

    bool boolean(const json& obj, const char* key, bool& out, const std::string& where)
    {
        if (!obj.contains(key))
            return true;
        if (!obj[key].is_boolean())
            return fail(where + "." + key, "must be true or false");
        out = obj[key].get<bool>();
        return true;
    }

    // A time: an integer counts samples; a string "12.5ms" or "0.25s" is converted at the patch's
    // sample rate; "480" is samples.
    bool time(const json& v, std::int64_t& out, const std::string& where)
    {
        if (v.is_number_integer()) {
            const auto n = wholeNumber(v);
            if (!n)
                return fail(where, "is too large");
            out = *n;
            return out >= 0 || fail(where, "must not be negative");
        }
        if (!v.is_string())
            return fail(where, "must be whole samples (480) or a text with unit (\"10ms\", \"0.5s\")");
        const std::string s = v.get<std::string>();
        double number = 0;
        auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), number);
        const std::string unit(end, s.data() + s.size());
        double factor = 0;
        if (unit == "s")
            factor = sampleRate;
        else if (unit == "ms")
            factor = sampleRate / 1000.0;
        else if (unit.empty() || unit == "samples")
            factor = 1.0;
        if (ec != std::errc() || factor == 0 || !std::isfinite(number) || number < 0 || number * factor > 1e15)
            return fail(where, "\"" + s + "\" is not a time (samples, \"10ms\" or \"0.5s\")");
        out = std::llround(number * factor);
        return true;
    }

    bool endpoint(const std::string& text, bool withPin, Endpoint& out, const std::string& where)
    {
        const std::string expected = withPin ? "\"name.dsp.N\" or \"name.gui.N\"" : "\"name.dsp\" or \"name.gui\"";
        std::string rest = text;
        if (withPin) {
            const auto dot = rest.rfind('.');
            if (dot == std::string::npos)
                return fail(where, "\"" + text + "\" must be " + expected);
            const std::string pin = rest.substr(dot + 1);
            auto [end, ec] = std::from_chars(pin.data(), pin.data() + pin.size(), out.pin);
            if (pin.empty() || ec != std::errc() || end != pin.data() + pin.size() || out.pin < 0)
                return fail(where, "\"" + text + "\" must be " + expected);
            rest.resize(dot);
        }
        const auto dot = rest.rfind('.');
        if (dot == std::string::npos || dot == 0)
            return fail(where, "\"" + text + "\" must be " + expected);
        const std::string side = rest.substr(dot + 1);
        if (side != "dsp" && side != "gui")
            return fail(where, "\"" + text + "\" must be " + expected);
        out.side = side == "dsp" ? Side::Dsp : Side::Gui;
        out.module = rest.substr(0, dot);
        return true;
    }

    bool byteList(const json& v, Bytes& out, const std::string& where)
    {
        out.clear();
        if (v.is_string()) {
            // Hex pairs, spaces allowed: "90 3C 7F".
            const std::string s = v.get<std::string>();
            std::string digits;
            for (char c : s)
                if (c != ' ')
                    digits.push_back(c);
            if (digits.size() % 2)
                return fail(where, "hex bytes must come in pairs");
            for (std::size_t i = 0; i < digits.size(); i += 2) {
                std::uint8_t b = 0;
                auto [end, ec] = std::from_chars(digits.data() + i, digits.data() + i + 2, b, 16);
                if (ec != std::errc() || end != digits.data() + i + 2)
                    return fail(where, "\"" + s + "\" is not hex bytes");
                out.push_back(b);
            }
            return true;
        }
        if (!v.is_array())
            return fail(where, "must be an array of bytes or a hex text");
        for (const auto& b : v) {
            const auto byte = wholeNumber(b, 0, 255);
            if (!byte)
                return fail(where, "bytes must be integers 0..255");
            out.push_back(static_cast<std::uint8_t>(*byte));
        }
        return true;
    }

    // {"float": 0.5} | {"int": 3} | {"bool": true} | {"text": "abc"} | {"midi": ...} | {"bytes": ...}
    bool value(const json& v, Bytes& out, ValueType* type, const std::string& where)
    {
        if (!v.is_object() || v.size() != 1)
            return fail(where, "must be one typed value such as {\"float\": 0.5}");
        const std::string key = v.begin().key();
        const json& x = v.begin().value();
        ValueType t = ValueType::Raw;
        if (key == "float") {
            if (!x.is_number() || !fitsFloat(x.get<double>()))
                return fail(where, "float must be a number within +-3.4e38");
            out = floatValue(static_cast<float>(x.get<double>()));
            t = ValueType::Float;
        } else if (key == "int") {
            const auto n = wholeNumber(x, INT32_MIN, INT32_MAX);
            if (!n)
                return fail(where, "int must be a 32-bit integer");
            out = intValue(static_cast<std::int32_t>(*n));
            t = ValueType::Int;
        } else if (key == "bool") {
            if (!x.is_boolean())
                return fail(where, "bool must be true or false");
            out = boolValue(x.get<bool>());
            t = ValueType::Bool;
        } else if (key == "text") {
            if (!x.is_string())
                return fail(where, "text must be a string");
            out = textValue(std::string_view(x.get_ref<const std::string&>()));
            t = ValueType::Text;
        } else if (key == "midi" || key == "bytes") {
            if (!byteList(x, out, where + "." + key))
                return false;
            t = key == "midi" ? ValueType::Midi : ValueType::Raw;
        } else {
            return fail(where, "unknown value type \"" + key + "\" (float, int, bool, text, midi, bytes)");
        }
        if (type)
            *type = t;
        return true;
    }

    bool typeName(const json& v, ValueType& out, const std::string& where)
    {
        static const std::map<std::string, ValueType> names = {
            {"float", ValueType::Float}, {"int", ValueType::Int},     {"bool", ValueType::Bool}, {"text", ValueType::Text},
            {"midi", ValueType::Midi},   {"audio", ValueType::Audio}, {"bytes", ValueType::Raw}};
        if (!v.is_string() || !names.contains(v.get<std::string>()))
            return fail(where, "must be one of float, int, bool, text, midi, audio, bytes");
        out = names.at(v.get<std::string>());
        return true;
    }

    // A pin key inside a module: "dsp.1" / "gui.0".
    bool pinKey(const std::string& module, const std::string& key, Endpoint& out, const std::string& where)
    {
        return endpoint(module + "." + key, true, out, where + "." + key);
    }

    // An interface pin the host reports: below the module's "guiPins".
    bool interfacePin(const Endpoint& e, std::int32_t guiPins, const std::string& where)
    {
        return e.side != Side::Gui || e.pin < guiPins ||
               fail(where, "\"" + e.module + ".gui." + std::to_string(e.pin) + "\" is beyond the module's " +
                               std::to_string(guiPins) + " interface pins (\"guiPins\")");
    }

    bool module(const json& m, PatchModule& out, const std::string& where)
    {
        if (!onlyKeys(m, {"name", "id", "guiPins", "init", "types"}, where) || !string(m, "name", out.name, where) ||
            !string(m, "id", out.id, where))
            return false;
        if (out.name.empty() || out.name.find('.') != std::string::npos)
            return fail(where + ".name", "must be non-empty and without dots");
        if (m.contains("guiPins")) {
            const auto g = wholeNumber(m["guiPins"], 0, 4096);
            if (!g)
                return fail(where + ".guiPins", "must be an integer 0..4096");
            out.guiPins = static_cast<std::int32_t>(*g);
        }
        if (m.contains("types")) {
            if (!m["types"].is_object())
                return fail(where + ".types", "must be an object of \"dsp.N\"/\"gui.N\": type");
            for (auto it = m["types"].begin(); it != m["types"].end(); ++it) {
                Endpoint e;
                ValueType t{};
                if (!pinKey(out.name, it.key(), e, where + ".types") || !interfacePin(e, out.guiPins, where + ".types." + it.key()) ||
                    !typeName(it.value(), t, where + ".types." + it.key()))
                    return false;
                out.types.emplace_back(e, t);
            }
        }
        if (m.contains("init")) {
            if (!m["init"].is_object())
                return fail(where + ".init", "must be an object of \"dsp.N\"/\"gui.N\": typed value");
            for (auto it = m["init"].begin(); it != m["init"].end(); ++it) {
                Endpoint e;
                Bytes b;
                ValueType t{};
                if (!pinKey(out.name, it.key(), e, where + ".init") || !interfacePin(e, out.guiPins, where + ".init." + it.key()) ||
                    !value(it.value(), b, &t, where + ".init." + it.key()))
                    return false;
                out.init.emplace_back(e, std::move(b));
                // A typed initial value also tells how to print the pin, unless types says so.
                if (std::none_of(out.types.begin(), out.types.end(), [&](const auto& p) {
                        return p.first.side == e.side && p.first.pin == e.pin;
                    }))
                    out.types.emplace_back(e, t);
            }
        }
        return true;
    }

    bool input(const json& i, PatchInput& out, const std::string& where)
    {
        if (!onlyKeys(i, {"pin", "signal", "value", "freq", "amp", "phase", "start", "end", "duration", "streaming"}, where))
            return false;
        std::string pin, signal;
        if (!string(i, "pin", pin, where) || !endpoint(pin, true, out.pin, where + ".pin") ||
            !string(i, "signal", signal, where))
            return false;
        if (out.pin.side != Side::Dsp)
            return fail(where + ".pin", "audio inputs feed processing pins (name.dsp.N)");
        if (signal == "constant") {
            out.signal = PatchInput::Constant;
            if (!number(i, "value", out.value, where, true))
                return false;
        } else if (signal == "sine") {
            out.signal = PatchInput::Sine;
            out.streaming = true;
            if (!number(i, "freq", out.freq, where, true) || !number(i, "amp", out.amp, where) ||
                !number(i, "phase", out.phase, where))
                return false;
        } else if (signal == "ramp") {
            out.signal = PatchInput::Ramp;
            out.streaming = true;
            if (!number(i, "start", out.start, where) || !number(i, "end", out.end, where))
                return false;
            if (!i.contains("duration"))
                return fail(where, "missing \"duration\"");
            if (!time(i["duration"], out.duration, where + ".duration"))
                return false;
            out.duration = std::max<std::int64_t>(out.duration, 1);
        } else {
            return fail(where + ".signal", "must be constant, sine or ramp");
        }
        return boolean(i, "streaming", out.streaming, where);
    }

    // A file path of a dialog answer: absolute, or starting with a folder placeholder; one line.
    bool answerPath(const std::string& path, const std::string& where)
    {
        if (path.find_first_of(std::string("\n\r\0", 3)) != std::string::npos)
            return fail(where, "must be one line without NUL");
        for (std::size_t at = path.find("${"); at != std::string::npos; at = path.find("${", at + 2))
            if (path.compare(at, 13, "${fileFolder}") != 0 && path.compare(at, 15, "${sharedFolder}") != 0)
                return fail(where, "\"" + path + "\": the placeholders are ${fileFolder} and ${sharedFolder}");
        if (path.rfind("/", 0) != 0 && path.rfind("${fileFolder}", 0) != 0 && path.rfind("${sharedFolder}", 0) != 0)
            return fail(where, "\"" + path + "\" must be absolute or start with ${fileFolder} or ${sharedFolder}");
        return true;
    }

    // {"action": "panel", "path": ...} / {"action": "panel", "cancel": true} /
    // {"action": "alert", "button": "default" | "alternate"}
    bool dialogAnswer(const json& a, const std::string& kind, ScriptAction& out, const std::string& where)
    {
        if (a.contains("target"))
            return fail(where + ".target", "a dialog answer goes to no module");
        if (kind == "panel") {
            if (!onlyKeys(a, {"at", "action", "path", "cancel"}, where))
                return false;
            out.kind = ScriptAction::Panel;
            bool cancel = false;
            if (!boolean(a, "cancel", cancel, where) || !string(a, "path", out.path, where, false))
                return false;
            if (cancel == a.contains("path") || (a.contains("cancel") && !cancel))
                return fail(where, "a panel answer is \"path\" or \"cancel\": true");
            return cancel || answerPath(out.path, where + ".path");
        }
        if (!onlyKeys(a, {"at", "action", "button"}, where))
            return false;
        out.kind = ScriptAction::Alert;
        std::string button;
        if (!string(a, "button", button, where))
            return false;
        if (button != "default" && button != "alternate")
            return fail(where + ".button", "must be \"default\" or \"alternate\"");
        out.alternate = button == "alternate";
        return true;
    }

    bool action(const json& a, ScriptAction& out, const std::string& where)
    {
        std::string kind, target;
        if (!a.is_object())
            return fail(where, "must be an object");
        if (!a.contains("at"))
            return fail(where, "missing \"at\"");
        if (!time(a["at"], out.at, where + ".at") || !string(a, "action", kind, where))
            return false;
        if (kind == "panel" || kind == "alert")
            return dialogAnswer(a, kind, out, where);
        if (!onlyKeys(a, {"at", "action", "target", "value", "midi", "on", "id", "data"}, where) ||
            !string(a, "target", target, where))
            return false;
        if (kind == "message") {
            out.kind = ScriptAction::Message;
            if (!endpoint(target, false, out.target, where + ".target"))
                return false;
            const auto id = a.contains("id") ? wholeNumber(a["id"], INT32_MIN, INT32_MAX) : std::nullopt;
            if (!id)
                return fail(where, "message needs an integer \"id\"");
            out.id = static_cast<std::int32_t>(*id);
            return !a.contains("data") || value(a["data"], out.data, nullptr, where + ".data");
        }
        if (!endpoint(target, true, out.target, where + ".target"))
            return false;
        if (kind == "value" || kind == "gui") {
            out.kind = kind == "value" ? ScriptAction::Value : ScriptAction::Gui;
            if ((out.kind == ScriptAction::Value) != (out.target.side == Side::Dsp))
                return fail(where + ".target", kind == "value" ? "value goes to a processing pin (name.dsp.N)"
                                                               : "gui goes to an interface pin (name.gui.N)");
            if (!a.contains("value"))
                return fail(where, "missing \"value\"");
            return value(a["value"], out.data, nullptr, where + ".value");
        }
        if (kind == "midi") {
            out.kind = ScriptAction::Midi;
            if (out.target.side != Side::Dsp)
                return fail(where + ".target", "midi goes to a processing pin (name.dsp.N)");
            if (!a.contains("midi"))
                return fail(where, "missing \"midi\"");
            return byteList(a["midi"], out.data, where + ".midi");
        }
        if (kind == "streaming") {
            out.kind = ScriptAction::Streaming;
            if (out.target.side != Side::Dsp)
                return fail(where + ".target", "streaming goes to a processing pin (name.dsp.N)");
            if (!a.contains("on") || !a["on"].is_boolean())
                return fail(where, "streaming needs \"on\": true or false");
            out.on = a["on"].get<bool>();
            return true;
        }
        return fail(where + ".action", "must be value, midi, streaming, gui, message, panel or alert");
    }

    bool patch(const json& j, Patch& p)
    {
        if (!onlyKeys(j, {"sampleRate", "blockLength", "length", "fileFolder", "sharedFolder", "modules", "wires",
                          "inputs", "script", "outputs", "print", "comment"},
                      "patch"))
            return false;
        // Modules first: every later section names them.
        if (!settings(j, p) || !modules(j, p))
            return false;
        const json* wireList = list(j, "wires");
        const json* inputList = list(j, "inputs");
        const json* scriptList = list(j, "script");
        const json* outputList = list(j, "outputs");
        return wireList && inputList && scriptList && outputList && wires(*wireList, p) && inputs(*inputList, p) &&
               script(*scriptList, p) && outputs(*outputList, p) && print(j, p);
    }

    // The run's numbers and folders.
    bool settings(const json& j, Patch& p)
    {
        double rate = 48000.0;
        if (!number(j, "sampleRate", rate, "patch"))
            return false;
        if (rate < 1.0 || rate > 1e7)
            return fail("patch.sampleRate", "must be 1..10000000");
        p.sampleRate = sampleRate = static_cast<float>(rate);
        if (j.contains("blockLength")) {
            const auto length = wholeNumber(j["blockLength"], 1, 65536);
            if (!length)
                return fail("patch.blockLength", "must be an integer 1..65536");
            p.blockLength = static_cast<std::int32_t>(*length);
        }
        if (!j.contains("length"))
            return fail("patch", "missing \"length\"");
        if (!time(j["length"], p.length, "patch.length"))
            return false;
        if (p.length > INT32_MAX)
            return fail("patch.length", "at most 2147483647 samples");
        std::string folder;
        if (j.contains("fileFolder")) {
            if (!string(j, "fileFolder", folder, "patch"))
                return false;
            p.fileFolder = folder;
        }
        if (j.contains("sharedFolder")) {
            if (!string(j, "sharedFolder", folder, "patch"))
                return false;
            p.sharedFolder = folder;
        }
        return true;
    }

    bool modules(const json& j, Patch& p)
    {
        if (!j.contains("modules") || !j["modules"].is_array())
            return fail("patch", "\"modules\" must be an array");
        for (std::size_t i = 0; i < j["modules"].size(); ++i) {
            PatchModule m;
            if (!module(j["modules"][i], m, "modules[" + std::to_string(i) + "]"))
                return false;
            for (const auto& other : p.modules)
                if (other.name == m.name)
                    return fail("modules[" + std::to_string(i) + "].name", "\"" + m.name + "\" is used twice");
            p.modules.push_back(std::move(m));
        }
        return true;
    }

    // A module of the patch and, for a pin, one the host reports on the interface half.
    bool known(const Patch& p, const Endpoint& e, const std::string& where, bool pin = true)
    {
        const auto m = std::find_if(p.modules.begin(), p.modules.end(), [&](const PatchModule& m) { return m.name == e.module; });
        if (m == p.modules.end())
            return fail(where, "no module named \"" + e.module + "\"");
        return !pin || interfacePin(e, m->guiPins, where);
    }

    // An optional array section: empty when absent, null (reported) when not an array.
    const json* list(const json& j, const char* key)
    {
        static const json empty = json::array();
        if (!j.contains(key))
            return &empty;
        if (!j[key].is_array()) {
            fail(std::string("patch.") + key, "must be an array");
            return nullptr;
        }
        return &j[key];
    }

    bool wires(const json& list, Patch& p)
    {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string where = "wires[" + std::to_string(i) + "]";
            const json& w = list[i];
            std::string from, to;
            PatchWire wire;
            if (!onlyKeys(w, {"from", "to"}, where) || !string(w, "from", from, where) || !string(w, "to", to, where) ||
                !endpoint(from, true, wire.from, where + ".from") || !endpoint(to, true, wire.to, where + ".to") ||
                !known(p, wire.from, where + ".from") || !known(p, wire.to, where + ".to"))
                return false;
            p.wires.push_back(wire);
        }
        return true;
    }

    bool inputs(const json& list, Patch& p)
    {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string where = "inputs[" + std::to_string(i) + "]";
            PatchInput in;
            if (!input(list[i], in, where) || !known(p, in.pin, where + ".pin"))
                return false;
            p.inputs.push_back(in);
        }
        return true;
    }

    // The script's actions, in time order (actions at one time keep the file's order).
    bool script(const json& list, Patch& p)
    {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string where = "script[" + std::to_string(i) + "]";
            ScriptAction a;
            if (!action(list[i], a, where))
                return false;
            if (a.kind != ScriptAction::Panel && a.kind != ScriptAction::Alert &&
                !known(p, a.target, where + ".target", a.kind != ScriptAction::Message))
                return false;
            p.script.push_back(std::move(a));
        }
        std::stable_sort(p.script.begin(), p.script.end(), [](const auto& a, const auto& b) { return a.at < b.at; });
        return true;
    }

    bool outputs(const json& list, Patch& p)
    {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string where = "outputs[" + std::to_string(i) + "]";
            const json& o = list[i];
            std::string pin, file;
            PatchOutput out;
            if (!onlyKeys(o, {"pin", "file"}, where) || !string(o, "pin", pin, where) ||
                !endpoint(pin, true, out.pin, where + ".pin") || !known(p, out.pin, where + ".pin") ||
                !string(o, "file", file, where, false))
                return false;
            if (out.pin.side != Side::Dsp)
                return fail(where + ".pin", "only processing pins have buffers (name.dsp.N)");
            out.file = file;
            p.outputs.push_back(out);
        }
        return true;
    }

    // What the run prints: kinds, modules, hidden pins and note names.
    bool print(const json& j, Patch& p)
    {
        p.print.kinds = {"value", "midi", "streaming", "gui", "message", "sleep", "script", "dialog", "written"};
        if (!j.contains("print"))
            return true;
        const json& pr = j["print"];
        if (!onlyKeys(pr, {"kinds", "modules", "hide", "notes"}, "patch.print"))
            return false;
        if (pr.contains("notes")) {
            if (!pr["notes"].is_boolean())
                return fail("patch.print.notes", "must be true or false");
            p.print.notes = pr["notes"].get<bool>();
        }
        if (pr.contains("hide")) {
            if (!pr["hide"].is_array())
                return fail("patch.print.hide", "must be an array of pins");
            for (std::size_t i = 0; i < pr["hide"].size(); ++i) {
                const std::string where = "patch.print.hide[" + std::to_string(i) + "]";
                const json& h = pr["hide"][i];
                Endpoint e;
                if (!h.is_string())
                    return fail(where, "must be a pin \"name.dsp.N\" or \"name.gui.N\"");
                if (!endpoint(h.get<std::string>(), true, e, where) || !known(p, e, where))
                    return false;
                p.print.hide.push_back(e);
            }
        }
        return printList(pr, "kinds", p.print.kinds, p) && printList(pr, "modules", p.print.modules, p);
    }

    // print.kinds or print.modules: an array of known kinds or module names replacing the default.
    bool printList(const json& pr, const char* key, std::vector<std::string>& dest, const Patch& p)
    {
        static const std::vector<std::string> allKinds = {"value",  "midi",   "streaming", "gui",    "message", "sleep",
                                                          "script", "dialog", "written",   "shared", "file",    "query"};
        if (!pr.contains(key))
            return true;
        const bool kinds = std::string(key) == "kinds";
        dest.clear();
        if (!pr[key].is_array())
            return fail(std::string("patch.print.") + key, "must be an array of strings");
        for (const auto& s : pr[key]) {
            if (!s.is_string())
                return fail(std::string("patch.print.") + key, "must be an array of strings");
            if (kinds && std::find(allKinds.begin(), allKinds.end(), s.get<std::string>()) == allKinds.end())
                return fail("patch.print.kinds", "unknown kind \"" + s.get<std::string>() + "\"");
            if (!kinds && !known(p, Endpoint{s.get<std::string>(), Side::Dsp, 0}, "patch.print.modules"))
                return false;
            dest.push_back(s.get<std::string>());
        }
        return true;
    }
};

// "line:column" (both from 1) of the byte the parser stopped at, given 1-based; 0 is the end.
std::string textPosition(std::string_view text, std::size_t byte)
{
    const std::size_t at = byte == 0 ? text.size() : std::min(byte - 1, text.size());
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < at; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return std::to_string(line) + ":" + std::to_string(column);
}

// The library's parse message without its exception id and its own position.
std::string parseReason(std::string_view what)
{
    const std::size_t column = what.find("column ");
    const std::size_t colon = what.find(": ", column == std::string_view::npos ? 0 : column);
    if (colon != std::string_view::npos)
        what.remove_prefix(colon + 2);
    return std::string(what);
}

} // namespace

std::optional<Patch> parsePatch(const json& j, std::string& error)
{
    Reader r;
    Patch p;
    bool ok = false;
    try {
        ok = r.patch(j, p);
    } catch (const std::exception& e) {
        // Number conversions of out-of-range values are the only throws left.
        r.fail("patch", e.what());
    }
    if (!ok) {
        error = r.error;
        return std::nullopt;
    }
    return p;
}

std::optional<Patch> loadPatch(const std::filesystem::path& file, std::string& error)
{
    // Read by hand rather than through a stream, so that a folder or an unreadable file is a
    // message and never an exception. Only a regular file is opened, without waiting, and read
    // up to a size no patch comes near, so a pipe or a device never hangs the runner.
    constexpr std::size_t kMostPatchBytes = std::size_t{16} << 20;
    struct stat status {};
    if (::stat(file.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        error = file.string() + (S_ISDIR(status.st_mode) ? " is a folder" : " is not a regular file") + ", not a patch file";
        return std::nullopt;
    }
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + file.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    std::string problem;
    int readError = 0;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = file.string() + " is not a regular file, not a patch file";
    } else {
        char chunk[65536];
        for (ssize_t got; text.size() <= kMostPatchBytes && (got = ::read(fd, chunk, sizeof chunk)) != 0;) {
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                readError = errno;
                break;
            }
            text.append(chunk, static_cast<std::size_t>(got));
        }
        if (readError != 0)
            problem = "cannot read " + file.string() + ": " + std::strerror(readError);
        else if (text.size() > kMostPatchBytes)
            problem = file.string() + " is larger than 16 MiB, not a patch file";
    }
    ::close(fd);
    if (!problem.empty()) {
        error = problem;
        return std::nullopt;
    }
    json j;
    try {
        j = json::parse(text);
    } catch (const json::parse_error& e) {
        error = file.string() + ":" + textPosition(text, e.byte) + ": not valid JSON: " + parseReason(e.what());
        return std::nullopt;
    } catch (const std::exception& e) {
        // Number overflow ("1e400") and the like: the library's reason without its id.
        std::string_view what = e.what();
        if (const std::size_t id = what.find("] "); what.rfind("[json.exception", 0) == 0 && id != std::string_view::npos)
            what.remove_prefix(id + 2);
        error = file.string() + ": not valid JSON: " + std::string(what);
        return std::nullopt;
    }
    auto p = parsePatch(j, error);
    if (!p)
        error = file.string() + ": " + error;
    return p;
}

} // namespace tav_host
