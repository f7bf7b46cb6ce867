// What a host saves and restores: programs, selected and named, and chunks,
// which must bring a fresh instance to the same parameters and output.
#include <cmath>
#include <cstring>
#include <random>

#include "Checks.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

constexpr float kSampleRateHz = 48000.0f;
constexpr VstInt32 kBlockFrames = 512;
constexpr std::size_t kCompareFrames = 16 * kBlockFrames;
constexpr VstInt32 kBankChunk = 0;
constexpr VstInt32 kProgramChunk = 1;

// The first parameter a restore left other than saved, or empty. A value
// within kParameterTolerance, or one that shows the same text, is the same:
// plug-ins quantize values on a restore (a choice of four saved as 0.999
// reads back as 0.667), and the output judges the rest.
std::string parameterDifference(Instance& saved, Instance& restored) {
    for (VstInt32 i = 0; i < saved.parameters(); ++i) {
        const float before = saved.effect().getParameter(i), after = restored.effect().getParameter(i);
        if (std::fabs(after - before) <= kParameterTolerance) continue;
        const std::string shownBefore = saved.effect().parameterDisplay(i);
        const std::string shownAfter = restored.effect().parameterDisplay(i);
        if (std::isfinite(before) && std::isfinite(after) && shownAfter == shownBefore) continue;
        return "parameter " + std::to_string(i) + " (" + restored.effect().parameterName(i) + ") reads " +
               floatText(after) + " ('" + shownAfter + "') instead of " + floatText(before) + " ('" + shownBefore +
               "')";
    }
    return "";
}

std::vector<unsigned char> chunkOf(Instance& instance, VstInt32 kind) {
    void* data = nullptr;
    const VstIntPtr bytes = instance.effect().dispatch(effGetChunk, kind, 0, &data);
    if (bytes <= 0 || data == nullptr) return {};
    const auto* first = static_cast<const unsigned char*>(data);
    return std::vector<unsigned char>(first, first + bytes);
}

Signal outputAfterStart(Instance& instance, const Signal& in) {
    instance.start(kSampleRateHz, kBlockFrames);
    return processInBlocks(instance, in, kBlockFrames);
}

void roundTrip(CheckContext& context, const host::PluginLibrary& library, ValidationHost& host, VstInt32 kind) {
    const std::string name = kind == kBankChunk ? "bank chunk" : "program chunk";
    const std::uint32_t seed = context.settings().seed;
    context.step("reading the " + name);
    Instance source(library, host);
    std::mt19937 random(seed);
    randomParameters(source, random);
    std::vector<unsigned char> chunk = chunkOf(source, kind);
    if (chunk.empty()) {
        context.warn("effGetChunk gives no " + name + " although the plug-in keeps its state in chunks");
        return;
    }
    context.step("restoring the " + name + " on a fresh instance");
    Instance restored(library, host);
    restored.effect().dispatch(effSetChunk, kind, static_cast<VstIntPtr>(chunk.size()), chunk.data());
    const std::string parameters = parameterDifference(source, restored);
    if (!parameters.empty())
        context.fail("the " + name + " restored on a fresh instance changes a parameter: " + parameters);
    context.step("comparing output after the " + name);
    const Signal in = testSignal(std::max(source.inputs(), 1), kCompareFrames, seed);
    const std::string difference = firstDifference(outputAfterStart(source, in), outputAfterStart(restored, in));
    if (difference.empty()) {
        if (parameters.empty())
            context.note(name + " of " + std::to_string(chunk.size()) +
                         " bytes round trip: same parameters and output");
    } else if (!firstDifference(freshOutput(library, host, in, seed), freshOutput(library, host, in, seed)).empty()) {
        context.note(name + " round trip: output differs from run to run, so it was not compared");
    } else {
        context.fail("the " + name + " restored on a fresh instance gives different output, first at " + difference);
    }
}

}  // namespace

void checkPrograms(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    const VstInt32 programs = instance.record().numPrograms;
    int unnamed = 0;
    for (VstInt32 i = 0; i < programs; ++i) {
        context.step("selecting program " + std::to_string(i));
        instance.effect().dispatch(effSetProgram, 0, i);
        const VstIntPtr current = instance.effect().dispatch(effGetProgram);
        if (current != i) {
            context.fail("program " + std::to_string(i) + " selected, effGetProgram answers " + std::to_string(current));
            return;
        }
        const GuardedText name = readGuardedText(instance.effect(), effGetProgramName);
        unnamed += name.text.empty() ? 1 : 0;
    }
    if (unnamed > 0) context.warn(std::to_string(unnamed) + " of " + std::to_string(programs) + " programs have no name");
    context.note(std::to_string(programs) + " programs, each selectable");
}

void checkChunks(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    {
        Instance probe(library, host);
        if ((probe.record().flags & effFlagsProgramChunks) == 0) {
            context.note("keeps no chunks: the host saves the parameter values");
            return;
        }
    }
    roundTrip(context, library, host, kBankChunk);
    roundTrip(context, library, host, kProgramChunk);
}

}  // namespace tapestop::validate
