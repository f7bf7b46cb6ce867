// Finding a plug-in's parameters by the names it reports.
#pragma once

#include <string>

#include "PluginHost.h"

namespace tapestop {

class ParameterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The index of the parameter called `nameOrIndex` (case-insensitive, spaces
// around the reported name ignored) or with that index; throws
// ParameterError naming the parameters the plug-in has.
VstInt32 findParameter(host::Effect& effect, const std::string& nameOrIndex);

}  // namespace tapestop
