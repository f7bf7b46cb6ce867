// What hosts read about a plug-in to place it, reported as information:
// category, tail, latency, unique ID, versions and canDo answers.
#include "Checks.h"
#include "Info.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

const char* canDoAnswer(VstIntPtr answer) { return answer > 0 ? "yes" : answer < 0 ? "no" : "don't know"; }

}  // namespace

void checkHostInfo(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    host::Effect& effect = instance.effect();
    const AEffect& record = instance.record();
    context.step("reading what hosts read");
    std::string canDo;
    for (const CanDoAnswer& answer : readCanDo(effect))
        canDo += (canDo.empty() ? "" : ", ") + answer.feature + " " + canDoAnswer(answer.answer);
    context.note("category " + categoryName(effect.dispatch(effGetPlugCategory)) + ", tail " +
                 std::to_string(effect.dispatch(effGetTailSize)) + " frames, latency " +
                 std::to_string(record.initialDelay) + " frames, unique ID '" + host::fourCharText(record.uniqueID) +
                 "', version " + std::to_string(record.version) + ", vendor version " +
                 std::to_string(effect.dispatch(effGetVendorVersion)) + ", canDo: " + canDo);
    if (record.uniqueID == 0) context.warn("unique ID 0: hosts tell plug-ins apart by it");
}

}  // namespace tapestop::validate
