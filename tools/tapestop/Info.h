// What a plug-in says about itself, as `tapestop info` prints it.
#pragma once

#include <string>
#include <vector>

#include "Options.h"
#include "PluginHost.h"

namespace tapestop {

struct ParameterInfo {
    std::string name;
    std::string label;
    float value = 0.0f;
    std::string display;
};

struct PluginInfo {
    std::string path;
    std::string name;
    std::string vendor;
    std::string product;
    VstInt32 uniqueId = 0;
    VstInt32 version = 0;
    VstIntPtr vendorVersion = 0;
    VstIntPtr vstVersion = 0;
    VstInt32 inputs = 0;
    VstInt32 outputs = 0;
    VstInt32 flags = 0;
    VstIntPtr category = 0;
    VstInt32 programs = 0;
    VstInt32 initialDelayFrames = 0;
    std::vector<ParameterInfo> parameters;
};

// Loads the plug-in, opens an effect, reads everything and closes it again.
PluginInfo readPluginInfo(const std::string& path);

std::string formatText(const PluginInfo& info);
std::string formatJson(const PluginInfo& info);

// "effect", "synth", "unknown" or "category N".
std::string categoryName(VstIntPtr category);
// A JSON string literal of a plug-in's text, quotes included.
std::string jsonString(const std::string& text);

}  // namespace tapestop
