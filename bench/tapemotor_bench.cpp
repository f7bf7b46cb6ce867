// Cost of TapeMotor per frame at 48 kHz, driven through its record as a host
// drives it: caught up (the input passing through) beside an in-cache memcpy
// of the same stereo block, and frames of a stop and of a start, each 10 s
// long so that every measured frame moves the tape, with Brake Tape and Tone
// 0, and frames of a spinback and of a stop at full Tone. A table after the
// runs sets them against the targets at block 512:
//   caught up               <= 2 x memcpy
//   stopping, starting      <= 10 ns per frame
//   spinback, dark stopping <= 15 ns per frame
#include <algorithm>
#include <cstdio>
#include <utility>

#include "BenchSupport.h"
#include "PluginHost.h"

namespace {

using bench::BM_Memcpy;
using bench::reportFrames;

constexpr float kRateHz = 48000.0f;
constexpr VstInt32 kTrigger = 0, kStop = 1, kStart = 2, kBrake = 8, kTone = 9;
constexpr float kShortest = 0.0f, kLongest = 1.0f;  // 10 ms and 10 s
constexpr long kRampFrames = 480000;                 // 10 s at 48 kHz
constexpr long kSettleFrames = 4800;                 // more than 10 ms and a 20 ms crossfade
constexpr int kBlockSizesFrames[] = {64, 512, 4096};
constexpr int kLargestBlockFrames = 4096;
constexpr int kTargetBlockFrames = 512;

host::PluginLibrary& library() {
    static host::PluginLibrary loaded(TAPEMOTOR_PLUGIN_PATH);
    return loaded;
}

class Driven : public bench::DrivenPlugin {
public:
    Driven() : DrivenPlugin(library(), kRateHz, kLargestBlockFrames) {}
    void process(long frames) {
        for (; frames > 0; frames -= kLargestBlockFrames)
            processBlock(static_cast<int>(std::min<long>(frames, kLargestBlockFrames)));
    }
    // Caught up, then a 10 s stop begins.
    void enterStop() {
        effect.setParameter(kTrigger, 0.0f);
        effect.setParameter(kStart, kShortest);
        process(kSettleFrames);
        effect.setParameter(kStop, kLongest);
        effect.setParameter(kTrigger, 1.0f);
    }
    // At standstill, then a 10 s start begins.
    void enterStart() {
        effect.setParameter(kStop, kShortest);
        effect.setParameter(kTrigger, 1.0f);
        process(kSettleFrames);
        effect.setParameter(kStart, kLongest);
        effect.setParameter(kTrigger, 0.0f);
    }
};

void BM_CaughtUp(benchmark::State& state) { bench::blocksAsStarted<Driven>(state); }

// Frames of a ramp, entered anew before it ends; with one parameter at 1.
template <void (Driven::*enter)(), VstInt32 kFullParameter = -1>
void ramp(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    Driven driven;
    if (kFullParameter >= 0) driven.effect.setParameter(kFullParameter, 1.0f);
    (driven.*enter)();
    long framesIntoRamp = 0;
    for (auto _ : state) {
        if (framesIntoRamp + block > kRampFrames) {
            state.PauseTiming();
            (driven.*enter)();
            framesIntoRamp = 0;
            state.ResumeTiming();
        }
        driven.process(block);
        framesIntoRamp += block;
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

void BM_Stopping(benchmark::State& state) { ramp<&Driven::enterStop>(state); }
void BM_Starting(benchmark::State& state) { ramp<&Driven::enterStart>(state); }

// Stops with Brake on Spinback, and with Tone at 100.
void BM_Spinback(benchmark::State& state) { ramp<&Driven::enterStop, kBrake>(state); }
void BM_DarkStopping(benchmark::State& state) { ramp<&Driven::enterStop, kTone>(state); }

constexpr auto blockSizes = bench::blockSizes<kBlockSizesFrames>;

BENCHMARK(BM_Memcpy)->Apply(blockSizes);
BENCHMARK(BM_CaughtUp)->Apply(blockSizes);
BENCHMARK(BM_Stopping)->Apply(blockSizes);
BENCHMARK(BM_Starting)->Apply(blockSizes);
BENCHMARK(BM_Spinback)->Apply(blockSizes);
BENCHMARK(BM_DarkStopping)->Apply(blockSizes);

// The figures at the target block against the targets.
class TargetReporter : public bench::FrameReporter {
public:
    void printTable() const {
        std::printf("\nTapeMotor, CPU ns per frame at block %d (! = target missed)\n", kTargetBlockFrames);
        const double memcpyNs = figure("BM_Memcpy");
        const double caughtUpNs = figure("BM_CaughtUp");
        std::printf("%-12s %8.2f\n", "memcpy", memcpyNs);
        if (memcpyNs > 0.0 && caughtUpNs > 0.0)
            std::printf("%-12s %8.2f  %.2fx memcpy, target 2x%s\n", "caught up", caughtUpNs, caughtUpNs / memcpyNs,
                        caughtUpNs <= 2.0 * memcpyNs ? "" : " !");
        const std::pair<const char*, double> targets[] = {
            {"BM_Stopping", 10.0}, {"BM_Starting", 10.0}, {"BM_Spinback", 15.0}, {"BM_DarkStopping", 15.0}};
        for (const auto& [name, targetNs] : targets) {
            const double ns = figure(name);
            if (ns > 0.0)
                std::printf("%-12s %8.2f  target %.0f ns%s\n", name + 3, ns, targetNs, ns <= targetNs ? "" : " !");
        }
    }

private:
    double figure(const char* name) const { return nsPerFrame(name, kTargetBlockFrames); }
};

}  // namespace

int main(int argc, char** argv) { return bench::runWithTable<TargetReporter>(argc, argv); }
