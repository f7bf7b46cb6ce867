// `tapestop show PLUGIN.so [--set NAME=VALUE]... [--seconds S] [--screenshot
// FILE.png]`: a host for a plug-in's editor window, for developers and for
// the tests that drive editors under Xvfb.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Options.h"

namespace tapestop {

struct ShowOptions {
    std::string pluginPath;
    std::vector<ParameterAssignment> settings;  // before the window opens, in order
    std::optional<double> seconds;              // unset: until the window is closed
    std::string screenshotPath;                 // empty: none
};

// argv as main gets it, with argv[1] "show". Nothing for --help. Throws
// UsageError for a command line that cannot be carried out.
std::optional<ShowOptions> parseShowOptions(int argc, const char* const* argv);

// Opens the editor in a top-level window, idles it about 30 times a second
// while the effect processes a test signal on a thread of its own, and
// prints each edit the editor reports. Answers the exit status; throws for a
// plug-in without an editor, an editor that does not open, and X errors.
int show(const ShowOptions& options);

}  // namespace tapestop
