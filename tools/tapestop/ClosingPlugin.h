// The end of a plug-in's child process once its work is all handed over:
// what the plug-in does while it stops, closes and unloads cannot cost the
// result any more, and a plug-in that takes too long is killed.
#pragma once

#include <cstddef>
#include <string>

#include "ChildProcess.h"

namespace tapestop {

// Waits up to host::kClosingSeconds for the child to end. Answers empty when
// it finished, else a warning that ends in `kept` (what the user still has).
// The child's own message, in shared memory, is read only once it has ended.
std::string closingTrouble(host::ChildProcess& child, const char* childMessage, std::size_t messageBytes,
                           const std::string& kept);

}  // namespace tapestop
