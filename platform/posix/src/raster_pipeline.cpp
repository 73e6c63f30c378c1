// The pipeline stage: device state resolved once per draw into a Pipeline
// (formats, tests, blend factors, decoded textures), then the draw itself:
// vertices fetched, assembled into primitives and handed to the drawer.
#include <atomic>

#include "raster_internal.h"

namespace vrt::d3d {

namespace raster {

namespace {

std::atomic<bool> rasterizing{true};
// Tests turn the dedicated span loops off to compare them with the general one.
std::atomic<bool> fastPaths{true};

bool UsesArg(DWORD op, int which) {
  if (op == D3DTOP_SELECTARG1) return which == 1;
  if (op == D3DTOP_SELECTARG2) return which == 2;
  return true;
}

bool IsTextureArg(DWORD arg) { return (arg & D3DTA_SELECTMASK) == D3DTA_TEXTURE; }

// A stage whose texture is missing passes its other argument on: with no
// texture bound, MODULATE or ADD of TEXTURE and DIFFUSE give the diffuse colour.
void DropTextureArg(DWORD* op, DWORD* arg1, DWORD* arg2) {
  const bool t1 = UsesArg(*op, 1) && IsTextureArg(*arg1);
  const bool t2 = UsesArg(*op, 2) && IsTextureArg(*arg2);
  if (!t1 && !t2) return;
  if (t1 && !t2 && UsesArg(*op, 2)) {
    *op = D3DTOP_SELECTARG2;
  } else if (t2 && !t1 && UsesArg(*op, 1)) {
    *op = D3DTOP_SELECTARG1;
  } else {
    *op = D3DTOP_SELECTARG1;
    *arg1 = D3DTA_CURRENT;
  }
}

}  // namespace

bool FastPathsEnabled() { return fastPaths.load(std::memory_order_relaxed); }

namespace {

// A stage samples level 0 of its texture, decoded once and held for the draw.
void BindStageTexture(Texture* t, Stage* st) {
  st->textured = false;
  if (t && t->levelCount() > 0 && (st->decoded = t->level(0)->DecodedTexels())) {
    st->texels = st->decoded->data();
    st->textured = true;
    st->tw = static_cast<int>(t->level(0)->width());
    st->th = static_cast<int>(t->level(0)->height());
  }
}

// A stage's filters, addressing, border colour and coordinate set.
void ReadSampling(const DWORD* ts, Stage* st) {
  st->minFilter = ts[D3DTSS_MINFILTER];
  st->magFilter = ts[D3DTSS_MAGFILTER];
  st->addressU = ts[D3DTSS_ADDRESSU];
  st->addressV = ts[D3DTSS_ADDRESSV];
  st->border = ts[D3DTSS_BORDERCOLOR];
  st->texSet = static_cast<int>(ts[D3DTSS_TEXCOORDINDEX] & 0x7);
}

}  // namespace

bool Resolve(const DeviceState& s, Pipeline* p) {
  Surface* rt = s.renderTarget;
  if (!rt || !rt->bits() || !IsWritableColorFormat(rt->format())) return false;
  const DWORD* rs = s.renderStates;
  p->bits = rt->bits();
  p->pitch = rt->pitch();
  p->format = rt->format();
  p->bpp = BytesPerPixel(p->format);
  const D3DVIEWPORT8& v = s.viewport;
  p->x0 = static_cast<int>(std::min<UINT>(v.X, rt->width()));
  p->y0 = static_cast<int>(std::min<UINT>(v.Y, rt->height()));
  p->x1 = static_cast<int>(std::min<uint64_t>(uint64_t{v.X} + v.Width, rt->width()));
  p->y1 = static_cast<int>(std::min<uint64_t>(uint64_t{v.Y} + v.Height, rt->height()));
  p->vx = static_cast<float>(v.X);
  p->vy = static_cast<float>(v.Y);
  p->vw = static_cast<float>(v.Width);
  p->vh = static_cast<float>(v.Height);
  p->minZ = v.MinZ;
  p->maxZ = v.MaxZ;

  Surface* ds = s.depthStencil;
  DepthLayout layout;
  if (ds && ds->bits() && DescribeDepth(ds->format(), &layout)) {
    p->depthBits = ds->bits();
    p->depthPitch = ds->pitch();
    p->depth = layout;
    p->depthMask =
        layout.depthBits >= 32 ? 0xFFFFFFFFu : ((1u << layout.depthBits) - 1) << layout.depthShift;
    p->depthTest = rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    p->depthWrite = p->depthTest && rs[D3DRS_ZWRITEENABLE];
    p->depthFunc = rs[D3DRS_ZFUNC];
    p->stencil = rs[D3DRS_STENCILENABLE] && layout.stencilBits > 0;
    p->stencilMax = (1u << layout.stencilBits) - 1;
    p->stencilFunc = rs[D3DRS_STENCILFUNC];
    p->stencilFail = rs[D3DRS_STENCILFAIL];
    p->stencilZFail = rs[D3DRS_STENCILZFAIL];
    p->stencilPass = rs[D3DRS_STENCILPASS];
    p->stencilRef = rs[D3DRS_STENCILREF] & p->stencilMax;
    p->stencilMask = rs[D3DRS_STENCILMASK] & p->stencilMax;
    p->stencilWriteMask = rs[D3DRS_STENCILWRITEMASK] & p->stencilMax;
    if (p->depthTest || p->stencil) {
      p->x1 = std::min(p->x1, static_cast<int>(ds->width()));
      p->y1 = std::min(p->y1, static_cast<int>(ds->height()));
    }
  }
  if (p->x0 >= p->x1 || p->y0 >= p->y1) return false;

  p->alphaTest = rs[D3DRS_ALPHATESTENABLE] != FALSE;
  p->alphaFunc = rs[D3DRS_ALPHAFUNC];
  p->alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;
  p->blend = rs[D3DRS_ALPHABLENDENABLE] != FALSE;
  p->srcBlend = rs[D3DRS_SRCBLEND];
  p->dstBlend = rs[D3DRS_DESTBLEND];
  p->blendOp = rs[D3DRS_BLENDOP];
  if (p->srcBlend == D3DBLEND_BOTHSRCALPHA) {
    p->srcBlend = D3DBLEND_SRCALPHA;
    p->dstBlend = D3DBLEND_INVSRCALPHA;
  } else if (p->srcBlend == D3DBLEND_BOTHINVSRCALPHA) {
    p->srcBlend = D3DBLEND_INVSRCALPHA;
    p->dstBlend = D3DBLEND_SRCALPHA;
  }
  p->writeBits = ChannelBits(p->format, rs[D3DRS_COLORWRITEENABLE]);
  p->specularAdd = rs[D3DRS_SPECULARENABLE] != FALSE;
  p->textureFactor = rs[D3DRS_TEXTUREFACTOR];
  p->flat = rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT;
  p->cull = rs[D3DRS_CULLMODE];
  p->lastPixel = rs[D3DRS_LASTPIXEL] != FALSE;

  p->stageCount = 0;
  for (DWORD i = 0; i < kTextureStages; ++i) {
    const DWORD* ts = s.stageStates[i];
    if (ts[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
    Stage& st = p->stages[i];
    st.colorOp = ts[D3DTSS_COLOROP];
    st.colorArg1 = ts[D3DTSS_COLORARG1];
    st.colorArg2 = ts[D3DTSS_COLORARG2];
    st.alphaOp = ts[D3DTSS_ALPHAOP];
    st.alphaArg1 = ts[D3DTSS_ALPHAARG1];
    st.alphaArg2 = ts[D3DTSS_ALPHAARG2];
    BindStageTexture(s.textures[i], &st);
    if (!st.textured) {
      DropTextureArg(&st.colorOp, &st.colorArg1, &st.colorArg2);
      if (st.alphaOp != D3DTOP_DISABLE) DropTextureArg(&st.alphaOp, &st.alphaArg1, &st.alphaArg2);
    }
    ReadSampling(ts, &st);
    p->stageCount = static_cast<int>(i) + 1;
  }
  if (p->stageCount == 1 && !p->specularAdd) {
    const Stage& st = p->stages[0];
    auto texDiffuse = [](DWORD a, DWORD b) {
      const bool diffuse = b == D3DTA_DIFFUSE || b == D3DTA_CURRENT;
      return a == D3DTA_TEXTURE && diffuse;
    };
    p->modulateOnly =
        st.textured && st.colorOp == D3DTOP_MODULATE && st.alphaOp == D3DTOP_MODULATE &&
        (texDiffuse(st.colorArg1, st.colorArg2) || texDiffuse(st.colorArg2, st.colorArg1)) &&
        (texDiffuse(st.alphaArg1, st.alphaArg2) || texDiffuse(st.alphaArg2, st.alphaArg1));
  }
  p->needSpecular = p->specularAdd;
  for (int i = 0; i < p->stageCount; ++i) {
    const Stage& st = p->stages[i];
    for (DWORD a : {st.colorArg1, st.colorArg2, st.alphaArg1, st.alphaArg2})
      if ((a & D3DTA_SELECTMASK) == D3DTA_SPECULAR) p->needSpecular = true;
  }
  p->blendSrcAlpha = p->srcBlend == D3DBLEND_SRCALPHA && p->dstBlend == D3DBLEND_INVSRCALPHA &&
                     p->blendOp == D3DBLENDOP_ADD;
  p->blendAdd = p->srcBlend == D3DBLEND_SRCALPHA && p->dstBlend == D3DBLEND_ONE &&
                p->blendOp == D3DBLENDOP_ADD;
  if (p->stageCount == 1 && !p->specularAdd) {
    const Stage& st = p->stages[0];
    auto diffuse = [](DWORD a) { return a == D3DTA_DIFFUSE || a == D3DTA_CURRENT; };
    auto selects = [&](DWORD op, DWORD a1, DWORD a2) {
      return (op == D3DTOP_SELECTARG1 && diffuse(a1)) || (op == D3DTOP_SELECTARG2 && diffuse(a2));
    };
    p->diffuseOnly =
        !st.textured && selects(st.colorOp, st.colorArg1, st.colorArg2) &&
        (st.alphaOp == D3DTOP_DISABLE || selects(st.alphaOp, st.alphaArg1, st.alphaArg2));
  }
  return true;
}

void ResolveSamplers(const DeviceState& s, Pipeline* p) {
  p->stageCount = 6;
  for (DWORD i = 0; i < 6; ++i) {
    const DWORD* ts = s.stageStates[i];
    Stage& st = p->stages[i];
    BindStageTexture(s.textures[i], &st);
    ReadSampling(ts, &st);
  }
  for (int c = 0; c < 8; ++c)
    for (int k = 0; k < 4; ++k) {
      // Constants hold -1..1 in these shaders.
      const float v = p->program.defined[c] ? p->program.constants[c][k] : s.pixelConstants[c][k];
      p->constants[c][k] = v == v ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
    }
}

}  // namespace raster

using namespace raster;

bool RasterizationEnabled() { return rasterizing.load(std::memory_order_relaxed); }

void DrawPrimitives(DeviceState& state, const DrawCall& call,
                    const std::vector<DWORD>* pixelShader) {
  Pipeline p;
  if (!Resolve(state, &p)) return;
  // Samplers of the target (a texture level) see it anew on the next draw.
  struct Written {
    Surface* target;
    ~Written() { target->ContentsChanged(); }
  } written{state.renderTarget};
  if (pixelShader && !pixelShader->empty() && pixelShader->front() == D3DPS_VERSION(1, 4) &&
      DecodePs14(pixelShader->data(), pixelShader->size(), &p.program)) {
    p.shaded = true;
    p.needSpecular = true;
    ResolveSamplers(state, &p);
  }
  // An alpha test passing alpha255 from a least value (the library's own
  // GREATEREQUAL test among them) is one comparison in the span loops.
  const bool alphaAtLeast = !p.alphaTest || p.alphaFunc == D3DCMP_ALWAYS ||
                            p.alphaFunc == D3DCMP_GREATER || p.alphaFunc == D3DCMP_GREATEREQUAL;
  if (p.alphaTest && p.alphaFunc == D3DCMP_GREATEREQUAL) p.alphaMin = p.alphaRef * 255;
  if (p.alphaTest && p.alphaFunc == D3DCMP_GREATER) p.alphaMin = p.alphaRef * 255 + 1;
  const bool spanState = FastPathsEnabled() && !p.shaded && alphaAtLeast && p.bpp == 4 &&
                         !p.stencil && (!p.depthTest || p.depthFunc == D3DCMP_LESSEQUAL);
  p.fast = spanState && p.modulateOnly && (!p.blend || p.blendSrcAlpha);
  p.affineState =
      spanState && (p.modulateOnly || p.diffuseOnly) && (!p.blend || p.blendSrcAlpha || p.blendAdd);
  if (p.fast) p.fastSpan = ChooseFastSpan(p);
  if (p.affineState) p.affineSpan = ChooseAffineSpan(p);
  VertexSource src;
  src.format = ParseFvf(state.vertexShader);
  if (!src.format.valid || call.vertexStride < src.format.size) return;
  src.stride = call.vertexStride;
  src.attrs = kColorAttrs + 2 * src.format.texSets;
  const bool up =
      call.kind == DrawCall::Kind::PrimitiveUP || call.kind == DrawCall::Kind::IndexedPrimitiveUP;
  const bool indexed = call.kind == DrawCall::Kind::IndexedPrimitive ||
                       call.kind == DrawCall::Kind::IndexedPrimitiveUP;
  uint64_t base = 0;
  if (up) {
    src.data = static_cast<const BYTE*>(call.vertexData);
    const uint64_t vertices =
        indexed ? uint64_t{call.minIndex} + call.vertexCount : call.vertexCount;
    src.limit = vertices == 0 ? 0 : (vertices - 1) * src.stride + src.format.size;
  } else {
    VertexBuffer* vb = state.streams[0].buffer;
    if (!vb || !vb->bytes()) return;
    src.data = vb->bytes();
    src.limit = vb->length();
    if (indexed) base = state.baseVertexIndex;
  }
  if (!src.data) return;
  const BYTE* indexData = nullptr;
  uint64_t indexLimit = 0;
  const UINT indexSize = call.indexFormat == D3DFMT_INDEX32 ? 4 : 2;
  if (indexed) {
    if (up) {
      indexData = static_cast<const BYTE*>(call.indexData);
      indexLimit = uint64_t{VertexCountOf(call.type, call.primitiveCount)} * indexSize;
    } else {
      IndexBuffer* ib = state.indices;
      if (!ib || !ib->bytes()) return;
      indexData = ib->bytes() + uint64_t{call.startIndex} * indexSize;
      indexLimit =
          ib->length() - std::min<uint64_t>(ib->length(), uint64_t{call.startIndex} * indexSize);
    }
    if (!indexData) return;
  }
  const DWORD* rs = state.renderStates;
  if (!src.format.rhw) {
    src.transform = Multiply(Multiply(state.transforms[D3DTS_WORLD], state.transforms[D3DTS_VIEW]),
                             state.transforms[D3DTS_PROJECTION]);
    Lighting& l = src.light;
    l.on = rs[D3DRS_LIGHTING] != FALSE;
    l.material = state.material;
    const bool vertexColor = rs[D3DRS_COLORVERTEX] != FALSE;
    l.ambientSource = vertexColor ? rs[D3DRS_AMBIENTMATERIALSOURCE] : DWORD{D3DMCS_MATERIAL};
    l.emissiveSource = vertexColor ? rs[D3DRS_EMISSIVEMATERIALSOURCE] : DWORD{D3DMCS_MATERIAL};
    l.diffuseSource = vertexColor ? rs[D3DRS_DIFFUSEMATERIALSOURCE] : DWORD{D3DMCS_MATERIAL};
    const DWORD amb = rs[D3DRS_AMBIENT];
    l.ambient[0] = static_cast<float>(Ch(amb, 16)) / 255.0f;
    l.ambient[1] = static_cast<float>(Ch(amb, 8)) / 255.0f;
    l.ambient[2] = static_cast<float>(Ch(amb, 0)) / 255.0f;
  }

  // The vertex index of the primitive's k-th vertex; false when unreadable.
  auto vertexIndex = [&](uint64_t k, uint64_t* out) {
    if (!indexed) {
      *out = uint64_t{call.startVertex} + k;
      return true;
    }
    if ((k + 1) * indexSize > indexLimit) return false;
    uint32_t idx = 0;
    if (indexSize == 4) {
      std::memcpy(&idx, indexData + k * 4, 4);
    } else {
      uint16_t s16;
      std::memcpy(&s16, indexData + k * 2, 2);
      idx = s16;
    }
    if (up && (idx < call.minIndex || idx >= uint64_t{call.minIndex} + call.vertexCount))
      return false;
    *out = base + idx;
    return true;
  };
  auto fetch = [&](uint64_t k, ClipVertex* v) {
    uint64_t index;
    return vertexIndex(k, &index) && FetchVertex(src, index, v);
  };

  Drawer drawer(p, src, src.format.rhw);
  // Triangles are kept for the worker pool, which decides from their area
  // whether to share them out, and which draws quads a row at a time.
  // The list is the drawing thread's, kept from draw to draw: a draw's list
  // (up to 11 MB) freshly allocated cost page faults every draw.
  static thread_local std::vector<DeferredTriangle> deferred;
  deferred.clear();
  const bool triangles = call.type == D3DPT_TRIANGLELIST || call.type == D3DPT_TRIANGLESTRIP ||
                         call.type == D3DPT_TRIANGLEFAN;
  // Kept triangles are drawn by the pool at most 32,768 at a time, so a huge
  // draw does not hold all of its triangles at once; on one thread, a few at
  // a time, while they are still in the cache.
  const size_t kMaxDeferred = SplitsDraws() ? size_t{1} << 15 : 64;
  if (triangles && FastPathsEnabled()) {
    deferred.reserve(std::min<size_t>(call.primitiveCount, kMaxDeferred + kMaxPolygon));
    drawer.Defer(&deferred);
  }
  const UINT count = call.primitiveCount;
  ClipVertex v[3];
  auto flatten = [&](int n) {
    if (!p.flat) return;
    for (int i = 1; i < n; ++i) std::memcpy(v[i].attr, v[0].attr, sizeof(float) * kColorAttrs);
  };
  switch (call.type) {
    case D3DPT_TRIANGLELIST:
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN:
      for (UINT i = 0; i < count; ++i) {
        uint64_t k[3];
        if (call.type == D3DPT_TRIANGLELIST) {
          k[0] = 3ull * i, k[1] = 3ull * i + 1, k[2] = 3ull * i + 2;
        } else if (call.type == D3DPT_TRIANGLEFAN) {
          k[0] = 0, k[1] = i + 1ull, k[2] = i + 2ull;
        } else if (i % 2 == 0) {
          k[0] = i, k[1] = i + 1ull, k[2] = i + 2ull;
        } else {
          k[0] = i + 1ull, k[1] = i, k[2] = i + 2ull;  // odd strip triangles keep the winding
        }
        if (!fetch(k[0], &v[0]) || !fetch(k[1], &v[1]) || !fetch(k[2], &v[2])) continue;
        // Flat shading takes the first vertex in order; for odd strip
        // triangles that is the one swapped into second place.
        if (p.flat && call.type == D3DPT_TRIANGLESTRIP && i % 2 == 1)
          std::memcpy(v[0].attr, v[1].attr, sizeof(float) * kColorAttrs);
        flatten(3);
        drawer.Primitive(v, 3);
        if (deferred.size() >= kMaxDeferred) {
          FlushTriangles(p, deferred, src.attrs);
          deferred.clear();
        }
      }
      FlushTriangles(p, deferred, src.attrs);
      break;
    case D3DPT_LINELIST:
    case D3DPT_LINESTRIP:
      for (UINT i = 0; i < count; ++i) {
        const uint64_t k0 = call.type == D3DPT_LINELIST ? 2ull * i : i;
        if (!fetch(k0, &v[0]) || !fetch(k0 + 1, &v[1])) continue;
        flatten(2);
        // Strips draw each shared vertex once: only the final segment may end
        // on its last pixel.
        drawer.SetLastPixel(p.lastPixel && (call.type == D3DPT_LINELIST || i + 1 == count));
        drawer.Primitive(v, 2);
      }
      break;
    case D3DPT_POINTLIST:
      for (UINT i = 0; i < count; ++i) {
        if (!fetch(i, &v[0])) continue;
        drawer.Primitive(v, 1);
      }
      break;
    default:
      break;
  }
}

}  // namespace vrt::d3d

namespace vrt {

void SetRasterization(bool on) { d3d::raster::rasterizing.store(on, std::memory_order_relaxed); }
void SetRasterFastPaths(bool on) { d3d::raster::fastPaths.store(on, std::memory_order_relaxed); }
bool Rasterization() { return d3d::RasterizationEnabled(); }

}  // namespace vrt
