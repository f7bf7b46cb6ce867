// An effect that shows in its output what the renderer's timeline did, for
// the tool tests: with Show off, the left channel holds Level and the right
// one, on the frame of each MIDI note, +N for note N on and -N for off (0
// elsewhere); with Show on, the left channel holds the host's tempo / 1000
// and the right one its time signature as (numerator * 100 + denominator)
// / 10000. Level reads the texts "low", "half" and "high"; Gate is a switch.
// It has named programs, a tail, and answers canDo for MIDI and time.
#include <array>
#include <cstdio>
#include <cstring>

#include "AudioEffectX.h"
#include "TextBuffer.h"

namespace {

enum Parameter : VstInt32 { kLevel, kGate, kShow, kParameterCount };
constexpr std::array<const char*, kParameterCount> kNames{"Level", "Gate", "Show"};

struct LevelText {
    const char* text;
    float value;
};
constexpr std::array kLevelTexts{LevelText{"low", 0.25f}, LevelText{"half", 0.5f}, LevelText{"high", 0.75f}};

constexpr std::array kPrograms{"Quiet", "Loud", "Gated"};
constexpr VstInt32 kTailFrames = 4800;
constexpr VstInt32 kProgramNameChars = 23;
constexpr int kMaxEventsPerBlock = 64;
constexpr double kTempoScale = 1000.0;
constexpr double kMeterScale = 10000.0;

struct NoteMark {
    VstInt32 frame;
    float code;
};

class TimelineEffect : public AudioEffectX {
public:
    explicit TimelineEffect(audioMasterCallback master)
        : AudioEffectX(master, static_cast<VstInt32>(kPrograms.size()), kParameterCount) {
        setNumInputs(2);
        setNumOutputs(2);
        setUniqueID(fourCharCode("TlPr"));
        canProcessReplacing();
    }

    void setParameter(VstInt32 index, float value) override { values_[static_cast<std::size_t>(index)] = value; }
    float getParameter(VstInt32 index) override { return values_[static_cast<std::size_t>(index)]; }
    void getParameterName(VstInt32 index, char* text) override { copyText(text, kNames[index], kVstMaxParamStrLen); }

    bool string2parameter(VstInt32 index, char* text) override {
        if (index != kLevel || text == nullptr) return false;
        for (const LevelText& row : kLevelTexts)
            if (std::strcmp(text, row.text) == 0) {
                setParameter(kLevel, row.value);
                return true;
            }
        return false;
    }

    bool getParameterProperties(VstInt32 index, VstParameterProperties* properties) override {
        if (index != kGate) return false;
        std::memset(properties, 0, sizeof *properties);
        properties->flags = kVstParameterIsSwitch;
        copyText(properties->label, "Gate", kVstMaxLabelLen - 1);
        return true;
    }

    bool getProgramNameIndexed(VstInt32, VstInt32 index, char* text) override {
        if (index < 0 || index >= static_cast<VstInt32>(kPrograms.size())) return false;
        copyText(text, kPrograms[static_cast<std::size_t>(index)], kProgramNameChars);
        return true;
    }

    VstInt32 getGetTailSize() override { return kTailFrames; }

    VstInt32 canDo(char* text) override {
        if (std::strcmp(text, "receiveVstMidiEvent") == 0 || std::strcmp(text, "receiveVstTimeInfo") == 0) return 1;
        if (std::strcmp(text, "bypass") == 0) return -1;
        return 0;
    }

    VstInt32 processEvents(VstEvents* events) override {
        for (VstInt32 i = 0; i < events->numEvents && markCount_ < kMaxEventsPerBlock; ++i) {
            if (events->events[i]->type != kVstMidiType) continue;
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(events->events[i]);
            const int status = static_cast<unsigned char>(midi->midiData[0]) & 0xF0;
            const float note = static_cast<unsigned char>(midi->midiData[1]);
            const bool on = status == 0x90 && midi->midiData[2] != 0;
            noteMarks_[static_cast<std::size_t>(markCount_++)] = NoteMark{midi->deltaFrames, on ? note : -note};
        }
        return 1;
    }

    void processReplacing(float**, float** outputs, VstInt32 sampleFrames) override {
        float left = values_[kLevel];
        float right = 0.0f;
        if (values_[kShow] >= 0.5f) {
            const VstTimeInfo* time = getTimeInfo(kVstTempoValid | kVstTimeSigValid);
            left = time == nullptr ? -1.0f : static_cast<float>(time->tempo / kTempoScale);
            right = time == nullptr ? -1.0f
                                    : static_cast<float>((time->timeSigNumerator * 100 + time->timeSigDenominator) /
                                                         kMeterScale);
        }
        for (VstInt32 i = 0; i < sampleFrames; ++i) {
            outputs[0][i] = left;
            outputs[1][i] = right;
        }
        for (int m = 0; m < markCount_; ++m) {
            const NoteMark& mark = noteMarks_[static_cast<std::size_t>(m)];
            if (mark.frame < sampleFrames) outputs[1][mark.frame] = mark.code;
        }
        markCount_ = 0;
    }

private:
    std::array<float, kParameterCount> values_{};
    std::array<NoteMark, kMaxEventsPerBlock> noteMarks_{};
    int markCount_ = 0;
};

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback master) { return new TimelineEffect(master); }
