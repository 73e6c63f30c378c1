// The pixel shader 1.4 assembler: exact tokens, modifiers and masks, the
// effect programs accepted by the device, and errors naming their line.
#include <algorithm>
#include <cstring>
#include <string>

#include "d3dx_test.h"

namespace {

// The eight effect programs, padded with tabs and blanks as stored.
std::string Effect(const char* def, const char* lines, const char* chosen) {
  return std::string("ps.1.4\n") + def + " texld r0, t0\n" + lines +
         "\tsub r2.a, r0.a, c0.r\n cmp r3.rgb, r2.a, " + chosen +
         ", r0\n sub r2.a, c0.g, r0.a\n\tcmp r0.rgb, r2.a, r3, r0\n mul r0, r0, v0\n";
}
const char kWhite[] = " def c2, 1.0, 1.0, 1.0, 0.0\n";
const std::string kEffects[8] = {
    Effect(" def c1, 1.0, 1.0, 1.0, 0.3333\n", "\tdp3 r1.a, r0, c1\n\tmul r1.a, r1.a, c1.a\n",
           "r1.a"),
    Effect("", " mov r1.r, r0.r\n mov r1.g, r0.b\n mov r1.b, r0.g\n", "r1"),
    Effect("", " mov r1.r, r0.g\n mov r1.g, r0.r\n mov r1.b, r0.b\n", "r1"),
    Effect("", " mov r1.r, r0.g\n mov r1.g, r0.b\n mov r1.b, r0.r\n", "r1"),
    Effect("", " mov r1.r, r0.b\n mov r1.g, r0.r\n mov r1.b, r0.g\n", "r1"),
    Effect("", " mov r1.r, r0.b\n mov r1.g, r0.g\n mov r1.b, r0.r\n", "r1"),
    Effect(kWhite, "\tlrp  r1, c0.b, c2, r0\n", "r1"),
    Effect(kWhite, " sub r1.a, c2.r, c0.b\n mul r1, r0, r1.a\n mov r1.a, r0.a\n", "r1"),
};

struct Result {
  HRESULT hr = E_FAIL;
  std::vector<DWORD> tokens;
  std::string errors;
  bool codeNull = true;
};

Result Assemble(const std::string& text) {
  Result r;
  LPD3DXBUFFER code = reinterpret_cast<LPD3DXBUFFER>(1), errors = reinterpret_cast<LPD3DXBUFFER>(1);
  LPD3DXBUFFER constants = reinterpret_cast<LPD3DXBUFFER>(1);
  r.hr = D3DXAssembleShader(text.data(), static_cast<UINT>(text.size()), 0, &constants, &code,
                            &errors);
  EXPECT_EQ(constants, nullptr);
  r.codeNull = code == nullptr;
  if (code) {
    EXPECT_EQ(code->GetBufferSize() % 4, 0u);
    const DWORD* t = static_cast<const DWORD*>(code->GetBufferPointer());
    r.tokens.assign(t, t + code->GetBufferSize() / 4);
    code->Release();
  }
  if (errors) {
    r.errors = static_cast<const char*>(errors->GetBufferPointer());
    errors->Release();
  }
  return r;
}

DWORD Bits(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

TEST(D3dxAssembler, GreyEffectGivesTheStandardTokens) {
  const Result r = Assemble(kEffects[0]);
  ASSERT_EQ(r.hr, D3D_OK) << r.errors;
  EXPECT_EQ(r.errors, "");
  const std::vector<DWORD> expected = {
      0xFFFF0104,                                                                 // ps.1.4
      81,         0xA00F0001, Bits(1),    Bits(1),    Bits(1),    Bits(0.3333f),  // def c1
      66,         0x800F0000, 0xB0E40000,                                         // texld r0, t0
      8,          0x80080001, 0x80E40000, 0xA0E40001,              // dp3 r1.a, r0, c1
      5,          0x80080001, 0x80FF0001, 0xA0FF0001,              // mul r1.a, r1.a, c1.a
      3,          0x80080002, 0x80FF0000, 0xA0000000,              // sub r2.a, r0.a, c0.r
      88,         0x80070003, 0x80FF0002, 0x80FF0001, 0x80E40000,  // cmp r3.rgb, ...
      3,          0x80080002, 0xA0550000, 0x80FF0000,              // sub r2.a, c0.g, r0.a
      88,         0x80070000, 0x80FF0002, 0x80E40003, 0x80E40000,  // cmp r0.rgb, ...
      5,          0x800F0000, 0x80E40000, 0x90E40000,              // mul r0, r0, v0
      0x0000FFFF};
  EXPECT_EQ(r.tokens, expected);
}

TEST(D3dxAssembler, ModifiersMasksAndSwizzlesAreEncoded) {
  struct Case {
    const char* line;
    std::vector<DWORD> tokens;
  } cases[] = {
      {"mul_x2_sat r0.rg, -r1_bx2, 1-c0.a", {5, 0x81130000, 0x85E40001, 0xA6FF0000}},
      {"add_d2 r5.ba, r1_bias, -r2", {2, 0x8F0C0005, 0x82E40001, 0x81E40002}},
      {"mad_x4 r2.xyz, -r1_bias.g, r3.b_x2, -c7_x2",
       {4, 0x82070002, 0x83550001, 0x87AA0003, 0xA8E40007}},
      {"sub_x8 r1.w, r0.x, r0.y", {3, 0x83080001, 0x80000000, 0x80550000}},
      {"dp4_d4 r0, v1, v0", {9, 0x8E0F0000, 0x90E40001, 0x90E40000}},
      {"dp3_d8_sat r0, t0, r1", {8, 0x8D1F0000, 0xB0E40000, 0x80E40001}},
      {"mov r0, r1.abgr", {1, 0x800F0000, 0x801B0001}},
      {"mov r0, r1.gr", {1, 0x800F0000, 0x80010001}},
      {"lrp  r1, c0.b, c2, r0", {18, 0x800F0001, 0xA0AA0000, 0xA0E40002, 0x80E40000}},
      {"cnd r4, r0.a, r1, c0", {80, 0x800F0004, 0x80FF0000, 0x80E40001, 0xA0E40000}},
      {"+mov r0.a, r1", {0x40000001, 0x80080000, 0x80E40001}},
      {"texcrd r1.rgb, t5", {64, 0x80070001, 0xB0E40005}},
      {"texld r2, t1_dz", {66, 0x800F0002, 0xB9E40001}},
      {"phase\ntexld r3, r1_dw.xyw", {0xFFFD, 66, 0x800F0003, 0x8AF40001}},
      {"nop", {0}},
      {"phase", {0xFFFD}},
      {"def c3, -0.5, 2, .25e1, 1e-1",
       {81, 0xA00F0003, Bits(-0.5f), Bits(2), Bits(2.5f), Bits(0.1f)}},
      {"MOV R0.RGBA, C1.A", {1, 0x800F0000, 0xA0FF0001}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Result r = Assemble(std::string("ps.1.4\n") + c.line + "\n");
    ASSERT_EQ(r.hr, D3D_OK) << r.errors;
    std::vector<DWORD> expected = {0xFFFF0104};
    expected.insert(expected.end(), c.tokens.begin(), c.tokens.end());
    expected.push_back(0x0000FFFF);
    EXPECT_EQ(r.tokens, expected);
  }
}

TEST(D3dxAssembler, CommentsBlankLinesAndPaddingChangeNothing) {
  const std::string plain = "ps.1.4\ntexld r0, t0\nmul r0, r0, v0\n";
  const std::string padded =
      "// effect\r\n\r\n  \t ps.1.4 ; version\r\n\t\ttexld\tr0 ,\tt0 // sample\r\n"
      "; a whole comment line\n\n   mul   r0 , r0,v0   \n   // the end";
  const Result a = Assemble(plain), b = Assemble(padded);
  ASSERT_EQ(a.hr, D3D_OK) << a.errors;
  ASSERT_EQ(b.hr, D3D_OK) << b.errors;
  EXPECT_EQ(a.tokens, b.tokens);
  EXPECT_EQ(a.tokens.size(), 1u + 3 + 4 + 1);

  // The length given is honoured; a zero ends the text too.
  LPD3DXBUFFER code = nullptr;
  ASSERT_EQ(D3DXAssembleShader(plain.data(), 20, 0, nullptr, &code, nullptr), D3D_OK);
  EXPECT_EQ(code->GetBufferSize(), 4u * (1 + 3 + 1));
  code->Release();
  const char withZero[] = "ps.1.4\nnop\n\0garbage here";
  ASSERT_EQ(D3DXAssembleShader(withZero, sizeof withZero, 0, nullptr, &code, nullptr), D3D_OK);
  EXPECT_EQ(code->GetBufferSize(), 4u * 3);
  code->Release();
}

TEST(D3dxAssembler, ErrorsNameTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"ps.1.4\n\nfoo r0, r1\n", "(3): error: unknown instruction 'foo'\n"},
      {"texld r0, t0\n", "(1): error: expected version declaration"},
      {"; only\n\n", "(3): error: missing version declaration"},
      {"ps.1.1\n", "(1): error: unsupported shader version"},
      {"ps.1.4\nps.1.4\n", "(2): error: version declared twice"},
      {"ps.1.4\nmov r6, r0\n", "(2): error: register 'r6' is out of range"},
      {"ps.1.4\ntexld r0, t6\n", "(2): error: register 't6' is out of range"},
      {"ps.1.4\nmov r0, v2\n", "(2): error: register 'v2' is out of range"},
      {"ps.1.4\nmov r0, x1\n", "(2): error: invalid register 'x1'"},
      {"ps.1.4\nmov r0.gr, r1\n", "(2): error: invalid write mask"},
      {"ps.1.4\nmov r0, r1.q\n", "(2): error: invalid swizzle"},
      {"ps.1.4\nmov c0, r1\n", "(2): error: destination 'c0' must be a temporary register"},
      {"ps.1.4\nadd r0, r1\n", "(2): error: 'add' takes 3 operands, not 2"},
      {"ps.1.4\nmov r0, r1,\n", "(2): error: missing operand of 'mov'"},
      {"ps.1.4\nmov_x3 r0, r1\n", "(2): error: invalid instruction modifier '_x3'"},
      {"ps.1.4\nmov r0, 1-r1_bx2\n", "(2): error: '1-' cannot be combined"},
      {"ps.1.4\nmov r0, r1_bogus\n", "(2): error: invalid source modifier '_bogus'"},
      {"ps.1.4\nmov r0, r1_dz\n", "(2): error: '_dz' is allowed only on texture instructions"},
      {"ps.1.4\ntexld r0, c0\n", "(2): error: the source of 'texld' must be"},
      {"ps.1.4\ntexcrd r0, r1\n", "(2): error: the source of 'texcrd' must be"},
      {"ps.1.4\ntexld r0, r1\n", "(2): error: 'texld' reads a temporary register only after"},
      {"ps.1.4\ndef r0, 1, 1, 1, 1\n", "(2): error: 'def' needs a constant register"},
      {"ps.1.4\ndef c0, 1, x, 1, 1\n", "(2): error: invalid number 'x'"},
      {"ps.1.4\nphase\nphase\n", "(3): error: 'phase' may appear only once"},
      {"ps.1.4\n+texld r0, t0\n", "(2): error: 'texld' cannot be co-issued"},
      {"ps.1.4\ntexld_x2 r0, t0\n", "(2): error: 'texld' takes no instruction modifiers"},
      {"ps.1.4\nmov r0, r1 \xC3\xA4\n", "(2): error: unexpected character"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const Result r = Assemble(c.text);
    EXPECT_EQ(r.hr, D3DXERR_INVALIDDATA);
    EXPECT_TRUE(r.codeNull);
    EXPECT_EQ(r.errors.rfind(c.error, 0), 0u) << r.errors;
  }
}

TEST(D3dxAssembler, ArgumentsAndBuffers) {
  LPD3DXBUFFER code = nullptr;
  EXPECT_EQ(D3DXAssembleShader(nullptr, 4, 0, nullptr, &code, nullptr), D3DERR_INVALIDCALL);
  EXPECT_EQ(D3DXAssembleShader("ps.1.4", 6, 0, nullptr, nullptr, nullptr), D3DERR_INVALIDCALL);
  // An error without an errors buffer still fails.
  EXPECT_EQ(D3DXAssembleShader("ps.1.4\nbad", 10, 0, nullptr, &code, nullptr), D3DXERR_INVALIDDATA);
  EXPECT_EQ(code, nullptr);

  ASSERT_EQ(D3DXCreateBuffer(12, &code), D3D_OK);
  EXPECT_EQ(code->GetBufferSize(), 12u);
  const BYTE* p = static_cast<const BYTE*>(code->GetBufferPointer());
  EXPECT_EQ(std::count(p, p + 12, 0), 12);
  void* same = nullptr;
  ASSERT_EQ(code->QueryInterface(IID_ID3DXBuffer, &same), S_OK);
  EXPECT_EQ(same, code);
  void* other = &same;
  EXPECT_EQ(code->QueryInterface(GUID{1, 2, 3, {4}}, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(code->AddRef(), 3u);
  EXPECT_EQ(code->Release(), 2u);
  EXPECT_EQ(code->Release(), 1u);
  EXPECT_EQ(code->Release(), 0u);
  ASSERT_EQ(D3DXCreateBuffer(0, &code), D3D_OK);
  EXPECT_NE(code->GetBufferPointer(), nullptr);
  EXPECT_EQ(code->GetBufferSize(), 0u);
  code->Release();
}

// The device (Wine's Direct3D 8 validates the tokens) takes every program.
using AssemblerDeviceTest = D3dxTest;

TEST_F(AssemblerDeviceTest, TheDeviceAcceptsTheAssembledPrograms) {
  ASSERT_EQ(Caps().PixelShaderVersion, 0xFFFF0104u);
  std::vector<std::string> programs(kEffects, kEffects + 8);
  programs.push_back(
      "ps.1.4\n"
      "def c1, 0.5, -1, 2e0, .25\n"
      "texcrd r1.rgb, t1\n"
      "texld r0, t0\n"
      "texld r5, t2\n"
      "dp3_sat r2, r0_bx2, r1\n"
      "mad_x2 r3, r5, c1, -r2_bias\n"
      "phase\n"
      "texld r4, r1\n"
      "mad_x2 r0.rgb, r4, v0, -c1\n"
      "+mov r0.a, 1-r2.b\n"
      "cnd r4, r0.a, r3, c0\n"
      "lrp_sat r1, v1.a, r4, r0\n"
      "dp4_d2 r2.r, r1, c2\n"
      "add r0.rgb, r1, r2.r\n"
      "sub r0.a, r1.a, r2.r\n");
  for (size_t i = 0; i < programs.size(); ++i) {
    SCOPED_TRACE(i + 1);
    const Result r = Assemble(programs[i]);
    ASSERT_EQ(r.hr, D3D_OK) << r.errors;
    DWORD handle = 0;
    ASSERT_EQ(d3d->CreatePixelShader(r.tokens.data(), &handle), D3D_OK);
    EXPECT_NE(handle, 0u);
    EXPECT_EQ(d3d->SetPixelShader(handle), D3D_OK);
    EXPECT_EQ(d3d->SetPixelShader(0), D3D_OK);
    EXPECT_EQ(d3d->DeletePixelShader(handle), D3D_OK);
  }
}

}  // namespace
