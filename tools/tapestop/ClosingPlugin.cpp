#include "ClosingPlugin.h"

#include <cstdio>
#include <cstring>

namespace tapestop {

std::string closingTrouble(host::ChildProcess& child, const char* childMessage, std::size_t messageBytes,
                           const std::string& kept) {
    const host::ChildOutcome outcome = child.finish(host::kClosingSeconds);
    if (outcome.succeeded()) return "";
    using Ending = host::ChildOutcome::Ending;
    switch (outcome.ending) {
        case Ending::kTimedOut: {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", host::kClosingSeconds);
            return "the plug-in did not close within " + std::string(seconds) + " s (last step: " + outcome.lastStep +
                   ") and was killed; " + kept;
        }
        case Ending::kInterrupted:
            return "interrupted (" + host::signalName(outcome.signal) + ") while the plug-in closed; it was killed; " +
                   kept;
        case Ending::kFinished:
            // The plug-in shared the child's memory: the message is ended here.
            return "closing the plug-in failed: " + std::string(childMessage, ::strnlen(childMessage, messageBytes)) +
                   "; " + kept;
        default: return "the plug-in " + outcome.describe() + "; " + kept;
    }
}

}  // namespace tapestop
