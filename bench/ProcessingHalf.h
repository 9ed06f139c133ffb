// One processing half created by identifier on a BenchHost, opened, given a buffer per pin and run
// through graph start, so a benchmark times only its blocks.
#pragma once

#include "BenchHost.h"

#include <vector>

namespace bench {

class ProcessingHalf {
public:
    ProcessingHalf(const wchar_t* identifier, int pins, int blockLength, float sampleRate = 48000.0f)
        : host_(blockLength, sampleRate), blockLength_(blockLength),
          buffers_(pins, std::vector<float>(blockLength, 0.0f)), plugin_(openProcessingHalf(host_, identifier))
    {
        for (int pin = 0; pin < pins; ++pin)
            plugin_->setBuffer(pin, buffers_[pin].data());
        mpapi::MpEvent graphStart{0, mpapi::MP_EVENT_GRAPH_START, 0, 0, 0, 0, nullptr, nullptr};
        plugin_->process(blockLength, &graphStart);
    }
    ~ProcessingHalf() { plugin_->release(); }
    ProcessingHalf(const ProcessingHalf&) = delete;
    ProcessingHalf& operator=(const ProcessingHalf&) = delete;

    void run(mpapi::MpEvent* events = nullptr) { plugin_->process(blockLength_, events); }
    std::vector<float>& buffer(int pin) { return buffers_[pin]; }
    mpapi::IMpPlugin* plugin() { return plugin_; }

private:
    BenchHost host_;
    int blockLength_;
    std::vector<std::vector<float>> buffers_;
    mpapi::IMpPlugin* plugin_ = nullptr;
};

} // namespace bench
