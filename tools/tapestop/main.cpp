// tapestop: renders audio files through the Tarvo TapeStop (or any VST 2.4
// plug-in), shows what a plug-in reports about itself, and makes a demo
// signal. Exit status 0 on success, 1 when the work fails, 2 for a command
// line that cannot be carried out, 128 + N when signal N interrupted a render,
// the reading of a plug-in's information or a validation.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <variant>

#include "Batch.h"
#include "DefaultPlugin.h"
#include "Demo.h"
#include "Info.h"
#include "Options.h"
#include "Render.h"
#include "Show.h"
#include "validate/Validate.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr int kExitSignalBase = 128;  // as a shell reports a command ended by a signal

int runRender(const tapestop::RenderOptions& options) {
    // A size limit makes a write fail with a message rather than kill the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const tapestop::RenderSummary summary = tapestop::render(options);
    for (const std::string& warning : summary.warnings) std::cerr << "tapestop: warning: " << warning << "\n";
    std::cout << "wrote " << options.outputPath << ": " << tapestop::describe(summary);
    return 0;
}

int runInfo(const tapestop::InfoOptions& options) {
    const tapestop::PluginDescription description = tapestop::describePlugin(
        options.pluginPath.empty() ? tapestop::defaultPluginPath() : options.pluginPath, options.json);
    for (const std::string& warning : description.warnings) std::cerr << "tapestop: warning: " << warning << "\n";
    std::cout << description.text;
    return 0;
}

int runDemo(const tapestop::DemoOptions& options) {
    tapestop::writeDemoSignal(options.outputPath);
    std::cout << "wrote " << options.outputPath << ": " << tapestop::kDemoSeconds << " s of demo signal, "
              << tapestop::kDemoSampleRateHz << " Hz stereo\n";
    return 0;
}

int run(const tapestop::Command& command) {
    struct Visitor {
        int operator()(const tapestop::HelpRequest&) const {
            std::cout << tapestop::usageText();
            return 0;
        }
        int operator()(const tapestop::VersionRequest&) const {
            std::cout << "tapestop " << TAPESTOP_VERSION << "\n";
            return 0;
        }
        int operator()(const tapestop::RenderOptions& options) const { return runRender(options); }
        int operator()(const tapestop::InfoOptions& options) const { return runInfo(options); }
        int operator()(const tapestop::DemoOptions& options) const { return runDemo(options); }
    };
    return std::visit(Visitor{}, command);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && std::string(argv[1]) == "validate") return tapestop::validate::runCommand(argc - 2, argv + 2);
        if (argc >= 2 && std::string(argv[1]) == "show") {
            const std::optional<tapestop::ShowOptions> options = tapestop::parseShowOptions(argc, argv);
            if (!options) std::cout << tapestop::usageText();
            return options ? tapestop::show(*options) : 0;
        }
        if (argc >= 2 && std::string(argv[1]) == "batch") return tapestop::runBatchCommand(argc - 2, argv + 2);
        return run(tapestop::parseCommandLine(argc, argv));
    } catch (const tapestop::Interrupted& interrupted) {
        std::cerr << "tapestop: " << interrupted.what() << "\n";
        return kExitSignalBase + interrupted.signal;
    } catch (const tapestop::UsageError& error) {
        std::cerr << "tapestop: " << error.what() << " (see tapestop --help)\n";
        return kExitUsage;
    } catch (const std::exception& error) {
        std::cerr << "tapestop: " << error.what() << "\n";
        return kExitFailure;
    }
}
