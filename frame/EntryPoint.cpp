// The one function the plug-in library exports, under the two names hosts
// look for: VSTPluginMain and main.
#include "AudioEffect.h"

#define VST_EXPORT extern "C" __attribute__((visibility("default")))

// Asks the host for its version before anything exists; a host that answers
// 0 gets no effect and nothing is allocated. No exception crosses into the host.
VST_EXPORT AEffect* VSTPluginMain(audioMasterCallback audioMaster) {
    try {
        if (audioMaster(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f) == 0) return nullptr;
        AudioEffect* effect = createEffectInstance(audioMaster);
        return effect != nullptr ? effect->getAeffect() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

// The same function under its older export name. The assembler name keeps
// the compiler from treating it as the program's main.
VST_EXPORT AEffect* vstPluginMainAlias(audioMasterCallback audioMaster) __asm__("main")
    __attribute__((alias("VSTPluginMain")));
