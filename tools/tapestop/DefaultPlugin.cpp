#include "DefaultPlugin.h"

#include <filesystem>
#include <system_error>

namespace tapestop {

namespace {

// Where `cmake --install` puts the plug-in, from the folder of the command.
constexpr char kInstalledFromBinDir[] = "../lib/vst/tapestop.so";

}  // namespace

std::string defaultPluginPath() {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        const fs::path installed = (program.parent_path() / kInstalledFromBinDir).lexically_normal();
        if (fs::is_regular_file(installed, error)) return installed.string();
    }
    return TAPESTOP_PLUGIN_PATH;
}

}  // namespace tapestop
