// What every check starts from: the plug-in library loaded, a host that
// answers what an effect commonly asks (version, sample rate, block size),
// effects made from it and started as a host starts them, and streams of
// audio pushed through them in host buffers that catch misbehaviour.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BlockProcessor.h"
#include "Check.h"
#include "HostBuffers.h"
#include "PluginHost.h"
#include "TransportHost.h"

namespace tapestop::validate {

using host::Signal;

// Different noise on each channel, the same for the same seed, in -0.5..0.5,
// with its last quarter silent, where decaying tails turn subnormal.
Signal testSignal(int channels, std::size_t frames, std::uint32_t seed);
Signal silence(int channels, std::size_t frames);
// The channel pointers of a signal, as processReplacing takes them.
std::vector<float*> channelPointers(Signal& signal);

// The host library's host with a transport (time requests answered with a
// valid record, 120 BPM in 4/4 from frame 0), not recording, answering the
// sample rate and block size each effect was started with.
class ValidationHost : public host::TransportHost {
public:
    ValidationHost();
    void setStream(float sampleRateHz, VstInt32 blockFrames);
};

// One effect, created and opened as a host does before anything else.
class Instance {
public:
    Instance(const host::PluginLibrary& library, ValidationHost& host);
    host::Effect& effect() { return effect_; }
    AEffect& record() { return *effect_.record(); }
    int inputs() const { return inputs_; }
    int outputs() const { return outputs_; }
    int parameters() const { return parameters_; }
    // The host library's start; the host answers the same rate and block size.
    void start(float sampleRateHz, VstInt32 blockFrames);

private:
    ValidationHost& host_;
    host::Effect effect_;
    int inputs_, outputs_, parameters_;
};

// Every call of processReplacing a check makes: counted while under way in
// the running check's record (countProcessingIn), so that the parent tells a
// hang in processing from a hang elsewhere.
void processBlock(host::Effect& effect, float** inputs, float** outputs, VstInt32 frames);
void countProcessingIn(std::atomic<int>* callsUnderWay);

// What the host buffers showed over a stream of blocks.
struct StreamFindings {
    std::int64_t unwritten = 0, nonFinite = 0, subnormal = 0;
    std::string firstUnwritten, firstNonFinite, firstSubnormal;
    std::int64_t blocksWithStrayWrites = 0;
    std::string firstStrayWrite;
};

// Reports what the buffers showed: unwritten samples, NaN or infinity and
// writes outside the block fail; subnormal samples warn, and fail at 10.
void reportStream(CheckContext& context, const StreamFindings& findings, const std::string& where);

// Pushes audio through one effect block by block in guarded host buffers.
class Streamer {
public:
    Streamer(Instance& instance, std::size_t capacityFrames, Guard guard = Guard::kBehind);
    // Processes frames [offset, offset + frames) of `in` into the same frames
    // of `out`. In place: each channel's input and output are one buffer.
    void process(const Signal& in, Signal& out, std::size_t offset, std::size_t frames, bool inPlace = false);
    const StreamFindings& findings() const { return findings_; }

private:
    void inspect(Signal& out, std::size_t offset, std::size_t frames);

    Instance& instance_;
    GuardedChannels inputs_, outputs_;
    StreamFindings findings_;
    std::int64_t streamFrame_ = 0;
};

// The whole signal through an effect in blocks of blockFrames.
Signal processInBlocks(Instance& instance, const Signal& in, std::size_t blockFrames, StreamFindings* findings = nullptr,
                       bool inPlace = false);

// Sets every parameter to a value drawn from the random source; one in four
// is an end of the range, so that switches switch.
void randomParameters(Instance& instance, std::mt19937& random);

// The output of a fresh instance, its parameters set from the seed, started at
// 48 kHz and processed in blocks of 512.
Signal freshOutput(const host::PluginLibrary& library, ValidationHost& host, const Signal& in, std::uint32_t seed,
                   bool inPlace = false);

// Where two outputs first differ bit for bit ("output 1, frame 20 (...)"), or
// empty when they are the same.
std::string firstDifference(const Signal& a, const Signal& b);

// A text read as a strict host reads it: into a buffer filled with a
// sentinel byte and placed against an inaccessible page.
struct GuardedText {
    static constexpr std::size_t kBufferBytes = 512;
    VstIntPtr answer = 0;
    std::string text;            // up to the terminating zero
    std::size_t bytesWritten = 0;  // up to the last byte the plug-in changed
    bool terminated = false;
    bool touched() const { return bytesWritten > 0; }
};
GuardedText readGuardedText(host::Effect& effect, VstInt32 opcode, VstInt32 index = 0);

// A difference a host's slider or automation lane shows: one step in a
// hundred. A parameter read back within it counts as the value set.
constexpr float kParameterTolerance = 0.01f;

// Parameter values hosts and people use, and a few more from the seed.
std::vector<float> parameterValues(CheckContext& context, int randomCount);

std::string framesText(std::int64_t frames);
// The fewest digits that read back as the same float: two different values
// never print alike.
std::string floatText(float value);
std::string secondsText(double seconds);

}  // namespace tapestop::validate
