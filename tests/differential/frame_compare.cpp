// Compares two frame files written by the scene host: the same frames, in
// the same order and sizes, with no channel differing by more than the
// tolerance, apart from at most ALLOWED pixels per frame (default 0: a scene
// names pixels it expects to differ, such as line ends Wine never draws).
// Prints one line per frame and exits non-zero on a mismatch.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Frame {
  std::string name;
  unsigned width = 0, height = 0;
  std::vector<unsigned char> pixels;
};

bool ReadFrames(const char* path, std::vector<Frame>* frames) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string word;
  while (in >> word) {
    if (word != "frame") return false;
    Frame f;
    if (!(in >> f.name >> f.width >> f.height) || f.width > 16384 || f.height > 16384) return false;
    in.get();  // the line feed
    f.pixels.resize(static_cast<size_t>(f.width) * f.height * 4);
    if (!in.read(reinterpret_cast<char*>(f.pixels.data()),
                 static_cast<std::streamsize>(f.pixels.size())))
      return false;
    frames->push_back(std::move(f));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s A B TOLERANCE [ALLOWED]\n", argv[0]);
    return 2;
  }
  std::vector<Frame> a, b;
  if (!ReadFrames(argv[1], &a) || !ReadFrames(argv[2], &b)) {
    std::fprintf(stderr, "unreadable frame file\n");
    return 2;
  }
  const int tolerance = std::atoi(argv[3]);
  const long allowed = argc == 5 ? std::atol(argv[4]) : 0;
  if (a.size() != b.size() || a.empty()) {
    std::printf("frame counts differ: %zu and %zu\n", a.size(), b.size());
    return 1;
  }
  int failures = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].width != b[i].width || a[i].height != b[i].height) {
      std::printf("frame %zu: %s %ux%u against %s %ux%u\n", i, a[i].name.c_str(), a[i].width,
                  a[i].height, b[i].name.c_str(), b[i].width, b[i].height);
      ++failures;
      continue;
    }
    int worst = 0;
    size_t worstAt = 0, over = 0, pixelsOver = 0;
    for (size_t p = 0; p < a[i].pixels.size(); p += 4) {
      bool pixelOver = false;
      for (size_t c = p; c < p + 4; ++c) {
        const int d = std::abs(a[i].pixels[c] - b[i].pixels[c]);
        if (d > tolerance) {
          ++over;
          pixelOver = true;
        }
        if (d > worst) {
          worst = d;
          worstAt = p / 4;
        }
      }
      if (pixelOver) ++pixelsOver;
    }
    std::printf("frame %s %ux%u: largest channel difference %d", a[i].name.c_str(), a[i].width,
                a[i].height, worst);
    if (over) {
      std::printf(" (%zu channels of %zu pixels over %d, worst at %zu,%zu)", over, pixelsOver,
                  tolerance, worstAt % a[i].width, worstAt / a[i].width);
      if (static_cast<long>(pixelsOver) > allowed) {
        ++failures;
      } else {
        std::printf(", %ld pixels allowed", allowed);
      }
    }
    std::printf("\n");
  }
  return failures ? 1 : 0;
}
