// Pixel shader 1.4 assembly to the Direct3D 8 token stream.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "d3dx/d3dx8.h"

namespace {

// Token fields of the Direct3D 8 shader format.
constexpr DWORD kParam = 0x80000000u;
constexpr DWORD kCoissue = 0x40000000u;
constexpr int kRegTypeShift = 28;
constexpr DWORD kTemp = 0, kInput = 1, kConst = 2, kTexture = 3;
constexpr int kMaskShift = 16;
constexpr int kSwizzleShift = 16;
constexpr int kSrcModShift = 24;
constexpr DWORD kSaturate = 1u << 20;
constexpr int kShiftShift = 24;
constexpr DWORD kNoSwizzle = 0xE4;  // .xyzw
enum SrcMod : DWORD {
  kNone = 0,
  kNeg = 1,
  kBias = 2,
  kBiasNeg = 3,
  kSign = 4,
  kSignNeg = 5,
  kComp = 6,
  kX2 = 7,
  kX2Neg = 8,
  kDz = 9,
  kDw = 10,
};

enum class Kind { kArith, kTexld, kTexcrd, kDef, kNop, kPhase };
struct Op {
  const char* name;
  DWORD opcode;
  int sources;
  Kind kind;
};
constexpr Op kOps[] = {
    {"nop", 0, 0, Kind::kNop},        {"mov", 1, 1, Kind::kArith},
    {"add", 2, 2, Kind::kArith},      {"sub", 3, 2, Kind::kArith},
    {"mad", 4, 3, Kind::kArith},      {"mul", 5, 2, Kind::kArith},
    {"dp3", 8, 2, Kind::kArith},      {"dp4", 9, 2, Kind::kArith},
    {"lrp", 18, 3, Kind::kArith},     {"cnd", 80, 3, Kind::kArith},
    {"cmp", 88, 3, Kind::kArith},     {"bem", 89, 2, Kind::kArith},
    {"texcrd", 64, 1, Kind::kTexcrd}, {"texld", 66, 1, Kind::kTexld},
    {"def", 81, 4, Kind::kDef},       {"phase", 0xFFFD, 0, Kind::kPhase},
};

struct Register {
  DWORD type = 0;
  DWORD number = 0;
};

class Assembler {
 public:
  bool Run(std::string_view text) {
    size_t start = 0;
    int line = 0;
    while (start <= text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      ++line;
      line_ = line;
      if (!Line(text.substr(start, end - start))) return false;
      start = end + 1;
    }
    if (!sawVersion_) {
      line_ = line;
      return Fail("missing version declaration 'ps.1.4'");
    }
    tokens_.push_back(0x0000FFFFu);
    return true;
  }
  const std::vector<DWORD>& tokens() const { return tokens_; }
  const std::string& errors() const { return errors_; }

 private:
  bool Fail(const std::string& message) {
    // Appended piece by piece: gcc 12 at -O3 reports a false -Wrestrict on
    // the chained std::string concatenation.
    errors_ += '(';
    errors_ += std::to_string(line_);
    errors_ += "): error: ";
    errors_ += message;
    errors_ += '\n';
    return false;
  }

  static bool Space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
  static std::string_view Trim(std::string_view s) {
    while (!s.empty() && Space(s.front())) s.remove_prefix(1);
    while (!s.empty() && Space(s.back())) s.remove_suffix(1);
    return s;
  }
  static std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
  }
  // Drops blanks inside an operand ("1 - r0" is "1-r0").
  static std::string Squeeze(std::string_view s) {
    std::string out;
    for (char c : s)
      if (!Space(c)) out += c;
    return Lower(out);
  }

  bool Line(std::string_view raw) {
    // Comments run to the end of the line.
    size_t cut = raw.size();
    const size_t semicolon = raw.find(';');
    const size_t slashes = raw.find("//");
    if (semicolon < cut) cut = semicolon;
    if (slashes < cut) cut = slashes;
    std::string_view s = Trim(raw.substr(0, cut));
    if (s.empty()) return true;
    for (char c : s)
      if (c == '\0' || static_cast<unsigned char>(c) >= 0x80)
        return Fail("unexpected character in source");

    if (!sawVersion_) {
      const std::string v = Squeeze(s);
      if (v == "ps.1.4" || v == "ps_1_4") {
        sawVersion_ = true;
        tokens_.push_back(0xFFFF0104u);
        return true;
      }
      if (v.rfind("ps", 0) == 0 || v.rfind("vs", 0) == 0)
        return Fail("unsupported shader version '" + std::string(s) + "'");
      return Fail("expected version declaration 'ps.1.4' before '" + std::string(s) + "'");
    }

    bool coissue = false;
    if (s.front() == '+') {
      coissue = true;
      s = Trim(s.substr(1));
    }
    size_t nameEnd = 0;
    while (nameEnd < s.size() && !Space(s[nameEnd])) ++nameEnd;
    const std::string word = Lower(s.substr(0, nameEnd));
    std::string_view rest = Trim(s.substr(nameEnd));

    // The mnemonic, then instruction modifiers: _x2 _x4 _x8 _d2 _d4 _d8 _sat.
    const size_t underscore = word.find('_');
    const std::string name = word.substr(0, underscore);
    const Op* op = nullptr;
    for (const Op& candidate : kOps)
      if (name == candidate.name) op = &candidate;
    if (!op) {
      if (name == "ps.1.4" || name == "ps_1_4") return Fail("version declared twice");
      return Fail("unknown instruction '" + word + "'");
    }
    DWORD resultMod = 0;
    bool haveShift = false, haveSat = false;
    if (underscore != std::string::npos) {
      std::string_view mods(word);
      mods.remove_prefix(underscore);
      while (!mods.empty()) {
        size_t next = mods.find('_', 1);
        std::string_view mod =
            mods.substr(1, next == std::string_view::npos ? mods.npos : next - 1);
        mods.remove_prefix(next == std::string_view::npos ? mods.size() : next);
        static constexpr struct {
          const char* name;
          DWORD shift;
        } kShifts[] = {{"x2", 1}, {"x4", 2}, {"x8", 3}, {"d2", 15}, {"d4", 14}, {"d8", 13}};
        bool known = false;
        if (mod == "sat" && !haveSat) {
          resultMod |= kSaturate;
          haveSat = known = true;
        }
        for (const auto& sh : kShifts)
          if (mod == sh.name && !haveShift) {
            resultMod |= sh.shift << kShiftShift;
            haveShift = known = true;
          }
        if (!known)
          return Fail("invalid instruction modifier '_" + std::string(mod) + "' on '" + name + "'");
      }
      if (op->kind != Kind::kArith) return Fail("'" + name + "' takes no instruction modifiers");
    }
    if (coissue && op->kind != Kind::kArith) return Fail("'" + name + "' cannot be co-issued");

    std::vector<std::string> operands;
    if (!rest.empty()) {
      size_t pos = 0;
      while (true) {
        const size_t comma = rest.find(',', pos);
        operands.push_back(
            Squeeze(rest.substr(pos, comma == std::string_view::npos ? rest.npos : comma - pos)));
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
      }
    }
    for (const std::string& o : operands)
      if (o.empty()) return Fail("missing operand of '" + name + "'");

    const size_t expected = op->kind == Kind::kNop || op->kind == Kind::kPhase
                                ? 0
                                : static_cast<size_t>(op->sources) + 1;
    if (operands.size() != expected)
      return Fail("'" + name + "' takes " + std::to_string(expected) + " operands, not " +
                  std::to_string(operands.size()));

    switch (op->kind) {
      case Kind::kNop:
        tokens_.push_back(op->opcode);
        return true;
      case Kind::kPhase:
        if (sawPhase_) return Fail("'phase' may appear only once");
        sawPhase_ = true;
        tokens_.push_back(op->opcode);
        return true;
      case Kind::kDef:
        return Def(operands);
      default:
        break;
    }
    DWORD dst = 0;
    if (!Destination(operands[0], &dst)) return false;
    std::vector<DWORD> sources;
    for (size_t i = 1; i < operands.size(); ++i) {
      DWORD src = 0;
      if (!Source(operands[i], op->kind, &src)) return false;
      sources.push_back(src);
    }
    if (op->kind == Kind::kTexld || op->kind == Kind::kTexcrd) {
      const DWORD type = sources[0] >> kRegTypeShift & 7;
      if (type != kTexture && !(op->kind == Kind::kTexld && type == kTemp))
        return Fail("the source of '" + name + "' must be a texture coordinate register");
      // A temporary holds coordinates only once the first phase has made them.
      if (type == kTemp && !sawPhase_)
        return Fail("'" + name + "' reads a temporary register only after 'phase'");
    }
    tokens_.push_back(op->opcode | (coissue ? kCoissue : 0));
    tokens_.push_back(dst | resultMod);
    tokens_.insert(tokens_.end(), sources.begin(), sources.end());
    return true;
  }

  // "r3", "c0", "t1", "v0" with the number in range.
  bool ParseRegister(const std::string& s, size_t* pos, Register* reg) {
    if (*pos >= s.size()) return Fail("missing register");
    const char letter = s[*pos];
    DWORD limit = 0;
    switch (letter) {
      case 'r':
        reg->type = kTemp, limit = 6;
        break;
      case 'v':
        reg->type = kInput, limit = 2;
        break;
      case 'c':
        reg->type = kConst, limit = 8;
        break;
      case 't':
        reg->type = kTexture, limit = 6;
        break;
      default:
        return Fail("invalid register '" + s + "'");
    }
    size_t p = *pos + 1;
    DWORD n = 0;
    const size_t digits = p;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9' && p - digits < 4)
      n = n * 10 + DWORD(s[p++] - '0');
    if (p == digits || (p < s.size() && s[p] >= '0' && s[p] <= '9'))
      return Fail("invalid register '" + s + "'");
    if (n >= limit) return Fail("register '" + s.substr(*pos, p - *pos) + "' is out of range");
    reg->number = n;
    *pos = p;
    return true;
  }

  static int Component(char c) {
    switch (c) {
      case 'r':
      case 'x':
        return 0;
      case 'g':
      case 'y':
        return 1;
      case 'b':
      case 'z':
        return 2;
      case 'a':
      case 'w':
        return 3;
      default:
        return -1;
    }
  }

  bool Destination(const std::string& s, DWORD* token) {
    size_t pos = 0;
    Register reg;
    if (!ParseRegister(s, &pos, &reg)) return false;
    if (reg.type != kTemp) return Fail("destination '" + s + "' must be a temporary register");
    DWORD mask = 0xF;
    if (pos < s.size()) {
      if (s[pos] != '.' || pos + 1 == s.size()) return Fail("invalid destination '" + s + "'");
      mask = 0;
      int last = -1;
      for (size_t i = pos + 1; i < s.size(); ++i) {
        const int c = Component(s[i]);
        if (c < 0 || c <= last) return Fail("invalid write mask in '" + s + "'");
        mask |= 1u << c;
        last = c;
      }
    }
    *token = kParam | reg.type << kRegTypeShift | mask << kMaskShift | reg.number;
    return true;
  }

  bool Source(const std::string& s, Kind kind, DWORD* token) {
    size_t pos = 0;
    bool negate = false, invert = false;
    if (s.rfind("1-", 0) == 0) {
      invert = true;
      pos = 2;
    } else if (s.rfind("-", 0) == 0) {
      negate = true;
      pos = 1;
    }
    Register reg;
    if (!ParseRegister(s, &pos, &reg)) return false;
    DWORD swizzle = kNoSwizzle;
    std::string mod;
    bool haveSwizzle = false;
    // Modifier and selector, in either order: "r0_bx2.a" or "r0.a_bx2".
    while (pos < s.size()) {
      if (s[pos] == '.' && !haveSwizzle) {
        size_t end = pos + 1;
        while (end < s.size() && s[end] != '_') ++end;
        const size_t count = end - pos - 1;
        if (count == 0 || count > 4) return Fail("invalid swizzle in '" + s + "'");
        swizzle = 0;
        int c = 0;
        for (size_t i = 0; i < 4; ++i) {
          // A short swizzle repeats its last component.
          if (i < count) c = Component(s[pos + 1 + i]);
          if (c < 0) return Fail("invalid swizzle in '" + s + "'");
          swizzle |= static_cast<DWORD>(c) << (2 * i);
        }
        haveSwizzle = true;
        pos = end;
      } else if (s[pos] == '_' && mod.empty()) {
        size_t end = pos + 1;
        while (end < s.size() && s[end] != '.' && s[end] != '_') ++end;
        mod = s.substr(pos + 1, end - pos - 1);
        if (mod.empty()) return Fail("invalid source modifier in '" + s + "'");
        pos = end;
      } else {
        return Fail("invalid source operand '" + s + "'");
      }
    }
    DWORD m = kNone;
    if (mod.empty())
      m = negate ? kNeg : invert ? kComp : kNone;
    else if (invert)
      return Fail("'1-' cannot be combined with '_" + mod + "' in '" + s + "'");
    else if (mod == "bias")
      m = negate ? kBiasNeg : kBias;
    else if (mod == "bx2")
      m = negate ? kSignNeg : kSign;
    else if (mod == "x2")
      m = negate ? kX2Neg : kX2;
    else if ((mod == "dz" || mod == "db" || mod == "dw" || mod == "da") && !negate) {
      if (kind != Kind::kTexld && kind != Kind::kTexcrd)
        return Fail("'_" + mod + "' is allowed only on texture instructions");
      m = (mod == "dz" || mod == "db") ? kDz : kDw;
    } else {
      return Fail("invalid source modifier '_" + mod + "' in '" + s + "'");
    }
    *token = kParam | reg.type << kRegTypeShift | swizzle << kSwizzleShift | m << kSrcModShift |
             reg.number;
    return true;
  }

  static bool ParseFloat(const std::string& s, float* out) {
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    double value = 0;
    bool digits = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      value = value * 10 + (s[i++] - '0'), digits = true;
    if (i < s.size() && s[i] == '.') {
      ++i;
      double scale = 0.1;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        value += (s[i++] - '0') * scale;
        scale /= 10;
        digits = true;
      }
    }
    if (!digits) return false;
    if (i < s.size() && s[i] == 'e') {
      ++i;
      bool expNegative = false;
      if (i < s.size() && (s[i] == '-' || s[i] == '+')) expNegative = s[i++] == '-';
      int e = 0;
      const size_t start = i;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9' && e < 100) e = e * 10 + (s[i++] - '0');
      if (i == start) return false;
      for (int k = 0; k < e; ++k) value = expNegative ? value / 10 : value * 10;
    }
    if (i < s.size() && s[i] == 'f') ++i;
    if (i != s.size() || value > 3.4e38) return false;
    *out = static_cast<float>(negative ? -value : value);
    return true;
  }

  bool Def(const std::vector<std::string>& operands) {
    size_t pos = 0;
    Register reg;
    if (!ParseRegister(operands[0], &pos, &reg)) return false;
    if (reg.type != kConst || pos != operands[0].size())
      return Fail("'def' needs a constant register, not '" + operands[0] + "'");
    tokens_.push_back(81);
    tokens_.push_back(kParam | kConst << kRegTypeShift | 0xFu << kMaskShift | reg.number);
    for (size_t i = 1; i < 5; ++i) {
      float f = 0;
      if (!ParseFloat(operands[i], &f)) return Fail("invalid number '" + operands[i] + "'");
      DWORD bits = 0;
      std::memcpy(&bits, &f, sizeof bits);
      tokens_.push_back(bits);
    }
    return true;
  }

  std::vector<DWORD> tokens_;
  std::string errors_;
  int line_ = 0;
  bool sawVersion_ = false;
  bool sawPhase_ = false;
};

HRESULT MakeBuffer(const void* bytes, DWORD size, LPD3DXBUFFER* out) {
  HRESULT hr = D3DXCreateBuffer(size, out);
  if (SUCCEEDED(hr) && size) std::memcpy((*out)->GetBufferPointer(), bytes, size);
  return hr;
}

}  // namespace

HRESULT WINAPI D3DXAssembleShader(LPCVOID pSrcData, UINT SrcDataLen, DWORD Flags,
                                  LPD3DXBUFFER* ppConstants, LPD3DXBUFFER* ppCompiledShader,
                                  LPD3DXBUFFER* ppCompilationErrors) {
  (void)Flags;
  if (ppConstants) *ppConstants = nullptr;
  if (ppCompiledShader) *ppCompiledShader = nullptr;
  if (ppCompilationErrors) *ppCompilationErrors = nullptr;
  if (!pSrcData || !ppCompiledShader) return D3DERR_INVALIDCALL;

  std::string_view text(static_cast<const char*>(pSrcData), SrcDataLen);
  // The text ends at its length or at a terminating zero, whichever is first.
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos) text = text.substr(0, zero);

  Assembler assembler;
  try {
    if (!assembler.Run(text)) {
      if (ppCompilationErrors) {
        const std::string& e = assembler.errors();
        MakeBuffer(e.c_str(), static_cast<DWORD>(e.size() + 1), ppCompilationErrors);
      }
      return D3DXERR_INVALIDDATA;
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const std::vector<DWORD>& t = assembler.tokens();
  return MakeBuffer(t.data(), static_cast<DWORD>(t.size() * sizeof(DWORD)), ppCompiledShader);
}
