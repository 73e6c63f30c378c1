// The names vek.h gives hosts carry the values the library has always taken:
// one table, on both builds (the Windows one sees D3DX's headers too).
#include <vek/vek.h>

#include <gtest/gtest.h>

#include "d3dx/d3dx8.h"

namespace {

TEST(ConstantsTest, NamedValuesAreTheDocumentedOnes) {
  const struct {
    const char* name;
    long long value, documented;
  } table[] = {
      {"DRAW_ADDCOLOR", DRAW_ADDCOLOR, 0x01},
      {"DRAW_ADDBLEND", DRAW_ADDBLEND, 0x02},
      {"DRAW_NOZWRITE", DRAW_NOZWRITE, 0x04},
      {"DRAW_LINEAR", DRAW_LINEAR, 0x08},
      {"DRAW_OPAQUE", DRAW_OPAQUE, 0x20},
      {"FONT_BOLD", FONT_BOLD, 0x1},
      {"FONT_ITALIC", FONT_ITALIC, 0x2},
      {"FONT_UNDERLINE", FONT_UNDERLINE, 0x4},
      {"FONT_STRIKEOUT", FONT_STRIKEOUT, 0x8},
      {"FONT_GRAY4", FONT_GRAY4, 0x10},
      {"FONT_GRAY8", FONT_GRAY8, 0x20},
      {"FONT_SHADOW", FONT_SHADOW, 0x100},
      {"FONT_OUTLINE_CROSS", FONT_OUTLINE_CROSS, 0x200},
      {"FONT_OUTLINE_BOX", FONT_OUTLINE_BOX, 0x400},
      {"FONT_HOLLOW", FONT_HOLLOW, 0x800},
      {"VEK_SHADER_NONE", VEK_SHADER_NONE, 0},
      {"VEK_SHADER_GREY", VEK_SHADER_GREY, 1},
      {"VEK_SHADER_SWAP_GREEN_BLUE", VEK_SHADER_SWAP_GREEN_BLUE, 2},
      {"VEK_SHADER_SWAP_RED_GREEN", VEK_SHADER_SWAP_RED_GREEN, 3},
      {"VEK_SHADER_GBR", VEK_SHADER_GBR, 4},
      {"VEK_SHADER_BRG", VEK_SHADER_BRG, 5},
      {"VEK_SHADER_SWAP_RED_BLUE", VEK_SHADER_SWAP_RED_BLUE, 6},
      {"VEK_SHADER_BRIGHTNESS", VEK_SHADER_BRIGHTNESS, 7},
      {"VEK_SAVE_BMP", VEK_SAVE_BMP, D3DXIFF_BMP},
      {"VEK_SAVE_JPG", VEK_SAVE_JPG, D3DXIFF_JPG},
      {"VEK_SAVE_TGA", VEK_SAVE_TGA, D3DXIFF_TGA},
      {"VEK_SAVE_PNG", VEK_SAVE_PNG, D3DXIFF_PNG},
      {"VEK_SAVE_DDS", VEK_SAVE_DDS, D3DXIFF_DDS},
      {"VEK_SAVE_PPM", VEK_SAVE_PPM, D3DXIFF_PPM},
      {"VEK_SAVE_DIB", VEK_SAVE_DIB, D3DXIFF_DIB},
      {"VEK_ERR_ARGUMENT", VEK_ERR_ARGUMENT, -5},
      {"VEK_ERR_ALLOCATION", VEK_ERR_ALLOCATION, -11},
      {"VEK_ERR_DIRECT3D", VEK_ERR_DIRECT3D, -51},
      {"VEK_ERR_LOCK", VEK_ERR_LOCK, -52},
      {"VEK_ERR_RESET", VEK_ERR_RESET, -53},
  };
  for (const auto& row : table) EXPECT_EQ(row.value, row.documented) << row.name;
}

}  // namespace
