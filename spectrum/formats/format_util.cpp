#include "spectrum/formats/format_util.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace orv::formats {

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string_view WithoutBom(std::string_view text) {
  return text.substr(0, 3) == "\xEF\xBB\xBF" ? text.substr(3) : text;
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == Lower(prefix);
}

std::optional<double> ParseNumber(std::string_view token) {
  // Some exporters sign their positive numbers.
  if (token.size() > 1 && token[0] == '+' && token[1] != '-' && token[1] != '+') token.remove_prefix(1);
  if (token.empty()) return std::nullopt;
  double v = 0.0;
  const char* end = token.data() + token.size();
  auto [ptr, ec] = std::from_chars(token.data(), end, v);
  if (ptr != end) return std::nullopt;
  // A value beyond the double range is no count either; let the caller refuse it as not finite.
  if (ec == std::errc::result_out_of_range) return HUGE_VAL;
  if (ec != std::errc()) return std::nullopt;
  return v;
}

std::vector<std::string_view> Tokens(std::string_view line, std::string_view separators) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    i = line.find_first_not_of(separators, i);
    if (i == std::string_view::npos) break;
    std::size_t j = line.find_first_of(separators, i);
    if (j == std::string_view::npos) j = line.size();
    out.push_back(line.substr(i, j - i));
    i = j;
  }
  return out;
}

double EvaluatePolynomial(const std::vector<double>& c, double x) {
  double v = 0.0;
  for (auto it = c.rbegin(); it != c.rend(); ++it) v = v * x + *it;
  return v;
}

std::vector<double> ShiftPolynomial(const std::vector<double>& p, double shift) {
  // Horner's scheme on polynomials: q := q * (x + shift) + p_k from the highest k down.
  std::vector<double> q;
  for (auto it = p.rbegin(); it != p.rend(); ++it) {
    q.push_back(0.0);
    for (std::size_t j = q.size() - 1; j > 0; --j) q[j] = q[j - 1] + shift * q[j];
    q[0] = shift * q[0] + *it;
  }
  return q;
}

void TrimPolynomial(std::vector<double>& c) {
  while (!c.empty() && c.back() == 0.0) c.pop_back();
}

std::vector<double> FitPolynomial(const std::vector<double>& x, const std::vector<double>& y, int degree) {
  const std::size_t n = std::min(x.size(), y.size());
  degree = std::clamp(degree, 0, 2);
  if (n < static_cast<std::size_t>(degree) + 1) return {};
  // Centred and scaled abscissa keeps the normal equations well conditioned for channels in the
  // thousands.
  double lo = *std::min_element(x.begin(), x.begin() + n), hi = *std::max_element(x.begin(), x.begin() + n);
  const double mid = 0.5 * (lo + hi), half = hi > lo ? 0.5 * (hi - lo) : 1.0;
  const int m = degree + 1;
  std::array<std::array<double, 4>, 3> a{};
  for (std::size_t i = 0; i < n; ++i) {
    const double t = (x[i] - mid) / half;
    std::array<double, 3> pw{1.0, t, t * t};
    for (int r = 0; r < m; ++r) {
      for (int c = 0; c < m; ++c) a[r][c] += pw[r] * pw[c];
      a[r][3] += pw[r] * y[i];
    }
  }
  for (int col = 0; col < m; ++col) {
    int pivot = col;
    for (int r = col + 1; r < m; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (a[pivot][col] == 0.0) return {};
    std::swap(a[pivot], a[col]);
    for (int r = 0; r < m; ++r) {
      if (r == col) continue;
      const double f = a[r][col] / a[col][col];
      for (int c = col; c <= 3; ++c) a[r][c] -= f * a[col][c];
    }
  }
  std::vector<double> b(m);
  for (int k = 0; k < m; ++k) b[k] = a[k][3] / a[k][k] / std::pow(half, k);
  return ShiftPolynomial(b, -mid);
}

std::vector<double> FitCalibration(const std::vector<double>& x, const std::vector<double>& y) {
  const std::size_t n = std::min(x.size(), y.size());
  if (n < 2) return {};
  std::vector<double> line = FitPolynomial(x, y, 1);
  if (line.empty() || n == 2) return line;
  const auto [lo, hi] = std::minmax_element(y.begin(), y.begin() + n);
  const double tolerance = 1e-6 * std::max(*hi - *lo, 1e-300);
  bool straight = true;
  for (std::size_t i = 0; i < n && straight; ++i)
    straight = std::fabs(EvaluatePolynomial(line, x[i]) - y[i]) <= tolerance;
  if (straight) return line;
  std::vector<double> parabola = FitPolynomial(x, y, 2);
  return parabola.empty() ? line : parabola;
}

std::string FormatCount(double n) {
  char text[40];
  std::snprintf(text, sizeof text, "%.0f", n);
  return text;
}

std::string FileError(const TSpectrum& s, const std::string& what) {
  return "Error, " + (s.fileName.empty() ? std::string("spectrum file") : s.fileName) + ": " + what;
}

ReadOutcome Refusal(const TSpectrum& s, const std::string& what) {
  ReadOutcome r;
  r.messages.push_back(FileError(s, what));
  return r;
}

ReadOutcome StoreParsed(TSpectrum& s, ParsedSpectrum& p) {
  ReadOutcome r;
  const std::size_t n = p.counts.size();
  if (n == 0) {
    r.messages.push_back(FileError(s, "no spectrum data"));
    return r;
  }
  if (n > static_cast<std::size_t>(kSpectrumCapacity)) {
    r.messages.push_back(
        FileError(s, std::to_string(n) + " channels, more than " + std::to_string(kSpectrumCapacity)));
    return r;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const double v = p.counts[i];
    if (!std::isfinite(v) || v < 0.0 || v > kMaxCount) {
      char text[64];
      std::snprintf(text, sizeof text, "%g", v);
      r.messages.push_back(FileError(
          s, "count " + std::string(text) + " of channel " + std::to_string(i + 1) + " is not a count"));
      return r;
    }
  }
  SpectrumMeasurement& m = p.measurement;
  if (!std::isfinite(m.liveTime) || !std::isfinite(m.realTime) || m.liveTime < 0.0 || m.realTime < 0.0) {
    r.messages.push_back(FileError(s, "live or real time is not a time"));
    return r;
  }
  std::vector<double>& c = p.fileCoefficients;
  if (static_cast<int>(c.size()) > kMaxCoefficients) {
    r.messages.push_back(
        FileError(s, "energy calibration with " + std::to_string(c.size()) + " coefficients"));
    return r;
  }
  if (std::any_of(c.begin(), c.end(), [](double v) { return !std::isfinite(v); })) {
    r.messages.push_back(FileError(s, "energy calibration with a coefficient that is not a finite number"));
    return r;
  }
  TrimPolynomial(c);
  m.energyCoefficients.clear();
  if (!c.empty()) {
    // Our channel c is the file's channel firstFileChannel + c - 1.
    std::vector<double> ours = ShiftPolynomial(c, p.firstFileChannel - 1.0);
    TrimPolynomial(ours);
    // Interpolation and the inverse energy-to-channel need energies that rise with the channel.
    bool rising =
        ours.size() >= 2 && std::all_of(ours.begin(), ours.end(), [](double v) { return std::isfinite(v); });
    double previous = EvaluatePolynomial(ours, 1.0);
    for (int k = 1; k <= 64 && rising; ++k) {
      const double e = EvaluatePolynomial(ours, 1.0 + (static_cast<double>(n) - 1.0) * k / 64.0);
      rising = std::isfinite(e) && (n == 1 || e > previous);
      previous = e;
    }
    if (rising) {
      m.energyCoefficients = std::move(ours);
    } else {
      r.messages.push_back("Warning, " + s.fileName +
                           ": the energy calibration does not rise with the channel; it is not used");
    }
  }
  if (std::any_of(m.widthCoefficients.begin(), m.widthCoefficients.end(),
                  [](double v) { return !std::isfinite(v); }))
    m.widthCoefficients.clear();
  if (!m.widthCoefficients.empty())
    m.widthCoefficients = ShiftPolynomial(m.widthCoefficients, p.firstFileChannel - 1.0);

  const int last = static_cast<int>(n);
  for (int i = 1; i <= last; ++i) {
    const double v = p.counts[i - 1];
    s.sp[i] = v;
    s.err[i] = std::sqrt(std::max(1.0, v));
    s.x[i] = i;
  }
  s.a1 = 1;
  s.a2 = last;
  s.xFirst = 1.0;
  s.xLast = last;
  s.xStep = 1.0;
  s.channelOffset = 0.0;
  s.channelsPerX = 1.0;
  s.measurement = std::move(m);
  r.ok = true;
  return r;
}

std::string IsoDateTime(int year, int month, int day, int hour, int minute, double second) {
  if (year < 1900 || year > 2200 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || !(second >= 0.0 && second < 61.0))
    return "";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute,
                static_cast<int>(second));
  return text;
}

std::string MonthFirstDateTime(std::string_view text) {
  int mo = 0, d = 0, y = 0, h = 0, mi = 0;
  double sec = 0.0;
  const std::string t(Trim(text));
  if (std::sscanf(t.c_str(), "%d/%d/%d %d:%d:%lf", &mo, &d, &y, &h, &mi, &sec) >= 3) {
    std::string iso = IsoDateTime(y, mo, d, h, mi, sec);
    if (!iso.empty()) return iso;
  }
  return t;
}

}  // namespace orv::formats
