// kernel32 services: critical sections, modules, the current directory,
// local memory and the per-thread last error.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "runtime_test.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreadsUntilFullyLeft) {
  // Shared with a detached owner thread, so a lock that is not recursive
  // fails the test instead of hanging it.
  struct Shared {
    CRITICAL_SECTION cs;
    std::atomic<bool> otherEntered{false};
    std::promise<bool> verdict;
  };
  auto shared = std::make_shared<Shared>();
  InitializeCriticalSection(&shared->cs);
  std::future<bool> verdict = shared->verdict.get_future();
  std::thread([shared] {
    EnterCriticalSection(&shared->cs);
    EnterCriticalSection(&shared->cs);  // the same thread enters again
    std::thread other([shared] {
      EnterCriticalSection(&shared->cs);
      shared->otherEntered = true;
      LeaveCriticalSection(&shared->cs);
    });
    std::this_thread::sleep_for(50ms);
    const bool enteredWhileHeldTwice = shared->otherEntered;
    LeaveCriticalSection(&shared->cs);
    std::this_thread::sleep_for(50ms);
    const bool enteredWhileHeldOnce = shared->otherEntered;
    LeaveCriticalSection(&shared->cs);
    other.join();
    shared->verdict.set_value(!enteredWhileHeldTwice && !enteredWhileHeldOnce &&
                              shared->otherEntered);
  }).detach();
  ASSERT_EQ(verdict.wait_for(10s), std::future_status::ready) << "second Enter blocked its owner";
  EXPECT_TRUE(verdict.get());
  DeleteCriticalSection(&shared->cs);
}

// GetProcAddress's result as the function it is.
template <class F>
F* Function(FARPROC proc) {
  return reinterpret_cast<F*>(reinterpret_cast<void (*)()>(proc));
}

std::string LibmPath() {
  Dl_info info{};
  void* cosine = dlsym(RTLD_DEFAULT, "cos");
  if (!cosine || !dladdr(cosine, &info) || !info.dli_fname) return {};
  return info.dli_fname;
}

TEST(Modules, LoadsByNameAndResolvesSymbols) {
  HMODULE byName = LoadLibraryA("libm.so.6");
  ASSERT_NE(byName, nullptr);
  auto cosine = Function<double(double)>(GetProcAddress(byName, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_DOUBLE_EQ(cosine(M_PI), -1.0);

  HMODULE wide = LoadLibraryW(u"libm.so.6");
  EXPECT_EQ(wide, byName);  // the loaded module, counted again

  SetLastError(0);
  EXPECT_EQ(GetProcAddress(byName, "no_such_symbol_here"), nullptr);
  EXPECT_EQ(GetLastError(), 127u);  // ERROR_PROC_NOT_FOUND

  EXPECT_TRUE(FreeLibrary(wide));
  EXPECT_TRUE(FreeLibrary(byName));
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(Modules, MissingLibrariesFailWithModNotFound) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("libvekrt-does-not-exist.so"), nullptr);
  EXPECT_EQ(GetLastError(), 126u);  // ERROR_MOD_NOT_FOUND
  EXPECT_EQ(LoadLibraryW(u"/nonexistent/dir/libx.so"), nullptr);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), 87u);  // ERROR_INVALID_PARAMETER
}

TEST(Modules, WidePathsReachTheFileSystemAsUtf8) {
  const std::string libm = LibmPath();
  ASSERT_FALSE(libm.empty());
  const fs::path dir = fs::temp_directory_path() / ("vekrt-mod-" + std::to_string(getpid()));
  fs::create_directories(dir);
  // A name with a two-byte, a three-byte and a four-byte (surrogate pair) character.
  const fs::path copy = dir / u8"l\u00efb\u20acm\U0001F600.so";
  fs::copy_file(libm, copy, fs::copy_options::overwrite_existing);

  HMODULE module = LoadLibraryW(reinterpret_cast<LPCWSTR>(copy.u16string().c_str()));
  ASSERT_NE(module, nullptr) << dlerror();
  auto sine = Function<double(double)>(GetProcAddress(module, "sin"));
  ASSERT_NE(sine, nullptr);
  EXPECT_DOUBLE_EQ(sine(0.0), 0.0);
  EXPECT_TRUE(FreeLibrary(module));
  fs::remove_all(dir);
}

class CurrentDirectory : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = fs::current_path();
    fs::path name(u8"vekrt-cwd-\u00fc\U0001F600-");
    name += std::to_string(getpid());
    dir_ = fs::temp_directory_path() / name;
    fs::create_directories(dir_);
    fs::current_path(dir_);
    dir_ = fs::current_path();  // as the system spells it
  }
  void TearDown() override {
    fs::current_path(saved_);
    fs::remove_all(dir_);
  }
  fs::path saved_;
  fs::path dir_;
};

TEST_F(CurrentDirectory, WideBufferRules) {
  const std::u16string expected = dir_.u16string();
  const DWORD length = static_cast<DWORD>(expected.size());

  EXPECT_EQ(GetCurrentDirectoryW(0, nullptr), length + 1);
  // One unit short of the terminator: the size needed, nothing written.
  std::vector<WCHAR> buffer(length + 8, u'#');
  EXPECT_EQ(GetCurrentDirectoryW(length, buffer.data()), length + 1);
  EXPECT_EQ(buffer[0], u'#');
  // Room for the terminator: the length, without it.
  EXPECT_EQ(GetCurrentDirectoryW(length + 1, buffer.data()), length);
  EXPECT_EQ(std::u16string(buffer.data()), expected);
  EXPECT_EQ(buffer[length], u'\0');
  EXPECT_EQ(buffer[length + 1], u'#');
}

TEST_F(CurrentDirectory, NarrowBufferRules) {
  const std::string expected = dir_.string();
  const DWORD length = static_cast<DWORD>(expected.size());
  EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), length + 1);
  std::vector<char> buffer(length + 4, '#');
  EXPECT_EQ(GetCurrentDirectoryA(length, buffer.data()), length + 1);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(GetCurrentDirectoryA(length + 1, buffer.data()), length);
  EXPECT_EQ(std::string(buffer.data()), expected);
}

TEST(LocalMemory, ZeroInitialisedBlocksAreZero) {
  for (UINT flags : {UINT{LMEM_ZEROINIT}, UINT{LPTR}}) {
    // Dirty the heap first so a block that is merely fresh would show it.
    void* dirty = LocalAlloc(LMEM_FIXED, 4096);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xAB, 4096);
    LocalFree(dirty);
    auto* block = static_cast<unsigned char*>(LocalAlloc(flags, 4096));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
    EXPECT_EQ(LocalFree(block), nullptr);
  }
  void* empty = LocalAlloc(LMEM_FIXED, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(LocalFree(empty), nullptr);
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(LastError, BelongsToEachThread) {
  SetLastError(5);
  DWORD seenByOther = 0;
  DWORD otherAtStart = 99;
  std::thread other([&] {
    otherAtStart = GetLastError();
    SetLastError(7);
    seenByOther = GetLastError();
  });
  other.join();
  EXPECT_EQ(otherAtStart, 0u);
  EXPECT_EQ(seenByOther, 7u);
  EXPECT_EQ(GetLastError(), 5u);
}

}  // namespace
