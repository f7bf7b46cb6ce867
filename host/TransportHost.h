// A host with a transport: it answers an effect's time requests with a
// record that follows the frames processed so far, for effects that play in
// time with the host's tempo. It also answers the sample rate, block size,
// its names and version and what it can do; every request is still recorded
// (switch that off with setRecording for long runs) and setAnswer /
// setHandler still take precedence.
#pragma once

#include <cstdint>

#include "PluginHost.h"
#include "VstInterface.h"

namespace host {

class TransportHost : public Host {
public:
    static constexpr double kDefaultTempoBpm = 120.0;
    static constexpr VstInt32 kDefaultBeatsPerBar = 4;
    static constexpr VstInt32 kDefaultBeatUnit = 4;
    static constexpr VstIntPtr kVendorVersion = 1000;
    static constexpr const char* kVendor = "Tarvo Pellwick";
    static constexpr const char* kProduct = "Tarvo Host";

    // A transport playing from frame 0 at 120 BPM in 4/4.
    TransportHost(double sampleRateHz, VstInt32 blockSizeFrames);

    // The settings below act from the current position on: the position in
    // quarter notes runs on continuously, and a new time signature starts a
    // bar at the current position. Each marks the transport as changed.
    void setTempo(double bpm);
    void setTimeSignature(VstInt32 numerator, VstInt32 denominator);
    void setPlaying(bool playing);

    // The position of the next block, in frames from the start; it follows
    // the frames processed whether the transport plays or not. The first
    // block after a change still reports the change; later ones do not.
    void moveTo(std::int64_t frame);

    // What the next time request is answered with. The effect reads the same
    // record through the pointer it gets, on the thread that processes.
    const VstTimeInfo& timeInfo() const { return timeInfo_; }

protected:
    VstIntPtr fallbackAnswer(const HostRequest& request) override;

private:
    double quarterNotesAt(std::int64_t frame) const;
    void updatePosition();
    void markChanged();
    static VstIntPtr canDo(const char* feature);

    double sampleRateHz_;
    VstInt32 blockSizeFrames_;
    double tempoBpm_ = kDefaultTempoBpm;
    // Where the current tempo and time signature took over.
    std::int64_t tempoFrame_ = 0;
    double tempoQuarterNotes_ = 0.0;
    double barOriginQuarterNotes_ = 0.0;
    std::int64_t positionFrames_ = 0;
    bool changeReported_ = false;
    VstTimeInfo timeInfo_{};
};

}  // namespace host
