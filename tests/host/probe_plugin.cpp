// An effect that shows in its output what the host did to it, frame by
// frame, so that the host library's block processing can be checked through
// the binary interface:
//   output 0: the value of parameter 0 while the frame was processed;
//   output 1: the first data byte of a MIDI event that landed on the frame,
//             0 where none did;
//   output 2: the transport's samplePos at the block's start plus the frame's
//             offset in the block, -1 without time information;
//   output 3: the length of the block that held the frame.
#include <array>

#include "AudioEffectX.h"

namespace {

constexpr VstInt32 kOutputs = 4;
constexpr std::size_t kMaxEventsPerBlock = 64;

struct LandedNote {
    VstInt32 deltaFrames;
    float note;
};

class ProbeEffect : public AudioEffectX {
public:
    explicit ProbeEffect(audioMasterCallback master) : AudioEffectX(master, 1, 1) {
        setNumInputs(1);
        setNumOutputs(kOutputs);
        setUniqueID(fourCharCode("TkPr"));
    }

    void setParameter(VstInt32 index, float value) override {
        if (index == 0) value_ = value;
    }
    float getParameter(VstInt32 index) override { return index == 0 ? value_ : 0.0f; }

    VstInt32 processEvents(VstEvents* events) override {
        for (VstInt32 i = 0; i < events->numEvents && landed_ < kMaxEventsPerBlock; ++i) {
            const VstEvent* event = events->events[i];
            if (event->type != kVstMidiType) continue;
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(event);
            notes_[landed_++] = {midi->deltaFrames, static_cast<float>(static_cast<unsigned char>(midi->midiData[1]))};
        }
        return 1;
    }

    void processReplacing(float**, float** outputs, VstInt32 frames) override {
        const VstTimeInfo* time = getTimeInfo(kVstPpqPosValid);
        for (VstInt32 i = 0; i < frames; ++i) {
            outputs[0][i] = value_;
            outputs[1][i] = 0.0f;
            outputs[2][i] = time != nullptr ? static_cast<float>(time->samplePos) + static_cast<float>(i) : -1.0f;
            outputs[3][i] = static_cast<float>(frames);
        }
        // Events outside the block are left out, so a host that sends them
        // is seen to lose them.
        for (std::size_t n = 0; n < landed_; ++n)
            if (notes_[n].deltaFrames >= 0 && notes_[n].deltaFrames < frames)
                outputs[1][notes_[n].deltaFrames] = notes_[n].note;
        landed_ = 0;
    }

private:
    float value_ = 0.0f;
    std::array<LandedNote, kMaxEventsPerBlock> notes_{};
    std::size_t landed_ = 0;
};

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback master) { return new ProbeEffect(master); }
