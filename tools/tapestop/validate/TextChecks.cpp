// Every text a host asks for, read into a sentinel-filled buffer against an
// inaccessible page: its length against the interface's room, its end.
#include "Checks.h"
#include "Session.h"

namespace tapestop::validate {

namespace {

// The room of each text, its terminating zero included.
constexpr std::size_t kParameterTextBytes = kVstMaxParamStrLen + 1;  // parameter names, labels and display texts
constexpr std::size_t kNameBytes = kVstMaxNameLen + 1;               // effect, vendor and product names
constexpr std::size_t kProgramNameBytes = kVstMaxProgNameLen + 1;
// Past the largest buffer a host gives, text overwrites what hosts keep beside it.
constexpr std::size_t kAlwaysTooLongBytes = kVstMaxVendorStrLen;
constexpr int kMessagesShown = 6;

struct TextRequest {
    std::string what;
    VstInt32 opcode;
    VstInt32 index;
    std::size_t roomBytes;
    bool answers;  // the opcode answers whether it wrote a text
};

class TextJudge {
public:
    explicit TextJudge(CheckContext& context) : context_(context) {}

    void judge(host::Effect& effect, const TextRequest& request) {
        context_.step(request.what);
        const GuardedText read = readGuardedText(effect, request.opcode, request.index);
        ++texts_;
        if (request.answers && read.answer == 0 && !read.touched()) return;  // "no such text", said properly
        if (!read.touched()) {
            report(Result::kFail, request.what + ": nothing written, not even a terminating zero");
        } else if (!read.terminated) {
            report(Result::kFail, request.what + ": not terminated within " + std::to_string(GuardedText::kBufferBytes) + " bytes");
        } else if (read.bytesWritten > kAlwaysTooLongBytes) {
            report(Result::kFail, request.what + ": " + std::to_string(read.bytesWritten) + " bytes written, room is " +
                                      std::to_string(request.roomBytes));
        } else if (read.bytesWritten > request.roomBytes) {
            report(context_.strictness() >= kMaxStrictness ? Result::kFail : Result::kWarn,
                   request.what + " '" + read.text + "': " + std::to_string(read.bytesWritten) + " bytes written, room is " +
                       std::to_string(request.roomBytes));
        }
    }

    void summarize() {
        if (hidden_ > 0) context_.note("and " + std::to_string(hidden_) + " more like these");
        context_.note(std::to_string(texts_) + " texts read");
    }

private:
    void report(Result level, const std::string& text) {
        if (shown_++ >= kMessagesShown) {
            ++hidden_;
            if (level == Result::kFail) context_.fail("");  // raise the result without another line
            return;
        }
        if (level == Result::kFail) context_.fail(text);
        else context_.warn(text);
    }

    CheckContext& context_;
    int texts_ = 0, shown_ = 0, hidden_ = 0;
};

}  // namespace

void checkTexts(CheckContext& context) {
    host::PluginLibrary library(context.settings().pluginPath);
    ValidationHost host;
    Instance instance(library, host);
    host::Effect& effect = instance.effect();
    TextJudge judge(context);

    judge.judge(effect, {"effect name", effGetEffectName, 0, kNameBytes, true});
    judge.judge(effect, {"vendor name", effGetVendorString, 0, kNameBytes, true});
    judge.judge(effect, {"product name", effGetProductString, 0, kNameBytes, true});
    for (VstInt32 i = 0; i < instance.record().numPrograms; ++i)
        judge.judge(effect,
                    {"name of program " + std::to_string(i), effGetProgramNameIndexed, i, kProgramNameBytes, true});
    if (instance.record().numPrograms > 0)
        judge.judge(effect, {"current program name", effGetProgramName, 0, kProgramNameBytes, false});

    const float values[] = {0.0f, 0.5f, 1.0f};
    for (VstInt32 i = 0; i < instance.parameters(); ++i) {
        const std::string parameter = "parameter " + std::to_string(i);
        judge.judge(effect, {parameter + " name", effGetParamName, i, kParameterTextBytes, false});
        judge.judge(effect, {parameter + " label", effGetParamLabel, i, kParameterTextBytes, false});
        const float original = effect.getParameter(i);
        for (float value : values) {
            effect.setParameter(i, value);
            judge.judge(effect, {parameter + " display text at " + std::to_string(value).substr(0, 3),
                                 effGetParamDisplay, i, kParameterTextBytes, false});
        }
        effect.setParameter(i, original);
    }
    judge.summarize();
}

}  // namespace tapestop::validate
