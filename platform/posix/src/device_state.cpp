// The device's pipeline state: render and stage states, transforms,
// viewport, material, lights, clip planes, shaders, palettes, stream and
// texture bindings, and the validation of scenes, clears and draws.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "device.h"
#include "ps14.h"
#include "raster.h"

namespace vrt::d3d {

namespace {

constexpr DWORD kMaxShaderTokens = 1u << 16;

const std::array<bool, kRenderStateSlots>& RenderStateTable() {
  static const std::array<bool, kRenderStateSlots> table = [] {
    std::array<bool, kRenderStateSlots> t{};
    for (D3DRENDERSTATETYPE s : {D3DRS_ZENABLE,
                                 D3DRS_FILLMODE,
                                 D3DRS_SHADEMODE,
                                 D3DRS_LINEPATTERN,
                                 D3DRS_ZWRITEENABLE,
                                 D3DRS_ALPHATESTENABLE,
                                 D3DRS_LASTPIXEL,
                                 D3DRS_SRCBLEND,
                                 D3DRS_DESTBLEND,
                                 D3DRS_CULLMODE,
                                 D3DRS_ZFUNC,
                                 D3DRS_ALPHAREF,
                                 D3DRS_ALPHAFUNC,
                                 D3DRS_DITHERENABLE,
                                 D3DRS_ALPHABLENDENABLE,
                                 D3DRS_FOGENABLE,
                                 D3DRS_SPECULARENABLE,
                                 D3DRS_ZVISIBLE,
                                 D3DRS_FOGCOLOR,
                                 D3DRS_FOGTABLEMODE,
                                 D3DRS_FOGSTART,
                                 D3DRS_FOGEND,
                                 D3DRS_FOGDENSITY,
                                 D3DRS_EDGEANTIALIAS,
                                 D3DRS_ZBIAS,
                                 D3DRS_RANGEFOGENABLE,
                                 D3DRS_STENCILENABLE,
                                 D3DRS_STENCILFAIL,
                                 D3DRS_STENCILZFAIL,
                                 D3DRS_STENCILPASS,
                                 D3DRS_STENCILFUNC,
                                 D3DRS_STENCILREF,
                                 D3DRS_STENCILMASK,
                                 D3DRS_STENCILWRITEMASK,
                                 D3DRS_TEXTUREFACTOR,
                                 D3DRS_WRAP0,
                                 D3DRS_WRAP1,
                                 D3DRS_WRAP2,
                                 D3DRS_WRAP3,
                                 D3DRS_WRAP4,
                                 D3DRS_WRAP5,
                                 D3DRS_WRAP6,
                                 D3DRS_WRAP7,
                                 D3DRS_CLIPPING,
                                 D3DRS_LIGHTING,
                                 D3DRS_AMBIENT,
                                 D3DRS_FOGVERTEXMODE,
                                 D3DRS_COLORVERTEX,
                                 D3DRS_LOCALVIEWER,
                                 D3DRS_NORMALIZENORMALS,
                                 D3DRS_DIFFUSEMATERIALSOURCE,
                                 D3DRS_SPECULARMATERIALSOURCE,
                                 D3DRS_AMBIENTMATERIALSOURCE,
                                 D3DRS_EMISSIVEMATERIALSOURCE,
                                 D3DRS_VERTEXBLEND,
                                 D3DRS_CLIPPLANEENABLE,
                                 D3DRS_SOFTWAREVERTEXPROCESSING,
                                 D3DRS_POINTSIZE,
                                 D3DRS_POINTSIZE_MIN,
                                 D3DRS_POINTSPRITEENABLE,
                                 D3DRS_POINTSCALEENABLE,
                                 D3DRS_POINTSCALE_A,
                                 D3DRS_POINTSCALE_B,
                                 D3DRS_POINTSCALE_C,
                                 D3DRS_MULTISAMPLEANTIALIAS,
                                 D3DRS_MULTISAMPLEMASK,
                                 D3DRS_PATCHEDGESTYLE,
                                 D3DRS_PATCHSEGMENTS,
                                 D3DRS_DEBUGMONITORTOKEN,
                                 D3DRS_POINTSIZE_MAX,
                                 D3DRS_INDEXEDVERTEXBLENDENABLE,
                                 D3DRS_COLORWRITEENABLE,
                                 D3DRS_TWEENFACTOR,
                                 D3DRS_BLENDOP,
                                 D3DRS_POSITIONORDER,
                                 D3DRS_NORMALORDER})
      t[s] = true;
    return t;
  }();
  return table;
}

DWORD FloatBits(float f) { return std::bit_cast<DWORD>(f); }

D3DMATRIX Identity() {
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 1.0f;
  return m;
}

bool InUnitRange(float v) { return v >= 0.0f && v <= 1.0f; }  // false for NaN

// Copies stored tokens out with the usual size protocol.
HRESULT CopyTokens(const std::vector<DWORD>& tokens, void* data, DWORD* size) {
  if (!size) return D3DERR_INVALIDCALL;
  const DWORD bytes = static_cast<DWORD>(tokens.size() * sizeof(DWORD));
  if (!data) {
    *size = bytes;
    return D3D_OK;
  }
  if (*size < bytes) {
    *size = bytes;
    return D3DERR_MOREDATA;
  }
  if (bytes) std::memcpy(data, tokens.data(), bytes);
  *size = bytes;
  return D3D_OK;
}

// A shader function: the version token, then instructions (comments skipped
// whole) up to the end token. Empty when no end token comes in time.
std::vector<DWORD> ReadFunction(const DWORD* tokens) {
  for (DWORD i = 1; i < kMaxShaderTokens; ++i) {
    const DWORD t = tokens[i];
    if (t == D3DPS_END()) return std::vector<DWORD>(tokens, tokens + i + 1);
    if ((t & D3DSI_OPCODE_MASK) == D3DSIO_COMMENT)
      i += (t & D3DSI_COMMENTSIZE_MASK) >> D3DSI_COMMENTSIZE_SHIFT;
  }
  return {};
}

// A vertex declaration up to D3DVSD_END(), skipping constant and extension
// payloads. Empty when no end comes in time.
std::vector<DWORD> ReadDeclaration(const DWORD* tokens) {
  for (DWORD i = 0; i < kMaxShaderTokens; ++i) {
    const DWORD t = tokens[i];
    if (t == D3DVSD_END()) return std::vector<DWORD>(tokens, tokens + i + 1);
    const DWORD type = (t & D3DVSD_TOKENTYPEMASK) >> D3DVSD_TOKENTYPESHIFT;
    if (type == D3DVSD_TOKEN_CONSTMEM)
      i += 4 * ((t & D3DVSD_CONSTCOUNTMASK) >> D3DVSD_CONSTCOUNTSHIFT);
    else if (type == D3DVSD_TOKEN_EXT)
      i += (t & D3DVSD_EXTCOUNTMASK) >> D3DVSD_EXTCOUNTSHIFT;
  }
  return {};
}

bool ConstantRange(DWORD reg, DWORD count, DWORD registers) {
  return reg <= registers && count <= registers - reg;
}

// The vertex and the pixel shader calls share these: constants copied in or
// out of a register file, a handle read back, a shader deleted (unset when
// current), a stored token list copied out.
template <DWORD N>
HRESULT CopyConstantsIn(float (&registers)[N][4], DWORD reg, const void* data, DWORD count) {
  if (!data || !ConstantRange(reg, count, N)) return D3DERR_INVALIDCALL;
  std::memcpy(registers[reg], data, count * sizeof(registers[0]));
  return D3D_OK;
}

template <DWORD N>
HRESULT CopyConstantsOut(const float (&registers)[N][4], DWORD reg, void* data, DWORD count) {
  if (!data || !ConstantRange(reg, count, N)) return D3DERR_INVALIDCALL;
  std::memcpy(data, registers[reg], count * sizeof(registers[0]));
  return D3D_OK;
}

HRESULT ReadHandle(DWORD current, DWORD* handle) {
  if (!handle) return D3DERR_INVALIDCALL;
  *handle = current;
  return D3D_OK;
}

template <class Table>
HRESULT DeleteShader(Table& shaders, DWORD* current, DWORD handle) {
  if (!shaders.erase(handle)) return D3DERR_INVALIDCALL;
  if (*current == handle) *current = 0;
  return D3D_OK;
}

// `pick` chooses the token list of a stored shader.
template <class Table, class Pick>
HRESULT CopyShaderTokens(const Table& shaders, DWORD handle, Pick pick, void* data, DWORD* size) {
  auto it = shaders.find(handle);
  if (it == shaders.end()) return D3DERR_INVALIDCALL;
  return CopyTokens(pick(it->second), data, size);
}

}  // namespace

bool IsRenderState(DWORD state) { return state < kRenderStateSlots && RenderStateTable()[state]; }

bool IsStageState(DWORD type) {
  return type >= D3DTSS_COLOROP && type <= D3DTSS_RESULTARG && type != 12;
}

bool IsTransformState(DWORD state) {
  return state == D3DTS_VIEW || state == D3DTS_PROJECTION ||
         (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) ||
         (state >= D3DTS_WORLDMATRIX(0) && state < kTransformSlots);
}

void Device::RestoreDefaultState() {
  DropBindings();
  DeviceState& s = state_;
  s = DeviceState{};
  DWORD* rs = s.renderStates;
  rs[D3DRS_ZENABLE] = autoDepth_ ? D3DZB_TRUE : D3DZB_FALSE;
  rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
  rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
  rs[D3DRS_ZWRITEENABLE] = TRUE;
  rs[D3DRS_LASTPIXEL] = TRUE;
  rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
  rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
  rs[D3DRS_CULLMODE] = D3DCULL_CCW;
  rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
  rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
  rs[D3DRS_FOGSTART] = FloatBits(0.0f);
  rs[D3DRS_FOGEND] = FloatBits(1.0f);
  rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
  rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
  rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
  rs[D3DRS_STENCILMASK] = 0xFFFFFFFF;
  rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
  rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
  rs[D3DRS_CLIPPING] = TRUE;
  rs[D3DRS_LIGHTING] = TRUE;
  rs[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
  rs[D3DRS_COLORVERTEX] = TRUE;
  rs[D3DRS_LOCALVIEWER] = TRUE;
  rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
  rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
  rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
  rs[D3DRS_VERTEXBLEND] = D3DVBF_DISABLE;
  rs[D3DRS_SOFTWAREVERTEXPROCESSING] =
      (behaviorFlags_ & D3DCREATE_SOFTWARE_VERTEXPROCESSING) ? TRUE : FALSE;
  rs[D3DRS_POINTSIZE] = FloatBits(1.0f);
  rs[D3DRS_POINTSIZE_MIN] = FloatBits(1.0f);
  rs[D3DRS_POINTSCALE_A] = FloatBits(1.0f);
  rs[D3DRS_POINTSCALE_B] = FloatBits(0.0f);
  rs[D3DRS_POINTSCALE_C] = FloatBits(0.0f);
  rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
  rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
  rs[D3DRS_PATCHEDGESTYLE] = D3DPATCHEDGE_DISCRETE;
  rs[D3DRS_PATCHSEGMENTS] = FloatBits(1.0f);
  rs[D3DRS_DEBUGMONITORTOKEN] = D3DDMT_ENABLE;
  rs[D3DRS_POINTSIZE_MAX] = FloatBits(64.0f);
  rs[D3DRS_COLORWRITEENABLE] = D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN |
                               D3DCOLORWRITEENABLE_BLUE | D3DCOLORWRITEENABLE_ALPHA;
  rs[D3DRS_TWEENFACTOR] = FloatBits(0.0f);
  rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
  rs[D3DRS_POSITIONORDER] = D3DORDER_CUBIC;
  rs[D3DRS_NORMALORDER] = D3DORDER_LINEAR;

  for (DWORD stage = 0; stage < kTextureStages; ++stage) {
    DWORD* ts = s.stageStates[stage];
    ts[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
    ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
    ts[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
    ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
    ts[D3DTSS_TEXCOORDINDEX] = stage;
    ts[D3DTSS_ADDRESSU] = D3DTADDRESS_WRAP;
    ts[D3DTSS_ADDRESSV] = D3DTADDRESS_WRAP;
    ts[D3DTSS_ADDRESSW] = D3DTADDRESS_WRAP;
    ts[D3DTSS_MAGFILTER] = D3DTEXF_POINT;
    ts[D3DTSS_MINFILTER] = D3DTEXF_POINT;
    ts[D3DTSS_MIPFILTER] = D3DTEXF_NONE;
    ts[D3DTSS_MAXANISOTROPY] = 1;
    ts[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
    ts[D3DTSS_COLORARG0] = D3DTA_CURRENT;
    ts[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
    ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
  }
  for (D3DMATRIX& m : s.transforms) m = Identity();

  if (!backBuffers_.empty()) Rebind<Surface>(s.renderTarget, backBuffers_.front().get());
  Rebind<Surface>(s.depthStencil, autoDepth_.get());
  ViewportToTarget();
}

// --- Render and stage states, transforms ----------------------------------

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
  VRT_ENTRY("IDirect3DDevice8::SetRenderState", state, value);
  if (!IsRenderState(state)) return D3DERR_INVALIDCALL;
  state_.renderStates[state] = value;
  return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
  VRT_ENTRY("IDirect3DDevice8::GetRenderState", state, value);
  if (!value || !IsRenderState(state)) return D3DERR_INVALIDCALL;
  *value = state_.renderStates[state];
  return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
  VRT_ENTRY("IDirect3DDevice8::SetTextureStageState", stage, type, value);
  if (stage >= kTextureStages || !IsStageState(type)) return D3DERR_INVALIDCALL;
  state_.stageStates[stage][type] = value;
  return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
  VRT_ENTRY("IDirect3DDevice8::GetTextureStageState", stage, type, value);
  if (!value || stage >= kTextureStages || !IsStageState(type)) return D3DERR_INVALIDCALL;
  *value = state_.stageStates[stage][type];
  return D3D_OK;
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  VRT_ENTRY("IDirect3DDevice8::SetTransform", state, matrix);
  if (!matrix || !IsTransformState(state)) return D3DERR_INVALIDCALL;
  state_.transforms[state] = *matrix;
  return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
  VRT_ENTRY("IDirect3DDevice8::GetTransform", state, matrix);
  if (!matrix || !IsTransformState(state)) return D3DERR_INVALIDCALL;
  *matrix = state_.transforms[state];
  return D3D_OK;
}

HRESULT Device::MultiplyTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
  VRT_ENTRY("IDirect3DDevice8::MultiplyTransform", state, matrix);
  if (!matrix || !IsTransformState(state)) return D3DERR_INVALIDCALL;
  // The given matrix times the current one.
  const D3DMATRIX current = state_.transforms[state];
  D3DMATRIX product{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 4; ++k) product.m[r][c] += matrix->m[r][k] * current.m[k][c];
  state_.transforms[state] = product;
  return D3D_OK;
}

// --- Viewport, material, lights, clipping ---------------------------------

HRESULT Device::SetViewport(const D3DVIEWPORT8* v) {
  if (v)
    VRT_ENTRY("IDirect3DDevice8::SetViewport", v->X, v->Y, v->Width, v->Height, v->MinZ, v->MaxZ);
  else
    VRT_ENTRY("IDirect3DDevice8::SetViewport", v);
  if (!v || !state_.renderTarget) return D3DERR_INVALIDCALL;
  const UINT w = state_.renderTarget->width();
  const UINT h = state_.renderTarget->height();
  if (v->X > w || v->Width > w - v->X || v->Y > h || v->Height > h - v->Y ||
      !InUnitRange(v->MinZ) || !InUnitRange(v->MaxZ))
    return D3DERR_INVALIDCALL;
  state_.viewport = *v;
  return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT8* viewport) {
  VRT_ENTRY("IDirect3DDevice8::GetViewport", viewport);
  if (!viewport) return D3DERR_INVALIDCALL;
  *viewport = state_.viewport;
  return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL8* material) {
  VRT_ENTRY("IDirect3DDevice8::SetMaterial", material);
  if (!material) return D3DERR_INVALIDCALL;
  state_.material = *material;
  return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL8* material) {
  VRT_ENTRY("IDirect3DDevice8::GetMaterial", material);
  if (!material) return D3DERR_INVALIDCALL;
  *material = state_.material;
  return D3D_OK;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT8* light) {
  VRT_ENTRY("IDirect3DDevice8::SetLight", index, light);
  if (!light || light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL ||
      light->Range < 0.0f)
    return D3DERR_INVALIDCALL;
  state_.lights[index].light = *light;  // a new slot starts disabled
  return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT8* light) {
  VRT_ENTRY("IDirect3DDevice8::GetLight", index, light);
  auto it = state_.lights.find(index);
  if (!light || it == state_.lights.end()) return D3DERR_INVALIDCALL;
  *light = it->second.light;
  return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
  VRT_ENTRY("IDirect3DDevice8::LightEnable", index, enable);
  auto it = state_.lights.find(index);
  if (it == state_.lights.end()) {
    // Enabling an unset light gives it the default: white, directional, +z.
    LightSlot slot;
    slot.light.Type = D3DLIGHT_DIRECTIONAL;
    slot.light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
    slot.light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    it = state_.lights.emplace(index, slot).first;
  }
  it->second.enabled = enable != FALSE;
  return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
  VRT_ENTRY("IDirect3DDevice8::GetLightEnable", index, enable);
  auto it = state_.lights.find(index);
  if (!enable || it == state_.lights.end()) return D3DERR_INVALIDCALL;
  *enable = it->second.enabled ? TRUE : FALSE;
  return D3D_OK;
}

HRESULT Device::SetClipPlane(DWORD index, const float* plane) {
  VRT_ENTRY("IDirect3DDevice8::SetClipPlane", index, plane);
  if (!plane || index >= kClipPlanes) return D3DERR_INVALIDCALL;
  std::memcpy(state_.clipPlanes[index], plane, sizeof(state_.clipPlanes[index]));
  return D3D_OK;
}

HRESULT Device::GetClipPlane(DWORD index, float* plane) {
  VRT_ENTRY("IDirect3DDevice8::GetClipPlane", index, plane);
  if (!plane || index >= kClipPlanes) return D3DERR_INVALIDCALL;
  std::memcpy(plane, state_.clipPlanes[index], sizeof(state_.clipPlanes[index]));
  return D3D_OK;
}

HRESULT Device::SetClipStatus(const D3DCLIPSTATUS8* status) {
  VRT_ENTRY("IDirect3DDevice8::SetClipStatus", status);
  if (!status) return D3DERR_INVALIDCALL;
  state_.clipStatus = *status;
  return D3D_OK;
}

HRESULT Device::GetClipStatus(D3DCLIPSTATUS8* status) {
  VRT_ENTRY("IDirect3DDevice8::GetClipStatus", status);
  if (!status) return D3DERR_INVALIDCALL;
  *status = state_.clipStatus;
  return D3D_OK;
}

// --- Textures, streams, indices -------------------------------------------

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture8* texture) {
  VRT_ENTRY("IDirect3DDevice8::SetTexture", stage, texture);
  if (stage >= kTextureStages) return D3DERR_INVALIDCALL;
  Texture* t = static_cast<Texture*>(texture);  // 2-D textures are the only kind made here
  if (t && t->device() != this) return D3DERR_INVALIDCALL;
  Rebind(state_.textures[stage], t);
  return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture8** out) {
  VRT_ENTRY("IDirect3DDevice8::GetTexture", stage, out);
  if (!out || stage >= kTextureStages) return D3DERR_INVALIDCALL;
  Texture* t = state_.textures[stage];
  if (t) t->AddRef();
  *out = t;
  return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT stream, IDirect3DVertexBuffer8* buffer, UINT stride) {
  VRT_ENTRY("IDirect3DDevice8::SetStreamSource", stream, buffer, stride);
  if (stream >= kStreams || stride > kMaxStreamStride) return D3DERR_INVALIDCALL;
  VertexBuffer* b = static_cast<VertexBuffer*>(buffer);
  if (b && b->device() != this) return D3DERR_INVALIDCALL;
  Rebind(state_.streams[stream].buffer, b);
  state_.streams[stream].stride = stride;
  return D3D_OK;
}

HRESULT Device::GetStreamSource(UINT stream, IDirect3DVertexBuffer8** out, UINT* stride) {
  VRT_ENTRY("IDirect3DDevice8::GetStreamSource", stream, out, stride);
  if (!out || !stride || stream >= kStreams) return D3DERR_INVALIDCALL;
  VertexBuffer* b = state_.streams[stream].buffer;
  if (b) b->AddRef();
  *out = b;
  *stride = state_.streams[stream].stride;
  return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer8* buffer, UINT baseVertexIndex) {
  VRT_ENTRY("IDirect3DDevice8::SetIndices", buffer, baseVertexIndex);
  IndexBuffer* b = static_cast<IndexBuffer*>(buffer);
  if (b && b->device() != this) return D3DERR_INVALIDCALL;
  Rebind(state_.indices, b);
  state_.baseVertexIndex = baseVertexIndex;
  return D3D_OK;
}

HRESULT Device::GetIndices(IDirect3DIndexBuffer8** out, UINT* baseVertexIndex) {
  VRT_ENTRY("IDirect3DDevice8::GetIndices", out, baseVertexIndex);
  if (!out || !baseVertexIndex) return D3DERR_INVALIDCALL;
  IndexBuffer* b = state_.indices;
  if (b) b->AddRef();
  *out = b;
  *baseVertexIndex = state_.baseVertexIndex;
  return D3D_OK;
}

// --- Palettes -------------------------------------------------------------

HRESULT Device::SetPaletteEntries(UINT palette, const PALETTEENTRY* entries) {
  VRT_ENTRY("IDirect3DDevice8::SetPaletteEntries", palette, entries);
  if (!entries || palette > 0xFFFF) return D3DERR_INVALIDCALL;
  std::array<PALETTEENTRY, 256>& p = palettes_[palette];
  std::copy(entries, entries + 256, p.begin());
  return D3D_OK;
}

HRESULT Device::GetPaletteEntries(UINT palette, PALETTEENTRY* entries) {
  VRT_ENTRY("IDirect3DDevice8::GetPaletteEntries", palette, entries);
  auto it = palettes_.find(palette);
  if (!entries || it == palettes_.end()) return D3DERR_INVALIDCALL;
  std::copy(it->second.begin(), it->second.end(), entries);
  return D3D_OK;
}

HRESULT Device::SetCurrentTexturePalette(UINT palette) {
  VRT_ENTRY("IDirect3DDevice8::SetCurrentTexturePalette", palette);
  if (!palettes_.count(palette)) return D3DERR_INVALIDCALL;
  state_.currentPalette = palette;
  return D3D_OK;
}

HRESULT Device::GetCurrentTexturePalette(UINT* palette) {
  VRT_ENTRY("IDirect3DDevice8::GetCurrentTexturePalette", palette);
  if (!palette) return D3DERR_INVALIDCALL;
  *palette = state_.currentPalette;
  return D3D_OK;
}

// --- Shaders --------------------------------------------------------------

HRESULT Device::CreateVertexShader(const DWORD* declaration, const DWORD* function, DWORD* handle,
                                   DWORD usage) {
  VRT_ENTRY("IDirect3DDevice8::CreateVertexShader", declaration, function, handle, usage);
  if (!declaration || !handle || (usage & ~D3DUSAGE_SOFTWAREPROCESSING)) return D3DERR_INVALIDCALL;
  VertexShaderCode code;
  code.declaration = ReadDeclaration(declaration);
  if (code.declaration.empty()) return D3DERR_INVALIDCALL;
  if (function) {
    const DWORD version = function[0];
    if ((version & 0xFFFF0000) != 0xFFFE0000 || (version & 0xFFFF) < 0x0100 ||
        (version & 0xFFFF) > (caps_.VertexShaderVersion & 0xFFFF))
      return D3DERR_INVALIDCALL;
    code.function = ReadFunction(function);
    if (code.function.empty()) return D3DERR_INVALIDCALL;
  }
  // Shader handles are odd, which no FVF code is.
  const DWORD h = (nextVertexShader_++ << 1) | 1;
  vertexShaders_.emplace(h, std::move(code));
  *handle = h;
  return D3D_OK;
}

HRESULT Device::SetVertexShader(DWORD handle) {
  VRT_ENTRY("IDirect3DDevice8::SetVertexShader", handle);
  if (handle & 1) {
    if (!vertexShaders_.count(handle)) return D3DERR_INVALIDCALL;
  } else if (handle != 0 && FvfVertexSize(handle) == 0) {
    return D3DERR_INVALIDCALL;
  }
  state_.vertexShader = handle;
  return D3D_OK;
}

HRESULT Device::GetVertexShader(DWORD* handle) {
  VRT_ENTRY("IDirect3DDevice8::GetVertexShader", handle);
  return ReadHandle(state_.vertexShader, handle);
}

HRESULT Device::DeleteVertexShader(DWORD handle) {
  VRT_ENTRY("IDirect3DDevice8::DeleteVertexShader", handle);
  return DeleteShader(vertexShaders_, &state_.vertexShader, handle);
}

HRESULT Device::SetVertexShaderConstant(DWORD reg, const void* data, DWORD count) {
  VRT_ENTRY("IDirect3DDevice8::SetVertexShaderConstant", reg, data, count);
  return CopyConstantsIn(state_.vertexConstants, reg, data, count);
}

HRESULT Device::GetVertexShaderConstant(DWORD reg, void* data, DWORD count) {
  VRT_ENTRY("IDirect3DDevice8::GetVertexShaderConstant", reg, data, count);
  return CopyConstantsOut(state_.vertexConstants, reg, data, count);
}

HRESULT Device::GetVertexShaderDeclaration(DWORD handle, void* data, DWORD* size) {
  VRT_ENTRY("IDirect3DDevice8::GetVertexShaderDeclaration", handle, data, size);
  return CopyShaderTokens(
      vertexShaders_, handle, [](const VertexShaderCode& c) -> auto& { return c.declaration; },
      data, size);
}

HRESULT Device::GetVertexShaderFunction(DWORD handle, void* data, DWORD* size) {
  VRT_ENTRY("IDirect3DDevice8::GetVertexShaderFunction", handle, data, size);
  return CopyShaderTokens(
      vertexShaders_, handle, [](const VertexShaderCode& c) -> auto& { return c.function; }, data,
      size);
}

HRESULT Device::CreatePixelShader(const DWORD* function, DWORD* handle) {
  VRT_ENTRY("IDirect3DDevice8::CreatePixelShader", function, handle);
  if (!function || !handle) return D3DERR_INVALIDCALL;
  // A pixel shader version the device runs; ps.1.4 instructions are checked.
  const DWORD version = function[0];
  if ((version & 0xFFFFFF00) != 0xFFFF0100 ||
      (version & 0xFFFF) > (caps_.PixelShaderVersion & 0xFFFF) ||
      (caps_.PixelShaderVersion & 0xFFFF0000) != 0xFFFF0000)
    return D3DERR_INVALIDCALL;
  std::vector<DWORD> tokens = ReadFunction(function);
  if (tokens.empty()) return D3DERR_INVALIDCALL;
  PsProgram program;
  if (version == D3DPS_VERSION(1, 4) && !DecodePs14(tokens.data(), tokens.size(), &program))
    return D3DERR_INVALIDCALL;
  const DWORD h = nextPixelShader_++;
  pixelShaders_.emplace(h, std::move(tokens));
  *handle = h;
  return D3D_OK;
}

HRESULT Device::SetPixelShader(DWORD handle) {
  VRT_ENTRY("IDirect3DDevice8::SetPixelShader", handle);
  if (handle != 0 && !pixelShaders_.count(handle)) return D3DERR_INVALIDCALL;
  state_.pixelShader = handle;
  return D3D_OK;
}

HRESULT Device::GetPixelShader(DWORD* handle) {
  VRT_ENTRY("IDirect3DDevice8::GetPixelShader", handle);
  return ReadHandle(state_.pixelShader, handle);
}

HRESULT Device::DeletePixelShader(DWORD handle) {
  VRT_ENTRY("IDirect3DDevice8::DeletePixelShader", handle);
  return DeleteShader(pixelShaders_, &state_.pixelShader, handle);
}

HRESULT Device::SetPixelShaderConstant(DWORD reg, const void* data, DWORD count) {
  VRT_ENTRY("IDirect3DDevice8::SetPixelShaderConstant", reg, data, count);
  return CopyConstantsIn(state_.pixelConstants, reg, data, count);
}

HRESULT Device::GetPixelShaderConstant(DWORD reg, void* data, DWORD count) {
  VRT_ENTRY("IDirect3DDevice8::GetPixelShaderConstant", reg, data, count);
  return CopyConstantsOut(state_.pixelConstants, reg, data, count);
}

HRESULT Device::GetPixelShaderFunction(DWORD handle, void* data, DWORD* size) {
  VRT_ENTRY("IDirect3DDevice8::GetPixelShaderFunction", handle, data, size);
  return CopyShaderTokens(
      pixelShaders_, handle, [](const std::vector<DWORD>& t) -> auto& { return t; }, data, size);
}

// --- Scenes, clears, draws ------------------------------------------------

HRESULT Device::BeginScene() {
  VRT_ENTRY("IDirect3DDevice8::BeginScene");
  if (inScene_) return D3DERR_INVALIDCALL;
  inScene_ = true;
  ++counters_.scenes;
  return D3D_OK;
}

HRESULT Device::EndScene() {
  VRT_ENTRY("IDirect3DDevice8::EndScene");
  if (!inScene_) return D3DERR_INVALIDCALL;
  inScene_ = false;
  return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                      DWORD stencil) {
  VRT_ENTRY("IDirect3DDevice8::Clear", count, rects, flags, color, z, stencil);
  const DWORD known = D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL;
  if (flags == 0 || (flags & ~known) || (count && !rects)) return D3DERR_INVALIDCALL;
  if ((flags & D3DCLEAR_TARGET) && !state_.renderTarget) return D3DERR_INVALIDCALL;
  if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !state_.depthStencil)
    return D3DERR_INVALIDCALL;
  if ((flags & D3DCLEAR_STENCIL) && !state_.depthStencil->formatInfo().stencil)
    return D3DERR_INVALIDCALL;
  if ((flags & D3DCLEAR_ZBUFFER) && !InUnitRange(z)) return D3DERR_INVALIDCALL;
  DrawCall call;
  call.kind = DrawCall::Kind::Clear;
  call.rectCount = rects ? count : 0;
  call.rects = rects;
  call.clearFlags = flags;
  call.color = color;
  call.z = z;
  call.stencil = stencil;
  Submit(call);
  return D3D_OK;
}

HRESULT Device::CheckDrawState(D3DPRIMITIVETYPE type, UINT count) const {
  if (!inScene_ || count == 0 || count > kMaxPrimitiveCount || VertexCountOf(type, count) == 0)
    return D3DERR_INVALIDCALL;
  if (state_.vertexShader == 0 || !state_.renderTarget) return D3DERR_INVALIDCALL;
  return D3D_OK;
}

void Device::Submit(const DrawCall& call) {
  // A lost device accepts work and draws nothing.
  const bool draw = cooperation_ == Cooperation::Operational && RasterizationEnabled();
  if (call.kind == DrawCall::Kind::Clear) {
    ++counters_.clears;
    if (draw) ClearTargets(state_, call);
    return;
  }
  ++counters_.draws;
  counters_.primitives += call.primitiveCount;
  if (!draw) return;
  const std::vector<DWORD>* shader = nullptr;
  if (state_.pixelShader != 0) {
    auto it = pixelShaders_.find(state_.pixelShader);
    if (it != pixelShaders_.end()) shader = &it->second;
  }
  DrawPrimitives(state_, call, shader);
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT count) {
  VRT_ENTRY("IDirect3DDevice8::DrawPrimitive", type, startVertex, count);
  const HRESULT hr = CheckDrawState(type, count);
  if (FAILED(hr)) return hr;
  const StreamSource& s = state_.streams[0];
  const UINT vertices = VertexCountOf(type, count);
  if (!s.buffer || s.stride == 0 ||
      (uint64_t{startVertex} + vertices) * s.stride > s.buffer->length())
    return D3DERR_INVALIDCALL;
  DrawCall call;
  call.kind = DrawCall::Kind::Primitive;
  call.type = type;
  call.primitiveCount = count;
  call.startVertex = startVertex;
  call.vertexCount = vertices;
  call.vertexStride = s.stride;
  Submit(call);
  return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount,
                                     UINT startIndex, UINT count) {
  VRT_ENTRY("IDirect3DDevice8::DrawIndexedPrimitive", type, minIndex, vertexCount, startIndex,
            count);
  const HRESULT hr = CheckDrawState(type, count);
  if (FAILED(hr)) return hr;
  const StreamSource& s = state_.streams[0];
  const IndexBuffer* ib = state_.indices;
  const UINT indices = VertexCountOf(type, count);
  if (!ib || !s.buffer || s.stride == 0 || vertexCount == 0) return D3DERR_INVALIDCALL;
  if ((uint64_t{startIndex} + indices) * IndexSize(*ib) > ib->length()) return D3DERR_INVALIDCALL;
  if ((uint64_t{state_.baseVertexIndex} + minIndex + vertexCount) * s.stride > s.buffer->length())
    return D3DERR_INVALIDCALL;
  DrawCall call;
  call.kind = DrawCall::Kind::IndexedPrimitive;
  call.type = type;
  call.primitiveCount = count;
  call.minIndex = minIndex;
  call.vertexCount = vertexCount;
  call.startIndex = startIndex;
  call.vertexStride = s.stride;
  call.indexFormat = ib->value();
  Submit(call);
  return D3D_OK;
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT count, const void* vertices,
                                UINT stride) {
  VRT_ENTRY("IDirect3DDevice8::DrawPrimitiveUP", type, count, vertices, stride);
  const HRESULT hr = CheckDrawState(type, count);
  if (FAILED(hr)) return hr;
  if (!vertices || stride == 0) return D3DERR_INVALIDCALL;
  DrawCall call;
  call.kind = DrawCall::Kind::PrimitiveUP;
  call.type = type;
  call.primitiveCount = count;
  call.vertexCount = VertexCountOf(type, count);
  call.vertexData = vertices;
  call.vertexStride = stride;
  Submit(call);
  // Drawing from user memory leaves stream zero unset.
  Rebind<VertexBuffer>(state_.streams[0].buffer, nullptr);
  state_.streams[0].stride = 0;
  return D3D_OK;
}

HRESULT Device::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minIndex, UINT vertexCount,
                                       UINT count, const void* indices, D3DFORMAT indexFormat,
                                       const void* vertices, UINT stride) {
  VRT_ENTRY("IDirect3DDevice8::DrawIndexedPrimitiveUP", type, minIndex, vertexCount, count, indices,
            indexFormat, vertices, stride);
  const HRESULT hr = CheckDrawState(type, count);
  if (FAILED(hr)) return hr;
  if (!indices || !vertices || stride == 0 || vertexCount == 0 ||
      (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32))
    return D3DERR_INVALIDCALL;
  DrawCall call;
  call.kind = DrawCall::Kind::IndexedPrimitiveUP;
  call.type = type;
  call.primitiveCount = count;
  call.minIndex = minIndex;
  call.vertexCount = vertexCount;
  call.vertexData = vertices;
  call.vertexStride = stride;
  call.indexData = indices;
  call.indexFormat = indexFormat;
  Submit(call);
  // Drawing from user memory leaves stream zero and the indices unset.
  Rebind<VertexBuffer>(state_.streams[0].buffer, nullptr);
  state_.streams[0].stride = 0;
  Rebind<IndexBuffer>(state_.indices, nullptr);
  state_.baseVertexIndex = 0;
  return D3D_OK;
}

HRESULT Device::ValidateDevice(DWORD* passes) {
  VRT_ENTRY("IDirect3DDevice8::ValidateDevice", passes);
  if (!passes) return D3DERR_INVALIDCALL;
  *passes = 1;  // every stage setup runs in one pass in software
  return D3D_OK;
}

}  // namespace vrt::d3d
