// Walks every registered module half and drives it as a careless host would: random block
// lengths and sample rates, random events of every size for its pins and for pins it does not
// have, MIDI of 0 to 4 bytes and sysex, random messages and interface values. A module passes when
// nothing crashes (the sanitizer run reports every invalid access), no non-finite audio comes out
// of finite input, no unused host slot is called and every host reference is given back.
#include "framework/HostTestSupport.h"
#include "MpFactory.h"
#include "Utf8.h"

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

using namespace tavhost;

namespace {

constexpr int kBlocks = 48;
constexpr int kMaxBlock = 4096;
constexpr int kPins = 16;  // module pins tried; higher ids stand for pins a module lacks

struct ModuleKey {
    int32_t type;
    std::string identifier;
};

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

    int pin() { return chance(85) ? uniform(0, kPins - 1) : (chance(50) ? uniform(kPins, 1000) : -uniform(1, 5)); }

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
    testsupport::TemporarySharedFolder shared;

    static const float kRates[] = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
    HostConfig config;
    config.sampleRate = kRates[random.uniform(0, std::size(kRates) - 1)];
    config.blockLength = kMaxBlock;
    config.fileFolder = shared.path();
    config.skipSleeping = random.chance(50);
    Host host(testsupport::factory(), config);

    InstanceOptions options;
    options.guiPinCount = random.uniform(0, 12);
    const auto created = host.addInstance(key.identifier, options);
    if (!created.instance)
        return;  // modules that refuse to exist (a throwing constructor) are the factory's test
    const std::size_t module = *created.instance;
    const bool hasDsp = host.hasHalf(module, Side::Dsp);
    const bool hasGui = host.hasHalf(module, Side::Gui);

    if (hasDsp)
        for (int pin = 0; pin < 8; ++pin)
            host.setInputConstant(module, pin, random.signal());

    for (int block = 0; block < kBlocks; ++block) {
        const int count = random.chance(20) ? kMaxBlock : random.uniform(1, random.chance(50) ? 64 : kMaxBlock);
        if (hasDsp) {
            for (int events = random.uniform(0, 8); events > 0; --events) {
                const int time = random.chance(20) ? count - 1 : random.uniform(0, count - 1);
                switch (random.uniform(0, 3)) {
                case 0: host.queuePinValue(module, random.pin(), random.value(finiteOnly), time); break;
                case 1: host.queueMidi(module, random.pin(), random.midi(), time); break;
                case 2: host.queueStreaming(module, random.pin(), random.chance(50), time); break;
                default: {
                    RawEvent odd;  // any type, any size, data inline only
                    odd.timeDelta = time;
                    odd.eventType = random.uniform(99, 105);
                    odd.parm1 = random.pin();
                    odd.parm2 = random.uniform(-8, 64);
                    odd.parm3 = random.uniform(-100000, 100000);
                    odd.parm4 = random.uniform(-100000, 100000);
                    host.queueRawEvents(module, {odd});
                }
                }
            }
            if (random.chance(10))
                host.setInputConstant(module, random.uniform(0, 7), finiteOnly ? random.signal() : random.anyFloat(false));
            if (random.chance(15))
                host.postToDsp(module, random.uniform(-5, 1000), random.value(finiteOnly));
        }
        if (hasGui) {
            if (random.chance(40))
                host.guiSetPin(module, random.uniform(-1, options.guiPinCount + 2), random.value(finiteOnly));
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

TEST(ModuleValidator, EveryRegisteredHalfSurvivesACarelessHost)
{
    const auto modules = registeredModules();
    ASSERT_FALSE(modules.empty());
    for (const ModuleKey& key : modules) {
        const uint32_t seed = static_cast<uint32_t>(std::hash<std::string>{}(key.identifier)) + key.type;
        exercise(key, seed, true);
        exercise(key, seed + 1, false);
    }
}

} // namespace
