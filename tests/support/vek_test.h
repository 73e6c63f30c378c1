// Fixture for tests that drive the library on the POSIX runtime with its
// controls: a fresh runtime (one default adapter, no injected failures) and
// the call log on, plus everything the platform fixture checks.
#pragma once

#include <vekrt/runtime.h>

#include <string>
#include <vector>

#include "support/platform_test.h"

// Makes the runtime's one adapter the default one, requiring power-of-two
// textures when `pow2` is set.
void UseDefaultAdapter(bool pow2);

class VekTest : public PlatformTest {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// The runtime calls logged since the last clear, in order: all of them, or
// those of one method ("IDirect3DDevice8::DrawIndexedPrimitive").
std::vector<vrt::CallRecord> LoggedCalls(const std::string& method = {});
// The names of the logged calls, in order.
std::vector<std::string> LoggedMethods();
