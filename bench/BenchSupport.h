// What the plug-in benchmarks share: the stereo test block, a plug-in driven
// as a host drives it, the memcpy benchmark each plug-in is set against, the
// frames counter, the block sizes, a reporter that keeps CPU time per frame
// for the table printed after the runs, and main.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace bench {

// A sine and a cosine as input, and room for the output.
struct StereoBlock {
    explicit StereoBlock(int frames) : inL(frames), inR(frames), outL(frames), outR(frames) {
        for (int i = 0; i < frames; ++i) {
            inL[i] = std::sin(0.01f * static_cast<float>(i));
            inR[i] = std::cos(0.013f * static_cast<float>(i));
        }
    }
    std::vector<float> inL, inR, outL, outR;
};

// A plug-in started as a host starts it, for blocks of up to the largest
// size, processing the stereo block; the host records nothing.
class DrivenPlugin {
public:
    DrivenPlugin(host::PluginLibrary& library, float sampleRateHz, int largestBlockFrames)
        : effect(library, host), signal(largestBlockFrames) {
        host.setRecording(false);
        effect.start(sampleRateHz, largestBlockFrames);
    }
    void processBlock(int frames) {
        effect.processStereo(signal.inL.data(), signal.inR.data(), signal.outL.data(), signal.outR.data(), frames);
    }

    host::Host host;
    host::Effect effect;
    StereoBlock signal;
};

// The frames of one iteration: items per second, and the reporter's per-frame
// figures.
inline void reportFrames(benchmark::State& state, int blockFrames) {
    state.counters["frames"] = blockFrames;
    state.SetItemsProcessed(state.iterations() * blockFrames);
}

// An in-cache memcpy of a stereo block, the limit of what a plug-in that
// passes its input through can do.
inline void BM_Memcpy(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    StereoBlock signal(block);
    const std::size_t bytes = static_cast<std::size_t>(block) * sizeof(float);
    for (auto _ : state) {
        std::memcpy(signal.outL.data(), signal.inL.data(), bytes);
        std::memcpy(signal.outR.data(), signal.inR.data(), bytes);
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

// Blocks of a plug-in as it starts, untouched: its input passes through.
template <typename Driven>
void blocksAsStarted(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    Driven driven;
    for (auto _ : state) {
        driven.process(block);
        benchmark::ClobberMemory();
    }
    reportFrames(state, block);
}

// Runs a benchmark once per block size in the list.
template <const auto& kBlockSizesFrames>
void blockSizes(benchmark::internal::Benchmark* benchmark) {
    for (int block : kBlockSizesFrames) benchmark->Arg(block);
}

// Keeps CPU nanoseconds per frame of every run that counts frames, and
// microseconds per iteration of the others: CPU time, since other work on a
// shared machine inflates wall time. Absent figures read 0.
class FrameReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            const double seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            const auto frames = run.counters.find("frames");
            const std::string name = run.run_name.function_name;
            if (frames == run.counters.end())
                microseconds_[name] = seconds * 1e6;
            else
                nsPerFrame_[name][static_cast<int>(frames->second.value)] = seconds * 1e9 / frames->second.value;
        }
    }

    double nsPerFrame(const std::string& name, int blockFrames) const {
        const auto benchmark = nsPerFrame_.find(name);
        if (benchmark == nsPerFrame_.end()) return 0.0;
        const auto figure = benchmark->second.find(blockFrames);
        return figure != benchmark->second.end() ? figure->second : 0.0;
    }

    double microseconds(const std::string& name) const {
        const auto figure = microseconds_.find(name);
        return figure != microseconds_.end() ? figure->second : 0.0;
    }

private:
    std::map<std::string, std::map<int, double>> nsPerFrame_;
    std::map<std::string, double> microseconds_;
};

// The benchmarks chosen on the command line, then the Reporter's table.
template <typename Reporter>
int runWithTable(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.printTable();
    return 0;
}

}  // namespace bench
