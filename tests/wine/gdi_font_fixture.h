// A DC with DejaVu Sans added, for GDI font tests on both builds (Wine's
// GDI under Wine, the runtime's on POSIX).
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#ifdef _WIN32
#define GDI_W(s) L##s
#else
#define GDI_W(s) u##s
#endif

// A Z: path: Wine's view of the Unix root, which the runtime takes as well.
inline const WCHAR kDejaVuSans[] = GDI_W("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf");
inline constexpr MAT2 kIdentity{{0, 1}, {0, 0}, {0, 0}, {0, 1}};

inline uint32_t Fnv(const uint8_t* p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

class GdiFontTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(AddFontResourceW(kDejaVuSans), 1);
    dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
  }
  void TearDown() override {
    if (first) SelectObject(dc, first);
    if (current) {
      EXPECT_TRUE(DeleteObject(current));
    }
    EXPECT_TRUE(DeleteDC(dc));
    // Wine 8 answers 0 to every RemoveFontResourceW; the runtime counts.
    RemoveFontResourceW(kDejaVuSans);
  }
  // Selects a new font, deleting the one this fixture selected before.
  void Use(int height, const WCHAR* face = GDI_W("DejaVu Sans"), int weight = FW_NORMAL,
           bool italic = false) {
    HFONT f = CreateFontW(height, 0, 0, 0, weight, italic, FALSE, FALSE, DEFAULT_CHARSET,
                          OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                          DEFAULT_PITCH, face);
    ASSERT_NE(f, nullptr);
    HGDIOBJ previous = SelectObject(dc, f);
    EXPECT_NE(previous, nullptr);
    if (!first) first = previous;
    if (current) {
      EXPECT_TRUE(DeleteObject(current));
    }
    current = f;
  }
  TEXTMETRICW Metrics() {
    TEXTMETRICW tm{};
    EXPECT_TRUE(GetTextMetricsW(dc, &tm));
    return tm;
  }
  LONG Extent(const WCHAR* text, int count) {
    SIZE s{-1, -1};
    EXPECT_TRUE(GetTextExtentPoint32W(dc, text, count, &s));
    return s.cx;
  }

  HDC dc = nullptr;
  HGDIOBJ first = nullptr;  // the DC's own font
  HFONT current = nullptr;
};
