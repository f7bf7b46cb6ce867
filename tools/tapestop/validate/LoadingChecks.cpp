// The library, its entry function and the effect record: what a host's scan
// sees, what loading and creating leave behind in the host process, and
// whether instances live apart and die cleanly.
#include <xmmintrin.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <unistd.h>

#include "Checks.h"
#include "Session.h"

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

namespace tapestop::validate {

namespace {

constexpr double kSlowScanSeconds = 2.0;
constexpr int kMaxChannels = 64;
constexpr int kMaxCount = 100000;  // parameters or programs a host can list
constexpr std::size_t kLeakLimitBytes = 32u << 20;
constexpr int kCyclesBetweenMeasurements = 25;
constexpr int kWarmUpCycles = 10;
constexpr VstInt32 kBlockFrames = 512;
constexpr float kSampleRateHz = 48000.0f;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", seconds * 1000.0);
    return text;
}

// The parts of the floating-point control state a plug-in must leave alone:
// rounding, flush-to-zero, denormals-are-zero and the exception masks.
constexpr unsigned kMxcsrControlBits = 0xFFC0u;
constexpr unsigned kFlushToZeroBit = 1u << 15;
constexpr unsigned kDenormalsAreZeroBit = 1u << 6;

struct ProcessState {
    unsigned mxcsr;
    std::string allCategories, numeric;
};

ProcessState currentState() {
    return ProcessState{_mm_getcsr() & kMxcsrControlBits, std::setlocale(LC_ALL, nullptr),
                        std::setlocale(LC_NUMERIC, nullptr)};
}

std::string mxcsrText(unsigned mxcsr) {
    char text[80];
    std::snprintf(text, sizeof text, "0x%04x (flush-to-zero %s, denormals-are-zero %s)", mxcsr,
                  (mxcsr & kFlushToZeroBit) != 0 ? "on" : "off", (mxcsr & kDenormalsAreZeroBit) != 0 ? "on" : "off");
    return text;
}

// Reports what `what` changed and puts the host's state back, so the next
// step is judged on its own.
void compareAndRestore(CheckContext& context, const ProcessState& host, const std::string& what) {
    const ProcessState now = currentState();
    if (now.mxcsr != host.mxcsr)
        context.fail(what + " changed the floating-point control state from " + mxcsrText(host.mxcsr) + " to " +
                     mxcsrText(now.mxcsr));
    if (now.allCategories != host.allCategories || now.numeric != host.numeric)
        context.fail(what + " changed the locale: LC_NUMERIC '" + host.numeric + "' became '" + now.numeric +
                     "', LC_ALL '" + host.allCategories + "' became '" + now.allCategories + "'");
    _mm_setcsr((_mm_getcsr() & ~kMxcsrControlBits) | host.mxcsr);
    std::setlocale(LC_ALL, host.allCategories.c_str());
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

void oneLife(const host::PluginLibrary& library, ValidationHost& host, std::uint32_t seed) {
    Instance instance(library, host);
    instance.start(kSampleRateHz, kBlockFrames);
    processInBlocks(instance, testSignal(std::max(instance.inputs(), 1), 2 * kBlockFrames, seed), kBlockFrames);
    instance.effect().stop();
}

}  // namespace

void checkLoad(CheckContext& context) {
    context.step("loading the library with RTLD_NOW");
    auto started = std::chrono::steady_clock::now();
    host::PluginLibrary library(context.settings().pluginPath);
    const double loadSeconds = secondsSince(started);
    const char* entryName = library.symbol("VSTPluginMain") != nullptr ? "VSTPluginMain" : "main";

    context.step("scanning: creating the effect, reading its names, closing it");
    started = std::chrono::steady_clock::now();
    ValidationHost host;
    {
        Instance instance(library, host);
        instance.effect().effectName();
        instance.effect().vendorString();
        instance.effect().productString();
        for (VstInt32 i = 0; i < instance.parameters(); ++i) instance.effect().parameterName(i);
    }
    const double scanSeconds = secondsSince(started);
    context.note(std::string("entry function ") + entryName + ", loaded in " + milliseconds(loadSeconds) +
                 ", scanned in " + milliseconds(scanSeconds));
    if (loadSeconds + scanSeconds > kSlowScanSeconds)
        context.warn("loading and scanning took " + secondsText(loadSeconds + scanSeconds) +
                     "; hosts scanning many plug-ins may give up");
}

void checkFloatingPointAndLocale(CheckContext& context) {
    std::setlocale(LC_ALL, "C");
    const ProcessState host = currentState();
    context.step("loading the library");
    host::PluginLibrary library(context.settings().pluginPath);
    compareAndRestore(context, host, "loading the library");
    context.step("creating and opening the effect");
    ValidationHost callback;
    Instance instance(library, callback);
    compareAndRestore(context, host, "creating and opening the effect");

    struct Stage {
        const char* name;
        VstInt32 opcode;
        VstIntPtr value;
        float option;
    };
    const Stage stages[] = {{"effSetSampleRate", effSetSampleRate, 0, kSampleRateHz},
                            {"effSetBlockSize", effSetBlockSize, kBlockFrames, 0.0f},
                            {"resume (effMainsChanged 1)", effMainsChanged, 1, 0.0f},
                            {"effStartProcess", effStartProcess, 0, 0.0f}};
    for (const Stage& stage : stages) {
        context.step(stage.name);
        instance.effect().dispatch(stage.opcode, 0, stage.value, nullptr, stage.option);
        compareAndRestore(context, host, stage.name);
    }
    context.step("processReplacing");
    processInBlocks(instance, testSignal(std::max(instance.inputs(), 1), 4 * kBlockFrames, context.settings().seed),
                    kBlockFrames);
    compareAndRestore(context, host, "processReplacing");
    context.step("stop process and suspend");
    instance.effect().stop();
    compareAndRestore(context, host, "stopping and suspending");
    if (context.result() == Result::kPass) context.note("MXCSR " + mxcsrText(host.mxcsr) + " and locale 'C' kept");
}

void checkCreation(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    {
        context.step("creating with a host that answers 0 to the version query");
        ValidationHost refusing;
        refusing.setAnswer(audioMasterVersion, 0);
        AEffect* record = library.entry()(&host::Host::callback);
        if (record != nullptr) {
            if (record->magic != kEffectMagic) context.fail("with host version 0, the entry function returned a record with bad magic");
            else host::Effect(record, refusing).close();
        }
    }
    context.step("creating");
    ValidationHost host;
    Instance instance(library, host);
    const AEffect& record = instance.record();
    const VstIntPtr vstVersion = instance.effect().dispatch(effGetVstVersion);
    if (vstVersion < kVstVersion)
        context.warn("effGetVstVersion answers " + std::to_string(vstVersion) + ", not 2400: hosts treat it as an older plug-in");

    const auto count = [&](const char* what, VstInt32 value, int most) {
        if (value < 0 || value > most)
            context.fail(std::string(what) + " is " + std::to_string(value) + ", outside 0 to " + std::to_string(most));
    };
    count("numInputs", record.numInputs, kMaxChannels);
    count("numOutputs", record.numOutputs, kMaxChannels);
    count("numParams", record.numParams, kMaxCount);
    count("numPrograms", record.numPrograms, kMaxCount);
    if (record.initialDelay < 0) context.fail("initialDelay is negative (" + std::to_string(record.initialDelay) + ")");

    struct FunctionRow {
        const char* field;
        bool present;
        bool required;
    };
    const FunctionRow functions[] = {
        {"dispatcher", record.dispatcher != nullptr, true},
        {"setParameter", record.setParameter != nullptr, true},
        {"getParameter", record.getParameter != nullptr, true},
        {"processReplacing", record.processReplacing != nullptr, (record.flags & effFlagsCanReplacing) != 0},
        {"processDoubleReplacing", record.processDoubleReplacing != nullptr,
         (record.flags & effFlagsCanDoubleReplacing) != 0},
    };
    for (const FunctionRow& row : functions)
        if (row.required && !row.present) context.fail(std::string(row.field) + " is null although the record offers it");
    if ((record.flags & effFlagsCanReplacing) == 0) context.fail("effFlagsCanReplacing is off: a VST 2.4 host needs processReplacing");
    if (context.result() == Result::kPass)
        context.note("magic, counts and flags (" + std::to_string(record.flags) + ") agree with the function pointers");
}

void checkInstances(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    context.step("creating two instances");
    Instance first(library, host), second(library, host);
    if (first.record().object != nullptr && first.record().object == second.record().object)
        context.fail("two instances share one effect object");

    context.step("setting parameters on both");
    for (VstInt32 i = 0; i < first.parameters(); ++i) {
        first.effect().setParameter(i, 0.2f);
        const float before = first.effect().getParameter(i);
        second.effect().setParameter(i, 0.8f);
        if (first.effect().getParameter(i) != before) {
            context.fail("setting parameter " + std::to_string(i) + " on one instance changed it on the other");
            break;
        }
    }

    context.step("processing on one instance alone and on two side by side");
    const std::size_t frames = 16 * kBlockFrames;
    const std::uint32_t seed = context.settings().seed;
    const int channels = std::max(first.inputs(), 1);
    const Signal in = testSignal(channels, frames, seed);
    const Signal other = testSignal(channels, frames, seed + 1);
    const Signal reference = freshOutput(library, host, in, seed);
    Instance a(library, host), b(library, host);
    std::mt19937 random(seed);
    randomParameters(a, random);
    a.start(kSampleRateHz, kBlockFrames);
    b.start(kSampleRateHz, kBlockFrames);
    Signal outA(static_cast<std::size_t>(a.outputs()), std::vector<float>(frames)), outB = outA;
    Streamer streamA(a, kBlockFrames), streamB(b, kBlockFrames);
    for (std::size_t offset = 0; offset < frames; offset += kBlockFrames) {
        streamA.process(in, outA, offset, kBlockFrames);
        streamB.process(other, outB, offset, kBlockFrames);
    }
    const std::string difference = firstDifference(reference, outA);
    if (!difference.empty()) {
        if (!firstDifference(reference, freshOutput(library, host, in, seed)).empty())
            context.note("output differs from run to run, so processing side by side was not compared");
        else
            context.fail("one instance's output changes while another instance processes, first at " + difference);
    }
    if (context.result() == Result::kPass) context.note("parameters and processing of two instances stay apart");
}

void checkCreateCloseCycles(CheckContext& context) {
    const int cycles = context.scaled(100, 500);
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    const std::uint32_t seed = context.settings().seed;
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed memory in quarantine, so resident memory
    // grows anyway; its leak checker finds the memory lost instead.
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        context.step("create/close cycle " + std::to_string(cycle));
        oneLife(library, host, seed);
    }
    if (__lsan_do_recoverable_leak_check() != 0)
        context.fail("LeakSanitizer found memory lost over " + std::to_string(cycles) + " create/close cycles");
    else
        context.note(std::to_string(cycles) + " create, start, process, close cycles; no memory lost");
    return;
#endif
    context.step("warming up");
    for (int i = 0; i < kWarmUpCycles; ++i) oneLife(library, host, seed);
    const std::size_t baseline = residentBytes();
    std::size_t growth = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        context.step("create/close cycle " + std::to_string(cycle));
        oneLife(library, host, seed);
        if (cycle % kCyclesBetweenMeasurements != 0 && cycle != cycles) continue;
        const std::size_t now = residentBytes();
        growth = now > baseline ? now - baseline : 0;
        if (growth > kLeakLimitBytes) {
            context.fail("resident memory grew by " + std::to_string(growth >> 20) + " MB over " + std::to_string(cycle) +
                         " create/close cycles (about " + std::to_string(growth / static_cast<std::size_t>(cycle) >> 10) +
                         " KB per instance)");
            return;
        }
    }
    context.note(std::to_string(cycles) + " create, start, process, close cycles; resident memory grew by " +
                 std::to_string(growth >> 10) + " KB");
}

}  // namespace tapestop::validate
