// Writing a run's audio as a 32-bit float WAV file, block by block, so that memory does not grow
// with the length of the run.
#pragma once

#include "WriteTarget.h"

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tav_host {

// The header of a float WAV file holding frames x channels samples, sizes final: a plain RIFF
// file up to 4 GiB, an RF64 file (with a ds64 chunk) beyond, so that nothing needs seeking back.
std::string wavHeader(std::int32_t channels, std::int64_t frames, std::int32_t sampleRate);

class WavWriter {
public:
    WavWriter() = default;
    // An unfinished file is removed, or, for a pipe or device, left as it is.
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    // Opens target for frames x channels samples and writes the header. "-" is standard output;
    // a pipe or a device is written in place; a regular file (or the file a symlink names) is
    // written to a temporary file in its folder and renamed over it by finish. A nonzero *stop
    // (a signal's flag) ends a blocked open or write. False with a reason in error.
    bool open(const std::filesystem::path& target, std::int32_t channels, std::int64_t frames, float sampleRate,
              std::string& error, const volatile std::sig_atomic_t* stop = nullptr);
    // Appends frames of interleaved samples.
    bool write(const float* interleaved, std::int64_t frames, std::string& error);
    // Checks that every frame announced arrived, flushes and puts the file in place.
    bool finish(std::string& error);

    const std::filesystem::path& target() const { return target_; }

private:
    bool flush(std::string& error);
    bool fail(std::string& error, const std::string& what);
    void discard();

    std::filesystem::path target_;  // as given, for messages
    platform::AtomicWriter aside_;  // a regular file, written aside and renamed over at finish
    int fd_ = -1;                   // otherwise: standard output, a pipe or a device, written in place
    bool ownsFd_ = false;
    std::int32_t channels_ = 0;
    std::int64_t framesLeft_ = 0;
    std::vector<char> buffer_;
    const volatile std::sig_atomic_t* stop_ = nullptr;
};

} // namespace tav_host
