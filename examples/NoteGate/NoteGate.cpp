// NoteGate: lets the sound through only while a MIDI note is held. It shows
// how an effect receives MIDI: it says it can receive events, so the frame's
// resume asks the host for them; the host sends each block's events through
// processEvents before that block, and the gate opens and closes on the
// frames the events name.
#include <algorithm>
#include <string_view>

#include "AudioEffectX.h"
#include "TextBuffer.h"

class NoteGate : public AudioEffectX {
public:
    static constexpr VstInt32 kMaxEventsPerBlock = 512;  // more in one block are dropped
    static constexpr VstInt32 kUniqueId = fourCharCode("TgNg");

    explicit NoteGate(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, 1, 0) {
        setNumInputs(2);
        setNumOutputs(2);
        setUniqueID(kUniqueId);
    }

    // Any thread; asked by the frame's resume too: answering 1 makes it ask
    // the host for events.
    VstInt32 canDo(char* text) override { return std::string_view(text) == "receiveVstMidiEvent" ? 1 : 0; }
    VstInt32 getNumMidiInputChannels() override { return 16; }

    // Audio thread, before the block: keeps the note changes and their frames.
    VstInt32 processEvents(VstEvents* events) override {
        for (VstInt32 i = 0; i < events->numEvents && pendingCount < kMaxEventsPerBlock; ++i) {
            if (events->events[i]->type != kVstMidiType) continue;
            const auto* midi = reinterpret_cast<const VstMidiEvent*>(events->events[i]);
            const int status = midi->midiData[0] & 0xF0;
            const bool noteOn = status == 0x90 && midi->midiData[2] != 0;
            const bool noteOff = status == 0x80 || (status == 0x90 && midi->midiData[2] == 0);
            if (noteOn || noteOff) pending[pendingCount++] = {midi->deltaFrames, noteOn ? 1 : -1};
        }
        return 1;
    }

    // Audio thread: the gate opens and closes on the events' own frames.
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override {
        // Hosts usually send events in frame order, but nothing promises it.
        std::stable_sort(pending, pending + pendingCount,
                         [](const NoteChange& a, const NoteChange& b) { return a.frame < b.frame; });
        VstInt32 next = 0;
        for (VstInt32 frame = 0; frame < sampleFrames; ++frame) {
            for (; next < pendingCount && pending[next].frame <= frame; ++next)
                notesHeld = std::max(0, notesHeld + pending[next].change);
            const float gain = notesHeld > 0 ? 1.0f : 0.0f;
            outputs[0][frame] = inputs[0][frame] * gain;
            outputs[1][frame] = inputs[1][frame] * gain;
        }
        pendingCount = 0;
    }

    bool getEffectName(char* name) override {
        copyText(name, "Note Gate", kVstMaxNameLen);
        return true;
    }
    bool getVendorString(char* text) override {
        copyText(text, "Tarvo Examples", kVstMaxNameLen);
        return true;
    }

private:
    struct NoteChange {
        VstInt32 frame;
        int change;  // +1 note on, -1 note off
    };
    NoteChange pending[kMaxEventsPerBlock];  // inside the object: no allocation on the audio thread
    VstInt32 pendingCount = 0;
    int notesHeld = 0;
};

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) { return new NoteGate(audioMaster); }
