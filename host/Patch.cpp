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

#include <nlohmann/json.hpp>
#include <sndfile.h>

namespace tavhost {

using nlohmann::json;

namespace {

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
        if (!std::isfinite(out))
            return fail(where + "." + key, "must be finite");
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
            out = v.get<std::int64_t>();
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
            if (!b.is_number_integer() || b.get<std::int64_t>() < 0 || b.get<std::int64_t>() > 255)
                return fail(where, "bytes must be integers 0..255");
            out.push_back(static_cast<std::uint8_t>(b.get<std::int64_t>()));
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
            if (!x.is_number())
                return fail(where, "float must be a number");
            out = floatValue(x.get<float>());
            t = ValueType::Float;
        } else if (key == "int") {
            if (!x.is_number_integer() || x.get<std::int64_t>() < INT32_MIN || x.get<std::int64_t>() > INT32_MAX)
                return fail(where, "int must be a 32-bit integer");
            out = intValue(static_cast<std::int32_t>(x.get<std::int64_t>()));
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

    bool module(const json& m, PatchModule& out, const std::string& where)
    {
        if (!onlyKeys(m, {"name", "id", "guiPins", "init", "types"}, where) || !string(m, "name", out.name, where) ||
            !string(m, "id", out.id, where))
            return false;
        if (out.name.empty() || out.name.find('.') != std::string::npos)
            return fail(where + ".name", "must be non-empty and without dots");
        if (m.contains("guiPins")) {
            const json& g = m["guiPins"];
            if (!g.is_number_integer() || g.get<std::int64_t>() < 0 || g.get<std::int64_t>() > 4096)
                return fail(where + ".guiPins", "must be an integer 0..4096");
            out.guiPins = static_cast<std::int32_t>(g.get<std::int64_t>());
        }
        if (m.contains("types")) {
            if (!m["types"].is_object())
                return fail(where + ".types", "must be an object of \"dsp.N\"/\"gui.N\": type");
            for (auto it = m["types"].begin(); it != m["types"].end(); ++it) {
                Endpoint e;
                ValueType t{};
                if (!pinKey(out.name, it.key(), e, where + ".types") || !typeName(it.value(), t, where + ".types." + it.key()))
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
                if (!pinKey(out.name, it.key(), e, where + ".init") || !value(it.value(), b, &t, where + ".init." + it.key()))
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
            if (!a.contains("id") || !a["id"].is_number_integer() || a["id"].get<std::int64_t>() < INT32_MIN ||
                a["id"].get<std::int64_t>() > INT32_MAX)
                return fail(where, "message needs an integer \"id\"");
            out.id = static_cast<std::int32_t>(a["id"].get<std::int64_t>());
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
        double rate = 48000.0;
        if (!number(j, "sampleRate", rate, "patch"))
            return false;
        if (rate < 1.0 || rate > 1e7)
            return fail("patch.sampleRate", "must be 1..10000000");
        p.sampleRate = sampleRate = static_cast<float>(rate);
        if (j.contains("blockLength")) {
            if (!j["blockLength"].is_number_integer() || j["blockLength"].get<std::int64_t>() < 1 ||
                j["blockLength"].get<std::int64_t>() > 65536)
                return fail("patch.blockLength", "must be an integer 1..65536");
            p.blockLength = static_cast<std::int32_t>(j["blockLength"].get<std::int64_t>());
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
        auto known = [&](const Endpoint& e, const std::string& where) {
            return std::any_of(p.modules.begin(), p.modules.end(), [&](const PatchModule& m) { return m.name == e.module; }) ||
                   fail(where, "no module named \"" + e.module + "\"");
        };

        auto list = [&](const char* key) -> const json* {
            static const json empty = json::array();
            if (!j.contains(key))
                return &empty;
            if (!j[key].is_array()) {
                fail(std::string("patch.") + key, "must be an array");
                return nullptr;
            }
            return &j[key];
        };
        const json* wires = list("wires");
        const json* inputs = list("inputs");
        const json* script = list("script");
        const json* outputs = list("outputs");
        if (!wires || !inputs || !script || !outputs)
            return false;

        for (std::size_t i = 0; i < wires->size(); ++i) {
            const std::string where = "wires[" + std::to_string(i) + "]";
            const json& w = (*wires)[i];
            std::string from, to;
            PatchWire wire;
            if (!onlyKeys(w, {"from", "to"}, where) || !string(w, "from", from, where) || !string(w, "to", to, where) ||
                !endpoint(from, true, wire.from, where + ".from") || !endpoint(to, true, wire.to, where + ".to") ||
                !known(wire.from, where + ".from") || !known(wire.to, where + ".to"))
                return false;
            p.wires.push_back(wire);
        }
        for (std::size_t i = 0; i < inputs->size(); ++i) {
            const std::string where = "inputs[" + std::to_string(i) + "]";
            PatchInput in;
            if (!input((*inputs)[i], in, where) || !known(in.pin, where + ".pin"))
                return false;
            p.inputs.push_back(in);
        }
        for (std::size_t i = 0; i < script->size(); ++i) {
            const std::string where = "script[" + std::to_string(i) + "]";
            ScriptAction a;
            if (!action((*script)[i], a, where))
                return false;
            if (a.kind != ScriptAction::Panel && a.kind != ScriptAction::Alert && !known(a.target, where + ".target"))
                return false;
            p.script.push_back(std::move(a));
        }
        std::stable_sort(p.script.begin(), p.script.end(), [](const auto& a, const auto& b) { return a.at < b.at; });
        for (std::size_t i = 0; i < outputs->size(); ++i) {
            const std::string where = "outputs[" + std::to_string(i) + "]";
            const json& o = (*outputs)[i];
            std::string pin, file;
            PatchOutput out;
            if (!onlyKeys(o, {"pin", "file"}, where) || !string(o, "pin", pin, where) ||
                !endpoint(pin, true, out.pin, where + ".pin") || !known(out.pin, where + ".pin") ||
                !string(o, "file", file, where, false))
                return false;
            if (out.pin.side != Side::Dsp)
                return fail(where + ".pin", "only processing pins have buffers (name.dsp.N)");
            out.file = file;
            p.outputs.push_back(out);
        }

        p.print.kinds = {"value", "midi", "streaming", "gui", "message", "sleep", "script", "dialog", "written"};
        if (j.contains("print")) {
            const json& pr = j["print"];
            if (!onlyKeys(pr, {"kinds", "modules", "hide"}, "patch.print"))
                return false;
            static const std::vector<std::string> allKinds = {"value",  "midi",   "streaming", "gui",    "message", "sleep",
                                                              "script", "dialog", "written",   "shared", "file",    "query"};
            if (pr.contains("hide")) {
                if (!pr["hide"].is_array())
                    return fail("patch.print.hide", "must be an array of pins");
                for (std::size_t i = 0; i < pr["hide"].size(); ++i) {
                    const std::string where = "patch.print.hide[" + std::to_string(i) + "]";
                    const json& h = pr["hide"][i];
                    Endpoint e;
                    if (!h.is_string())
                        return fail(where, "must be a pin \"name.dsp.N\" or \"name.gui.N\"");
                    if (!endpoint(h.get<std::string>(), true, e, where) || !known(e, where))
                        return false;
                    p.print.hide.push_back(e);
                }
            }
            for (const char* key : {"kinds", "modules"}) {
                if (!pr.contains(key))
                    continue;
                const bool kinds = std::string(key) == "kinds";
                auto& dest = kinds ? p.print.kinds : p.print.modules;
                dest.clear();
                if (!pr[key].is_array())
                    return fail(std::string("patch.print.") + key, "must be an array of strings");
                for (const auto& s : pr[key]) {
                    if (!s.is_string())
                        return fail(std::string("patch.print.") + key, "must be an array of strings");
                    if (kinds &&
                        std::find(allKinds.begin(), allKinds.end(), s.get<std::string>()) == allKinds.end())
                        return fail("patch.print.kinds", "unknown kind \"" + s.get<std::string>() + "\"");
                    dest.push_back(s.get<std::string>());
                }
            }
        }
        return true;
    }
};

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

// Writes float samples, channel-interleaved, to a temporary file beside path and renames it over
// path. False with a reason on failure.
bool writeWav(const std::filesystem::path& path, const std::vector<std::vector<float>>& channels, float rate, std::string& error)
{
    SF_INFO info{};
    info.samplerate = static_cast<int>(std::lround(rate));
    info.channels = static_cast<int>(channels.size());
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const std::filesystem::path tmp = path.string() + ".tmp";
    SNDFILE* f = sf_open(tmp.c_str(), SFM_WRITE, &info);
    if (!f) {
        error = "cannot write " + path.string() + ": " + sf_strerror(nullptr);
        return false;
    }
    const std::size_t frames = channels.empty() ? 0 : channels[0].size();
    std::vector<float> interleaved(frames * channels.size());
    for (std::size_t c = 0; c < channels.size(); ++c)
        for (std::size_t i = 0; i < frames; ++i)
            interleaved[i * channels.size() + c] = channels[c][i];
    const auto written = sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(frames));
    sf_close(f);
    std::error_code ec;
    if (written != static_cast<sf_count_t>(frames)) {
        std::filesystem::remove(tmp, ec);
        error = "cannot write " + path.string() + ": short write";
        return false;
    }
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        error = "cannot write " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
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
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot open " + file.string();
        return std::nullopt;
    }
    const json j = json::parse(in, nullptr, false);
    if (j.is_discarded()) {
        error = file.string() + " is not valid JSON";
        return std::nullopt;
    }
    auto p = parsePatch(j, error);
    if (!p)
        error = file.string() + ": " + error;
    return p;
}

int runPatch(const Patch& patch, mpapi::IMpFactory* factory, const RunOptions& options, std::ostream& out, std::ostream& err)
{
    namespace fs = std::filesystem;
    HostConfig config;
    config.sampleRate = patch.sampleRate;
    config.blockLength = patch.blockLength;
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
    auto name = [](const Endpoint& e) { return e.module + "." + sideName(e.side) + "." + std::to_string(e.pin); };
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

    std::vector<std::vector<float>> recorded(patch.outputs.size());
    for (auto& r : recorded)
        r.reserve(static_cast<std::size_t>(std::min<std::int64_t>(patch.length, 1 << 24)));

    std::size_t next = 0;
    std::int64_t pos = 0;
    host.start();
    takeDialogs(0);
    flush();
    while (pos < patch.length) {
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
        for (std::size_t o = 0; o < patch.outputs.size(); ++o) {
            const auto buf = host.buffer(index[patch.outputs[o].pin.module], patch.outputs[o].pin.pin);
            if (buf.empty())
                recorded[o].insert(recorded[o].end(), static_cast<std::size_t>(count), 0.0f);
            else
                recorded[o].insert(recorded[o].end(), buf.begin(), buf.begin() + count);
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

    std::string error;
    for (std::size_t o = 0; o < patch.outputs.size(); ++o)
        if (!patch.outputs[o].file.empty() && !writeWav(patch.outputs[o].file, {recorded[o]}, patch.sampleRate, error))
            problem(error);
    if (!options.wavFile.empty()) {
        if (recorded.empty())
            problem("--wav: the patch has no outputs");
        else if (!writeWav(options.wavFile, recorded, patch.sampleRate, error))
            problem(error);
    }
    return status;
}

} // namespace tavhost
