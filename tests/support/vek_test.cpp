#include "support/vek_test.h"

void UseDefaultAdapter(bool pow2) {
  vrt::AdapterConfig a = vrt::DefaultAdapter();
  if (pow2) a.textureCaps |= D3DPTEXTURECAPS_POW2;
  vrt::SetAdapters({a});
}

void VekTest::SetUp() {
  vrt::ResetRuntime();
  vrt::EnableCallLog(true);
  FailMalloc(0, 0);
  PlatformTest::SetUp();
}

void VekTest::TearDown() {
  FailMalloc(0, 0);
  PlatformTest::TearDown();
  vrt::ResetRuntime();
}
