// Particle systems from arbitrary bytes: every argument of VekDrawParSys and
// the time taken from the input (any float, reversed ranges, huge counts of
// milliseconds, emitter paths and frame lists), emitting from an area or
// from a picture of each format the library reads. Checks: the call returns
// the count, queues at most one quad per particle, every vertex is finite
// and every item's clip lies in the target; the frame then draws.
#include <rask.h>

#include <vector>

#include "fuzz_support.h"
#include "pictures.h"

namespace {

HVEKDEVICE device = nullptr;
HVEKGRAPHICS surface = nullptr;
std::vector<HVEKIMAGE> emitters;  // one per picture format, and null

HVEKIMAGE MakeImage(const char* formatName, int w, int h) {
  vekpic::Format format;
  fuzz::Check(vekpic::ParseFormat(formatName, &format), "a known picture format");
  const std::vector<uint8_t> bytes = vekpic::Encode(format, w, h, vekpic::Pattern("tiles", w, h));
  HRASKFILE file =
      RaskCreateFileFromMemory(bytes.data(), static_cast<DWORD>(bytes.size()), nullptr);
  HVEKIMAGE image = VekCreateImage(file);
  RaskDestroyFile(file);
  fuzz::Check(image != nullptr, "an emitter picture loads");
  return image;
}

UINT Range(fuzz::Reader& in) { return in.U8() < 16 ? in.U32() : in.U16() % 300; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::QuietStdout();
  device = fuzz::OpenDevice("particle", false);  // only queued items are checked
  surface = VekOpenGraphics(device);
  fuzz::Check(surface != nullptr, "the window surface opens");
  emitters.push_back(nullptr);
  for (const char* format : {"png", "dds32", "dxt1", "dxt3", "dxt5", "jpeg", "bmp"})
    emitters.push_back(MakeImage(format, 12, 20));
  emitters.push_back(MakeImage("png", 3, 3));
  std::atexit([] {
    for (HVEKIMAGE image : emitters) VekDestroyImage(image);
    emitters.clear();
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  const float x = in.Coordinate(), y = in.Coordinate(), z = in.U8() < 16 ? in.AnyFloat() : 0.5f;
  // An emitter path of up to 8 keys.
  const UINT pathCount = in.U8() % 9;
  std::vector<VekPathPoint> path(pathCount);
  std::vector<LONGLONG> times(pathCount);
  for (UINT i = 0; i < pathCount; ++i) {
    path[i] = {in.Coordinate(), in.Coordinate(), in.U32()};
    times[i] = static_cast<LONGLONG>(in.U32()) | static_cast<LONGLONG>(in.I32() % 4) << 32;
  }
  const bool nullPath = in.U8() < 16;
  // Particle counts stay moderate: each costs time, not reach.
  const UINT count = in.U8() < 16 ? in.U16() % 2000 : in.U8();
  UINT period[2] = {Range(in), Range(in)}, visible[2] = {Range(in), Range(in)};
  float f[20];
  for (float& v : f) v = in.U8() < 24 ? in.AnyFloat() : static_cast<int8_t>(in.U8()) * 2.0f;
  const DWORD absolute = in.U8();
  const UINT areaW = Range(in), areaH = Range(in);
  HVEKIMAGE image = emitters[in.U8() % emitters.size()];
  float region[4];
  for (float& r : region) r = in.U8() < 24 ? in.AnyFloat() : in.U8() / 200.0f - 0.1f;
  const DWORD alphaFromImage = in.U8(), colourFromImage = in.U8();
  const UINT frameCount = in.U8() % 5;
  std::vector<VekParticleFrame> frames(frameCount);
  for (VekParticleFrame& fr : frames)
    fr = {in.AnyFloat(), in.AnyFloat(), in.AnyFloat(), in.AnyFloat()};
  const UINT frameMode = in.U8() % 6;
  HVEKTEXTURE texture =
      in.Bool() ? reinterpret_cast<HVEKTEXTURE>(emitters[1 + in.U8() % (emitters.size() - 1)])
                : nullptr;
  const DWORD align = in.U8();
  UINT start[12], end[12];
  for (UINT& v : start) v = Range(in);
  for (UINT& v : end) v = Range(in);
  const INT seedA = in.I32(), seedB = in.I32();
  const UINT timeLow = in.U32(), timeHigh = in.U8() < 32 ? in.U32() : 0;
  const DWORD flags = in.U32();

  const INT queued = VekDrawParSys(
      surface, x, y, z, nullPath ? nullptr : path.data(), nullPath ? nullptr : times.data(),
      pathCount, count, period[0], period[1], visible[0], visible[1], f[0], f[1], f[2], f[3], f[4],
      f[5], f[6], f[7], absolute, areaW, areaH, f[8], image, region[0], region[1], region[2],
      region[3], alphaFromImage, colourFromImage, f[9], f[10], f[11], f[12], f[13], texture,
      frames.empty() ? nullptr : frames.data(), frameCount, frameMode, align, start[0], start[1],
      start[2], start[3], start[4], start[5], start[6], start[7], start[8], start[9], start[10],
      start[11], f[14], f[15], end[0], end[1], end[2], end[3], end[4], end[5], end[6], end[7],
      end[8], end[9], end[10], end[11], f[16], f[17], seedA, seedB, timeLow, timeHigh, flags);
  fuzz::Check(queued == static_cast<INT>(count), "the call returns the count");
  size_t quads = 0;
  for (const PBuffer* list : {&surface->opaqueItems, &surface->translucentItems})
    for (DWORD i = 0; i < list->count; ++i)
      quads += static_cast<const DrawItem*>(list->entries[i])->count / 4;
  fuzz::Check(quads <= count, "at most one quad per particle");
  // Frame rectangles are the host's texture coordinates, passed on as given.
  bool finiteFrames = true;
  for (const VekParticleFrame& fr : frames)
    finiteFrames = finiteFrames && std::isfinite(fr.uLeft) && std::isfinite(fr.uRight) &&
                   std::isfinite(fr.vTop) && std::isfinite(fr.vBottom);
  fuzz::CheckQueued(surface, true, finiteFrames || !texture);
  VekBeginRender(surface);
  VekEndRender(surface);
  fuzz::Check(fuzz::QueuedCount(surface) == 0, "a frame leaves nothing queued");
  return 0;
}
