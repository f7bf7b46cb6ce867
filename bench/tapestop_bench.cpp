// Cost of the plug-in per frame, each beside its limit measured in the same
// run: pass-through against an in-cache memcpy of the same stereo block,
// engaged frames against a bare loop of one powf per frame. Then creation and
// close. After the runs a table prints the ratios and the targets, at block
// 512 and at block 32:
//   pass-through  <= 5 x memcpy at block 512
//   running       <= 2 x the powf loop (2.28 x before its curve was batched)
//   fading        <= 1.3 x the powf loop
//   stopped       <= 0.5 x the powf loop at block 512
// and at block 32 no slower than before the fast phases, as ratios measured
// then on the development machine.
// The plug-in is loaded from the build tree and driven through its record.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "PluginHost.h"

namespace {

using bench::BM_Memcpy;
using bench::reportFrames;

constexpr VstInt32 kTrigger = 0;
constexpr VstInt32 kSpeed = 1;
constexpr float kSpeedSlowest = 0.0f;  // speed 0: the longest stop
constexpr int kBlockSizesFrames[] = {1, 32, 512, 4096};
constexpr int kLargestBlockFrames = 4096;

// Where in a stop at speed 0 each engaged state is measured, in frames since
// the rising edge. Running is measured while the slowing curve still counts:
// from frame 151,295 on its share of the decrement is below single-precision
// resolution and the effect no longer computes it, as in fading and stopped.
struct StopRegion {
    const char* state;
    long firstFrame;
    long endFrame;  // exclusive; re-triggered before the block that would pass it
};
constexpr StopRegion kRunning = {"running", 0, 150000};
constexpr StopRegion kFading = {"fading", 723691, 974042};
constexpr StopRegion kStopped = {"stopped", 974042, 1L << 40};

// The curve's frame range the bare powf loop walks, the same as running.
constexpr long kPowfLoopFrames = 150000;
constexpr float kCurveBase = 2.5f;
constexpr float kCurveExponentDivisorFrames = -8000.0f;

host::PluginLibrary& library() {
    static host::PluginLibrary loaded(TAPESTOP_PLUGIN_PATH);
    return loaded;
}

class Driven : public bench::DrivenPlugin {
public:
    Driven() : DrivenPlugin(library(), 48000.0f, kLargestBlockFrames) {}
    void process(int frames) { processBlock(frames); }
    // A new stop, processed up to the region's first frame.
    void enter(const StopRegion& region) {
        effect.setParameter(kTrigger, 0.0f);
        process(1);
        effect.setParameter(kTrigger, 1.0f);
        framesIntoStop = 0;
        while (framesIntoStop < region.firstFrame) {
            const int frames = static_cast<int>(std::min<long>(kLargestBlockFrames, region.firstFrame - framesIntoStop));
            process(frames);
            framesIntoStop += frames;
        }
    }

    long framesIntoStop = 0;
};

void BM_PassThrough(benchmark::State& state) { bench::blocksAsStarted<Driven>(state); }

void engaged(benchmark::State& state, const StopRegion& region) {
    const int block = static_cast<int>(state.range(0));
    Driven driven;
    driven.effect.setParameter(kSpeed, kSpeedSlowest);
    driven.enter(region);
    for (auto _ : state) {
        if (driven.framesIntoStop + block > region.endFrame) {
            state.PauseTiming();
            driven.enter(region);
            state.ResumeTiming();
        }
        driven.process(block);
        driven.framesIntoStop += block;
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

void BM_Running(benchmark::State& state) { engaged(state, kRunning); }
void BM_Fading(benchmark::State& state) { engaged(state, kFading); }
void BM_Stopped(benchmark::State& state) { engaged(state, kStopped); }

void BM_PowfLoop(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    std::vector<float> curve(static_cast<std::size_t>(block));
    long frame = 0;
    for (auto _ : state) {
        for (int i = 0; i < block; ++i) {
            curve[static_cast<std::size_t>(i)] =
                ::powf(kCurveBase, static_cast<float>(frame) / kCurveExponentDivisorFrames);
            if (++frame == kPowfLoopFrames) frame = 0;
        }
        benchmark::DoNotOptimize(curve.data());
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

void BM_Create(benchmark::State& state) {
    host::Host host;
    host.setRecording(false);
    for (auto _ : state) {
        auto effect = std::make_unique<host::Effect>(library(), host);
        state.PauseTiming();
        effect.reset();
        state.ResumeTiming();
    }
}

void BM_Close(benchmark::State& state) {
    host::Host host;
    host.setRecording(false);
    for (auto _ : state) {
        state.PauseTiming();
        auto effect = std::make_unique<host::Effect>(library(), host);
        state.ResumeTiming();
        effect->close();
    }
}

constexpr auto blockSizes = bench::blockSizes<kBlockSizesFrames>;

BENCHMARK(BM_Memcpy)->Apply(blockSizes);
BENCHMARK(BM_PassThrough)->Apply(blockSizes);
BENCHMARK(BM_PowfLoop)->Apply(blockSizes);
BENCHMARK(BM_Running)->Apply(blockSizes);
BENCHMARK(BM_Fading)->Apply(blockSizes);
BENCHMARK(BM_Stopped)->Apply(blockSizes);
BENCHMARK(BM_Create)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Close)->Unit(benchmark::kMicrosecond);

// Each engaged state's and the pass-through's limit, as a ratio to a bare
// loop measured in the same run. The limits at block 32 are the ratios
// measured before the fast phases on the development machine (middle of three
// runs): pass-through 15.9 x memcpy; running 2.26, fading 1.12 and stopped
// 0.65 x the powf loop. Running at block 512 was 2.28 x then; with the curve
// worked out in batches it is held to 2 x.
struct Target {
    const char* label;
    const char* name;
    const char* limit;
    double atBlock512;
    double atBlock32;
};
constexpr Target kTargets[] = {
    {"pass-through", "BM_PassThrough", "BM_Memcpy", 5.0, 15.9},
    {"running", "BM_Running", "BM_PowfLoop", 2.0, 2.26},
    {"fading", "BM_Fading", "BM_PowfLoop", 1.3, 1.12},
    {"stopped", "BM_Stopped", "BM_PowfLoop", 0.5, 0.65},
};

// The table of ratios.
class RatioReporter : public bench::FrameReporter {
public:
    // Benchmarks left out by --benchmark_filter show as "-".
    void printTable() const {
        std::printf("\nCPU ns per frame, and the ratio to its limit (! = target missed)\n");
        std::printf("%-16s", "block");
        for (int block : kBlockSizesFrames) std::printf("%16d", block);
        std::printf("   target at 512, at 32\n");
        row("memcpy", "BM_Memcpy", nullptr);
        row("powf loop", "BM_PowfLoop", nullptr);
        for (const Target& target : kTargets) row(target.label, target.name, &target);
        for (const char* name : {"BM_Create", "BM_Close"})
            if (microseconds(name) > 0.0) std::printf("%-16s %8.1f us\n", name + 3, microseconds(name));
    }

private:
    void row(const char* label, const char* name, const Target* target) const {
        std::printf("%-16s", label);
        for (int block : kBlockSizesFrames) {
            const double ns = nsPerFrame(name, block);
            const double bound = target != nullptr ? nsPerFrame(target->limit, block) : 0.0;
            if (ns <= 0.0)
                std::printf("%16s", "-");
            else if (bound <= 0.0)
                std::printf("%16.2f", ns);
            else {
                const double ratio = ns / bound;
                const double limit = block == 512 ? target->atBlock512 : block == 32 ? target->atBlock32 : 0.0;
                std::printf("%8.2f %5.2fx%s", ns, ratio, limit > 0.0 && ratio > limit ? " !" : "  ");
            }
        }
        if (target != nullptr) std::printf("   %.2fx, %.2fx %s", target->atBlock512, target->atBlock32, target->limit + 3);
        std::printf("\n");
    }
};

}  // namespace

int main(int argc, char** argv) { return bench::runWithTable<RatioReporter>(argc, argv); }
