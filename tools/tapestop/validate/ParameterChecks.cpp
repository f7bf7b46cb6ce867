// Parameters as a host's generic editor and automation use them: values
// set across 0 to 1 read back within 0 to 1, display texts, automation, and
// indices just outside the range.
#include <cmath>
#include <cstdio>

#include "Checks.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

constexpr int kMessagesShown = 4;

void checkValues(CheckContext& context, host::Effect& effect, VstInt32 index, const std::vector<float>& values,
                 int& readBackWarnings) {
    const std::string parameter = "parameter " + std::to_string(index) + " (" + effect.parameterName(index) + ")";
    bool warned = false;
    for (float value : values) {
        context.step("setting " + parameter + " to " + floatText(value));
        effect.setParameter(index, value);
        const float read = effect.getParameter(index);
        if (!std::isfinite(read) || read < 0.0f || read > 1.0f) {
            context.fail("getParameter of " + parameter + " answers " + floatText(read) + " after it was set to " +
                         floatText(value) + ", outside 0 to 1");
            return;
        }
        if (!warned && std::fabs(read - value) > kParameterTolerance) {
            warned = true;
            if (readBackWarnings++ < kMessagesShown)
                context.warn(parameter + " reads back " + floatText(read) + " after it was set to " + floatText(value));
        }
    }
}

}  // namespace

void checkParameters(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    host::Effect& effect = instance.effect();
    const std::vector<float> values = parameterValues(context, context.scaled(0, 20));
    int readBackWarnings = 0, automatable = 0, withoutDisplay = 0;
    for (VstInt32 i = 0; i < instance.parameters(); ++i) {
        checkValues(context, effect, i, values, readBackWarnings);
        context.step("display texts of parameter " + std::to_string(i));
        bool anyText = false;
        for (float value : {0.0f, 0.5f, 1.0f}) {
            effect.setParameter(i, value);
            anyText = anyText || !effect.parameterDisplay(i).empty();
        }
        withoutDisplay += anyText ? 0 : 1;
        context.step("effCanBeAutomated for parameter " + std::to_string(i));
        automatable += effect.dispatch(effCanBeAutomated, i) != 0 ? 1 : 0;
    }
    if (readBackWarnings > kMessagesShown)
        context.warn("and " + std::to_string(readBackWarnings - kMessagesShown) + " more parameters that read back differently");
    if (withoutDisplay > 0)
        context.warn(std::to_string(withoutDisplay) + " parameters show no display text at 0, 0.5 or 1");

    // Indices a careless host (or an off-by-one) sends: the plug-in must survive them.
    for (VstInt32 index : {-1, instance.parameters()}) {
        const std::string which = "index " + std::to_string(index);
        context.step("setParameter at " + which);
        effect.setParameter(index, 0.5f);
        context.step("getParameter at " + which);
        effect.getParameter(index);
        for (VstInt32 opcode : {effGetParamName, effGetParamLabel, effGetParamDisplay, effCanBeAutomated}) {
            context.step("opcode " + std::to_string(opcode) + " at " + which);
            readGuardedText(effect, opcode, index);
        }
    }
    context.note(std::to_string(instance.parameters()) + " parameters, " + std::to_string(automatable) +
                 " automatable; indices -1 and " + std::to_string(instance.parameters()) + " survived");
}

}  // namespace tapestop::validate
