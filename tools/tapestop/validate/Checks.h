// The checks of `tapestop validate`, by group; CheckTable.cpp lists them with
// the strictness from which each runs. Each runs in a child process of its
// own and reports through its CheckContext.
#pragma once

#include "Check.h"

namespace tapestop::validate {

// LoadingChecks.cpp: the library, the entry function, the effect record.
void checkLoad(CheckContext& context);
void checkFloatingPointAndLocale(CheckContext& context);
void checkCreation(CheckContext& context);
void checkInstances(CheckContext& context);
void checkCreateCloseCycles(CheckContext& context);

// TextChecks.cpp
void checkTexts(CheckContext& context);

// ParameterChecks.cpp
void checkParameters(CheckContext& context);

// ProcessingChecks.cpp
void checkBlockSizes(CheckContext& context);
void checkBufferBounds(CheckContext& context);
void checkSampleRates(CheckContext& context);
void checkSuspendResume(CheckContext& context);
void checkInPlace(CheckContext& context);
void checkLongRun(CheckContext& context);
void checkDeterminism(CheckContext& context);
void checkParameterFuzz(CheckContext& context);

// RealtimeChecks.cpp
void checkRealtime(CheckContext& context);

// ThreadChecks.cpp
void checkThreads(CheckContext& context);

// StateChecks.cpp
void checkPrograms(CheckContext& context);
void checkChunks(CheckContext& context);

// SpeedChecks.cpp
void checkSpeed(CheckContext& context);

// HostInfoChecks.cpp
void checkHostInfo(CheckContext& context);

}  // namespace tapestop::validate
