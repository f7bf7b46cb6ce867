#include "Check.h"
#include "Checks.h"

namespace tapestop::validate {

// Strictness 1 holds what every host needs; higher levels add the longer,
// rarer and stricter checks. At 10 every check runs. The third column says
// whether a check runs audio through the plug-in: after a hang in processing,
// those are not run again.
const std::vector<Check>& allChecks() {
    static const std::vector<Check> checks = {
        {"load", 1, false, checkLoad},
        {"fpu-and-locale", 1, true, checkFloatingPointAndLocale},
        {"creation", 1, false, checkCreation},
        {"texts", 1, false, checkTexts},
        {"parameters", 1, false, checkParameters},
        {"block-sizes", 1, true, checkBlockSizes},
        {"buffer-bounds", 1, true, checkBufferBounds},
        {"realtime", 1, true, checkRealtime},
        {"host-info", 1, false, checkHostInfo},
        {"sample-rates", 2, true, checkSampleRates},
        {"suspend-resume", 2, true, checkSuspendResume},
        {"instances", 3, true, checkInstances},
        {"in-place", 3, true, checkInPlace},
        {"programs", 3, false, checkPrograms},
        {"chunks", 3, true, checkChunks},
        {"threads", 3, true, checkThreads},
        {"long-run", 4, true, checkLongRun},
        {"determinism", 4, true, checkDeterminism},
        {"speed", 4, true, checkSpeed},
        {"create-close-cycles", 5, true, checkCreateCloseCycles},
        {"parameter-fuzz", 5, true, checkParameterFuzz},
    };
    return checks;
}

}  // namespace tapestop::validate
