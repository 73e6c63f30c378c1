// Fixture for tests that drive the library on the POSIX runtime: a fresh
// runtime and virtual window per test, captured log lines, and the checks
// every test ends with (no runtime object alive, no base-library block
// leaked, no device left current).
#pragma once

#include <gtest/gtest.h>
#include <pelto.h>
#include <vekrt/runtime.h>

#include <string>

class VekTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Lines the loggers wrote since the test started, each ended by '\n'.
  static std::string CapturedLog();
  // The last error as recorded, with its message and source in UTF-8.
  struct LastError {
    bool set = false;
    LONG code = 0;
    LONG detail = 0;
    LONG line = 0;
    std::string message;
    std::string source;
  };
  static LastError ReadError();

  HWND window = nullptr;  // client area 640 x 480

 private:
  LONG blocksAtStart_ = 0;
};

std::string Utf16ToUtf8(const WCHAR* text);
