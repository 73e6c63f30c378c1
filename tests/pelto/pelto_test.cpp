// Base library: counted blocks and injected failures, frame memory, pointer
// lists, the last-error slot and the loggers.

#include <gtest/gtest.h>
#include <pelto.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#define WIDE(s) L##s
#else
#define WIDE(s) u##s
#endif

namespace {

using WString = std::basic_string<WCHAR>;

TEST(Malloc, CountsLiveBlocksAndFailsOnRequest) {
  const LONG base = LiveBlockCount();
  void* a = Malloc(0);
  void* b = Malloc(0);
  ASSERT_TRUE(a && b);
  EXPECT_NE(a, b);
  EXPECT_EQ(LiveBlockCount(), base + 2);
  EXPECT_EQ(Free(a) + Free(b), 2);
  EXPECT_EQ(Free(nullptr), 0);

  FailMalloc(2, 3);  // two succeed, three fail, then back to normal
  std::vector<void*> blocks;
  for (int i = 0; i < 6; ++i) blocks.push_back(Malloc(8));
  const bool expected[] = {true, true, false, false, false, true};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(blocks[i] != nullptr, expected[i]) << "call " << i;
  EXPECT_EQ(LiveBlockCount(), base + 3);
  for (void* block : blocks) Free(block);

  FailMalloc(0, 5);
  FailMalloc(0, 0);
  void* block = Malloc(8);
  EXPECT_NE(block, nullptr);
  Free(block);
  EXPECT_EQ(LiveBlockCount(), base);
}

// Picture-sized blocks may come from mappings of their own that are kept and
// handed out again: every block, small or large, fresh or reused, must be
// aligned, wholly writable and disjoint from every other live block.
TEST(Malloc, LargeAndSmallBlocksAreWholeAndDisjointAcrossReuse) {
  const LONG base = LiveBlockCount();
  const UINT sizes[] = {100,         (1u << 20) - 1, 1u << 20,      (2u << 20) - 16, (2u << 20) - 15,
                        2u << 20,    4194432,        (9u << 20) + 1, 3u << 20,       6u << 20};
  for (int round = 0; round < 3; ++round) {
    std::vector<unsigned char*> blocks;
    for (size_t i = 0; i < std::size(sizes); ++i) {
      // Later rounds ask in another order, so kept mappings meet other sizes.
      const UINT size = sizes[(i * (round + 1) + round) % std::size(sizes)];
      auto* block = static_cast<unsigned char*>(Malloc(size));
      ASSERT_NE(block, nullptr) << size;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
      std::memset(block, int(i + 1), size);
      blocks.push_back(block);
    }
    EXPECT_EQ(LiveBlockCount(), base + LONG(std::size(sizes)));
    for (size_t i = 0; i < blocks.size(); ++i) {
      const UINT size = sizes[(i * (round + 1) + round) % std::size(sizes)];
      const unsigned char* block = blocks[i];
      EXPECT_TRUE(block[0] == i + 1 && block[size / 2] == i + 1 && block[size - 1] == i + 1)
          << "block " << i << " of " << size << " bytes was overwritten";
    }
    // Odd blocks first, then even ones.
    for (size_t i = 1; i < blocks.size(); i += 2) EXPECT_EQ(Free(blocks[i]), 1);
    for (size_t i = 0; i < blocks.size(); i += 2) EXPECT_EQ(Free(blocks[i]), 1);
  }
  FailMalloc(0, 1);
  EXPECT_EQ(Malloc(4u << 20), nullptr);
  EXPECT_EQ(LiveBlockCount(), base);
}

TEST(MemBuffer, BlocksAreAlignedAndDisjointUntilReleased) {
  MemBuffer memory{};
  const LONG blocksAtStart = LiveBlockCount();
  std::vector<std::pair<unsigned char*, UINT>> blocks;
  for (UINT i = 0; i < 300; ++i) {
    const UINT size = (i * 37) % 200 + (i == 150 ? 100000 : 0);
    auto* block = static_cast<unsigned char*>(MemMalloc(&memory, size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
    std::memset(block, static_cast<int>(i & 0xFF), size);
    blocks.emplace_back(block, size);
  }
  for (UINT i = 0; i < blocks.size(); ++i) {
    for (UINT k = 0; k < blocks[i].second; ++k) ASSERT_EQ(blocks[i].first[k], i & 0xFF);
  }
  EXPECT_NE(MemMalloc(&memory, 0), MemMalloc(&memory, 0));
  EXPECT_EQ(LiveBlockCount(), blocksAtStart);  // frame memory is not a counted block
  ReleaseMemBuffer(&memory);
  for (UINT_PTR word : memory.words) EXPECT_EQ(word, 0u);
}

TEST(MemBuffer, SteadyFramesReuseTheSameStorage) {
  MemBuffer memory{};
  auto frame = [&memory] {
    std::vector<void*> blocks;
    for (int i = 0; i < 300; ++i) {
      blocks.push_back(MemMalloc(&memory, 200));
      std::memset(blocks.back(), i, 200);
    }
    ResetMemBuffer(&memory);
    return blocks;
  };
  frame();  // spreads over several chunks; the reset keeps one that fits
  const std::vector<void*> second = frame();
  EXPECT_EQ(frame(), second);
  ReleaseMemBuffer(&memory);
}

std::vector<void*> Entries(const PBuffer& list) {
  return std::vector<void*>(list.entries, list.entries + list.count);
}

TEST(PBuffer, AddKeepsOrderAndRemoveTakesTheFirstMatch) {
  int items[5];
  void *a = &items[0], *b = &items[1], *c = &items[2], *d = &items[3];
  PBuffer list{};
  for (int i = 0; i < 1000; ++i) PBufferAdd(&list, &items[i % 5]);
  ASSERT_EQ(list.count, 1000u);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(list.entries[i], &items[i % 5]);
  ReleasePBuffer(&list);
  EXPECT_TRUE(list.capacity == 0 && list.count == 0 && list.entries == nullptr);

  for (void* entry : {a, b, c, b, d}) PBufferAdd(&list, entry);
  PBufferRemoveAtPointer(&list, b);
  EXPECT_EQ(Entries(list), (std::vector<void*>{a, c, b, d}));
  PBufferRemoveAtPointer(&list, &items[4]);
  EXPECT_EQ(Entries(list), (std::vector<void*>{a, c, b, d}));
  PBufferRemoveAtPointer(&list, d);
  PBufferRemoveAtPointer(&list, a);
  EXPECT_EQ(Entries(list), (std::vector<void*>{c, b}));
  ReleasePBuffer(&list);

  void* slot[1] = {nullptr};
  PBuffer full{UINT32_MAX, UINT32_MAX, slot};  // cannot grow: must stay as it is
  PBufferAdd(&full, slot);
  EXPECT_TRUE(full.count == UINT32_MAX && full.entries == slot);
}

TEST(PBuffer, ReservedRoomIsUsedWithoutMovingEntries) {
  int items[600];
  PBuffer list{};
  SetPBufferCapcity(&list, 100);
  void** storage = list.entries;
  for (int i = 0; i < 100; ++i) PBufferAdd(&list, &items[i]);
  EXPECT_EQ(list.entries, storage);
  SetPBufferCapcity(&list, 500);
  ASSERT_TRUE(list.capacity >= 500 && list.count == 100);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(list.entries[i], &items[i]);
  list.count = 0;  // owners empty the list directly
  PBufferAdd(&list, &items[599]);
  EXPECT_EQ(Entries(list), std::vector<void*>{&items[599]});
  ReleasePBuffer(&list);
}

TEST(ErrorSlot, RecordsTruncatesAndClears) {
  ClearError();
  ErrorRecord copy;
  EXPECT_EQ(ReadLastError(&copy), 0);
  EXPECT_EQ(SetError(0, 0, nullptr, 0, nullptr), -1);
  EXPECT_EQ(SetError(-5, 7, WIDE("bad input"), 42, WIDE("src/a.cpp")), -5);
  ErrorRecord* record = GetError();
  EXPECT_EQ(reinterpret_cast<const LONG*>(record)[1], -5);
  EXPECT_TRUE(record->isSet == 1 && record->detail == 7 && record->line == 42);
  EXPECT_EQ(WString(record->message), WIDE("bad input"));
  EXPECT_EQ(WString(record->source), WIDE("src/a.cpp"));
  ASSERT_EQ(ReadLastError(&copy), 1);
  EXPECT_EQ(std::memcmp(&copy, record, sizeof copy), 0);

  const WString message(300, 'm');
  const WString source(100, 's');
  SetError(-1, 0, message.c_str(), 0, source.c_str());
  EXPECT_EQ(WString(record->message), message.substr(0, 255));
  EXPECT_EQ(WString(record->source), source.substr(0, 63));
  SetError(-2, 0, nullptr, 0, nullptr);
  EXPECT_TRUE(record->message[0] == 0 && record->message[1] == 0 && record->source[0] == 0);

  ClearError();
  EXPECT_EQ(ReadLastError(&copy), 0);
  EXPECT_EQ(record->isSet, 0);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLogCapture(TRUE); }
  void TearDown() override { SetLogCapture(FALSE); }

  static std::string Captured() {
    std::vector<char> text(static_cast<size_t>(GetCapturedLog(nullptr, 0)) + 1);
    GetCapturedLog(text.data(), static_cast<int>(text.size()));
    return text.data();
  }
  // Points PELTO_LOG at `target`; an empty path removes the variable.
  static void SetLogTarget(const std::filesystem::path& target) {
#ifdef _WIN32
    _wputenv_s(L"PELTO_LOG", target.c_str());
#else
    target.empty() ? unsetenv("PELTO_LOG") : setenv("PELTO_LOG", target.c_str(), 1);
#endif
  }
};

TEST_F(LogTest, FormatsLinesPerSource) {
  const LONG logger = GetLogger(WIDE("fmt.cpp"));
  EXPECT_GT(logger, 0);
  EXPECT_EQ(GetLogger(WIDE("fmt.cpp")), logger);
  EXPECT_NE(GetLogger(WIDE("other.cpp")), logger);
  LogInfo(logger, WIDE("n=%d m=%d s=%s z=%s 100%% %x %5d %"), INT_MIN, 42, WIDE("txt"),
          static_cast<const WCHAR*>(nullptr));
  LogInfo(0, WIDE("no source"));
  LogInfo(logger + 1000, WIDE("%d"), -1);
  EXPECT_EQ(Captured(),
            "fmt.cpp: n=-2147483648 m=42 s=txt z=(null) 100% %x %5d %\n"
            "?: no source\n"
            "?: -1\n");
}

TEST_F(LogTest, WritesUtf8AndReplacesLoneSurrogates) {
  const WCHAR lone[] = {0xD800, 'x', 0xDC00, 'y', 0xD83D, 0};
  LogInfo(GetLogger(WIDE("\u00e4.cpp")), WIDE("\u00e9\u20ac\U0001F600 %s"), lone);
  EXPECT_EQ(Captured(),
            "\xC3\xA4.cpp: \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 "
            "\xEF\xBF\xBDx\xEF\xBF\xBDy\xEF\xBF\xBD\n");
}

TEST_F(LogTest, CaptureStartsFreshTruncatesCopiesAndStops) {
  const LONG logger = GetLogger(WIDE("cap.cpp"));
  LogInfo(logger, WIDE("old"));
  SetLogCapture(TRUE);
  EXPECT_EQ(GetCapturedLog(nullptr, 0), 0);
  LogInfo(logger, WIDE("hello"));
  char small[8];
  std::memset(small, 'X', sizeof small);
  EXPECT_EQ(GetCapturedLog(small, 5), static_cast<int>(std::strlen("cap.cpp: hello\n")));
  EXPECT_STREQ(small, "cap.");
  EXPECT_EQ(small[5], 'X');
  EXPECT_EQ(Captured(), "cap.cpp: hello\n");

  SetLogCapture(FALSE);
  EXPECT_EQ(GetCapturedLog(nullptr, 0), 0);
  LogInfo(logger, WIDE("unseen"));
  SetLogCapture(TRUE);
  EXPECT_EQ(GetCapturedLog(nullptr, 0), 0);
}

TEST_F(LogTest, AppendsToTheFileNamedByTheEnvironment) {
  const char* previous = std::getenv("PELTO_LOG");
  const std::string saved = previous != nullptr ? previous : "";
  const auto path = std::filesystem::temp_directory_path() / "pelto_log_test.txt";
  std::ofstream(path, std::ios::binary) << "earlier\n";
  const LONG logger = GetLogger(WIDE("file.cpp"));
  SetLogTarget(path);
  LogInfo(logger, WIDE("one"));
  LogInfo(logger, WIDE("two %d"), 2);
  SetLogTarget(saved);
  LogInfo(logger, WIDE("not in the file"));  // the log lets go of the file

  std::stringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  EXPECT_EQ(content.str(), "earlier\nfile.cpp: one\nfile.cpp: two 2\n");
  std::filesystem::remove(path);
}

TEST_F(LogTest, LinesFromManyThreadsStayWhole) {
  const LONG logger = GetLogger(WIDE("thr.cpp"));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([logger] {
      for (int i = 0; i < 250; ++i) LogInfo(logger, WIDE("line %d"), 1234567);
    });
  }
  for (auto& thread : threads) thread.join();
  std::string expected;
  for (int i = 0; i < 1000; ++i) expected += "thr.cpp: line 1234567\n";
  EXPECT_EQ(Captured(), expected);
}

}  // namespace
