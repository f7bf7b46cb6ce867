// A library whose entry function asks the host's version, as plug-ins do,
// and then returns a record that is not an effect's (its magic number is 0).
#include "VstInterface.h"

extern "C" __attribute__((visibility("default"))) AEffect* VSTPluginMain(audioMasterCallback master) {
    static AEffect notAnEffect{};
    master(nullptr, audioMasterVersion, 0, 0, nullptr, 0.0f);
    return &notAnEffect;
}
