// Cost of the plug-in per frame, each beside its limit measured in the same
// run: pass-through against an in-cache memcpy of the same stereo block,
// engaged frames against a bare loop of one powf per frame. Then creation and
// close. After the runs a table prints the ratios and the targets:
//   engaged frames      <= 1.3 x the bare powf loop
//   pass-through        <= 1.5 x memcpy
//   block 32 per frame  <= 1.2 x block 4,096 per frame
// The plug-in is loaded from the build tree and driven through its record.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

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
constexpr float kCurveFrames = -8000.0f;

struct Signal {
    Signal() : inL(kLargestBlockFrames), inR(kLargestBlockFrames), outL(kLargestBlockFrames), outR(kLargestBlockFrames) {
        for (int i = 0; i < kLargestBlockFrames; ++i) {
            inL[i] = std::sin(0.01f * static_cast<float>(i));
            inR[i] = std::cos(0.013f * static_cast<float>(i));
        }
    }
    std::vector<float> inL, inR, outL, outR;
};

host::PluginLibrary& library() {
    static host::PluginLibrary loaded(TAPESTOP_PLUGIN_PATH);
    return loaded;
}

class Driven {
public:
    Driven() : effect(library(), host) {
        host.setRecording(false);
        effect.start(48000.0f, kLargestBlockFrames);
    }
    void process(int frames) {
        effect.processStereo(signal.inL.data(), signal.inR.data(), signal.outL.data(), signal.outR.data(), frames);
    }
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

    host::Host host;
    host::Effect effect;
    Signal signal;
    long framesIntoStop = 0;
};

void reportFrames(benchmark::State& state, int blockFrames) {
    state.counters["frames"] = blockFrames;
    state.SetItemsProcessed(state.iterations() * blockFrames);
}

void BM_PassThrough(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    Driven driven;
    for (auto _ : state) {
        driven.process(block);
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

void BM_Memcpy(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    Signal signal;
    for (auto _ : state) {
        std::memcpy(signal.outL.data(), signal.inL.data(), static_cast<std::size_t>(block) * sizeof(float));
        std::memcpy(signal.outR.data(), signal.inR.data(), static_cast<std::size_t>(block) * sizeof(float));
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

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
            curve[static_cast<std::size_t>(i)] = ::powf(kCurveBase, static_cast<float>(frame) / kCurveFrames);
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

void blockSizes(benchmark::internal::Benchmark* benchmark) {
    for (int block : kBlockSizesFrames) benchmark->Arg(block);
}

BENCHMARK(BM_Memcpy)->Apply(blockSizes);
BENCHMARK(BM_PassThrough)->Apply(blockSizes);
BENCHMARK(BM_PowfLoop)->Apply(blockSizes);
BENCHMARK(BM_Running)->Apply(blockSizes);
BENCHMARK(BM_Fading)->Apply(blockSizes);
BENCHMARK(BM_Stopped)->Apply(blockSizes);
BENCHMARK(BM_Create)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Close)->Unit(benchmark::kMicrosecond);

// Keeps CPU nanoseconds per frame of every run, for the table of ratios:
// CPU time, since other work on a shared machine inflates wall time.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            const auto frames = run.counters.find("frames");
            const std::string name = run.run_name.function_name;
            if (frames == run.counters.end())
                microseconds[name] = seconds * 1e6;
            else
                nsPerFrame[name][static_cast<int>(frames->second.value)] = seconds * 1e9 / frames->second.value;
        }
    }

    // Benchmarks left out by --benchmark_filter show as "-".
    void printTable() const {
        std::printf("\nCPU ns per frame, and the ratio to its limit (! = target missed)\n");
        std::printf("%-16s", "block");
        for (int block : kBlockSizesFrames) std::printf("%16d", block);
        std::printf("   target\n");
        row("memcpy", "BM_Memcpy", nullptr, 0.0);
        row("pass-through", "BM_PassThrough", "BM_Memcpy", 1.5);
        row("powf loop", "BM_PowfLoop", nullptr, 0.0);
        row("running", "BM_Running", "BM_PowfLoop", 1.3);
        row("fading", "BM_Fading", "BM_PowfLoop", 1.3);
        row("stopped", "BM_Stopped", "BM_PowfLoop", 1.3);
        std::printf("\nblock 32 against block 4,096, per frame (target 1.2)\n");
        for (const char* name : {"BM_PassThrough", "BM_Running", "BM_Fading", "BM_Stopped"}) {
            const double small = find(name, 32), large = find(name, 4096);
            if (small > 0.0 && large > 0.0)
                std::printf("%-16s %6.2f%s\n", name + 3, small / large, small / large <= 1.2 ? "" : " !");
        }
        for (const char* name : {"BM_Create", "BM_Close"})
            if (microseconds.count(name) != 0) std::printf("%-16s %8.1f us\n", name + 3, microseconds.at(name));
    }

private:
    double find(const std::string& name, int block) const {
        const auto benchmark = nsPerFrame.find(name);
        if (benchmark == nsPerFrame.end()) return 0.0;
        const auto figure = benchmark->second.find(block);
        return figure != benchmark->second.end() ? figure->second : 0.0;
    }

    void row(const char* label, const char* name, const char* limit, double target) const {
        std::printf("%-16s", label);
        for (int block : kBlockSizesFrames) {
            const double ns = find(name, block);
            const double bound = limit != nullptr ? find(limit, block) : 0.0;
            if (ns <= 0.0)
                std::printf("%16s", "-");
            else if (bound <= 0.0)
                std::printf("%16.2f", ns);
            else {
                const double ratio = ns / bound;
                const bool met = ratio <= target || block == 1;  // block 1 has no target
                std::printf("%8.2f %5.2fx%s", ns, ratio, met ? "  " : " !");
            }
        }
        if (limit != nullptr) std::printf("   %.1fx %s", target, limit + 3);
        std::printf("\n");
    }

    std::map<std::string, std::map<int, double>> nsPerFrame;
    std::map<std::string, double> microseconds;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printTable();
    return 0;
}
