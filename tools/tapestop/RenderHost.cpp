#include "RenderHost.h"

#include <array>
#include <cmath>
#include <string_view>

#include "TextBuffer.h"

namespace tapestop {

namespace {

constexpr const char* kHostVendor = "Tarvo Pellwick";
constexpr const char* kHostProduct = "tapestop";
constexpr double kSecondsPerMinute = 60.0;

// What this host can do, as plug-ins ask by name; every other answer is 0.
struct CanDoRow {
    std::string_view feature;
    VstIntPtr answer;
};
constexpr std::array kCanDo{
    CanDoRow{"sendVstTimeInfo", 1},
};

}  // namespace

RenderHost::RenderHost(double sampleRateHz, VstInt32 blockSizeFrames)
    : sampleRateHz_(sampleRateHz), blockSizeFrames_(blockSizeFrames) {
    setRecording(false);
    timeInfo_.sampleRate = sampleRateHz;
    timeInfo_.tempo = kTempoBpm;
    timeInfo_.timeSigNumerator = kBeatsPerBar;
    timeInfo_.timeSigDenominator = 4;
    timeInfo_.flags = kVstTransportChanged | kVstTransportPlaying | kVstPpqPosValid | kVstTempoValid | kVstBarsValid |
                      kVstTimeSigValid;
}

void RenderHost::moveTo(std::int64_t frame) {
    if (frame > 0) timeInfo_.flags &= ~kVstTransportChanged;
    timeInfo_.samplePos = static_cast<double>(frame);
    timeInfo_.ppqPos = timeInfo_.samplePos / sampleRateHz_ * kTempoBpm / kSecondsPerMinute;
    timeInfo_.barStartPos = std::floor(timeInfo_.ppqPos / kBeatsPerBar) * kBeatsPerBar;
}

VstIntPtr RenderHost::answer(const host::HostRequest& request) {
    switch (request.opcode) {
        case audioMasterVersion: return kHostVersion;
        case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&timeInfo_);
        case audioMasterGetSampleRate: return static_cast<VstIntPtr>(std::lround(sampleRateHz_));
        case audioMasterGetBlockSize: return blockSizeFrames_;
        case audioMasterGetVendorVersion: return kVendorVersion;
        case audioMasterGetVendorString:
            if (request.ptr != nullptr) copyText(static_cast<char*>(request.ptr), kHostVendor, kVstMaxVendorStrLen - 1);
            return request.ptr != nullptr;
        case audioMasterGetProductString:
            if (request.ptr != nullptr) copyText(static_cast<char*>(request.ptr), kHostProduct, kVstMaxProductStrLen - 1);
            return request.ptr != nullptr;
        case audioMasterCanDo: return answerCanDo(static_cast<const char*>(request.ptr));
        default: return 0;  // pins connected, no latency, no window, nothing to automate
    }
}

VstIntPtr RenderHost::answerCanDo(const char* feature) const {
    if (feature == nullptr) return 0;
    for (const CanDoRow& row : kCanDo)
        if (row.feature == feature) return row.answer;
    return 0;
}

}  // namespace tapestop
