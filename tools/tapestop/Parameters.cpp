#include "Parameters.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace tapestop {

namespace {

std::string normalized(const std::string& text) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    const auto first = std::find_if(text.begin(), text.end(), notSpace);
    const auto last = std::find_if(text.rbegin(), text.rend(), notSpace).base();
    std::string result = first < last ? std::string(first, last) : std::string();
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool isIndex(const std::string& text) {
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

std::string parameterList(const std::vector<std::string>& names) {
    if (names.empty()) return "it has no parameters";
    std::string list = "it has";
    for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? " " : ", ") + std::to_string(i) + " '" + names[i] + "'";
    return list;
}

}  // namespace

VstInt32 findParameter(host::Effect& effect, const std::string& nameOrIndex) {
    const VstInt32 count = effect.record()->numParams;
    std::vector<std::string> names;
    for (VstInt32 i = 0; i < count; ++i) names.push_back(effect.parameterName(i));
    if (isIndex(nameOrIndex)) {
        const long index = std::stol(nameOrIndex);
        if (index < count) return static_cast<VstInt32>(index);
        throw ParameterError("the plug-in has no parameter with index " + nameOrIndex + "; " + parameterList(names));
    }
    const std::string wanted = normalized(nameOrIndex);
    std::vector<VstInt32> matches;
    for (VstInt32 i = 0; i < count; ++i)
        if (normalized(names[i]) == wanted) matches.push_back(i);
    if (matches.size() == 1) return matches.front();
    if (matches.empty())
        throw ParameterError("the plug-in has no parameter named '" + nameOrIndex + "'; " + parameterList(names));
    throw ParameterError("more than one parameter is named '" + nameOrIndex + "' (indices " +
                         std::to_string(matches[0]) + " and " + std::to_string(matches[1]) + "); use an index");
}

float parameterValue(host::Effect& effect, VstInt32 index, const ParameterAssignment& assignment) {
    if (assignment.value) return *assignment.value;
    const float before = effect.getParameter(index);
    std::string text = assignment.text;
    const bool accepted = effect.dispatch(effString2Parameter, index, 0, text.data()) != 0;
    const float value = effect.getParameter(index);
    effect.setParameter(index, before);
    if (!accepted)
        throw UsageError("bad value '" + assignment.valueText + "' for parameter '" + effect.parameterName(index) +
                         "': the plug-in does not read this text as a value");
    return value;
}

}  // namespace tapestop
