// Writes the image fuzzer's seed corpus: one small picture of each format
// the library reads (DDS with DXT1, DXT3 and DXT5 blocks, uncompressed DDS,
// PNG, JPEG, BMP), in sizes that are and are not powers of two.
//
//   vek_fuzz_seeds DIRECTORY
#include <cstdio>
#include <string>
#include <vector>

#include "pictures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
    return 2;
  }
  const char* formats[] = {"dxt1", "dxt3", "dxt5", "dds32", "png", "jpeg", "bmp"};
  const int sizes[][2] = {{8, 8}, {12, 20}};
  int written = 0;
  for (const char* name : formats) {
    vekpic::Format format;
    if (!vekpic::ParseFormat(name, &format)) return 1;
    for (const auto& s : sizes) {
      const std::vector<uint8_t> bytes =
          vekpic::Encode(format, s[0], s[1], vekpic::Pattern("tiles", s[0], s[1]));
      if (bytes.empty()) return 1;
      const std::string path = std::string(argv[1]) + "/" + name + "-" + std::to_string(s[0]) +
                               "x" + std::to_string(s[1]);
      FILE* f = std::fopen(path.c_str(), "wb");
      if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        if (f) std::fclose(f);
        return 1;
      }
      std::fclose(f);
      ++written;
    }
  }
  std::printf("%d seed pictures in %s\n", written, argv[1]);
  return 0;
}
