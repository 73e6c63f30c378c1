// UTF-16 to UTF-8, for paths handed to the C library and for printed text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes code point c (below 0x110000) as UTF-8; returns the byte count.
inline int EncodeUtf8(uint32_t c, char out[4]) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

inline bool IsSurrogate(uint32_t unit) { return unit >= 0xD800 && unit < 0xE000; }

// A null-terminated UTF-16 string (null: empty) as UTF-8: surrogate pairs
// joined, a lone surrogate as U+FFFD.
template <typename Unit>
std::string Utf16ToUtf8(const Unit* text) {
  std::string out;
  for (size_t i = 0; text && text[i]; ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    const uint32_t next = static_cast<uint16_t>(text[i + 1]);
    if (c < 0xDC00 && IsSurrogate(c) && next >= 0xDC00 && next < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    } else if (IsSurrogate(c)) {
      c = 0xFFFD;
    }
    char bytes[4];
    out.append(bytes, static_cast<size_t>(EncodeUtf8(c, bytes)));
  }
  return out;
}
