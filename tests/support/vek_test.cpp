#include "support/vek_test.h"

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
