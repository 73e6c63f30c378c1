// Font faces for the runtime's GDI: the FreeType library, the files added by
// AddFontResourceW, the system's fonts through fontconfig, and the choice of a
// face for a name, a weight and a slant. Callers hold vrt::gdi::Lock().
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <string>
#include <vector>

#include "gdi.h"

namespace vrt::gdi {

// One face of a font file, as GDI names it.
struct FaceInfo {
  std::string path;
  long index = 0;
  std::u16string family;             // name ID 1, the name GDI lists
  std::vector<std::u16string> names;  // family and full names, each matches
  bool bold = false;
  bool italic = false;
};

// The chosen face and the styles GDI has to synthesise on it.
struct FaceChoice {
  FaceInfo face;
  bool fakeBold = false;
  bool fakeItalic = false;
};

// The process's FreeType library (TrueType interpreter v40), or null.
FT_Library Library();

// The face for a requested name (null or empty: the default face), bold when
// the weight is above 550 as GDI decides, among every face of that family:
// the added ones and the system's, the closest in style first. An unknown name
// selects the default family: the first added font still registered, else
// fontconfig's "sans-serif". False when no face exists at all.
bool ChooseFace(const std::u16string& name, int weight, bool italic, FaceChoice* out);

}  // namespace vrt::gdi
