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

std::vector<vrt::CallRecord> LoggedCalls(const std::string& method) {
  std::vector<vrt::CallRecord> out;
  for (const vrt::CallRecord& c : vrt::CallLog())
    if (method.empty() || c.method == method) out.push_back(c);
  return out;
}

std::vector<std::string> LoggedMethods() {
  std::vector<std::string> names;
  for (const vrt::CallRecord& c : vrt::CallLog()) names.push_back(c.method);
  return names;
}
