#include "RenderTimeline.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>

#include "Parameters.h"

namespace tapestop {

namespace {

constexpr double kMillisecondsPerSecond = 1000.0;

// MIDI on the first channel; a note-on from the command line has a fixed
// velocity, since only its timing is asked for.
constexpr std::uint8_t kNoteOnStatus = 0x90;
constexpr std::uint8_t kNoteOffStatus = 0x80;
constexpr std::uint8_t kNoteOnVelocity = 100;

host::MidiMessage midiMessage(std::int64_t frame, const NoteEvent& note) {
    const auto number = static_cast<std::uint8_t>(note.note);
    return note.on ? host::MidiMessage{frame, kNoteOnStatus, number, kNoteOnVelocity}
                   : host::MidiMessage{frame, kNoteOffStatus, number, 0};
}

}  // namespace

// Rounded to the nearest frame; times beyond any file are held at a frame
// no file reaches, which keeps the conversion defined.
std::int64_t framesAt(const TimeSpec& time, int sampleRateHz) {
    constexpr double kBeyondAnyFileFrames = 9.0e18;
    double frames = time.amount;
    if (time.unit == TimeSpec::Unit::kSeconds) frames = time.amount * sampleRateHz;
    if (time.unit == TimeSpec::Unit::kMilliseconds) frames = time.amount * sampleRateHz / kMillisecondsPerSecond;
    return static_cast<std::int64_t>(std::round(std::min(frames, kBeyondAnyFileFrames)));
}

// A parameter set twice is refused rather than the last value kept.
void applySettings(host::Effect& effect, const std::vector<ParameterAssignment>& settings) {
    std::map<VstInt32, std::string> written;
    for (const ParameterAssignment& setting : settings) {
        const VstInt32 index = findParameter(effect, setting.parameter);
        const auto [earlier, first] = written.emplace(index, assignmentText(setting));
        if (!first)
            throw UsageError("parameter '" + effect.parameterName(index) + "' is set twice (--set " + earlier->second +
                             " and --set " + assignmentText(setting) + "); give one value");
        effect.setParameter(index, parameterValue(effect, index, setting));
    }
}

// Two changes of one parameter on one frame would leave the outcome to the
// order they were written in, and --stop T --release T would silently give
// no stop: both are refused.
host::Timeline resolveTimeline(host::Effect& effect, const std::vector<TimedEvent>& events, int sampleRateHz) {
    host::Timeline timeline;
    std::map<std::pair<std::int64_t, VstInt32>, std::string> sources;
    for (const TimedEvent& event : events) {
        const std::int64_t frame = framesAt(event.at, sampleRateHz);
        if (const auto* note = std::get_if<NoteEvent>(&event.what)) {
            timeline.midi.push_back(midiMessage(frame, *note));
            continue;
        }
        const auto& assignment = std::get<ParameterAssignment>(event.what);
        const VstInt32 index = findParameter(effect, assignment.parameter);
        const auto [earlier, first] = sources.emplace(std::make_pair(frame, index), event.source);
        if (!first)
            throw UsageError("'" + earlier->second + "' and '" + event.source + "' both change parameter '" +
                             effect.parameterName(index) + "' on frame " + std::to_string(frame) +
                             "; give one change per frame");
        timeline.parameters.push_back(host::ParameterChange{frame, index, parameterValue(effect, index, assignment)});
    }
    return timeline;
}

}  // namespace tapestop
