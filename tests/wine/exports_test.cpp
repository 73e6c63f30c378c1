// Checks vek_decorated_exports on a small DLL pair: the export table carries
// MSVC-style names, and a DLL or program linking the import library imports
// exactly those names, so it loads against a DLL built by MSVC as well.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "export_fixture.h"
#include "export_user.h"

namespace {

// Names a loaded module imports by name from `dll` (case-insensitive).
std::vector<std::string> ImportedNames(HMODULE module, const char* dll) {
  std::vector<std::string> names;
  auto* base = reinterpret_cast<const BYTE*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return names;
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       d->Name != 0; ++d) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
    DWORD table = d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk;
    for (auto* t = reinterpret_cast<const IMAGE_THUNK_DATA32*>(base + table); t->u1.AddressOfData;
         ++t) {
      if (IMAGE_SNAP_BY_ORDINAL32(t->u1.Ordinal)) {
        names.push_back("#ordinal");
        continue;
      }
      auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + t->u1.AddressOfData);
      names.emplace_back(reinterpret_cast<const char*>(by_name->Name));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

using Names = std::vector<std::string>;

TEST(DecoratedExports, ExportTableHasMsvcNames) {
  HMODULE dll = GetModuleHandleW(L"export_fixture.dll");
  ASSERT_NE(dll, nullptr);
  FARPROC add = GetProcAddress(dll, "_FixtureAdd@8");
  FARPROC scale = GetProcAddress(dll, "_FixtureScale@16");
  FARPROC sum = GetProcAddress(dll, "FixtureSum");
  ASSERT_NE(add, nullptr);
  ASSERT_NE(scale, nullptr);
  ASSERT_NE(sum, nullptr);
  // cdecl functions carry no decoration in an MSVC export table.
  EXPECT_EQ(GetProcAddress(dll, "_FixtureSum"), nullptr);
  // The aliases point at the same code.
  EXPECT_EQ(GetProcAddress(dll, "FixtureAdd@8"), add);
  EXPECT_EQ(GetProcAddress(dll, "FixtureAdd"), add);
  EXPECT_EQ(GetProcAddress(dll, "FixtureScale@16"), scale);
  EXPECT_EQ(GetProcAddress(dll, "FixtureScale"), scale);
}

TEST(DecoratedExports, CallsThroughExportedNames) {
  HMODULE dll = GetModuleHandleW(L"export_fixture.dll");
  ASSERT_NE(dll, nullptr);
  using AddFn = LONG(WINAPI*)(LONG, LONG);
  using ScaleFn = LONGLONG(WINAPI*)(LONGLONG, LONG, LONG);
  using SumFn = LONG (*)(LONG, ...);
  auto add = reinterpret_cast<AddFn>(reinterpret_cast<void*>(GetProcAddress(dll, "_FixtureAdd@8")));
  auto scale =
      reinterpret_cast<ScaleFn>(reinterpret_cast<void*>(GetProcAddress(dll, "_FixtureScale@16")));
  auto sum = reinterpret_cast<SumFn>(reinterpret_cast<void*>(GetProcAddress(dll, "FixtureSum")));
  ASSERT_TRUE(add && scale && sum);
  EXPECT_EQ(add(40, 2), 42);
  EXPECT_EQ(scale(LONGLONG{1} << 40, 3, -7), (LONGLONG{3} << 40) - 7);
  EXPECT_EQ(sum(4, 1L, 2L, 3L, 4L), 10);
}

TEST(DecoratedExports, ImportersUseMsvcNames) {
  HMODULE user = GetModuleHandleW(L"export_user.dll");
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(ImportedNames(user, "export_fixture.dll"),
            (Names{"FixtureSum", "_FixtureAdd@8", "_FixtureScale@16"}));
  EXPECT_EQ(ImportedNames(GetModuleHandleW(nullptr), "export_user.dll"), (Names{"_UserCombine@8"}));
}

TEST(DecoratedExports, CallsThroughImports) {
  // (2 + 5) * 3 + (2 + 5 + 100)
  EXPECT_EQ(UserCombine(2, 5), 128);
  EXPECT_EQ(FixtureAdd(-3, 3), 0);
  EXPECT_EQ(FixtureSum(0), 0);
}

}  // namespace
