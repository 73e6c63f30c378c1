// File library: memory files, files on disk read at open time, 64-bit
// offsets and the failure hooks.

#include <gtest/gtest.h>
#include <rask.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#define WIDE(s) L##s
#else
#define WIDE(s) u##s
#endif

namespace {

namespace fs = std::filesystem;
using WString = std::basic_string<WCHAR>;
using Bytes = std::vector<unsigned char>;

Bytes Counting(size_t size, unsigned start) {
  Bytes bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(start + i);
  return bytes;
}

Bytes Read(HRASKFILE file, DWORD offsetLow, DWORD offsetHigh, DWORD size) {
  Bytes bytes(size);
  bytes.resize(RaskReadFile(file, offsetLow, offsetHigh, bytes.data(), size));
  return bytes;
}

TEST(RaskMemory, ReadsACopyAtOffsetsWhileOpen) {
  Bytes source = Counting(100, 0);
  HRASKFILE file = RaskCreateFileFromMemory(source.data(), 100, nullptr);
  ASSERT_NE(file, nullptr);
  source[0] = 0xFF;
  EXPECT_EQ(WString(RaskGetFileURI(file)), WIDE("memory:"));
  EXPECT_EQ(RaskGetFileSize(file), 100u);
  EXPECT_TRUE(Read(file, 0, 0, 10).empty());  // not open yet
  EXPECT_FALSE(RaskOpenFile(file, 1));
  ASSERT_TRUE(RaskOpenFile(file, 0));
  EXPECT_EQ(Read(file, 0, 0, 10), Counting(10, 0));
  EXPECT_EQ(Read(file, 90, 0, 16), Counting(10, 90));
  EXPECT_TRUE(Read(file, 100, 0, 4).empty());
  EXPECT_TRUE(Read(file, 0, 1, 4).empty());  // 4 GiB in
  EXPECT_EQ(RaskReadFile(file, 0, 0, nullptr, 4), 0u);

  RaskSetFileFailure(file, RASK_FAIL_READ);
  EXPECT_TRUE(Read(file, 0, 0, 8).empty() && Read(file, 0, 0, 8).empty());
  RaskSetFileFailure(file, 0);
  EXPECT_EQ(Read(file, 0, 0, 8), Counting(8, 0));
  EXPECT_TRUE(RaskCloseFile(file));
  EXPECT_TRUE(Read(file, 0, 0, 4).empty());
  RaskSetFileFailure(file, RASK_FAIL_OPEN);
  EXPECT_FALSE(RaskOpenFile(file, 0) || RaskOpenFile(file, 0));
  RaskDestroyFile(file);
}

TEST(RaskMemory, NamedEmptyFilesAndNullArguments) {
  WCHAR name[] = WIDE("res:logo");
  HRASKFILE named = RaskCreateFileFromMemory(nullptr, 0, name);
  ASSERT_NE(named, nullptr);
  name[0] = 'X';
  EXPECT_EQ(WString(RaskGetFileURI(named)), WIDE("res:logo"));
  EXPECT_EQ(RaskGetFileSize(named), 0u);
  EXPECT_TRUE(RaskOpenFile(named, 0));
  EXPECT_TRUE(Read(named, 0, 0, 4).empty());
  RaskDestroyFile(named);

  EXPECT_EQ(RaskCreateFileFromMemory(nullptr, 4, nullptr), nullptr);
  EXPECT_EQ(RaskCreateFileFromPath(nullptr), nullptr);
  EXPECT_FALSE(RaskOpenFile(nullptr, 0) || RaskCloseFile(nullptr) || RaskGetFileURI(nullptr));
}

class RaskDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
    dir_ = fs::temp_directory_path() / ("rask_test_" + std::to_string(tick));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static WString Wide(const fs::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
  }
  static void Write(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }

  fs::path dir_;
};

TEST_F(RaskDisk, ReadsTheFileAsItIsWhenOpened) {
  const fs::path path = dir_ / fs::path(u8"b\u00e4r \U0001F600.bin");
  const WString wide = Wide(path);
  HRASKFILE file = RaskCreateFileFromPath(wide.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(WString(RaskGetFileURI(file)), wide);
  EXPECT_EQ(RaskGetFileSize(file), 0u);
  EXPECT_FALSE(RaskOpenFile(file, 0));

  Write(path, Counting(300, 0));
  EXPECT_EQ(RaskGetFileSize(file), 300u);
  ASSERT_TRUE(RaskOpenFile(file, 0));
  EXPECT_EQ(Read(file, 250, 0, 100), Counting(50, 250));
  EXPECT_EQ(Read(file, 0, 0, 3), Counting(3, 0));
  EXPECT_TRUE(Read(file, 300, 0, 4).empty());
  EXPECT_TRUE(RaskCloseFile(file));

  Write(path, Counting(20, 100));
  EXPECT_EQ(RaskGetFileSize(file), 20u);
  ASSERT_TRUE(RaskOpenFile(file, 0));
  EXPECT_EQ(Read(file, 0, 0, 64), Counting(20, 100));
  RaskDestroyFile(file);  // still open: closes first

  // Neither a directory nor a name with a lone surrogate is a readable file.
  for (const WString& name : {Wide(dir_), Wide(dir_) + WIDE("/x") + WString(1, WCHAR(0xD800))}) {
    file = RaskCreateFileFromPath(name.c_str());
    EXPECT_EQ(RaskGetFileSize(file), 0u);
    EXPECT_FALSE(RaskOpenFile(file, 0));
    RaskDestroyFile(file);
  }
}

TEST_F(RaskDisk, LargeFilesReportNoSizeButReadAtHighOffsets) {
  const fs::path path = dir_ / "large.bin";
  const uint64_t fourGiB = uint64_t{1} << 32;
  try {
    Write(path, {});
    fs::resize_file(path, fourGiB + 16);  // sparse where the file system allows
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(fourGiB + 8));
    out.write("MARKER!!", 8);
    if (!out) GTEST_SKIP() << "cannot write past 4 GiB here";
  } catch (const fs::filesystem_error& e) {
    GTEST_SKIP() << e.what();
  }
  const WString wide = Wide(path);
  HRASKFILE file = RaskCreateFileFromPath(wide.c_str());
  EXPECT_EQ(RaskGetFileSize(file), 0u);
  ASSERT_TRUE(RaskOpenFile(file, 0));
  const Bytes marker = Read(file, 8, 1, 32);
  EXPECT_EQ(std::string(marker.begin(), marker.end()), "MARKER!!");
  EXPECT_EQ(Read(file, 8, 0, 8), Bytes(8, 0));
  RaskDestroyFile(file);
}

}  // namespace
