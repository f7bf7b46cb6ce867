// Running Debian's LV2 tools (lilv-utils, lv2-dev) on the bundles this build
// made, with LV2_PATH at build/lv2 and nowhere else.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "tools/ToolTestSupport.h"

namespace lv2test {

inline const std::string kBundleDir = std::string(TAPESTOP_BUILD_DIR) + "/lv2";

inline tooltest::RunResult runLv2Tool(const std::string& tool, const std::vector<std::string>& args) {
    ::setenv("LV2_PATH", kBundleDir.c_str(), 1);
    return tooltest::runProgram("/usr/bin/" + tool, args);
}

// Every effect this build makes in both formats: its name in the build and
// the plug-in URI of its bundle.
struct Bundle {
    const char* target;
    const char* uri;
};

inline constexpr Bundle kBundles[] = {
    {"tapestop", "urn:tarvo:tapestop"},     {"tapemotor", "urn:tarvo:tapemotor"},
    {"stereogain", "urn:tarvo:stereogain"}, {"tempotremolo", "urn:tarvo:tempotremolo"},
    {"notegate", "urn:tarvo:notegate"},
};

inline std::string bundlePath(const Bundle& bundle) { return kBundleDir + "/" + bundle.target + ".lv2"; }
inline std::string vstPath(const Bundle& bundle) {
    return std::string(TAPESTOP_BUILD_DIR) + "/" + bundle.target + ".so";
}

}  // namespace lv2test
