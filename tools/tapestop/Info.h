// What a plug-in says about itself, as `tapestop info` prints it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "PluginHost.h"

namespace tapestop {

// What getParameterProperties answered, for a parameter that has any.
struct ParameterProperties {
    VstInt32 flags = 0;  // VstParameterFlags
    std::string label;
    std::string shortLabel;
    VstInt32 minInteger = 0;
    VstInt32 maxInteger = 0;
    VstInt32 stepInteger = 0;
    float stepFloat = 0.0f;
};

struct ParameterInfo {
    std::string name;
    std::string label;
    float value = 0.0f;
    std::string display;
    std::optional<ParameterProperties> properties;
};

// A plug-in's answer to canDo: 1 yes, -1 no, 0 does not know.
struct CanDoAnswer {
    std::string feature;
    VstIntPtr answer = 0;
};

// What a plug-in says it is as soon as it is created: the numbers of its
// record, its names and its category.
struct PluginIdentity {
    std::string name, vendor, product;
    VstInt32 uniqueId = 0, version = 0, inputs = 0, outputs = 0, parameters = 0, programs = 0, flags = 0;
    VstIntPtr category = 0;
};

PluginIdentity readIdentity(host::Effect& effect);

struct PluginInfo {
    std::string path;
    PluginIdentity identity;
    VstIntPtr vendorVersion = 0;
    VstIntPtr vstVersion = 0;
    std::vector<std::string> programNames;
    VstInt32 initialDelayFrames = 0;
    VstIntPtr tailFrames = 0;  // 0: not said; 1: no tail
    std::vector<CanDoAnswer> canDo;
    std::vector<ParameterInfo> parameters;
};

// Everything an opened effect says about itself; `path` is its library's.
PluginInfo readPluginInfo(host::Effect& effect, const std::string& path);

// A plug-in's description as `info` prints it, and the warnings to show.
struct PluginDescription {
    std::string text;
    std::vector<std::string> warnings;  // one line each, without the program's name
};

// Loads, opens and reads the plug-in in a child process, as a render runs it,
// so that its crash, exit or output cannot take the program or its report
// with it. Throws when the plug-in's process ends before the description is
// read (Interrupted for an interrupt).
PluginDescription describePlugin(const std::string& path, bool json);

// The abilities a host asks an effect about by name, and its answers.
std::vector<CanDoAnswer> readCanDo(host::Effect& effect);

// The names of the effect's programs, in its order.
std::vector<std::string> readProgramNames(host::Effect& effect);

std::string formatText(const PluginInfo& info);
std::string formatJson(const PluginInfo& info);

// "effect", "synth", "unknown" or "category N".
std::string categoryName(VstIntPtr category);

}  // namespace tapestop
