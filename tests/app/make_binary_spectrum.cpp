// Writes the binary spectrum files of the end-to-end tests, so that no test depends on a shell
// tool that can write arbitrary bytes.
//   make_binary_spectrum u16 PATH WORDS          unsigned 16-bit little-endian words
//   make_binary_spectrum i32-swapped PATH WORDS  signed 32-bit little-endian words, 16-bit halves exchanged
// The patterns, with j the 0-based word index:
//   u16: j + 1, except word 99 (channel 100) which is 65535, a value only unsigned reading keeps.
//   i32: 65536 * (j + 1) + 1, except word 2 (channel 3) which is -70000; both halves of every value
//        differ, so a reading that forgets to exchange them gives other numbers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void PutLittleEndian(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s u16|i32-swapped PATH WORDS\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1];
  const long words = std::strtol(argv[3], nullptr, 10);
  if (words < 0 || (kind != "u16" && kind != "i32-swapped")) {
    std::fprintf(stderr, "bad arguments\n");
    return 2;
  }
  std::vector<unsigned char> bytes;
  for (long j = 0; j < words; ++j) {
    if (kind == "u16") {
      PutLittleEndian(bytes, j == 99 ? 65535u : static_cast<std::uint32_t>(j + 1), 2);
    } else {
      std::int32_t v = j == 2 ? -70000 : static_cast<std::int32_t>(65536 * (j + 1) + 1);
      auto u = static_cast<std::uint32_t>(v);
      PutLittleEndian(bytes, (u << 16) | (u >> 16), 4);
    }
  }
  std::FILE* f = std::fopen(argv[2], "wb");
  if (!f) {
    std::perror(argv[2]);
    return 1;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok ? 0 : 1;
}
