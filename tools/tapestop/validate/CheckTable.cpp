#include "Check.h"
#include "Checks.h"

namespace tapestop::validate {

// Strictness 1 holds what every host needs; higher levels add the longer,
// rarer and stricter checks. At 10 every check runs.
const std::vector<Check>& allChecks() {
    static const std::vector<Check> checks = {
        {"load", 1, checkLoad},
        {"fpu-and-locale", 1, checkFloatingPointAndLocale},
        {"creation", 1, checkCreation},
        {"texts", 1, checkTexts},
        {"parameters", 1, checkParameters},
        {"block-sizes", 1, checkBlockSizes},
        {"buffer-bounds", 1, checkBufferBounds},
        {"realtime", 1, checkRealtime},
        {"host-info", 1, checkHostInfo},
        {"sample-rates", 2, checkSampleRates},
        {"suspend-resume", 2, checkSuspendResume},
        {"instances", 3, checkInstances},
        {"in-place", 3, checkInPlace},
        {"programs", 3, checkPrograms},
        {"chunks", 3, checkChunks},
        {"threads", 3, checkThreads},
        {"long-run", 4, checkLongRun},
        {"determinism", 4, checkDeterminism},
        {"speed", 4, checkSpeed},
        {"create-close-cycles", 5, checkCreateCloseCycles},
        {"parameter-fuzz", 5, checkParameterFuzz},
    };
    return checks;
}

}  // namespace tapestop::validate
