// Small helpers shared by tests that drive modules through the stand-in host.
#pragma once

#include "Host.h"
#include "MpFactory.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace test_support {

// The in-process factory of the modules linked into the test binary.
inline mpapi::IMpFactory* factory()
{
    void* f = nullptr;
    MP_GetFactory(&f);
    return static_cast<mpapi::IMpFactory*>(f);
}

// A host configuration of block length 64 at 48 kHz.
inline tav_host::HostConfig config64(bool skipSleeping = true)
{
    tav_host::HostConfig config;
    config.sampleRate = 48000.0f;
    config.blockLength = 64;
    config.skipSleeping = skipSleeping;
    return config;
}

inline tav_host::InstanceOptions withGuiPins(std::int32_t count)
{
    tav_host::InstanceOptions options;
    options.guiPinCount = count;
    return options;
}

// Adds a module and fails the test when the factory has no half under the identifier.
inline std::size_t add(tav_host::Host& host, const std::string& identifier, tav_host::InstanceOptions options = {})
{
    const auto created = host.addInstance(identifier, std::move(options));
    EXPECT_TRUE(created.instance.has_value()) << identifier << ": " << created.error;
    return created.instance.value_or(0);
}

// What an interface half transmits in answer to one host value on one of its pins.
inline std::vector<tav_host::CallRecord> transmitsAfter(tav_host::Host& host, std::size_t instance, std::int32_t pin,
                                                       tav_host::Bytes value)
{
    host.clearCalls();
    host.guiSetPin(instance, pin, std::move(value));
    return host.callsOf(tav_host::CallKind::TransmitPin, instance);
}

// A host for interface halves, with what they transmit in answer to host values.
class InterfaceHostTest : public ::testing::Test {
protected:
    std::vector<tav_host::CallRecord> transmitsAfter(std::size_t instance, std::int32_t pin, tav_host::Bytes value)
    {
        return test_support::transmitsAfter(host, instance, pin, std::move(value));
    }

    tav_host::Host host{factory(), tav_host::HostConfig{}};
};

// A fresh folder that stands in for the shared folder (TAVRIN_SHARED_FOLDER) during one test.
class TemporarySharedFolder {
public:
    TemporarySharedFolder() { ::setenv("TAVRIN_SHARED_FOLDER", folder_.path().c_str(), 1); }
    ~TemporarySharedFolder() { ::unsetenv("TAVRIN_SHARED_FOLDER"); }
    const std::filesystem::path& path() const { return folder_.path(); }

private:
    TemporaryFolder folder_{"tavrin-test"};
};

} // namespace test_support
