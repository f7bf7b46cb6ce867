// Cost of TapeMotor per frame at 48 kHz, driven through its record as a host
// drives it: caught up (the input passing through) beside an in-cache memcpy
// of the same stereo block, and frames of a stop and of a start, each 10 s
// long so that every measured frame moves the tape. A table after the runs
// sets them against the targets at block 512:
//   caught up          <= 2 x memcpy
//   stopping, starting <= 25 ns per frame
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace {

constexpr float kRateHz = 48000.0f;
constexpr VstInt32 kTrigger = 0, kStop = 1, kStart = 2;
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

class Driven {
public:
    Driven() : effect(library(), host), inL(kLargestBlockFrames), inR(kLargestBlockFrames), outL(kLargestBlockFrames), outR(kLargestBlockFrames) {
        host.setRecording(false);
        effect.start(kRateHz, kLargestBlockFrames);
        for (int i = 0; i < kLargestBlockFrames; ++i) {
            inL[i] = std::sin(0.01f * static_cast<float>(i));
            inR[i] = std::cos(0.013f * static_cast<float>(i));
        }
    }
    void process(long frames) {
        for (; frames > 0; frames -= kLargestBlockFrames) {
            const auto block = static_cast<VstInt32>(std::min<long>(frames, kLargestBlockFrames));
            effect.processStereo(inL.data(), inR.data(), outL.data(), outR.data(), block);
        }
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

    host::Host host;
    host::Effect effect;
    std::vector<float> inL, inR, outL, outR;
};

void reportFrames(benchmark::State& state, int blockFrames) {
    state.counters["frames"] = blockFrames;
    state.SetItemsProcessed(state.iterations() * blockFrames);
}

void BM_Memcpy(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    Driven driven;
    const std::size_t bytes = static_cast<std::size_t>(block) * sizeof(float);
    for (auto _ : state) {
        std::memcpy(driven.outL.data(), driven.inL.data(), bytes);
        std::memcpy(driven.outR.data(), driven.inR.data(), bytes);
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

void BM_CaughtUp(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    Driven driven;
    for (auto _ : state) {
        driven.process(block);
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

// Frames of a ramp, entered anew before it ends.
template <void (Driven::*enter)()>
void ramp(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    Driven driven;
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

void blockSizes(benchmark::internal::Benchmark* benchmark) {
    for (int block : kBlockSizesFrames) benchmark->Arg(block);
}

BENCHMARK(BM_Memcpy)->Apply(blockSizes);
BENCHMARK(BM_CaughtUp)->Apply(blockSizes);
BENCHMARK(BM_Stopping)->Apply(blockSizes);
BENCHMARK(BM_Starting)->Apply(blockSizes);

// CPU nanoseconds per frame at the target block, for the table: CPU time,
// since other work on a shared machine inflates wall time.
class TargetReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto frames = run.counters.find("frames");
            if (run.error_occurred || run.iterations == 0 || frames == run.counters.end() ||
                static_cast<int>(frames->second.value) != kTargetBlockFrames)
                continue;
            nsPerFrame[run.run_name.function_name] =
                run.cpu_accumulated_time / static_cast<double>(run.iterations) * 1e9 / frames->second.value;
        }
    }

    void printTable() const {
        std::printf("\nTapeMotor, CPU ns per frame at block %d (! = target missed)\n", kTargetBlockFrames);
        const double memcpyNs = figure("BM_Memcpy");
        const double caughtUpNs = figure("BM_CaughtUp");
        std::printf("%-12s %8.2f\n", "memcpy", memcpyNs);
        if (memcpyNs > 0.0 && caughtUpNs > 0.0)
            std::printf("%-12s %8.2f  %.2fx memcpy, target 2x%s\n", "caught up", caughtUpNs, caughtUpNs / memcpyNs,
                        caughtUpNs <= 2.0 * memcpyNs ? "" : " !");
        for (const char* name : {"BM_Stopping", "BM_Starting"}) {
            const double ns = figure(name);
            if (ns > 0.0) std::printf("%-12s %8.2f  target 25 ns%s\n", name + 3, ns, ns <= 25.0 ? "" : " !");
        }
    }

private:
    double figure(const char* name) const {
        const auto found = nsPerFrame.find(name);
        return found != nsPerFrame.end() ? found->second : 0.0;
    }
    std::map<std::string, double> nsPerFrame;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TargetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printTable();
    return 0;
}
