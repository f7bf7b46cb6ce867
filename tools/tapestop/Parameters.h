// Finding a plug-in's parameters by the names it reports.
#pragma once

#include <string>

#include "Options.h"
#include "PluginHost.h"

namespace tapestop {

// A parameter the plug-in does not have: the command line cannot be carried out.
class ParameterError : public UsageError {
public:
    using UsageError::UsageError;
};

// The index of the parameter called `nameOrIndex` (case-insensitive, spaces
// around the reported name ignored) or with that index; throws
// ParameterError naming the parameters the plug-in has.
VstInt32 findParameter(host::Effect& effect, const std::string& nameOrIndex);

// The host value `assignment` gives parameter `index`: a bare number as it
// is, a text as the plug-in reads it (string2parameter). The parameter keeps the
// value it had, so that a timed change acts only on its frame. Throws
// UsageError naming the parameter and the text when the plug-in refuses it.
float parameterValue(host::Effect& effect, VstInt32 index, const ParameterAssignment& assignment);

}  // namespace tapestop
