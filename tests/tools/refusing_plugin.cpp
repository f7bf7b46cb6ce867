// A library that looks like a plug-in but whose entry function refuses to
// create an effect, as one does when it cannot run in the host.
extern "C" __attribute__((visibility("default"))) void* VSTPluginMain(void*) { return nullptr; }
