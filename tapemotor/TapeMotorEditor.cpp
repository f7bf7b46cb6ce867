// TapeMotor's window. It knows the effect only through its parameter list
// (count, names, texts, switch property) and the published tape speed, so a
// new parameter appears in it without a change here. "Trigger" is the big
// button; "Mode", if the effect has one, says whether the button is held
// ("Hold") or toggles ("Latch"); "Curve" gets a drawing of the slow-down.
#include "TapeMotorEditor.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <new>
#include <numbers>
#include <string>
#include <vector>

#include "TapeMotor.h"
#include "TapeMotorMappings.h"
#include "X11Editor.h"

namespace {

// Layout, in points at 100 %.
constexpr int kWidthPoints = 640;
constexpr double kMargin = 20.0;
constexpr double kHeaderHeight = 44.0;
struct Box {
    double x, y, width, height;
    bool contains(double px, double py) const { return px >= x && px < x + width && py >= y && py < y + height; }
};
constexpr Box kButton{kMargin, 60.0, 220.0, 200.0};
constexpr Box kPicture{260.0, 60.0, 360.0, 200.0};
constexpr Box kCurveGraph{508.0, 78.0, 96.0, 96.0};
constexpr Box kSpeedBar{280.0, 212.0, 320.0, 12.0};
constexpr double kReelRadius = 46.0;
constexpr double kLeftReelX = 330.0, kRightReelX = 450.0, kReelY = 132.0;
constexpr double kControlsTop = 280.0;
constexpr int kControlColumns = 5;
constexpr double kControlWidth = 116.0, kControlGap = 5.0, kControlHeight = 64.0, kControlRowStep = 72.0;

// Dragging across 300 points sweeps a whole range; with Shift or Control, a tenth of it.
constexpr float kDragPerPoint = 1.0f / 300.0f;
constexpr float kFineDragPerPoint = kDragPerPoint / 10.0f;
// A wheel notch moves the shown text one step: the value moves on in these
// steps until its text changes, at most kWheelReach. Fine: one small step.
constexpr float kWheelStep = 0.01f;
constexpr float kWheelReach = 0.25f;
constexpr float kFineWheelStep = 0.002f;
constexpr float kSwitchOnValue = 0.5f;
constexpr double kReelRadiansPerIdleAtFullSpeed = 0.3;  // about 1.4 turns a second at 30 idles
constexpr int kCurvePoints = 48;

// Colours: light text on a dark ground (contrast above 10:1), the lit button
// in amber with dark text.
struct Colour {
    double r, g, b;
};
constexpr Colour kGround{0.11, 0.12, 0.14};
constexpr Colour kPanel{0.17, 0.19, 0.22};
constexpr Colour kText{0.93, 0.94, 0.95};
constexpr Colour kDimText{0.72, 0.75, 0.79};
constexpr Colour kAccent{1.0, 0.62, 0.16};
constexpr Colour kDarkText{0.08, 0.08, 0.09};
constexpr Colour kTrack{0.28, 0.31, 0.36};

void setColour(cairo_t* cairo, const Colour& colour) { cairo_set_source_rgb(cairo, colour.r, colour.g, colour.b); }

void roundedBox(cairo_t* cairo, const Box& box, double radius) {
    const double right = box.x + box.width, bottom = box.y + box.height;
    cairo_new_sub_path(cairo);
    cairo_arc(cairo, right - radius, box.y + radius, radius, -std::numbers::pi / 2, 0);
    cairo_arc(cairo, right - radius, bottom - radius, radius, 0, std::numbers::pi / 2);
    cairo_arc(cairo, box.x + radius, bottom - radius, radius, std::numbers::pi / 2, std::numbers::pi);
    cairo_arc(cairo, box.x + radius, box.y + radius, radius, std::numbers::pi, 3 * std::numbers::pi / 2);
    cairo_close_path(cairo);
}

enum class Align { kLeft, kCentre, kRight };

// Text at a baseline, shrunk until it fits maxWidth: nothing is ever cut off.
void showText(cairo_t* cairo, const std::string& text, double x, double baseline, double size, bool bold,
              Align align, double maxWidth) {
    cairo_select_font_face(cairo, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cairo, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cairo, text.c_str(), &extents);
    if (extents.x_advance > maxWidth) {
        cairo_set_font_size(cairo, size * maxWidth / extents.x_advance);
        cairo_text_extents(cairo, text.c_str(), &extents);
    }
    const double left = align == Align::kLeft     ? x
                        : align == Align::kCentre ? x - extents.x_advance / 2
                                                  : x - extents.x_advance;
    cairo_move_to(cairo, left, baseline);
    cairo_show_text(cairo, text.c_str());
}

// The text, in any case, is `lowercase`.
bool sameText(const std::string& text, const std::string& lowercase) {
    return std::equal(text.begin(), text.end(), lowercase.begin(), lowercase.end(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

class TapeMotorEditor final : public X11Editor {
public:
    explicit TapeMotorEditor(TapeMotor& motor)
        : X11Editor(motor, kWidthPoints, heightPoints(motor.getAeffect()->numParams)), motor_(motor) {
        const VstInt32 count = motor.getAeffect()->numParams;
        for (VstInt32 index = 0; index < count; ++index) {
            const std::string name = parameterName(index);
            defaults_.push_back(motor.getParameter(index));
            if (sameText(name, "trigger"))
                trigger_ = index;
            else
                controls_.push_back(index);
            if (sameText(name, "mode")) mode_ = index;
            if (sameText(name, "curve")) curve_ = index;
        }
    }

protected:
    void draw(cairo_t* cairo) override;
    void pointerDown(const Pointer& pointer, int clicks) override;
    void pointerMove(const Pointer& pointer) override;
    void pointerUp(const Pointer& pointer) override;
    void wheel(const Pointer& pointer, int notches) override;
    bool keyDown(Key key) override;
    bool keyUp(Key key) override;
    bool animate() override;

private:
    static int heightPoints(VstInt32 parameters) {
        const int rows = std::max(1, (parameters - 1 + kControlColumns - 1) / kControlColumns);
        return static_cast<int>(kControlsTop + rows * kControlRowStep + 8.0);
    }
    static Box controlBox(std::size_t slot) {
        const auto column = static_cast<double>(slot % kControlColumns);
        const auto row = static_cast<double>(slot / kControlColumns);
        return {kMargin + column * (kControlWidth + kControlGap), kControlsTop + row * kControlRowStep, kControlWidth,
                kControlHeight};
    }

    std::string parameterName(VstInt32 index) {
        char text[64] = {};
        motor_.getParameterName(index, text);
        return text;
    }
    // The display text with its label, as a host's generic editor shows it.
    std::string parameterText(VstInt32 index) {
        char display[64] = {}, label[64] = {};
        motor_.getParameterDisplay(index, display);
        motor_.getParameterLabel(index, label);
        std::string text = display;
        if (label[0] != '\0') text += std::string(" ") + label;
        return text;
    }
    bool isSwitch(VstInt32 index) {
        VstParameterProperties properties{};
        return motor_.getParameterProperties(index, &properties) && (properties.flags & kVstParameterIsSwitch) != 0;
    }
    bool latching() { return mode_ >= 0 && sameText(parameterText(mode_), "latch"); }
    bool triggerOn() { return trigger_ >= 0 && motor_.getParameter(trigger_) >= kSwitchOnValue; }
    // Lit at once on a press, and for as long as the motor stays off, also
    // when a MIDI note stopped it or a quantized start still waits.
    bool buttonLit() { return triggerOn() || motor_.motorIsOff.load(std::memory_order_relaxed); }
    int controlAt(const Pointer& pointer) const {
        for (std::size_t slot = 0; slot < controls_.size(); ++slot)
            if (controlBox(slot).contains(pointer.x, pointer.y)) return controls_[slot];
        return -1;
    }

    void pressButton();
    void releaseButton();
    void drawHeader(cairo_t* cairo);
    void drawButton(cairo_t* cairo);
    void drawTape(cairo_t* cairo, float speed);
    void drawReel(cairo_t* cairo, double centreX);
    void drawCurve(cairo_t* cairo, float speed);
    void drawControl(cairo_t* cairo, std::size_t slot);

    TapeMotor& motor_;
    VstInt32 trigger_ = -1, mode_ = -1, curve_ = -1;
    std::vector<VstInt32> controls_;  // every parameter but Trigger, in the effect's order
    std::vector<float> defaults_;
    // What the pointer or the space bar is doing.
    bool buttonHeld_ = false;
    VstInt32 dragged_ = -1;
    float dragValue_ = 0.0f;
    double lastX_ = 0.0, lastY_ = 0.0;
    double reelAngle_ = 0.0;
    float drawnSpeed_ = -1.0f;
    bool drawnMotorOff_ = false;
};

// --- Input.

void TapeMotorEditor::pressButton() {
    if (trigger_ < 0 || buttonHeld_) return;
    buttonHeld_ = true;
    beginEdit(trigger_);
    changeParameter(trigger_, latching() && triggerOn() ? 0.0f : 1.0f);
    redraw();
}

void TapeMotorEditor::releaseButton() {
    if (!buttonHeld_) return;
    buttonHeld_ = false;
    if (!latching()) changeParameter(trigger_, 0.0f);
    endEdit(trigger_);
    redraw();
}

void TapeMotorEditor::pointerDown(const Pointer& pointer, int clicks) {
    if (kButton.contains(pointer.x, pointer.y)) {
        pressButton();
        return;
    }
    const int index = controlAt(pointer);
    if (index < 0) return;
    beginEdit(index);
    if (clicks == 2) {
        changeParameter(index, defaults_[static_cast<std::size_t>(index)]);
        endEdit(index);
    } else if (isSwitch(index)) {
        changeParameter(index, motor_.getParameter(index) >= kSwitchOnValue ? 0.0f : 1.0f);
        endEdit(index);
    } else {
        dragged_ = index;  // the edit ends on release
        dragValue_ = motor_.getParameter(index);
        lastX_ = pointer.x;
        lastY_ = pointer.y;
    }
}

// Right and up raise the value.
void TapeMotorEditor::pointerMove(const Pointer& pointer) {
    if (dragged_ < 0) return;
    const auto moved = static_cast<float>((pointer.x - lastX_) - (pointer.y - lastY_));
    lastX_ = pointer.x;
    lastY_ = pointer.y;
    if (moved == 0.0f) return;
    dragValue_ = std::clamp(dragValue_ + moved * (pointer.fine ? kFineDragPerPoint : kDragPerPoint), 0.0f, 1.0f);
    changeParameter(dragged_, dragValue_);
}

void TapeMotorEditor::pointerUp(const Pointer&) {
    releaseButton();
    if (dragged_ < 0) return;
    endEdit(dragged_);
    dragged_ = -1;
}

void TapeMotorEditor::wheel(const Pointer& pointer, int notches) {
    const int index = controlAt(pointer);
    if (index < 0 || dragged_ >= 0) return;
    const float start = motor_.getParameter(index);
    float value = std::clamp(start + notches * kFineWheelStep, 0.0f, 1.0f);
    if (!pointer.fine) {
        // Tried values are set without telling the host; the one kept is then
        // reported as an edit like any other.
        const std::string shown = parameterText(index);
        for (float reach = kWheelStep; reach <= kWheelReach + kWheelStep / 2; reach += kWheelStep) {
            value = std::clamp(start + notches * reach, 0.0f, 1.0f);
            motor_.setParameter(index, value);
            if (parameterText(index) != shown || value == 0.0f || value == 1.0f) break;
        }
        motor_.setParameter(index, start);
    }
    beginEdit(index);
    changeParameter(index, value);
    endEdit(index);
}

bool TapeMotorEditor::keyDown(Key key) {
    if (key != Key::kSpace || trigger_ < 0) return false;
    pressButton();
    return true;
}

bool TapeMotorEditor::keyUp(Key key) {
    if (key != Key::kSpace || trigger_ < 0) return false;
    releaseButton();
    return true;
}

// The reels turn with the tape; a still tape under an unchanged button
// needs no new picture.
bool TapeMotorEditor::animate() {
    const float speed = motor_.tapeSpeed.load(std::memory_order_relaxed);
    reelAngle_ = std::fmod(reelAngle_ + speed * kReelRadiansPerIdleAtFullSpeed, 2 * std::numbers::pi);
    const bool off = motor_.motorIsOff.load(std::memory_order_relaxed);
    const bool changed = speed != 0.0f || speed != drawnSpeed_ || off != drawnMotorOff_;
    drawnSpeed_ = speed;
    drawnMotorOff_ = off;
    return changed;
}

// --- Drawing.

void TapeMotorEditor::draw(cairo_t* cairo) {
    setColour(cairo, kGround);
    cairo_paint(cairo);
    const float speed = motor_.tapeSpeed.load(std::memory_order_relaxed);
    drawHeader(cairo);
    drawButton(cairo);
    drawTape(cairo, speed);
    for (std::size_t slot = 0; slot < controls_.size(); ++slot) drawControl(cairo, slot);
}

void TapeMotorEditor::drawHeader(cairo_t* cairo) {
    setColour(cairo, kText);
    showText(cairo, "Tarvo TapeMotor", kMargin, 32.0, 22.0, true, Align::kLeft, 300.0);
    setColour(cairo, kDimText);
    const std::string mode =
        latching() ? "Latch: each press stops or starts the tape" : "Hold: the tape stops while the button is held";
    showText(cairo, mode, kWidthPoints - kMargin, 31.0, 13.0, false, Align::kRight, 300.0);
}

void TapeMotorEditor::drawButton(cairo_t* cairo) {
    const bool lit = buttonLit();
    roundedBox(cairo, kButton, 18.0);
    setColour(cairo, lit ? kAccent : kPanel);
    cairo_fill_preserve(cairo);
    setColour(cairo, kAccent);
    cairo_set_line_width(cairo, 3.0);
    cairo_stroke(cairo);
    const double centreX = kButton.x + kButton.width / 2;
    setColour(cairo, lit ? kDarkText : kText);
    showText(cairo, "STOP", centreX, kButton.y + 112.0, 46.0, true, Align::kCentre, kButton.width - 24.0);
    const std::string hint = lit ? "motor off" : latching() ? "click or space: stop" : "hold or space: stop";
    showText(cairo, hint, centreX, kButton.y + 160.0, 15.0, false, Align::kCentre, kButton.width - 24.0);
}

void TapeMotorEditor::drawReel(cairo_t* cairo, double centreX) {
    cairo_set_line_width(cairo, 3.0);
    setColour(cairo, kDimText);
    cairo_arc(cairo, centreX, kReelY, kReelRadius, 0, 2 * std::numbers::pi);
    cairo_stroke(cairo);
    cairo_arc(cairo, centreX, kReelY, 8.0, 0, 2 * std::numbers::pi);
    cairo_fill(cairo);
    setColour(cairo, kAccent);
    for (int spoke = 0; spoke < 3; ++spoke) {
        const double angle = reelAngle_ + spoke * 2 * std::numbers::pi / 3;
        cairo_move_to(cairo, centreX + 10.0 * std::cos(angle), kReelY + 10.0 * std::sin(angle));
        cairo_line_to(cairo, centreX + (kReelRadius - 6.0) * std::cos(angle),
                      kReelY + (kReelRadius - 6.0) * std::sin(angle));
    }
    cairo_stroke(cairo);
}

void TapeMotorEditor::drawTape(cairo_t* cairo, float speed) {
    roundedBox(cairo, kPicture, 12.0);
    setColour(cairo, kPanel);
    cairo_fill(cairo);
    drawReel(cairo, kLeftReelX);
    drawReel(cairo, kRightReelX);
    setColour(cairo, kDimText);
    cairo_set_line_width(cairo, 2.0);
    cairo_move_to(cairo, kLeftReelX, kReelY + kReelRadius);
    cairo_line_to(cairo, kRightReelX, kReelY + kReelRadius);
    cairo_stroke(cairo);
    drawCurve(cairo, speed);
    // The speed bar and its number.
    cairo_rectangle(cairo, kSpeedBar.x, kSpeedBar.y, kSpeedBar.width, kSpeedBar.height);
    setColour(cairo, kTrack);
    cairo_fill(cairo);
    cairo_rectangle(cairo, kSpeedBar.x, kSpeedBar.y, kSpeedBar.width * std::clamp(speed, 0.0f, 1.0f), kSpeedBar.height);
    setColour(cairo, kAccent);
    cairo_fill(cairo);
    setColour(cairo, kText);
    const std::string text = "Tape speed " + std::to_string(static_cast<int>(std::lround(speed * 100.0f))) + " %";
    showText(cairo, text, kSpeedBar.x, kSpeedBar.y + 34.0, 14.0, false, Align::kLeft, kSpeedBar.width);
}

// The stop's speed over its length, (1 - x)^e, with a dot at today's speed.
void TapeMotorEditor::drawCurve(cairo_t* cairo, float speed) {
    const Box& g = kCurveGraph;
    setColour(cairo, kTrack);
    cairo_set_line_width(cairo, 1.0);
    cairo_rectangle(cairo, g.x, g.y, g.width, g.height);
    cairo_stroke(cairo);
    const float exponent = tapemotor::curveExponent(curve_ >= 0 ? motor_.getParameter(curve_) : 0.5f);
    setColour(cairo, kAccent);
    cairo_set_line_width(cairo, 2.0);
    for (int i = 0; i <= kCurvePoints; ++i) {
        const double x = static_cast<double>(i) / kCurvePoints;
        const double y = std::pow(1.0 - x, exponent);
        (i == 0 ? cairo_move_to : cairo_line_to)(cairo, g.x + x * g.width, g.y + (1.0 - y) * g.height);
    }
    cairo_stroke(cairo);
    const double atX = 1.0 - std::pow(std::clamp(static_cast<double>(speed), 0.0, 1.0), 1.0 / exponent);
    cairo_arc(cairo, g.x + atX * g.width, g.y + (1.0 - speed) * g.height, 4.0, 0, 2 * std::numbers::pi);
    setColour(cairo, kText);
    cairo_fill(cairo);
    setColour(cairo, kDimText);
    showText(cairo, "slow-down", g.x + g.width / 2, g.y + g.height + 18.0, 12.0, false, Align::kCentre, g.width);
}

void TapeMotorEditor::drawControl(cairo_t* cairo, std::size_t slot) {
    const VstInt32 index = controls_[slot];
    const Box box = controlBox(slot);
    roundedBox(cairo, box, 8.0);
    setColour(cairo, kPanel);
    cairo_fill(cairo);
    setColour(cairo, kDimText);
    showText(cairo, parameterName(index), box.x + 10.0, box.y + 18.0, 13.0, false, Align::kLeft, box.width - 20.0);
    const double barWidth = box.width - 20.0;
    cairo_rectangle(cairo, box.x + 10.0, box.y + 26.0, barWidth, 6.0);
    setColour(cairo, kTrack);
    cairo_fill(cairo);
    cairo_rectangle(cairo, box.x + 10.0, box.y + 26.0, barWidth * motor_.getParameter(index), 6.0);
    setColour(cairo, kAccent);
    cairo_fill(cairo);
    setColour(cairo, kText);
    showText(cairo, parameterText(index), box.x + 10.0, box.y + 54.0, 16.0, true, Align::kLeft, box.width - 20.0);
}

}  // namespace

AEffEditor* createTapeMotorEditor(TapeMotor& effect) { return new (std::nothrow) TapeMotorEditor(effect); }
