#include "Info.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "ChildProcess.h"
#include "ClosingPlugin.h"
#include "JsonWriter.h"
#include "Render.h"
#include "TransportHost.h"

namespace tapestop {

namespace {

constexpr float kInfoSampleRateHz = 44100.0f;
constexpr VstInt32 kInfoBlockFrames = 512;
constexpr int kFloatDigits = 9;  // enough to give back any float exactly

struct FlagName {
    VstInt32 bit;
    const char* name;
};

constexpr std::array kFlagNames{
    FlagName{effFlagsHasEditor, "HasEditor"},
    FlagName{effFlagsHasClip, "HasClip"},
    FlagName{effFlagsHasVu, "HasVu"},
    FlagName{effFlagsCanMono, "CanMono"},
    FlagName{effFlagsCanReplacing, "CanReplacing"},
    FlagName{effFlagsProgramChunks, "ProgramChunks"},
    FlagName{effFlagsIsSynth, "IsSynth"},
    FlagName{effFlagsNoSoundInStop, "NoSoundInStop"},
    FlagName{effFlagsExtIsAsync, "ExtIsAsync"},
    FlagName{effFlagsExtHasBuffer, "ExtHasBuffer"},
    FlagName{effFlagsCanDoubleReplacing, "CanDoubleReplacing"},
};

constexpr std::array kParameterFlagNames{
    FlagName{kVstParameterIsSwitch, "IsSwitch"},
    FlagName{kVstParameterUsesIntegerMinMax, "UsesIntegerMinMax"},
    FlagName{kVstParameterUsesFloatStep, "UsesFloatStep"},
    FlagName{kVstParameterUsesIntStep, "UsesIntStep"},
    FlagName{kVstParameterSupportsDisplayIndex, "SupportsDisplayIndex"},
    FlagName{kVstParameterSupportsDisplayCategory, "SupportsDisplayCategory"},
    FlagName{kVstParameterCanRamp, "CanRamp"},
};

// The abilities a host asks an effect about by name.
constexpr std::array kCanDoFeatures{
    "sendVstEvents", "sendVstMidiEvent", "receiveVstEvents", "receiveVstMidiEvent", "receiveVstTimeInfo",
    "offline",       "midiProgramNames", "bypass",
};

template <std::size_t N>
std::vector<std::string> flagNames(VstInt32 flags, const std::array<FlagName, N>& table) {
    std::vector<std::string> names;
    for (const FlagName& flag : table)
        if ((flags & flag.bit) != 0) names.emplace_back(flag.name);
    return names;
}

std::vector<std::string> flagNames(VstInt32 flags) { return flagNames(flags, kFlagNames); }

}  // namespace

std::vector<CanDoAnswer> readCanDo(host::Effect& effect) {
    std::vector<CanDoAnswer> answers;
    for (const char* feature : kCanDoFeatures) {
        std::string text = feature;
        answers.push_back(CanDoAnswer{feature, effect.dispatch(effCanDo, 0, 0, text.data())});
    }
    return answers;
}

PluginIdentity readIdentity(host::Effect& effect) {
    const AEffect& record = *effect.record();
    PluginIdentity identity;
    identity.name = effect.effectName();
    identity.vendor = effect.vendorString();
    identity.product = effect.productString();
    identity.uniqueId = record.uniqueID;
    identity.version = record.version;
    identity.inputs = record.numInputs;
    identity.outputs = record.numOutputs;
    identity.parameters = record.numParams;
    identity.programs = record.numPrograms;
    identity.flags = record.flags;
    identity.category = effect.dispatch(effGetPlugCategory);
    return identity;
}

std::string categoryName(VstIntPtr category) {
    switch (category) {
        case kPlugCategUnknown: return "unknown";
        case kPlugCategEffect: return "effect";
        case kPlugCategSynth: return "synth";
        default: return "category " + std::to_string(category);
    }
}

namespace {

// A text field of the interface's records, which need not end in a zero.
template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, std::find(field, field + N, '\0'));
}

std::optional<ParameterProperties> readProperties(host::Effect& effect, VstInt32 index) {
    VstParameterProperties properties{};
    if (effect.dispatch(effGetParameterProperties, index, 0, &properties) == 0) return std::nullopt;
    return ParameterProperties{properties.flags,      fieldText(properties.label), fieldText(properties.shortLabel),
                               properties.minInteger, properties.maxInteger,       properties.stepInteger,
                               properties.stepFloat};
}

std::vector<ParameterInfo> readParameters(host::Effect& effect) {
    std::vector<ParameterInfo> parameters;
    for (VstInt32 i = 0; i < effect.record()->numParams; ++i)
        parameters.push_back(ParameterInfo{effect.parameterName(i), effect.parameterLabel(i), effect.getParameter(i),
                                           effect.parameterDisplay(i), readProperties(effect, i)});
    return parameters;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
    return text.empty() ? "none" : text;
}

std::string hex(VstInt32 value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

// Names as getProgramNameIndexed gives them, without switching programs.
std::vector<std::string> readProgramNames(host::Effect& effect) {
    constexpr std::size_t kNameCapacity = 256;  // beyond the 24 the interface allows, for careless plug-ins
    std::vector<std::string> names;
    for (VstInt32 i = 0; i < effect.record()->numPrograms; ++i) {
        char name[kNameCapacity] = {};
        effect.dispatch(effGetProgramNameIndexed, i, -1, name);
        name[kNameCapacity - 1] = '\0';
        names.emplace_back(name);
    }
    return names;
}

namespace {

std::string jsonFloat(float value) { return jsonNumber(value, kFloatDigits); }

std::string shortFloat(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", static_cast<double>(value));
    return text;
}

std::string jsonList(const std::vector<std::string>& texts) {
    std::string list = "[";
    for (std::size_t i = 0; i < texts.size(); ++i) list += (i == 0 ? "" : ", ") + jsonString(texts[i]);
    return list + "]";
}

std::string jsonProperties(const std::optional<ParameterProperties>& properties) {
    if (!properties) return "null";
    std::ostringstream out;
    out << "{\"flags\": " << properties->flags
        << ", \"flagNames\": " << jsonList(flagNames(properties->flags, kParameterFlagNames))
        << ", \"label\": " << jsonString(properties->label) << ", \"shortLabel\": " << jsonString(properties->shortLabel)
        << ", \"minInteger\": " << properties->minInteger << ", \"maxInteger\": " << properties->maxInteger
        << ", \"stepInteger\": " << properties->stepInteger << ", \"stepFloat\": " << jsonFloat(properties->stepFloat)
        << "}";
    return out.str();
}

std::string tailText(VstIntPtr tailFrames) {
    if (tailFrames == 0) return "not said";
    if (tailFrames == 1) return "none";
    return std::to_string(tailFrames) + " frames";
}

// The answers that say something; "does not know" is the default.
std::string canDoText(const std::vector<CanDoAnswer>& answers) {
    std::vector<std::string> said;
    for (const CanDoAnswer& answer : answers)
        if (answer.answer != 0) said.push_back(answer.feature + (answer.answer > 0 ? " yes" : " no"));
    std::string text;
    for (const std::string& entry : said) text += (text.empty() ? "" : ", ") + entry;
    return said.empty() ? "no answers" : text;
}

// The properties worth reading: the flags, and the values they validate.
std::string propertiesText(const ParameterProperties& properties) {
    std::string text = "[" + joined(flagNames(properties.flags, kParameterFlagNames));
    if (!properties.label.empty()) text += "; label '" + properties.label + "'";
    if ((properties.flags & kVstParameterUsesIntegerMinMax) != 0)
        text += "; " + std::to_string(properties.minInteger) + " to " + std::to_string(properties.maxInteger);
    if ((properties.flags & kVstParameterUsesIntStep) != 0) text += "; step " + std::to_string(properties.stepInteger);
    if ((properties.flags & kVstParameterUsesFloatStep) != 0) text += "; step " + shortFloat(properties.stepFloat);
    return text + "]";
}

void writeJsonParameters(std::ostringstream& out, const std::vector<ParameterInfo>& parameters) {
    out << "  \"parameters\": [";
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const ParameterInfo& p = parameters[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"index\": " << i << ", \"name\": " << jsonString(p.name)
            << ", \"label\": " << jsonString(p.label) << ", \"value\": " << jsonFloat(p.value)
            << ", \"display\": " << jsonString(p.display) << ", \"properties\": " << jsonProperties(p.properties) << "}";
    }
    out << (parameters.empty() ? "]\n" : "\n  ]\n");
}

}  // namespace

PluginInfo readPluginInfo(host::Effect& effect, const std::string& path) {
    PluginInfo info;
    info.path = path;
    info.identity = readIdentity(effect);
    info.vendorVersion = effect.dispatch(effGetVendorVersion);
    info.vstVersion = effect.dispatch(effGetVstVersion);
    info.initialDelayFrames = effect.record()->initialDelay;
    info.tailFrames = effect.dispatch(effGetTailSize);
    info.parameters = readParameters(effect);
    info.programNames = readProgramNames(effect);
    info.canDo = readCanDo(effect);
    return info;
}

namespace {

// What the child hands back: the description as printed, or why it failed.
struct InfoReport {
    static constexpr std::size_t kTextBytes = std::size_t{8} << 20;  // far beyond any plug-in's parameters
    char message[2048];
    std::uint64_t textBytes;
    char text[kTextBytes];
};

// The child's work: the plug-in is loaded, opened and read; the description
// is handed over before the plug-in closes and unloads.
void describeInChild(const std::string& path, bool json, host::ChildContext& context) {
    host::ChildProgress& progress = context.progress();
    auto& report = *static_cast<InfoReport*>(context.shared());
    progress.step("loading");
    host::PluginLibrary library(path);
    host::TransportHost host(kInfoSampleRateHz, kInfoBlockFrames);
    progress.step("creating the effect");
    host::Effect effect(library, host);
    progress.step("opening");
    effect.open();
    effect.dispatch(effSetSampleRate, 0, 0, nullptr, kInfoSampleRateHz);
    effect.dispatch(effSetBlockSize, 0, kInfoBlockFrames);
    progress.step("reading what it says about itself");
    const PluginInfo info = readPluginInfo(effect, path);
    const std::string text = json ? formatJson(info) : formatText(info);
    if (text.size() > InfoReport::kTextBytes) throw std::runtime_error("the plug-in's description is too long to show");
    std::memcpy(report.text, text.data(), text.size());
    report.textBytes = text.size();
    const char handedOver = 1;
    if (!context.send(&handedOver, sizeof handedOver)) return;
    progress.step("closing");
    effect.close();
    progress.step("unloading");
}

}  // namespace

PluginDescription describePlugin(const std::string& path, bool json) {
    const host::InterruptWatch interrupts;
    host::ChildProcess child(
        [&](host::ChildContext& context) {
            host::sendStdoutToStderr();
            try {
                describeInChild(path, json, context);
                return 0;
            } catch (const std::exception& error) {
                auto& report = *static_cast<InfoReport*>(context.shared());
                std::snprintf(report.message, sizeof report.message, "%s", error.what());
            }
            return 1;
        },
        sizeof(InfoReport));
    auto& report = *static_cast<InfoReport*>(child.shared());
    char handedOver = 0;
    const host::ChildProcess::Received received = child.receive(&handedOver, sizeof handedOver);
    if (received != host::ChildProcess::Received::kMessage) {
        const host::ChildOutcome outcome = child.finish();
        if (outcome.ending == host::ChildOutcome::Ending::kInterrupted) throw Interrupted(outcome.signal);
        if (outcome.ending == host::ChildOutcome::Ending::kFinished)
            throw std::runtime_error(std::string(report.message, ::strnlen(report.message, sizeof report.message)));
        throw std::runtime_error("the plug-in " + outcome.describe());
    }
    // The plug-in shares the child's memory: the length is checked before use.
    if (report.textBytes > InfoReport::kTextBytes)
        throw std::runtime_error("the plug-in's process handed over a description that makes no sense");
    PluginDescription description{std::string(report.text, report.textBytes), {}};
    const std::string closing =
        closingTrouble(child, report.message, sizeof report.message, "the information shown was read in full");
    if (!closing.empty()) description.warnings.push_back(closing);
    return description;
}

std::string formatText(const PluginInfo& info) {
    const PluginIdentity& id = info.identity;
    std::ostringstream out;
    out << "plug-in:     " << info.path << "\n"
        << "name:        " << id.name << "\n"
        << "vendor:      " << id.vendor << "\n"
        << "product:     " << id.product << "\n"
        << "unique ID:   " << id.uniqueId << " (" << hex(id.uniqueId) << ", '" << host::fourCharText(id.uniqueId)
        << "')\n"
        << "version:     " << id.version << " (vendor version " << info.vendorVersion << ", VST version "
        << info.vstVersion << ")\n"
        << "inputs:      " << id.inputs << "\n"
        << "outputs:     " << id.outputs << "\n"
        << "flags:       " << id.flags << " (" << joined(flagNames(id.flags)) << ")\n"
        << "category:    " << id.category << " (" << categoryName(id.category) << ")\n"
        << "programs:    " << id.programs << "\n";
    for (std::size_t i = 0; i < info.programNames.size(); ++i) out << "  " << i << "  " << info.programNames[i] << "\n";
    out << "latency:     " << info.initialDelayFrames << " frames\n"
        << "tail:        " << tailText(info.tailFrames) << "\n"
        << "can do:      " << canDoText(info.canDo) << "\n"
        << "parameters:  " << info.parameters.size() << "\n";
    for (std::size_t i = 0; i < info.parameters.size(); ++i) {
        const ParameterInfo& p = info.parameters[i];
        out << "  " << i << "  " << p.name << "  value " << shortFloat(p.value) << "  shown as '" << p.display << "'"
            << (p.label.empty() ? "" : " " + p.label) << (p.properties ? "  " + propertiesText(*p.properties) : "")
            << "\n";
    }
    return out.str();
}

std::string formatJson(const PluginInfo& info) {
    const PluginIdentity& id = info.identity;
    std::ostringstream out;
    out << "{\n"
        << "  \"path\": " << jsonString(info.path) << ",\n"
        << "  \"name\": " << jsonString(id.name) << ",\n"
        << "  \"vendor\": " << jsonString(id.vendor) << ",\n"
        << "  \"product\": " << jsonString(id.product) << ",\n"
        << "  \"uniqueId\": " << id.uniqueId << ",\n"
        << "  \"uniqueIdText\": " << jsonString(host::fourCharText(id.uniqueId)) << ",\n"
        << "  \"version\": " << id.version << ",\n"
        << "  \"vendorVersion\": " << info.vendorVersion << ",\n"
        << "  \"vstVersion\": " << info.vstVersion << ",\n"
        << "  \"inputs\": " << id.inputs << ",\n"
        << "  \"outputs\": " << id.outputs << ",\n"
        << "  \"flags\": " << id.flags << ",\n"
        << "  \"flagNames\": ";
    out << jsonList(flagNames(id.flags)) << ",\n"
        << "  \"category\": " << id.category << ",\n"
        << "  \"categoryName\": " << jsonString(categoryName(id.category)) << ",\n"
        << "  \"programs\": " << id.programs << ",\n"
        << "  \"programNames\": " << jsonList(info.programNames) << ",\n"
        << "  \"initialDelay\": " << info.initialDelayFrames << ",\n"
        << "  \"tailFrames\": " << info.tailFrames << ",\n"
        << "  \"canDo\": {";
    for (std::size_t i = 0; i < info.canDo.size(); ++i)
        out << (i == 0 ? "" : ", ") << jsonString(info.canDo[i].feature) << ": " << info.canDo[i].answer;
    out << "},\n";
    writeJsonParameters(out, info.parameters);
    out << "}\n";
    return out.str();
}

}  // namespace tapestop
