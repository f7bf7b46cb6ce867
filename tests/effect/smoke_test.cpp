#include <gtest/gtest.h>
#include "PluginHost.h"
TEST(Smoke, Loads) {
  host::PluginLibrary lib(host::builtPluginPath());
  host::Host h;
  host::Effect e(lib, h);
  EXPECT_EQ(e.effectName(), "Tarvo TapeStop");
}
