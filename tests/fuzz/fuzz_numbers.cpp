#include <cmath>
#include <sstream>
#include <vector>

#include "core/numtext.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = orv::Text(data, size);
  int accepted = 1;
  double v = orv::ReadNumber(text, accepted);
  orv::Check(std::isfinite(v));  // a typed number never brings NaN or infinity in
  if (accepted) {
    // What FormatNumber writes, ReadNumber reads back.
    std::string f = orv::FormatNumber(24, 6, v);
    if (f.find('*') == std::string::npos) {
      int ok = 1;
      double back = orv::ReadNumber(f, ok);
      orv::Check(ok && std::fabs(back - v) <= 1e-6 * (1 + std::fabs(v)));
    }
    orv::FormatNumberCompact(10, v);
  }
  std::vector<double> numbers;
  orv::ParseNumberList(text, numbers);
  for (double n : numbers) orv::Check(std::isfinite(n));
  std::istringstream in(text);
  orv::NumberStream stream(in);
  std::vector<double> values(8);
  while (stream.Read(values, 1, 7) > 0) {
  }
  return 0;
}
