// Font files and faces: AddFontResourceW / RemoveFontResourceW with GDI's
// counting and failure codes, the names GDI gives each face, and the face a
// CreateFontW request gets.
#include "gdi_faces.h"

#include <errno.h>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <map>

#include FT_DRIVER_H
#include FT_MODULE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include "text.h"

namespace vrt::gdi {

namespace {

// A file added by AddFontResourceW, in the order of first addition.
struct Added {
  std::string key;  // the resolved path
  int count = 0;    // successful adds not yet removed
  std::vector<FaceInfo> faces;
};

std::vector<Added>& TheAdded() {
  static auto* added = new std::vector<Added>;
  return *added;
}

// Faces of system files already read, by path.
std::map<std::string, std::vector<FaceInfo>>& TheScanned() {
  static auto* scanned = new std::map<std::string, std::vector<FaceInfo>>;
  return *scanned;
}

char16_t Fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameName(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

bool Named(const FaceInfo& face, const std::u16string& name) {
  for (const auto& n : face.names)
    if (SameName(n, name)) return true;
  return false;
}

std::u16string FromUtf16BigEndian(const FT_Byte* bytes, FT_UInt length) {
  std::u16string s;
  for (FT_UInt i = 0; i + 1 < length; i += 2)
    s.push_back(static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]));
  return s;
}

// GDI's names come from the Windows platform's name records: family (ID 1),
// English first, and the full name (ID 4), which selects the face as well.
void ReadNames(FT_Face face, FaceInfo* info) {
  std::u16string english, other;
  const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
  for (FT_UInt i = 0; i < count; ++i) {
    FT_SfntName n;
    if (FT_Get_Sfnt_Name(face, i, &n) != 0 || n.platform_id != TT_PLATFORM_MICROSOFT) continue;
    if (n.name_id != TT_NAME_ID_FONT_FAMILY && n.name_id != TT_NAME_ID_FULL_NAME) continue;
    std::u16string s = FromUtf16BigEndian(n.string, n.string_len);
    if (s.empty()) continue;
    if (n.name_id == TT_NAME_ID_FONT_FAMILY) {
      if (n.language_id == TT_MS_LANGID_ENGLISH_UNITED_STATES && english.empty()) english = s;
      if (other.empty()) other = s;
    }
    info->names.push_back(std::move(s));
  }
  info->family = !english.empty() ? english : other;
  if (info->family.empty() && face->family_name) {
    for (const char* p = face->family_name; *p; ++p)
      info->family.push_back(static_cast<unsigned char>(*p));
    info->names.push_back(info->family);
  }
}

// The scalable faces of a file; empty when FreeType cannot read it.
std::vector<FaceInfo> ScanFile(const std::string& path, long* faceCount) {
  std::vector<FaceInfo> faces;
  *faceCount = 0;
  FT_Library library = Library();
  FT_Face face = nullptr;
  if (!library || FT_New_Face(library, path.c_str(), -1, &face) != 0) return faces;
  *faceCount = face->num_faces;
  FT_Done_Face(face);
  for (long i = 0; i < *faceCount; ++i) {
    if (FT_New_Face(library, path.c_str(), i, &face) != 0) continue;
    if (FT_IS_SCALABLE(face)) {
      FaceInfo info;
      info.path = path;
      info.index = i;
      info.bold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
      info.italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
      ReadNames(face, &info);
      if (!info.family.empty()) faces.push_back(std::move(info));
    }
    FT_Done_Face(face);
  }
  return faces;
}

const std::vector<FaceInfo>& SystemFaces(const std::string& path) {
  auto& scanned = TheScanned();
  auto it = scanned.find(path);
  if (it == scanned.end()) {
    long count = 0;
    it = scanned.emplace(path, ScanFile(path, &count)).first;
  }
  return it->second;
}

// Whether fontconfig's faces take part (vrt::SetSystemFonts).
std::atomic<bool> systemFonts{true};

FcConfig* Fontconfig() {
  static FcConfig* config = FcInitLoadConfigAndFonts();
  return config;
}

// System faces named `name`, in fontconfig's order.
std::vector<FaceInfo> SystemFamily(const std::u16string& name) {
  std::vector<FaceInfo> out;
  FcConfig* config = systemFonts.load() ? Fontconfig() : nullptr;
  if (!config) return out;
  const std::string utf8 = text::ToUtf8(name.c_str());
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.c_str()));
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, FC_INDEX, nullptr);
  FcFontSet* set = FcFontList(config, pattern, objects);
  for (int i = 0; set && i < set->nfont; ++i) {
    FcChar8* file = nullptr;
    int index = 0;
    if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
    FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
    for (const FaceInfo& f : SystemFaces(reinterpret_cast<const char*>(file)))
      if (f.index == index && Named(f, name)) out.push_back(f);
  }
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return out;
}

// Whether fontconfig lists the file among the system's fonts.
bool IsSystemFile(const std::string& path) {
  FcConfig* config = systemFonts.load() ? Fontconfig() : nullptr;
  if (!config) return false;
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(path.c_str()));
  FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
  FcFontSet* set = FcFontList(config, pattern, objects);
  const bool found = set && set->nfont > 0;
  if (set) FcFontSetDestroy(set);
  FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

// fontconfig's sans-serif face, the default when no font was added.
bool SystemDefault(FaceInfo* out) {
  FcConfig* config = systemFonts.load() ? Fontconfig() : nullptr;
  if (!config) return false;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  bool found = false;
  FcChar8* file = nullptr;
  int index = 0;
  if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    FcPatternGetInteger(match, FC_INDEX, 0, &index);
    for (const FaceInfo& f : SystemFaces(reinterpret_cast<const char*>(file))) {
      if (f.index != index) continue;
      *out = f;
      found = true;
      break;
    }
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return found;
}

// Every face named `name`: the added ones first, then the system's, each file
// once. GDI chooses among all of them, so a system Bold file serves a bold
// request on a family whose regular file was added.
std::vector<FaceInfo> Family(const std::u16string& name) {
  std::vector<FaceInfo> out;
  for (const Added& a : TheAdded())
    for (const FaceInfo& f : a.faces)
      if (Named(f, name)) out.push_back(f);
  for (FaceInfo& f : SystemFamily(name)) {
    bool seen = false;
    for (const FaceInfo& o : out) seen = seen || (o.path == f.path && o.index == f.index);
    if (!seen) out.push_back(std::move(f));
  }
  return out;
}

// The face closest in style (one point per mismatch of bold or italic; the
// first of equals), and what is left to synthesise.
FaceChoice Closest(const std::vector<FaceInfo>& faces, bool bold, bool italic) {
  const FaceInfo* best = &faces.front();
  int bestPenalty = 3;
  for (const FaceInfo& f : faces) {
    const int penalty = (f.bold != bold) + (f.italic != italic);
    if (penalty < bestPenalty) {
      bestPenalty = penalty;
      best = &f;
    }
  }
  return FaceChoice{*best, bold && !best->bold, italic && !best->italic};
}

// Under Wine a Z: path names the Unix root; the runtime takes those too.
std::string UnixPath(const WCHAR* path) {
  std::string s = text::ToUtf8(path);
  if (s.size() >= 2 && (s[0] == 'Z' || s[0] == 'z') && s[1] == ':') {
    s.erase(0, 2);
    for (char& c : s)
      if (c == '\\') c = '/';
  }
  return s;
}

std::string Resolved(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return path;
  std::string s(real);
  free(real);
  return s;
}

// GDI's last error for a path that cannot be opened as a file.
DWORD PathError(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? kErrorAccessDenied : 0;
  if (errno == EACCES) return kErrorAccessDenied;
  if (errno != ENOENT) return kErrorPathNotFound;
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? kErrorFileNotFound
                                                               : kErrorPathNotFound;
}

}  // namespace

FT_Library Library() {
  static FT_Library library = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) return static_cast<FT_Library>(nullptr);
    FT_UInt version = TT_INTERPRETER_VERSION_40;
    FT_Property_Set(l, "truetype", "interpreter-version", &version);
    return l;
  }();
  return library;
}

bool ChooseFace(const std::u16string& name, int weight, bool italic, FaceChoice* out) {
  const bool bold = weight > 550;
  if (!name.empty()) {
    std::vector<FaceInfo> faces = Family(name);
    if (!faces.empty()) {
      *out = Closest(faces, bold, italic);
      return true;
    }
  }
  for (const Added& a : TheAdded()) {
    if (a.faces.empty()) continue;
    *out = Closest(Family(a.faces.front().family), bold, italic);
    return true;
  }
  FaceInfo fallback;
  if (!SystemDefault(&fallback)) return false;
  std::vector<FaceInfo> faces = Family(fallback.family);
  if (faces.empty()) faces.push_back(fallback);
  *out = Closest(faces, bold, italic);
  return true;
}

}  // namespace vrt::gdi

namespace vrt {

void SetSystemFonts(bool on) { gdi::systemFonts.store(on); }

}  // namespace vrt

using namespace vrt::gdi;

extern "C" {

int AddFontResourceW(LPCWSTR path) {
  std::lock_guard<std::mutex> lock(Lock());
  if (Injected("AddFontResourceW", path)) return 0;
  if (!path || !*path) {
    SetLastError(kErrorPathNotFound);
    return 0;
  }
  const std::string file = UnixPath(path);
  struct stat st;
  if (stat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
    SetLastError(PathError(file));
    return 0;
  }
  if (st.st_size == 0) {
    SetLastError(kErrorFileInvalid);
    return 0;
  }
  const std::string key = Resolved(file);
  for (Added& a : TheAdded()) {
    if (a.key != key) continue;
    ++a.count;
    return static_cast<int>(a.faces.size());
  }
  long count = 0;
  std::vector<FaceInfo> faces = ScanFile(key, &count);
  if (faces.empty()) {
    SetLastError(0);  // not a font: GDI says nothing more
    return 0;
  }
  TheAdded().push_back(Added{key, 1, std::move(faces)});
  return static_cast<int>(TheAdded().back().faces.size());
}

BOOL RemoveFontResourceW(LPCWSTR path) {
  std::lock_guard<std::mutex> lock(Lock());
  VRT_NOTE("RemoveFontResourceW", path);
  if (!path || !*path) {
    SetLastError(kErrorPathNotFound);
    return FALSE;
  }
  const std::string file = UnixPath(path);
  struct stat st;
  if (stat(file.c_str(), &st) != 0) {
    SetLastError(PathError(file));
    return FALSE;
  }
  const std::string key = Resolved(file);
  // GDI keeps the system's own fonts: removing one fails, saying nothing,
  // even right after the same file was added.
  if (IsSystemFile(key) || IsSystemFile(file)) {
    SetLastError(0);
    return FALSE;
  }
  auto& added = TheAdded();
  for (auto it = added.begin(); it != added.end(); ++it) {
    if (it->key != key) continue;
    if (--it->count == 0) added.erase(it);
    return TRUE;
  }
  SetLastError(0);  // as Wine's GDI: a failed removal says nothing more
  return FALSE;
}

}  // extern "C"
