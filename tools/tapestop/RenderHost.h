// The host side of an offline render: answers what a plug-in may ask while a
// file is processed (version, sample rate, block size, a transport that plays
// from the start of the file at 120 BPM in 4/4, host names and abilities)
// and records nothing, since requests come once per block.
#pragma once

#include <cstdint>

#include "PluginHost.h"
#include "VstInterface.h"

namespace tapestop {

class RenderHost : public host::Host {
public:
    static constexpr double kTempoBpm = 120.0;
    static constexpr VstInt32 kBeatsPerBar = 4;
    static constexpr VstIntPtr kVendorVersion = 1000;

    RenderHost(double sampleRateHz, VstInt32 blockSizeFrames);

    // The transport position of the next block; the first one marks the
    // transport as changed.
    void moveTo(std::int64_t frame);

protected:
    VstIntPtr answer(const host::HostRequest& request) override;

private:
    VstIntPtr answerCanDo(const char* feature) const;

    double sampleRateHz_;
    VstInt32 blockSizeFrames_;
    VstTimeInfo timeInfo_{};
};

}  // namespace tapestop
