// tarvo-lv2-turtle BINARY BUNDLE_DIR
//
// Writes an LV2 bundle's manifest.ttl, the plug-in's <name>.ttl and, for an
// effect with more than one program, presets.ttl, from the built binary
// itself: it loads the binary as a VST 2.4 host does and asks the effect for
// its channels, parameters (names, labels, defaults, properties, display
// texts), programs and capabilities. The ports follow LV2Ports.h, which the
// adapter inside the binary follows too. Runs at build time, once per bundle.
#include <lv2/core/lv2.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "LV2Ports.h"
#include "PluginHost.h"

namespace {

using tarvo::lv2::PortLayout;

// A float as Turtle reads it back to the same float.
std::string number(float value) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.9g", static_cast<double>(value));
    std::string result(text);
    if (result.find_first_of(".eEn") == std::string::npos) result += ".0";
    return result;
}

// A Turtle string literal.
std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') result += '\\';
        if (c == '\n') {
            result += "\\n";
            continue;
        }
        result += c;
    }
    return result + "\"";
}

struct ScalePoint {
    float value;
    std::string label;
};

struct Parameter {
    std::string name, symbol, unit;
    float defaultValue = 0.0f;
    bool toggled = false, enumeration = false;
    std::vector<ScalePoint> scalePoints;
};

struct Preset {
    std::string name;
    std::vector<std::pair<std::uint32_t, float>> values;  // parameter index, value
};

struct Plugin {
    std::string uri, binaryName, name, vendor;
    VstInt32 vendorVersion = 0;
    VstIntPtr category = 0;
    PortLayout layout;
    bool receivesMidi = false;
    bool readsTime = false;
    bool programsAreChunks = false;
    std::vector<Parameter> parameters;
    std::vector<Preset> presets;
};

bool canDo(host::Effect& effect, const char* what) {
    std::string text(what);
    return effect.dispatch(effCanDo, 0, 0, text.data()) == 1;
}

// A switch is toggled, with its two display texts as scale points; a
// parameter with integer steps is an enumeration of its steps' display texts,
// each at the host value that selects it.
void readSteps(host::Effect& effect, VstInt32 index, Parameter& parameter) {
    VstParameterProperties properties{};
    if (effect.dispatch(effGetParameterProperties, index, 0, &properties) == 0) return;
    const float before = effect.getParameter(index);
    auto pointAt = [&](float value) {
        effect.setParameter(index, value);
        parameter.scalePoints.push_back({value, effect.parameterDisplay(index)});
    };
    if ((properties.flags & kVstParameterIsSwitch) != 0) {
        parameter.toggled = true;
        pointAt(0.0f);
        pointAt(1.0f);
    } else if ((properties.flags & kVstParameterUsesIntegerMinMax) != 0 &&
               properties.maxInteger > properties.minInteger) {
        parameter.enumeration = true;
        const VstInt32 span = properties.maxInteger - properties.minInteger;
        for (VstInt32 step = 0; step <= span; ++step)
            pointAt(static_cast<float>(static_cast<double>(step) / span));
    }
    effect.setParameter(index, before);
}

// The parameters a program sets, found as a host would: the same program
// selected over two different settings leaves those it does not set apart.
Preset readPreset(host::Effect& effect, VstInt32 program, std::uint32_t parameterCount) {
    std::vector<float> after[2];
    const float kPriorValues[2] = {0.25f, 0.75f};
    for (int round = 0; round < 2; ++round) {
        for (std::uint32_t i = 0; i < parameterCount; ++i)
            effect.setParameter(static_cast<VstInt32>(i), kPriorValues[round]);
        effect.dispatch(effSetProgram, 0, program);
        for (std::uint32_t i = 0; i < parameterCount; ++i)
            after[round].push_back(effect.getParameter(static_cast<VstInt32>(i)));
    }
    char name[256] = {};  // far more than a program name may take
    effect.dispatch(effGetProgramNameIndexed, program, 0, name);
    Preset preset{name[0] != '\0' ? name : "Program " + std::to_string(program + 1), {}};
    for (std::uint32_t i = 0; i < parameterCount; ++i)
        if (after[0][i] == after[1][i]) preset.values.emplace_back(i, after[0][i]);
    return preset;
}

Plugin readPlugin(const std::string& binaryPath) {
    host::PluginLibrary library(binaryPath);
    const auto descriptorOf = reinterpret_cast<LV2_Descriptor_Function>(library.symbol("lv2_descriptor"));
    if (descriptorOf == nullptr || descriptorOf(0) == nullptr)
        throw host::HostError(binaryPath + " has no LV2 descriptor (lv2_descriptor)");
    host::Host hostSide;
    host::Effect effect(library, hostSide);
    effect.dispatch(effOpen);
    AEffect* record = effect.record();

    Plugin plugin;
    plugin.uri = descriptorOf(0)->URI;
    plugin.binaryName = std::filesystem::path(binaryPath).filename().string();
    plugin.name = effect.effectName();
    plugin.vendor = effect.vendorString();
    plugin.vendorVersion = static_cast<VstInt32>(effect.dispatch(effGetVendorVersion));
    plugin.category = effect.dispatch(effGetPlugCategory);
    plugin.receivesMidi = canDo(effect, tarvo::lv2::kReceiveMidiCanDo);
    plugin.readsTime = canDo(effect, tarvo::lv2::kReceiveTimeCanDo);
    plugin.programsAreChunks = (record->flags & effFlagsProgramChunks) != 0;
    plugin.layout.audioInputs = static_cast<std::uint32_t>(record->numInputs);
    plugin.layout.audioOutputs = static_cast<std::uint32_t>(record->numOutputs);
    plugin.layout.parameters = static_cast<std::uint32_t>(record->numParams);
    plugin.layout.hasLatency = record->initialDelay != 0;
    plugin.layout.hasTail = effect.dispatch(effGetTailSize) != 0;
    plugin.layout.hasEvents = plugin.receivesMidi || plugin.readsTime;
    if (plugin.name.empty()) plugin.name = plugin.binaryName;

    std::vector<std::string> names;
    for (VstInt32 i = 0; i < record->numParams; ++i) {
        Parameter parameter;
        parameter.name = effect.parameterName(i);
        parameter.unit = effect.parameterLabel(i);
        parameter.defaultValue = effect.getParameter(i);
        names.push_back(parameter.name);
        plugin.parameters.push_back(parameter);
    }
    const std::vector<std::string> symbols = tarvo::lv2::portSymbols(names, tarvo::lv2::fixedSymbols(plugin.layout));
    for (VstInt32 i = 0; i < record->numParams; ++i) {
        plugin.parameters[i].symbol = symbols[i];
        readSteps(effect, i, plugin.parameters[i]);
    }
    if (record->numPrograms > 1 && !plugin.programsAreChunks)
        for (VstInt32 program = 0; program < record->numPrograms; ++program)
            plugin.presets.push_back(readPreset(effect, program, plugin.layout.parameters));
    return plugin;
}

constexpr const char* kPrefixes =
    "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix foaf: <http://xmlns.com/foaf/0.1/> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
    "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
    "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n"
    "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";

std::string presetUri(const Plugin& plugin, std::size_t program) {
    return plugin.uri + "#preset-" + std::to_string(program + 1);
}

std::string manifest(const Plugin& plugin, const std::string& pluginTurtle) {
    std::ostringstream out;
    out << kPrefixes << "<" << plugin.uri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << plugin.binaryName
        << "> ;\n    rdfs:seeAlso <" << pluginTurtle << "> .\n";
    for (std::size_t i = 0; i < plugin.presets.size(); ++i)
        out << "\n<" << presetUri(plugin, i) << ">\n    a pset:Preset ;\n    lv2:appliesTo <" << plugin.uri
            << "> ;\n    rdfs:label " << quoted(plugin.presets[i].name) << " ;\n    rdfs:seeAlso <presets.ttl> .\n";
    return out.str();
}

void audioPort(std::ostringstream& out, std::uint32_t index, bool input, std::uint32_t channel) {
    out << " [\n        a lv2:" << (input ? "InputPort" : "OutputPort") << " , lv2:AudioPort ;\n        lv2:index "
        << index << " ;\n        lv2:symbol \"" << (input ? "in_" : "out_") << channel + 1 << "\" ;\n        lv2:name \""
        << (input ? "Input " : "Output ") << channel + 1 << "\"\n    ]";
}

void controlPort(std::ostringstream& out, std::uint32_t index, const Parameter& parameter) {
    out << " [\n        a lv2:InputPort , lv2:ControlPort ;\n        lv2:index " << index << " ;\n        lv2:symbol "
        << quoted(parameter.symbol) << " ;\n        lv2:name " << quoted(parameter.name) << " ;\n        lv2:default "
        << number(parameter.defaultValue) << " ;\n        lv2:minimum 0.0 ;\n        lv2:maximum 1.0";
    // The port holds the host value from 0 to 1, not a value in the effect's
    // unit: declared as that unit, hosts would show Mix at full as "1 %".
    // The unit is told in words instead.
    if (!parameter.unit.empty())
        out << " ;\n        rdfs:comment " << quoted("From 0 to 1; the effect shows it in " + parameter.unit);
    if (parameter.toggled) out << " ;\n        lv2:portProperty lv2:toggled";
    if (parameter.enumeration) out << " ;\n        lv2:portProperty lv2:enumeration";
    for (const ScalePoint& point : parameter.scalePoints)
        out << " ;\n        lv2:scalePoint [ rdfs:label " << quoted(point.label) << " ; rdf:value "
            << number(point.value) << " ]";
    out << "\n    ]";
}

// A control output in frames: the latency the host compensates, or the tail.
void framesPort(std::ostringstream& out, std::uint32_t index, const char* symbol, const char* name, bool latency) {
    out << " [\n        a lv2:OutputPort , lv2:ControlPort ;\n        lv2:index " << index << " ;\n        lv2:symbol \""
        << symbol << "\" ;\n        lv2:name \"" << name << "\" ;\n        units:unit units:frame ;\n"
        << (latency ? "        lv2:designation lv2:latency ;\n        lv2:portProperty lv2:reportsLatency , "
                    : "        lv2:portProperty ")
        << "lv2:integer\n    ]";
}

void eventPort(std::ostringstream& out, std::uint32_t index, const Plugin& plugin) {
    out << " [\n        a lv2:InputPort , atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n"
        << "        atom:supports " << (plugin.receivesMidi ? "midi:MidiEvent" : "")
        << (plugin.receivesMidi && plugin.readsTime ? " , " : "") << (plugin.readsTime ? "time:Position" : "")
        << " ;\n        lv2:designation lv2:control ;\n        lv2:portProperty lv2:connectionOptional ;\n"
        << "        lv2:index " << index << " ;\n        lv2:symbol \"events\" ;\n        lv2:name \"Events\"\n    ]";
}

std::string pluginDescription(const Plugin& plugin) {
    const PortLayout& layout = plugin.layout;
    std::ostringstream out;
    out << kPrefixes << "<" << plugin.uri << ">\n    a lv2:Plugin , doap:Project"
        << (plugin.category == kPlugCategSynth ? " , lv2:InstrumentPlugin" : "") << " ;\n    doap:name "
        << quoted(plugin.name) << " ;\n";
    if (!plugin.vendor.empty()) out << "    doap:maintainer [ foaf:name " << quoted(plugin.vendor) << " ] ;\n";
    // The vendor version as LV2's minor (its hundreds) and micro version, so a
    // newer vendor version is a newer LV2 version.
    out << "    lv2:minorVersion " << plugin.vendorVersion / 100 << " ;\n    lv2:microVersion "
        << plugin.vendorVersion % 100 << " ;\n"
        << "    lv2:optionalFeature lv2:hardRTCapable , urid:map , opts:options ;\n"
        << "    lv2:extensionData state:interface ;\n    lv2:port";
    const char* separator = "";
    auto next = [&]() -> std::ostringstream& {
        out << separator;
        separator = " ,";
        return out;
    };
    for (std::uint32_t c = 0; c < layout.audioInputs; ++c) audioPort(next(), c, true, c);
    for (std::uint32_t c = 0; c < layout.audioOutputs; ++c) audioPort(next(), layout.firstAudioOutput() + c, false, c);
    for (std::uint32_t i = 0; i < layout.parameters; ++i)
        controlPort(next(), layout.firstControl() + i, plugin.parameters[i]);
    if (layout.hasLatency) framesPort(next(), layout.latencyPort(), "latency", "Latency", true);
    if (layout.hasTail) framesPort(next(), layout.tailPort(), "tail", "Tail", false);
    if (layout.hasEvents) eventPort(next(), layout.eventPort(), plugin);
    out << " .\n";
    return out.str();
}

std::string presets(const Plugin& plugin) {
    std::ostringstream out;
    out << kPrefixes;
    for (std::size_t p = 0; p < plugin.presets.size(); ++p) {
        out << "<" << presetUri(plugin, p) << ">\n    a pset:Preset ;\n    lv2:appliesTo <" << plugin.uri
            << "> ;\n    rdfs:label " << quoted(plugin.presets[p].name);
        for (const auto& [index, value] : plugin.presets[p].values)
            out << " ;\n    lv2:port [ lv2:symbol " << quoted(plugin.parameters[index].symbol) << " ; pset:value "
                << number(value) << " ]";
        out << " .\n\n";
    }
    return out.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: tarvo-lv2-turtle BINARY BUNDLE_DIR\n";
        return 2;
    }
    try {
        const Plugin plugin = readPlugin(argv[1]);
        const std::filesystem::path bundle(argv[2]);
        const std::string pluginTurtle = std::filesystem::path(plugin.binaryName).replace_extension(".ttl").string();
        std::filesystem::create_directories(bundle);
        writeFile(bundle / "manifest.ttl", manifest(plugin, pluginTurtle));
        writeFile(bundle / pluginTurtle, pluginDescription(plugin));
        if (!plugin.presets.empty()) writeFile(bundle / "presets.ttl", presets(plugin));
        else std::filesystem::remove(bundle / "presets.ttl");
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "tarvo-lv2-turtle: " << error.what() << "\n";
        return 1;
    }
}
