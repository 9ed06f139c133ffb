// Walks every registered module half and drives it as a careless host would: random block
// lengths and sample rates; every pin the half registered, with values of its own type and of
// wrong types and sizes; ids beyond its last pin and negative ones; MIDI of 0 to 4 bytes and
// sysex; random messages and interface values. A module passes when
// nothing crashes (the sanitizer run reports every invalid access), no non-finite audio comes out
// of finite input, no unused host slot is called and every host reference is given back.
#include "framework/HostTestSupport.h"
#include "MpFactory.h"
#include "MpInterface.h"
#include "MpProcessing.h"
#include "Utf8.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <ostream>
#include <random>

using namespace tav_host;

namespace {

constexpr int kBlocks = 48;
constexpr int kMaxBlock = 4096;
constexpr int32_t kMaxGuiPinId = 4096;  // interface pin ids looked for

struct ModuleKey {
    int32_t type;
    std::string identifier;
};

void PrintTo(const ModuleKey& key, std::ostream* out) { *out << key.identifier << " (type " << key.type << ")"; }

// The pins a half registered: id -> datatype code (MP_DATATYPE_...) and direction.
struct PinInfo {
    int32_t datatype = 0;
    int32_t direction = mpapi::MP_IN;
};
using PinMap = std::map<int32_t, PinInfo>;

// Creates the half with its registered create function (no host, constructor only), reads the
// pins it registered and releases it. Empty when it cannot be created.
PinMap registeredPins(int32_t type, const std::wstring& identifier)
{
    PinMap pins;
    const auto& registry = Factory()->registrations();
    const auto found = registry.find({type, identifier});
    if (found == registry.end())
        return pins;
    mpapi::IMpUnknown* object = nullptr;
    try {
        object = found->second();
    } catch (...) {
        return pins;
    }
    if (!object)
        return pins;
    if (auto* dsp = dynamic_cast<MpPluginBase*>(object)) {
        for (const auto& [id, pin] : dsp->getPins())
            pins[id] = {pin->getDatatype(), pin->getDirection()};
    } else if (auto* gui = dynamic_cast<GuiPinOwner*>(object)) {
        for (int32_t id = 0; id < kMaxGuiPinId; ++id)
            if (const MpGuiPinBase* pin = gui->getPin(id))
                pins[id] = {pin->getDatatype(), mpapi::MP_IN};
    }
    object->release();
    return pins;
}

std::vector<ModuleKey> registeredModules()
{
    std::vector<ModuleKey> keys;
    for (const auto& [key, create] : Factory()->registrations())
        keys.push_back({key.first, utf8::fromWide(key.second, utf8::OnError::Replace)});
    return keys;
}

class RandomDriver {
public:
    explicit RandomDriver(uint32_t seed) : rng_(seed) {}

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool chance(int percent) { return uniform(1, 100) <= percent; }

    // Signals within 20 V either way and plain control values; finite results are expected.
    float finiteFloat()
    {
        static const float kSpecial[] = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, 127.0f, 1e-30f, 1e5f, -1e5f};
        if (chance(30))
            return kSpecial[uniform(0, std::size(kSpecial) - 1)];
        return std::uniform_real_distribution<float>(-2.0f, 2.0f)(rng_);
    }
    float signal() { return std::uniform_real_distribution<float>(-2.0f, 2.0f)(rng_); }
    float anyFloat(bool finiteOnly)
    {
        if (!finiteOnly && chance(15)) {
            static const float kNonFinite[] = {std::numeric_limits<float>::quiet_NaN(), 1e30f, -1e30f,
                                               std::numeric_limits<float>::infinity(),
                                               -std::numeric_limits<float>::infinity()};
            return kNonFinite[uniform(0, std::size(kNonFinite) - 1)];
        }
        return finiteFloat();
    }

    // A value of any size: the float, int and bool forms, text (also odd sizes and non-UTF-8
    // characters), empty and oversize.
    Bytes value(bool finiteOnly)
    {
        switch (uniform(0, 7)) {
        case 0: return floatValue(anyFloat(finiteOnly));
        case 1: return intValue(uniform(0, 3) == 0 ? uniform(-1000000, 1000000) : uniform(-2, 300));
        case 2: return boolValue(chance(50));
        case 3: return Bytes{};
        case 4: {
            std::u32string text;
            for (int i = uniform(0, 40); i > 0; --i)
                text.push_back(chance(5) ? static_cast<char32_t>(uniform(0xD800, 0x11FFFF)) : U'a' + uniform(0, 25));
            return textValue(text);
        }
        case 5: {
            Bytes raw(static_cast<size_t>(uniform(1, 9)));
            for (auto& b : raw)
                b = static_cast<uint8_t>(uniform(0, 255));
            return raw;
        }
        case 6: return Bytes(static_cast<size_t>(uniform(100, 5000)), static_cast<uint8_t>(uniform(0, 255)));
        default: return floatValue(finiteFloat());
        }
    }

    Bytes midi()
    {
        if (chance(10)) {  // sysex
            Bytes sysex{0xF0};
            for (int i = uniform(0, 40); i > 0; --i)
                sysex.push_back(static_cast<uint8_t>(uniform(0, 127)));
            sysex.push_back(0xF7);
            return sysex;
        }
        Bytes bytes(static_cast<size_t>(uniform(0, 4)));
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i == 0 ? uniform(0x80, 0xFF) : (chance(90) ? uniform(0, 127) : uniform(0, 255)));
        return bytes;
    }

    // A value of the pin's own type (datatype code); MIDI pins get MIDI bytes, audio pins a float.
    Bytes ownValue(int32_t datatype, bool finiteOnly)
    {
        switch (datatype) {
        case mpapi::MP_DATATYPE_TEXT: {
            std::u32string text;
            for (int i = uniform(0, 60); i > 0; --i)
                text.push_back(chance(3) ? static_cast<char32_t>(uniform(0xA0, 0x10FFFF)) : U' ' + uniform(0, 94));
            return textValue(text);
        }
        case mpapi::MP_DATATYPE_MIDI: return midi();
        case mpapi::MP_DATATYPE_BOOL: return boolValue(chance(50));
        case mpapi::MP_DATATYPE_INT: return intValue(chance(25) ? uniform(-1000000, 1000000) : uniform(-2, 300));
        default: return floatValue(anyFloat(finiteOnly));
        }
    }

    // A value of the pin's own type most of the time, else one of any type or size.
    Bytes valueFor(int32_t datatype, bool finiteOnly) { return chance(60) ? ownValue(datatype, finiteOnly) : value(finiteOnly); }

    // A registered pin most of the time, else an id beyond the last one, a negative one or one
    // between registered ids.
    int32_t pin(const PinMap& pins)
    {
        const int32_t last = pins.empty() ? -1 : pins.rbegin()->first;
        if (!pins.empty() && chance(80))
            return std::next(pins.begin(), uniform(0, static_cast<int>(pins.size()) - 1))->first;
        if (chance(50))
            return last + uniform(1, 1000);
        return chance(50) ? -uniform(1, 5) : uniform(0, last + 1);
    }

private:
    std::mt19937 rng_;
};

// One module half, run for kBlocks random blocks; finiteOnly keeps every value and sample
// finite so that the audio out must be finite too.
void exercise(const ModuleKey& key, uint32_t seed, bool finiteOnly)
{
    SCOPED_TRACE(key.identifier + (key.type == 0 ? " (processing)" : " (interface)") + " seed " + std::to_string(seed) +
                 (finiteOnly ? " finite" : " any values"));
    RandomDriver random(seed);
    test_support::TemporarySharedFolder shared;

    static const float kRates[] = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
    HostConfig config;
    config.sampleRate = kRates[random.uniform(0, std::size(kRates) - 1)];
    config.blockLength = kMaxBlock;
    config.fileFolder = shared.path();
    config.skipSleeping = random.chance(50);

    const std::wstring identifier = utf8::toWide(key.identifier, utf8::OnError::Replace);
    const PinMap dspPins = registeredPins(0, identifier);
    const PinMap guiPins = registeredPins(1, identifier);
    const auto datatype = [](const PinMap& pins, int32_t id) {
        const auto found = pins.find(id);
        return found == pins.end() ? 0 : found->second.datatype;
    };
    if (!dspPins.empty())
        config.bufferPins = std::max(config.bufferPins, dspPins.rbegin()->first + 1);

    InstanceOptions options;
    // What queryPinCount answers: the pins the interface half registered, sometimes fewer or more.
    options.guiPinCount = static_cast<int32_t>(guiPins.size()) + (random.chance(25) ? random.uniform(-3, 3) : 0);
    Host host(test_support::factory(), config);
    const auto created = host.addInstance(key.identifier, options);
    if (!created.instance)
        return;  // modules that refuse to exist (a throwing constructor) are the factory's test
    const std::size_t module = *created.instance;
    const bool hasDsp = host.hasHalf(module, Side::Dsp);
    const bool hasGui = host.hasHalf(module, Side::Gui);
    // Every half registers pins: an empty map would mean the validator cannot see them.
    EXPECT_EQ(hasDsp, !dspPins.empty());
    EXPECT_EQ(hasGui, !guiPins.empty());

    if (hasDsp)
        for (const auto& [id, pin] : dspPins)
            if (pin.datatype == mpapi::MP_DATATYPE_AUDIO && pin.direction == mpapi::MP_IN)
                host.setInputConstant(module, id, random.signal());

    // Every registered pin first gets a value of its own type, then one of another type or size.
    const auto queueFor = [&](int32_t id, int32_t type, Bytes value, int32_t time) {
        if (type == mpapi::MP_DATATYPE_MIDI && random.chance(80))
            host.queueMidi(module, id, std::move(value), time);
        else
            host.queuePinValue(module, id, std::move(value), time);
    };
    for (const bool own : {true, false}) {
        if (hasDsp) {
            for (const auto& [id, pin] : dspPins)
                queueFor(id, pin.datatype, own ? random.ownValue(pin.datatype, finiteOnly) : random.value(finiteOnly),
                         random.uniform(0, 63));
            ASSERT_TRUE(host.runBlock(64));
        }
        if (hasGui)
            for (const auto& [id, pin] : guiPins)
                host.guiSetPin(module, id, own ? random.ownValue(pin.datatype, finiteOnly) : random.value(finiteOnly));
    }

    for (int block = 0; block < kBlocks; ++block) {
        const int count = random.chance(20) ? kMaxBlock : random.uniform(1, random.chance(50) ? 64 : kMaxBlock);
        if (hasDsp) {
            for (int events = random.uniform(0, 8); events > 0; --events) {
                const int time = random.chance(20) ? count - 1 : random.uniform(0, count - 1);
                switch (random.uniform(0, 3)) {
                case 0: {
                    const int32_t id = random.pin(dspPins);
                    queueFor(id, datatype(dspPins, id), random.valueFor(datatype(dspPins, id), finiteOnly), time);
                    break;
                }
                case 1: host.queueMidi(module, random.pin(dspPins), random.midi(), time); break;
                case 2: host.queueStreaming(module, random.pin(dspPins), random.chance(50), time); break;
                default: {
                    RawEvent odd;  // any type, any size, data inline only
                    odd.timeDelta = time;
                    odd.eventType = random.uniform(99, 105);
                    odd.parm1 = random.pin(dspPins);
                    odd.parm2 = random.uniform(-8, 64);
                    odd.parm3 = random.uniform(-100000, 100000);
                    odd.parm4 = random.uniform(-100000, 100000);
                    host.queueRawEvents(module, {odd});
                }
                }
            }
            if (random.chance(10))
                host.setInputConstant(module, random.pin(dspPins), finiteOnly ? random.signal() : random.anyFloat(false));
            if (random.chance(15))
                host.postToDsp(module, random.uniform(-5, 1000), random.value(finiteOnly));
        }
        if (hasGui) {
            if (random.chance(40)) {
                const int32_t id = random.pin(guiPins);
                host.guiSetPin(module, id, random.valueFor(datatype(guiPins, id), finiteOnly));
            }
            if (random.chance(15))
                host.postToGui(module, random.uniform(-5, 1000), random.value(finiteOnly));
        }
        ASSERT_TRUE(host.runBlock(count));

        if (hasDsp && finiteOnly) {
            for (int pin = 0; pin < config.bufferPins; ++pin) {
                for (float sample : host.buffer(module, pin)) {
                    ASSERT_TRUE(std::isfinite(sample)) << "pin " << pin << " block " << block;
                }
            }
        }
    }

    host.shutdown();
    for (const std::string& fault : host.faults())
        ADD_FAILURE() << fault;
}

// One test a half, so that the halves are checked side by side.
class EveryRegisteredHalf : public ::testing::TestWithParam<ModuleKey> {};

TEST_P(EveryRegisteredHalf, SurvivesACarelessHost)
{
    const ModuleKey& key = GetParam();
    const uint32_t seed = static_cast<uint32_t>(std::hash<std::string>{}(key.identifier)) + static_cast<uint32_t>(key.type);
    exercise(key, seed, true);
    exercise(key, seed + 1, false);
}

INSTANTIATE_TEST_SUITE_P(ModuleValidator, EveryRegisteredHalf, ::testing::ValuesIn(registeredModules()),
                         [](const ::testing::TestParamInfo<ModuleKey>& info) {
                             std::string name = info.param.identifier + (info.param.type == 0 ? "_Processing" : "_Interface");
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace
