#include "spectrum/spectrum_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace orv {

namespace {

// The shortest text that reads back as exactly the same double; non-numbers become 0, which the
// readers would refuse.
void Put(std::FILE* f, double v, const char* after) {
  std::fprintf(f, "%.17g%s", std::isfinite(v) ? v : 0.0, after);
}

}  // namespace

bool WriteSpectrumFile(const TSpectrum& s, const std::string& path, int type, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (type != 3 && type != 4) return fail("Error, a spectrum is written as type 3 or 4");
  const int last = std::min(s.a2, static_cast<int>(s.sp.size()) - 1);
  const int first = std::max(s.a1, 1);
  if (last < first) return fail("Error, the spectrum holds no channels");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "w"), std::fclose);
  if (!f) return fail("Cannot write " + path);
  std::fprintf(f.get(), "* %s: channels %d .. %d\n", s.fileName.empty() ? "spectrum" : s.fileName.c_str(),
               first, last);
  if (type == 3) {
    for (int ch = 1; ch <= last; ++ch)
      Put(f.get(), ch < first ? 0.0 : s.sp[ch], ch % 8 == 0 || ch == last ? "\n" : " ");
  } else {
    for (int ch = first; ch <= last; ++ch) {
      std::fprintf(f.get(), "%d ", ch);
      Put(f.get(), s.sp[ch], " ");
      Put(f.get(), s.err[ch], "\n");
    }
  }
  if (std::ferror(f.get()) || std::fflush(f.get()) != 0) return fail("Cannot write " + path);
  return true;
}

}  // namespace orv
