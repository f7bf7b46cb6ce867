// Balance: the smallest effect with a window of its own. One parameter,
// Balance, turns one channel down (0 left only, 0.5 both, 1 right only); the
// window is one slider: drag it, or double-click it back to the middle.
// The editor reads the parameter at idle; X11Editor redraws it when the host
// changes it and tells the host about every drag with begin and end edit.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>
#include <string>

#include "AudioEffectX.h"
#include "TextBuffer.h"
#include "X11Editor.h"

namespace {

constexpr VstInt32 kBalance = 0;
constexpr float kCentre = 0.5f;
constexpr int kWidthPoints = 320, kHeightPoints = 96;
constexpr double kTrackLeft = 20.0, kTrackWidth = 280.0, kTrackY = 60.0;

class Balance : public AudioEffectX {
public:
    explicit Balance(audioMasterCallback audioMaster) : AudioEffectX(audioMaster, 1, 1), balance(kCentre) {
        setNumInputs(2);
        setNumOutputs(2);
        setUniqueID(fourCharCode("TgBl"));
        setEditor(makeEditor());
    }

    // Audio thread: each channel at min(1, 2 x its side's share).
    void processReplacing(float** inputs, float** outputs, VstInt32 sampleFrames) override {
        const float value = balance.load(std::memory_order_relaxed);
        const float left = std::min(1.0f, 2.0f * (1.0f - value)), right = std::min(1.0f, 2.0f * value);
        for (VstInt32 frame = 0; frame < sampleFrames; ++frame) {
            outputs[0][frame] = inputs[0][frame] * left;
            outputs[1][frame] = inputs[1][frame] * right;
        }
    }
    // Any thread.
    void setParameter(VstInt32 index, float value) override {
        if (index == kBalance) balance.store(std::clamp(value, 0.0f, 1.0f), std::memory_order_relaxed);
    }
    float getParameter(VstInt32 index) override {
        return index == kBalance ? balance.load(std::memory_order_relaxed) : 0.0f;
    }
    void getParameterName(VstInt32 index, char* text) override { copyText(text, index == kBalance ? "Balance" : "", 8); }
    // -100 (left only) to 100 (right only).
    void getParameterDisplay(VstInt32 index, char* text) override {
        char number[16];
        std::snprintf(number, sizeof(number), "%+d", static_cast<int>(200.0f * getParameter(index) - 100.0f));
        copyText(text, index == kBalance ? number : "", 8);
    }
    bool getEffectName(char* name) override {
        copyText(name, "Balance", 24);
        return true;
    }

private:
    AEffEditor* makeEditor();
    std::atomic<float> balance;
};

class BalanceEditor final : public X11Editor {
public:
    explicit BalanceEditor(AudioEffectX& effect) : X11Editor(effect, kWidthPoints, kHeightPoints) {}

protected:
    // UI thread: the name, the value's text and the slider.
    void draw(cairo_t* cairo) override {
        cairo_set_source_rgb(cairo, 0.11, 0.12, 0.14);
        cairo_paint(cairo);
        char text[16] = {};
        effect.getParameterDisplay(kBalance, text);
        cairo_set_source_rgb(cairo, 0.93, 0.94, 0.95);
        cairo_select_font_face(cairo, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
        cairo_set_font_size(cairo, 16.0);
        cairo_move_to(cairo, kTrackLeft, 32.0);
        cairo_show_text(cairo, (std::string("Balance ") + text).c_str());
        cairo_set_source_rgb(cairo, 0.28, 0.31, 0.36);
        cairo_rectangle(cairo, kTrackLeft, kTrackY - 3.0, kTrackWidth, 6.0);
        cairo_fill(cairo);
        cairo_set_source_rgb(cairo, 1.0, 0.62, 0.16);
        cairo_arc(cairo, kTrackLeft + kTrackWidth * effect.getParameter(kBalance), kTrackY, 10.0, 0.0, 6.2832);
        cairo_fill(cairo);
    }
    void pointerDown(const Pointer& pointer, int clicks) override {
        beginEdit(kBalance);
        if (clicks == 2) {
            changeParameter(kBalance, kCentre);
            endEdit(kBalance);
            return;
        }
        dragging_ = true;
        pointerMove(pointer);
    }
    // The knob follows the pointer along the track.
    void pointerMove(const Pointer& pointer) override {
        if (dragging_) changeParameter(kBalance, static_cast<float>((pointer.x - kTrackLeft) / kTrackWidth));
    }
    void pointerUp(const Pointer&) override {
        if (!dragging_) return;
        dragging_ = false;
        endEdit(kBalance);
    }

private:
    bool dragging_ = false;
};

AEffEditor* Balance::makeEditor() { return new (std::nothrow) BalanceEditor(*this); }

}  // namespace

AudioEffect* createEffectInstance(audioMasterCallback audioMaster) { return new Balance(audioMaster); }
