#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "core/numtext.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  int accepted = 1;
  double v = orv::ReadNumber(text, accepted);
  if (!std::isfinite(v)) std::abort();  // a typed number never brings NaN or infinity in
  if (accepted) {
    // What FormatNumber writes, ReadNumber reads back.
    std::string f = orv::FormatNumber(24, 6, v);
    if (f.find('*') == std::string::npos) {
      int ok = 1;
      double back = orv::ReadNumber(f, ok);
      if (!ok || std::fabs(back - v) > 1e-6 * (1 + std::fabs(v))) std::abort();
    }
    orv::FormatNumberCompact(10, v);
  }
  std::vector<double> numbers;
  orv::ParseNumberList(text, numbers);
  for (double n : numbers)
    if (!std::isfinite(n)) std::abort();
  std::istringstream in(text);
  orv::NumberStream stream(in);
  std::vector<double> values(8);
  while (stream.Read(values, 1, 7) > 0) {
  }
  return 0;
}
