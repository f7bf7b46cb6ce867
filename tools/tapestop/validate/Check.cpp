#include "Check.h"

#include <algorithm>
#include <cstring>

namespace tapestop::validate {

const char* resultName(Result result) {
    switch (result) {
    case Result::kPass: return "pass";
    case Result::kWarn: return "warn";
    case Result::kFail: return "fail";
    case Result::kSkip: return "skip";
    }
    return "?";
}

int CheckContext::scaled(int low, int high) const {
    const int steps = kMaxStrictness - kMinStrictness;
    return low + (high - low) * (strictness() - kMinStrictness) / steps;
}

void CheckContext::note(const std::string& text) { add(Result::kPass, text); }
void CheckContext::warn(const std::string& text) { add(Result::kWarn, text); }
void CheckContext::fail(const std::string& text) { add(Result::kFail, text); }

void CheckContext::failFrom(int strictness, const std::string& text) {
    add(settings_.strictness >= strictness ? Result::kFail : Result::kWarn, text);
}

// Findings are appended to the detail; once it is full, later ones still
// raise the result but their text is dropped.
void CheckContext::add(Result level, const std::string& text) {
    if (level > record_.result) record_.result = level;
    if (text.empty()) return;
    const std::size_t used = std::strlen(record_.detail);
    const char* separator = used == 0 ? "" : "; ";
    const char* mark = level == Result::kWarn ? "warning: " : "";  // failures need no mark: the result says it
    const std::string entry = separator + std::string(mark) + text;
    const std::size_t room = CheckRecord::kDetailChars - 1 - used;
    const std::size_t length = std::min(entry.size(), room);
    std::memcpy(record_.detail + used, entry.data(), length);
    record_.detail[used + length] = '\0';
}

}  // namespace tapestop::validate
