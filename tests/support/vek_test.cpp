#include "support/vek_test.h"

#include "gd/device.h"
#include "gd/direct3d.h"

std::string Utf16ToUtf8(const WCHAR* text) {
  std::string out;
  for (; text && *text; ++text) {
    const char16_t c = *text;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

void VekTest::SetUp() {
  vrt::ResetRuntime();
  vrt::EnableCallLog(true);
  ClearError();
  FailMalloc(0, 0);
  SetLogCapture(TRUE);
  blocksAtStart_ = LiveBlockCount();
  window = vrt::CreateVirtualWindow(10, 20, 640, 480);
}

void VekTest::TearDown() {
  EXPECT_EQ(GetCurrentDevice(), nullptr) << "a device was left open";
  // The shared Direct3D object lives until a device closes; adapter-only
  // tests leave it behind, so drop it before counting.
  ReleaseDirect3D();
  vrt::DestroyVirtualWindow(window);
  EXPECT_EQ(vrt::LiveObjectCount(), 0) << "Direct3D objects leaked";
  EXPECT_EQ(LiveBlockCount(), blocksAtStart_) << "base-library blocks leaked";
  FailMalloc(0, 0);
  SetLogCapture(FALSE);
  vrt::ResetRuntime();
}

std::string VekTest::CapturedLog() {
  const int n = GetCapturedLog(nullptr, 0);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  GetCapturedLog(text.data(), n + 1);
  text.resize(static_cast<size_t>(n));
  return text;
}

VekTest::LastError VekTest::ReadError() {
  ErrorRecord record{};
  LastError e;
  e.set = ReadLastError(&record) != 0;
  e.code = record.code;
  e.detail = record.detail;
  e.line = record.line;
  e.message = Utf16ToUtf8(record.message);
  e.source = Utf16ToUtf8(record.source);
  return e;
}
