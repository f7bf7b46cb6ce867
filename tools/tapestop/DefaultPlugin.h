// The plug-in the command loads when no --plugin is given.
#pragma once

#include <string>

namespace tapestop {

// The tape stop installed beside the command (<prefix>/lib/vst/tapestop.so
// for <prefix>/bin/tapestop); when there is none, as in the build tree, the
// tape stop this build made.
std::string defaultPluginPath();

}  // namespace tapestop
