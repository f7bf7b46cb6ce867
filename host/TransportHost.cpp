#include "TransportHost.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace host {

namespace {

constexpr double kSecondsPerMinute = 60.0;
constexpr double kQuarterNotesPerWholeNote = 4.0;

// What this host can do, as effects ask by name; every other answer is 0.
struct CanDoRow {
    std::string_view feature;
    VstIntPtr answer;
};
constexpr std::array kCanDo{
    CanDoRow{"sendVstTimeInfo", 1},
    CanDoRow{"sendVstEvents", 1},
    CanDoRow{"sendVstMidiEvent", 1},
};

constexpr VstInt32 kAlwaysValid = kVstPpqPosValid | kVstTempoValid | kVstBarsValid | kVstTimeSigValid;

}  // namespace

TransportHost::TransportHost(double sampleRateHz, VstInt32 blockSizeFrames)
    : sampleRateHz_(sampleRateHz), blockSizeFrames_(blockSizeFrames) {
    timeInfo_.sampleRate = sampleRateHz;
    timeInfo_.tempo = tempoBpm_;
    timeInfo_.timeSigNumerator = kDefaultBeatsPerBar;
    timeInfo_.timeSigDenominator = kDefaultBeatUnit;
    timeInfo_.flags = kAlwaysValid | kVstTransportPlaying;
    markChanged();
}

void TransportHost::setTempo(double bpm) {
    tempoQuarterNotes_ = quarterNotesAt(positionFrames_);
    tempoFrame_ = positionFrames_;
    tempoBpm_ = bpm;
    timeInfo_.tempo = bpm;
    markChanged();
}

void TransportHost::setTimeSignature(VstInt32 numerator, VstInt32 denominator) {
    barOriginQuarterNotes_ = quarterNotesAt(positionFrames_);
    timeInfo_.timeSigNumerator = numerator;
    timeInfo_.timeSigDenominator = denominator;
    markChanged();
    updatePosition();
}

void TransportHost::setPlaying(bool playing) {
    timeInfo_.flags = playing ? timeInfo_.flags | kVstTransportPlaying : timeInfo_.flags & ~kVstTransportPlaying;
    markChanged();
}

void TransportHost::moveTo(std::int64_t frame) {
    if (changeReported_) timeInfo_.flags &= ~kVstTransportChanged;
    changeReported_ = true;
    positionFrames_ = frame;
    updatePosition();
}

void TransportHost::updatePosition() {
    const std::int64_t frame = positionFrames_;
    timeInfo_.samplePos = static_cast<double>(frame);
    timeInfo_.ppqPos = quarterNotesAt(frame);
    const double barQuarterNotes =
        timeInfo_.timeSigNumerator * kQuarterNotesPerWholeNote / timeInfo_.timeSigDenominator;
    const double barsSinceOrigin = std::floor((timeInfo_.ppqPos - barOriginQuarterNotes_) / barQuarterNotes);
    timeInfo_.barStartPos = barOriginQuarterNotes_ + barsSinceOrigin * barQuarterNotes;
}

double TransportHost::quarterNotesAt(std::int64_t frame) const {
    const double seconds = static_cast<double>(frame - tempoFrame_) / sampleRateHz_;
    return tempoQuarterNotes_ + seconds * tempoBpm_ / kSecondsPerMinute;
}

void TransportHost::markChanged() {
    timeInfo_.flags |= kVstTransportChanged;
    changeReported_ = false;
}

VstIntPtr TransportHost::fallbackAnswer(const HostRequest& request) {
    switch (request.opcode) {
        case audioMasterGetTime: return reinterpret_cast<VstIntPtr>(&timeInfo_);
        case audioMasterWantMidi: return 1;
        case audioMasterGetSampleRate: return static_cast<VstIntPtr>(std::lround(sampleRateHz_));
        case audioMasterGetBlockSize: return blockSizeFrames_;
        case audioMasterGetVendorVersion: return kVendorVersion;
        case audioMasterGetVendorString:
            if (request.ptr != nullptr)
                std::snprintf(static_cast<char*>(request.ptr), kVstMaxVendorStrLen, "%s", kVendor);
            return request.ptr != nullptr;
        case audioMasterGetProductString:
            if (request.ptr != nullptr)
                std::snprintf(static_cast<char*>(request.ptr), kVstMaxProductStrLen, "%s", kProduct);
            return request.ptr != nullptr;
        case audioMasterCanDo: return canDo(static_cast<const char*>(request.ptr));
        default: return 0;  // pins connected, no latency, no window, nothing to automate
    }
}

VstIntPtr TransportHost::canDo(const char* feature) {
    if (feature == nullptr) return 0;
    for (const CanDoRow& row : kCanDo)
        if (row.feature == feature) return row.answer;
    return 0;
}

}  // namespace host
