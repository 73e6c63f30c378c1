// The glyph atlas: glyphs rasterised by GDI on first use, converted to
// texels, given their effect and packed in rows; a hash table of 31 buckets
// maps characters to their cells.
#include <cstring>
#include <initializer_list>

#include "host/host.h"
#include "vekfont/font.h"
#include "vekfont/font_errors.h"

namespace {

// Only the first effect in this order takes effect.
DWORD ActiveEffect(DWORD flags) {
  for (DWORD effect : {FONT_SHADOW, FONT_OUTLINE_CROSS, FONT_OUTLINE_BOX, FONT_HOLLOW})
    if (flags & effect) return effect;
  return 0;
}

// One level: only level 0 is ever written, and a chain of blank levels would
// be sampled whenever text is drawn smaller than its cells.
constexpr UINT kAtlasLevels = 1;

bool IsWide(const VekFont* font) { return (font->flags & FONT_GRAY8) != 0; }

D3DFORMAT AtlasFormat(const VekFont* font) {
  return IsWide(font) ? D3DFMT_A8R8G8B8 : D3DFMT_A4R4G4B4;
}

UINT GlyphFormat(DWORD flags) {
  if (flags & FONT_GRAY8) return GGO_GRAY8_BITMAP;
  if (flags & FONT_GRAY4) return GGO_GRAY4_BITMAP;
  return GGO_BITMAP;
}

UINT Pow2AtLeast(UINT n) {
  UINT side = 1;
  while (side < n) side <<= 1;
  return side;
}

// The white and black keys of a texel width, and the texel of partial coverage v.
template <class Texel>
struct TexelCodec;

template <>
struct TexelCodec<WORD> {
  static constexpr WORD kWhite = 0xFFFF;
  static constexpr WORD kBlack = 0xF000;
  static WORD Grey(UINT v) { return static_cast<WORD>(v << 12 | 0x0FFF); }
};

template <>
struct TexelCodec<DWORD> {
  static constexpr DWORD kWhite = 0xFFFFFFFFu;
  static constexpr DWORD kBlack = 0xFF000000u;
  static DWORD Grey(UINT v) { return v << 26 | 0x00FFFFFFu; }
};

// Writes the glyph bitmap into the cell, clipped to the cell's w x h texels.
template <class Texel>
void WriteGlyph(Texel* cell, UINT pitch, INT w, INT h, const GLYPHMETRICS& gm, const BYTE* bits,
                UINT bitsSize, UINT format, INT left, INT top, Texel key) {
  const INT boxW = static_cast<INT>(gm.gmBlackBoxX);
  const INT boxH = static_cast<INT>(gm.gmBlackBoxY);
  const UINT rowBytes =
      format == GGO_BITMAP ? (gm.gmBlackBoxX + 31) / 32 * 4 : (gm.gmBlackBoxX + 3) & ~3u;
  if (!bits || rowBytes == 0) return;
  // Never read past what GDI wrote.
  const INT rows =
      static_cast<INT>(bitsSize / rowBytes) < boxH ? static_cast<INT>(bitsSize / rowBytes) : boxH;
  const UINT full = format == GGO_GRAY8_BITMAP ? 64 : 16;
  for (INT y = 0; y < rows; ++y) {
    const INT r = top + y;
    if (r < 0 || r >= h) continue;
    const BYTE* src = bits + static_cast<size_t>(y) * rowBytes;
    Texel* dst = cell + static_cast<size_t>(r) * pitch;
    // Columns of the box that land inside the cell.
    const INT x0 = left < 0 ? -left : 0;
    const INT x1 = (w - left) < boxW ? (w - left) : boxW;
    for (INT x = x0; x < x1; ++x) {
      if (format == GGO_BITMAP) {
        if (src[x >> 3] & (0x80 >> (x & 7))) dst[left + x] = key;
      } else {
        const UINT v = src[x];
        dst[left + x] = v >= full ? key : TexelCodec<Texel>::Grey(v);
      }
    }
  }
}

// A texel no glyph conversion produces (grey texels keep their low bits set,
// the keys are white or black): the passes mark with it and paint the effect
// colour afterwards, so an effect colour equal to the key is never taken for
// glyph coverage and spread again.
template <class Texel>
constexpr Texel kEffectMark = 1;

template <class Texel>
void EffectPasses(Texel* cell, INT w, INT h, UINT pitch, Texel key, DWORD flags, Texel ec) {
  if (h < 2) return;
  auto at = [&](INT r, INT c) -> Texel& { return cell[static_cast<size_t>(r) * pitch + c]; };
  auto fill = [](Texel& t, Texel) {
    if (t == 0) t = kEffectMark<Texel>;
  };
  // The passes may write one row and one column past the cell (the gutter).
  auto paint = [&](Texel colour) {
    for (INT r = 0; r <= h; ++r)
      for (INT c = 0; c <= w; ++c)
        if (at(r, c) == kEffectMark<Texel>) at(r, c) = colour;
  };
  auto outline = [&](bool diagonals, Texel colour) {
    for (INT r = 1; r < h; ++r)
      for (INT c = 1; c < w; ++c) {
        if (at(r, c) != key) continue;
        fill(at(r, c - 1), colour);
        fill(at(r - 1, c), colour);
        fill(at(r, c + 1), colour);
        fill(at(r + 1, c), colour);
        if (diagonals) {
          fill(at(r - 1, c - 1), colour);
          fill(at(r - 1, c + 1), colour);
          fill(at(r + 1, c - 1), colour);
          fill(at(r + 1, c + 1), colour);
        }
      }
  };
  switch (ActiveEffect(flags)) {
    case FONT_SHADOW:
      for (INT r = 0; r + 1 < h; ++r)
        for (INT c = 0; c + 1 < w; ++c)
          if (at(r, c) == key) fill(at(r + 1, c + 1), ec);
      paint(ec);
      break;
    case FONT_OUTLINE_CROSS:
      outline(false, ec);
      paint(ec);
      break;
    case FONT_OUTLINE_BOX:
      outline(true, ec);
      paint(ec);
      break;
    case FONT_HOLLOW:
      outline(true, TexelCodec<Texel>::kWhite);
      paint(TexelCodec<Texel>::kWhite);
      for (INT r = 1; r < h; ++r)
        for (INT c = 1; c < w; ++c)
          if (at(r, c) == key) at(r, c) = 0;
      break;
    default:
      break;
  }
}

// The cell and one texel of gutter right and below it, which the effects may
// write: cleared, so a cell never shows texels left by an earlier attempt.
template <class Texel>
void FillCell(VekFont* font, BYTE* locked, UINT pitchBytes, INT w, INT h, const GLYPHMETRICS& gm,
              const BYTE* bits, UINT bitsSize) {
  auto* cell = reinterpret_cast<Texel*>(locked);
  const UINT pitch = pitchBytes / sizeof(Texel);
  for (INT r = 0; r <= h; ++r)
    std::memset(cell + static_cast<size_t>(r) * pitch, 0,
                (static_cast<size_t>(w) + 1) * sizeof(Texel));
  const DWORD effect = ActiveEffect(font->flags);
  const Texel key = effect == FONT_HOLLOW ? TexelCodec<Texel>::kBlack : TexelCodec<Texel>::kWhite;
  const INT o =
      (effect == FONT_OUTLINE_CROSS || effect == FONT_OUTLINE_BOX || effect == FONT_HOLLOW) ? 1 : 0;
  WriteGlyph<Texel>(cell, pitch, w, h, gm, bits, bitsSize, GlyphFormat(font->flags),
                    gm.gmptGlyphOrigin.x + o, font->ascent - gm.gmptGlyphOrigin.y + o, key);
  ApplyGlyphEffect(
      cell, w, h, pitch, key, font->flags,
      static_cast<Texel>(sizeof(Texel) == 2 ? font->effectColor : font->effectColor32));
}

bool TooLargeForDevice(IDirect3DDevice8* device, UINT w, UINT h) {
  D3DCAPS8 caps{};
  if (FAILED(device->GetDeviceCaps(&caps))) return true;
  return w > caps.MaxTextureWidth || h > caps.MaxTextureHeight;
}

}  // namespace

void ApplyGlyphEffect(WORD* cell, INT w, INT h, UINT pitch, WORD key, DWORD flags, WORD colour) {
  EffectPasses<WORD>(cell, w, h, pitch, key, flags, colour);
}

void ApplyGlyphEffect(DWORD* cell, INT w, INT h, UINT pitch, DWORD key, DWORD flags, DWORD colour) {
  EffectPasses<DWORD>(cell, w, h, pitch, key, flags, colour);
}

bool FontIsOpaque(const VekFont* font) {
  if (font->flags & (FONT_SHADOW | FONT_OUTLINE_CROSS | FONT_OUTLINE_BOX))
    return (font->effectColor & 0xFFFFF000u) != 0xF000u;
  return (font->flags & (FONT_GRAY4 | FONT_GRAY8)) == 0;
}

const CharCoordinate* FindCharCoordinate(const VekFont* font, WORD code) {
  const CharBucket& bucket = font->buckets[code % kFontBuckets];
  for (UINT i = 0; i < bucket.entryCount; ++i)
    if (bucket.entries[i].code == code) return &bucket.entries[i];
  return nullptr;
}

bool EnsureGlyphs(VekFont* font, const WCHAR* text, UINT count, IDirect3DDevice8* device) {
  for (UINT i = 0; i < count; ++i) {
    const WORD code = static_cast<WORD>(text[i]);
    if (code >= 0x20 && !FindCharCoordinate(font, code)) RasterizeGlyph(font, code, device);
  }
  return true;
}

bool RasterizeGlyph(VekFont* font, WORD code, IDirect3DDevice8* device) {
  const UINT format = GlyphFormat(font->flags);
  MAT2 identity{};
  identity.eM11.value = 1;
  identity.eM22.value = 1;
  GLYPHMETRICS gm{};
  EnterCriticalSection(&font->gdiLock);
  std::memset(font->cbits, 0, font->cbitsSize);
  DWORD got =
      GetGlyphOutlineW(font->hdc, code, format, &gm, font->cbitsSize, font->cbits, &identity);
  bool ok = got != GDI_ERROR && got > 0;
  if (!ok) {
    // GDI refuses a buffer for a blank glyph (the space) and for a bitmap
    // larger than the buffer: the size tells which. A blank glyph keeps its
    // advance; a larger one gets a larger buffer instead of going missing.
    const DWORD need = GetGlyphOutlineW(font->hdc, code, format, &gm, 0, nullptr, &identity);
    if (need == 0) {
      got = 0;
      ok = true;
    } else if (need != GDI_ERROR && need > font->cbitsSize) {
      if (auto* bigger = static_cast<BYTE*>(Malloc(need))) {
        Free(font->cbits);
        font->cbits = bigger;
        font->cbitsSize = need;
        std::memset(font->cbits, 0, need);
        got = GetGlyphOutlineW(font->hdc, code, format, &gm, need, font->cbits, &identity);
        ok = got != GDI_ERROR && got > 0;
      }
    }
  }
  LeaveCriticalSection(&font->gdiLock);
  if (!ok) return false;
  if (got == 0) {
    gm.gmBlackBoxX = gm.gmBlackBoxY = 0;
    return PlaceGlyph(font, gm, code, nullptr, device);
  }
  return PlaceGlyph(font, gm, code, font->cbits, device);
}

bool PlaceGlyph(VekFont* font, const GLYPHMETRICS& gm, WORD code, const BYTE* bits,
                IDirect3DDevice8* device) {
  INT w = static_cast<short>(gm.gmCellIncX) + font->marginX;
  if (w < 0) w = 0;
  const UINT cw = static_cast<UINT>(w);
  const UINT h = font->lineHeight;
  VekTexture& tex = font->tex;

  if (font->cursorX + cw + kAtlasGutter > tex.width && (font->cursorX > 0 || font->rowY > 0)) {
    font->rowY += h + kAtlasGutter;
    font->cursorX = font->rowStartX;
  }
  // Grown until the cell and its gutter fit: a cell wider than the rest of a
  // row must never be written past the atlas.
  while (font->cursorX + cw + kAtlasGutter > tex.width ||
         font->rowY + h + kAtlasGutter > tex.height) {
    if (tex.width && TooLargeForDevice(device, cw + kAtlasGutter, h + kAtlasGutter)) return false;
    if (!GrowAtlas(font, device)) return false;
  }

  if (cw > 0) {
    RECT rect = {static_cast<LONG>(font->cursorX), static_cast<LONG>(font->rowY),
                 static_cast<LONG>(font->cursorX + cw + 1), static_cast<LONG>(font->rowY + h + 1)};
    D3DLOCKED_RECT locked{};
    const HRESULT hr = tex.tex->LockRect(0, &locked, &rect, 0);
    if (FAILED(hr)) {
      FontError(FontErr::kLockCell, hr);
      return false;
    }
    const UINT bitsSize = bits ? font->cbitsSize : 0;
    if (IsWide(font))
      FillCell<DWORD>(font, static_cast<BYTE*>(locked.pBits), static_cast<UINT>(locked.Pitch), w,
                      static_cast<INT>(h), gm, bits, bitsSize);
    else
      FillCell<WORD>(font, static_cast<BYTE*>(locked.pBits), static_cast<UINT>(locked.Pitch), w,
                     static_cast<INT>(h), gm, bits, bitsSize);
    tex.tex->UnlockRect(0);
  }

  const float W = static_cast<float>(tex.width);
  const float H = static_cast<float>(tex.height);
  if (!AddCharCoordinate(font, code, static_cast<float>(font->cursorX) / W,
                         static_cast<float>(font->rowY) / H,
                         static_cast<float>(font->cursorX + cw) / W,
                         static_cast<float>(font->rowY + h) / H, static_cast<float>(w)))
    return false;
  font->cursorX += cw + kAtlasGutter;
  if (font->rowY + h + kAtlasGutter > font->usedBottom)
    font->usedBottom = font->rowY + h + kAtlasGutter;
  return true;
}

bool GrowAtlas(VekFont* font, IDirect3DDevice8* device) {
  VekTexture& tex = font->tex;
  const D3DFORMAT format = AtlasFormat(font);
  if (tex.width == 0) {
    const UINT side =
        font->lineHeight <= kAtlasStartSide ? kAtlasStartSide : Pow2AtLeast(font->lineHeight);
    tex.tex = nullptr;
    CreateBlankTexture(&tex, device, side, side, format, kAtlasLevels);
    if (!tex.tex) return false;
    if (tex.uScale != 0.0f) {  // the device gave another size: unusable as a packed atlas
      ReleaseTexture(&tex);
      return false;
    }
    // Devices need not clear new textures; texels no cell has written read as zero.
    D3DLOCKED_RECT all{};
    if (SUCCEEDED(tex.tex->LockRect(0, &all, nullptr, 0))) {
      const size_t row = side * (format == D3DFMT_A8R8G8B8 ? 4 : 2);
      for (UINT y = 0; y < side; ++y)
        std::memset(static_cast<BYTE*>(all.pBits) + static_cast<size_t>(y) * all.Pitch, 0, row);
      tex.tex->UnlockRect(0);
    }
    font->atlasDevice = device;
    return true;
  }

  const VekTexture old = tex;
  const bool taller = old.height < old.width;
  const UINT newW = taller ? old.width : old.width * 2;
  const UINT newH = taller ? old.height * 2 : old.height;
  tex.tex = nullptr;
  if (CreateBlankTexture(&tex, device, newW, newH, format, kAtlasLevels) != 1 || !tex.tex ||
      tex.uScale != 0.0f) {
    if (tex.tex) tex.tex->Release();
    tex = old;
    return false;
  }
  D3DLOCKED_RECT src{}, dst{};
  HRESULT hr = old.tex->LockRect(0, &src, nullptr, 0);
  if (FAILED(hr)) {
    tex.tex->Release();
    tex = old;
    FontError(FontErr::kLockOldAtlas, hr);
    return false;
  }
  hr = tex.tex->LockRect(0, &dst, nullptr, 0);
  if (FAILED(hr)) {
    tex.tex->Release();
    old.tex->UnlockRect(0);
    tex = old;
    FontError(FontErr::kLockNewAtlas, hr);
    return false;
  }
  // Only the old texels are copied: every cell is cleared before its glyph
  // is written, so the rest never shows what the device left there.
  const size_t oldRow = old.width * (format == D3DFMT_A8R8G8B8 ? 4 : 2);
  for (UINT y = 0; y < old.height; ++y)
    std::memcpy(static_cast<BYTE*>(dst.pBits) + static_cast<size_t>(y) * dst.Pitch,
                static_cast<const BYTE*>(src.pBits) + static_cast<size_t>(y) * src.Pitch, oldRow);
  tex.tex->UnlockRect(0);
  old.tex->UnlockRect(0);
  old.tex->Release();

  for (CharBucket& bucket : font->buckets)
    for (UINT i = 0; i < bucket.entryCount; ++i) {
      CharCoordinate& e = bucket.entries[i];
      if (taller) {
        e.vTop *= 0.5f;
        e.vBottom *= 0.5f;
      } else {
        e.uLeft *= 0.5f;
        e.uRight *= 0.5f;
      }
    }
  if (taller) {
    // The new row spans the whole width: it starts below every cell, also
    // below those of the left part when a wide cell forced a widening first.
    font->rowStartX = 0;
    font->cursorX = 0;
    if (font->rowY < font->usedBottom) font->rowY = font->usedBottom;
  } else {
    font->rowStartX = font->cursorX = old.width;
    font->rowY = 0;
  }
  return true;
}

bool AddCharCoordinate(VekFont* font, WORD code, float uLeft, float vTop, float uRight,
                       float vBottom, float advance) {
  CharBucket& bucket = font->buckets[code % kFontBuckets];
  if (bucket.entryCount >= bucket.capacity && !ReserveEntries(&bucket, bucket.entryCount + 1))
    return false;
  bucket.entries[bucket.entryCount++] = {code, uLeft, vTop, uRight, vBottom, advance};
  return true;
}

bool ReserveEntries(CharBucket* bucket, UINT n) {
  if (n < kMinBucketCapacity) n = kMinBucketCapacity;
  if (bucket->capacity >= n) return true;
  UINT capacity = bucket->capacity;
  if (capacity == 0) {
    capacity = n;
  } else {
    while (capacity < n) capacity = 2 * capacity + 1;
  }
  const UINT bytes = capacity * static_cast<UINT>(sizeof(CharCoordinate));
  auto* entries = static_cast<CharCoordinate*>(Malloc(bytes));
  if (!entries) {
    FontError(FontErr::kMallocEntries, static_cast<LONG>(bytes));
    return false;
  }
  if (bucket->entryCount)
    std::memcpy(entries, bucket->entries, bucket->entryCount * sizeof(CharCoordinate));
  if (bucket->entries) Free(bucket->entries);
  bucket->entries = entries;
  bucket->capacity = capacity;
  return true;
}
