#include "tests/support/line_kit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "analysis/marking_modes.h"
#include "analysis/spectrum_fit.h"
#include "core/numtext.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace orv::testing {
namespace {

const double kSigmaPerFwhm = 1 / (2 * std::sqrt(2 * std::log(2.0)));

double NormalCdf(double z) {
  return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

// Uniform in [lo, hi) and log-uniform in [lo, hi).
double Uniform(RandomGenerator& g, double lo, double hi) {
  return lo + (hi - lo) * RandomUniform(g);
}
double LogUniform(RandomGenerator& g, double lo, double hi) {
  return std::exp(Uniform(g, std::log(lo), std::log(hi)));
}

// Centre of group i of `groups` spread evenly over [lo, hi], jittered by up to ±15 % of the step.
double GroupCentre(RandomGenerator& g, int i, int groups, double lo, double hi) {
  const double step = (hi - lo) / groups;
  return lo + (i + 0.5) * step + Uniform(g, -0.15, 0.15) * step;
}

}  // namespace

double WidthLaw::At(double channel) const {
  if (kind == Kind::kLinear) return a + b * channel;
  return std::sqrt(std::max(a + b * channel, 1e-6));
}

WidthLaw WidthLaw::Linear(double c1, double w1, double c2, double w2) {
  WidthLaw w;
  w.kind = Kind::kLinear;
  w.b = (w2 - w1) / (c2 - c1);
  w.a = w1 - w.b * c1;
  return w;
}

WidthLaw WidthLaw::Sqrt(double c1, double w1, double c2, double w2) {
  WidthLaw w;
  w.kind = Kind::kSqrt;
  w.b = (w2 * w2 - w1 * w1) / (c2 - c1);
  w.a = w1 * w1 - w.b * c1;
  return w;
}

double LineSpectrum::ComptonEdge(int k) const {
  const double p = lines[k].position;
  const double alpha = continuum.kevPerChannel * p / 511;
  return p * 2 * alpha / (1 + 2 * alpha);
}

double LineSpectrum::LineCounts(int k, double channel) const {
  const double sigma = Fwhm(lines[k].position) * kSigmaPerFwhm;
  const double z = (channel - lines[k].position) / sigma;
  if (std::fabs(z) > 40) return 0;
  return lines[k].area / (sigma * std::sqrt(2 * M_PI)) * std::exp(-0.5 * z * z);
}

double LineSpectrum::ContinuumAt(double channel) const {
  const Continuum& c = continuum;
  double y = c.level + c.slope * channel;
  if (c.falling != 0) y += c.falling * std::exp(-channel / c.fallLength);
  for (int k = 0; k < static_cast<int>(lines.size()); ++k) {
    if (!(lines[k].comptonRatio > 0)) continue;
    const double edge = ComptonEdge(k);
    if (!(edge > 1)) continue;
    const double kev = continuum.kevPerChannel * lines[k].position;
    const double share = std::min(1.0, kev / 1000) * std::min(1.0, kev / 1000);
    const double h = lines[k].comptonRatio * share * lines[k].area / (0.75 * edge);
    const double s = 2 * Fwhm(edge) * kSigmaPerFwhm + 0.02 * edge;
    y += h * (0.5 + 0.5 * channel / edge) * NormalCdf((edge - channel) / s);
  }
  return std::max(y, 0.0);
}

double LineSpectrum::Expected(double channel) const {
  double y = ContinuumAt(channel);
  for (int k = 0; k < static_cast<int>(lines.size()); ++k) y += LineCounts(k, channel);
  return y;
}

double LineSpectrum::Window(int k, int& lo, int& hi) const {
  const double w = Fwhm(lines[k].position);
  lo = RoundHalfEven(lines[k].position - 1.5 * w);
  hi = RoundHalfEven(lines[k].position + 1.5 * w);
  return w;
}

double LineSpectrum::TrueCounts(int k) const {
  int lo = 0, hi = 0;
  Window(k, lo, hi);
  double n = 0;
  for (int ch = lo; ch <= hi; ++ch) n += LineCounts(k, ch);
  return n;
}

double LineSpectrum::UnderCounts(int k) const {
  int lo = 0, hi = 0;
  Window(k, lo, hi);
  double u = 0;
  for (int ch = lo; ch <= hi; ++ch) u += Expected(ch) - LineCounts(k, ch);
  return u;
}

double LineSpectrum::TrueCriterion(int k) const {
  const double n = TrueCounts(k), u = UnderCounts(k);
  return n / std::sqrt(n + 2 * u + 1);
}

RandomGenerator KitGenerator(std::uint32_t seed) {
  RandomGenerator g;
  g.Seed(static_cast<std::int32_t>(17 + 6271 * (seed % 200000)),
         static_cast<std::int32_t>(29 + 92821 * (seed % 9000)));
  return g;
}

void LoadLineSpectrum(Workspace& ws, const LineSpectrum& spectrum, RandomGenerator* noise,
                      bool giveWidthLaw) {
  TSpectrum& s = ws.spectrum;
  StoreRawCounts(
      s, spectrum.channels, [&](int ch) { return spectrum.Expected(ch); }, noise);
  SetInterval(ws.state, s, spectrum.FirstChannel(), std::min(spectrum.LastChannel(), s.a2));
  ClearSpectrumCounters(ws.state);
  if (giveWidthLaw) {
    s.width1 = spectrum.Fwhm(s.a1);
    s.width2 = spectrum.Fwhm(s.a2);
    s.deltaWidth = spectrum.deltaWidth;
  }
  SetWidthLaw(ws.state, s);
  ws.state.covar = 0;
  s.SetErrors(ws.state.covar);
}

bool MarkAndFit(Workspace& ws, std::vector<std::string>* messages) {
  FakePort port;
  port.fallback = [](DialogRequest&) { return true; };
  ws.state.markingMode = 0;
  bool ok = MarkSpectrum(ws, port) && ws.marking.peakCount > 0 && SpectrumFit(ws, port, 0, nullptr);
  ws.engine.port = nullptr;  // the port dies here
  if (messages) {
    messages->insert(messages->end(), port.messages.begin(), port.messages.end());
    messages->insert(messages->end(), port.statuses.begin(), port.statuses.end());
  }
  return ok;
}

std::vector<FittedPeak> LatestResults(const Workspace& ws) {
  std::vector<FittedPeak> peaks;
  for (int k = ws.results.resultBase + 1; k <= ws.state.resultCount; ++k)
    peaks.push_back({ws.results[k].channel, ws.results[k].criterion});
  return peaks;
}

MatchTally& MatchTally::operator+=(const MatchTally& o) {
  lines += o.lines;
  found += o.found;
  significant += o.significant;
  foundSignificant += o.foundSignificant;
  isolatedStrong += o.isolatedStrong;
  foundIsolatedStrong += o.foundIsolatedStrong;
  peaks += o.peaks;
  reported += o.reported;
  falseReported += o.falseReported;
  channels += o.channels;
  return *this;
}

double MatchTally::FoundShare() const {
  return lines > 0 ? static_cast<double>(found) / lines : 1.0;
}
double MatchTally::SignificantShare() const {
  return significant > 0 ? static_cast<double>(foundSignificant) / significant : 1.0;
}
double MatchTally::IsolatedStrongShare() const {
  return isolatedStrong > 0 ? static_cast<double>(foundIsolatedStrong) / isolatedStrong : 1.0;
}
double MatchTally::FalsePer1000() const {
  return channels > 0 ? 1000.0 * falseReported / channels : 0.0;
}

std::string MatchTally::Summary() const {
  char text[256];
  std::snprintf(text, sizeof text,
                "lines %d found %.1f %%; criterion>3: %d found %.1f %%; isolated>5: %d found %.2f %%; "
                "peaks %d reported %d false %d (%.2f per 1000 ch)",
                lines, 100 * FoundShare(), significant, 100 * SignificantShare(), isolatedStrong,
                100 * IsolatedStrongShare(), peaks, reported, falseReported, FalsePer1000());
  return text;
}

MatchResult Match(const LineSpectrum& spectrum, const std::vector<FittedPeak>& peaks) {
  MatchResult r;
  const int first = spectrum.FirstChannel(), last = std::min(spectrum.LastChannel(), spectrum.channels);
  const int nl = static_cast<int>(spectrum.lines.size()), np = static_cast<int>(peaks.size());
  r.lineToPeak.assign(nl, -1);
  r.peakToLine.assign(np, -1);
  auto inside = [&](double c) { return c >= first && c <= last; };
  auto near = [&](int l, int p) {
    const double tolerance = std::max(1.0, 0.5 * spectrum.Fwhm(spectrum.lines[l].position));
    return std::fabs(peaks[p].channel - spectrum.lines[l].position) <= tolerance;
  };
  // Maximum one-to-one matching (augmenting paths), so that the found count does not depend on order.
  std::vector<char> visited(np);
  std::function<bool(int)> augment = [&](int l) {
    for (int p = 0; p < np; ++p) {
      if (visited[p] || !inside(peaks[p].channel) || !near(l, p)) continue;
      visited[p] = 1;
      if (r.peakToLine[p] < 0 || augment(r.peakToLine[p])) {
        r.peakToLine[p] = l;
        r.lineToPeak[l] = p;
        return true;
      }
    }
    return false;
  };
  for (int l = 0; l < nl; ++l) {
    if (!inside(spectrum.lines[l].position)) continue;
    std::fill(visited.begin(), visited.end(), 0);
    augment(l);
  }
  // Lines closer than 0.5 FWHM may share the peak of a neighbour.
  for (int l = 0; l < nl; ++l) {
    if (r.lineToPeak[l] >= 0 || !inside(spectrum.lines[l].position)) continue;
    const double half = 0.5 * spectrum.Fwhm(spectrum.lines[l].position);
    for (int m = 0; m < nl && r.lineToPeak[l] < 0; ++m) {
      const int p = r.lineToPeak[m];
      if (m == l || p < 0 || r.peakToLine[p] != m) continue;
      if (std::fabs(spectrum.lines[m].position - spectrum.lines[l].position) < half && near(l, p))
        r.lineToPeak[l] = p;
    }
  }
  MatchTally& t = r.tally;
  t.channels = last - first + 1;
  for (int l = 0; l < nl; ++l) {
    const double position = spectrum.lines[l].position;
    if (!inside(position)) continue;
    const double w = spectrum.Fwhm(position);
    bool isolated = true;
    for (int m = 0; m < nl; ++m)
      if (m != l && std::fabs(spectrum.lines[m].position - position) < 3 * w) isolated = false;
    const double criterion = spectrum.TrueCriterion(l);
    const bool found = r.lineToPeak[l] >= 0;
    ++t.lines;
    t.found += found;
    if (criterion > 3) {
      ++t.significant;
      t.foundSignificant += found;
    }
    if (isolated && criterion > 5) {
      ++t.isolatedStrong;
      t.foundIsolatedStrong += found;
    }
  }
  for (int p = 0; p < np; ++p) {
    if (!inside(peaks[p].channel)) continue;
    ++t.peaks;
    if (!(peaks[p].criterion > 3)) continue;
    ++t.reported;
    t.falseReported += r.peakToLine[p] < 0;
  }
  return r;
}

double AreaForCriterion(double criterion, double level, double fwhm) {
  const double under = level * (2 * std::round(1.5 * fwhm) + 1);
  const double c2 = criterion * criterion;
  // N² = c²(N + 2U + 1), the positive root; ±1.5 FWHM holds 99.96 % of a Gaussian.
  const double n = (c2 + std::sqrt(c2 * c2 + 4 * c2 * (2 * under + 1))) / 2;
  return n / 0.9996;
}

LineSpectrum IsolatedLinesCase(std::uint32_t seed) {
  RandomGenerator g = KitGenerator(1000 + seed);
  LineSpectrum s;
  s.name = "isolated";
  s.channels = 4096;
  s.width = WidthLaw::Linear(1, 3.0, 4096, 5.0);
  s.continuum = {20, 0, 300, 1200, 0.5};
  const int groups = 24;
  for (int i = 0; i < groups; ++i)
    s.lines.push_back({GroupCentre(g, i, groups, 100, 4000), LogUniform(g, 1e3, 1e5), 2});
  return s;
}

LineSpectrum DoubletsCase(std::uint32_t seed) {
  return DoubletsCase(seed, 0.7);
}

LineSpectrum DoubletsCase(std::uint32_t seed, double closest) {
  RandomGenerator g = KitGenerator(2000 + seed);
  LineSpectrum s;
  s.name = "doublets";
  s.channels = 4096;
  s.width = WidthLaw::Linear(1, 3.5, 4096, 4.5);
  s.continuum = {100, 0, 200, 1500, 0.5};
  const double separations[] = {0.7, 0.8, 1.0, 1.25, 1.5, 2.0};
  const double ratios[] = {1, 0.5, 0.2};
  struct Group {
    std::vector<double> offsets, ratios;  // in FWHM, relative to the first line
  };
  std::vector<Group> groups;
  for (double d : separations) {
    if (d < closest - 1e-9) continue;
    for (double q : ratios) groups.push_back({{0, d}, {1, q}});
  }
  groups.push_back({{0, 1.0, 2.0}, {1, 0.5, 1}});
  groups.push_back({{0, 1.2, 2.4}, {0.5, 1, 0.5}});
  groups.push_back({{0, 1.5, 3.0}, {1, 1, 0.2}});
  groups.push_back({{0, 2.0, 4.0}, {0.2, 1, 0.5}});
  const int n = static_cast<int>(groups.size());
  for (int i = 0; i < n; ++i) {
    const double centre = GroupCentre(g, i, n, 100, 4000);
    const double w = s.width.At(centre);
    const double area = LogUniform(g, 1e4, 1e5);
    const bool mirrored = RandomUniform(g) < 0.5;  // the weaker partner on either side
    for (std::size_t j = 0; j < groups[i].offsets.size(); ++j) {
      const double offset = groups[i].offsets[j] * w * (mirrored ? -1 : 1);
      s.lines.push_back({centre + offset, area * groups[i].ratios[j], 0});
    }
  }
  std::sort(s.lines.begin(), s.lines.end(),
            [](const KitLine& x, const KitLine& y) { return x.position < y.position; });
  return s;
}

LineSpectrum WeakLinesCase(std::uint32_t seed) {
  RandomGenerator g = KitGenerator(3000 + seed);
  LineSpectrum s;
  s.name = "weak";
  s.channels = 4096;
  s.width = WidthLaw::Linear(1, 3.5, 4096, 4.5);
  s.continuum = {280, -60.0 / 4096, 0, 1000, 0.5};
  const int groups = 30;
  for (int i = 0; i < groups; ++i) {
    const double p = GroupCentre(g, i, groups, 100, 4000);
    const double level = s.continuum.level + s.continuum.slope * p;
    s.lines.push_back({p, AreaForCriterion(Uniform(g, 2, 10), level, s.width.At(p)), 0});
  }
  return s;
}

LineSpectrum HighBackgroundCase(std::uint32_t seed) {
  RandomGenerator g = KitGenerator(4000 + seed);
  LineSpectrum s;
  s.name = "high background";
  s.channels = 4096;
  s.width = WidthLaw::Linear(1, 3.5, 4096, 5.0);
  s.continuum = {4e4, -3e4 / 4096, 0, 1000, 0.5};
  const int groups = 24;
  for (int i = 0; i < groups; ++i) {
    const double p = GroupCentre(g, i, groups, 100, 4000);
    const double level = s.continuum.level + s.continuum.slope * p;
    s.lines.push_back({p, AreaForCriterion(LogUniform(g, 3, 60), level, s.width.At(p)), 0});
  }
  return s;
}

LineSpectrum WideRangeCase(std::uint32_t seed) {
  RandomGenerator g = KitGenerator(5000 + seed);
  LineSpectrum s;
  s.name = "wide range";
  s.channels = 4096;
  s.width = WidthLaw::Linear(1, 3.0, 4096, 5.0);
  s.continuum = {50, 0, 500, 1500, 0.5};
  const int groups = 12;
  for (int i = 0; i < groups; ++i) {
    const double p = GroupCentre(g, i, groups, 100, 4000);
    const double w = s.width.At(p);
    s.lines.push_back({p, LogUniform(g, 1e5, 1e6), 1});
    const double side = RandomUniform(g) < 0.5 ? -1 : 1;
    s.lines.push_back({p + side * Uniform(g, 3, 6) * w, LogUniform(g, 100, 1e3), 0});
    // A free line of any size between the groups.
    s.lines.push_back({p + 0.5 * (3900.0 / groups), LogUniform(g, 100, 1e4), 0});
  }
  std::sort(s.lines.begin(), s.lines.end(),
            [](const KitLine& x, const KitLine& y) { return x.position < y.position; });
  return s;
}

LineSpectrum LowCountsCase(std::uint32_t seed) {
  RandomGenerator g = KitGenerator(6000 + seed);
  LineSpectrum s;
  s.name = "low counts";
  s.channels = 4096;
  s.width = WidthLaw::Linear(1, 3.0, 4096, 5.0);
  s.continuum = {3, -2.0 / 4096, 0, 1000, 0.5};
  const int groups = 30;
  for (int i = 0; i < groups; ++i)
    s.lines.push_back({GroupCentre(g, i, groups, 100, 4000), LogUniform(g, 15, 400), 0});
  return s;
}

LineSpectrum LongSpectrumCase(std::uint32_t seed) {
  RandomGenerator g = KitGenerator(7000 + seed);
  LineSpectrum s;
  s.name = "16k";
  s.channels = 16384;
  s.width = WidthLaw::Linear(1, 2.5, 16384, 6.0);
  s.continuum = {10, 0, 500, 4000, 0.2};
  const int groups = 70;  // 60 singles, 8 doublets (groups 4, 12, ..., 60), 2 triplets (30, 66)
  for (int i = 0; i < groups; ++i) {
    const double p = GroupCentre(g, i, groups, 150, 16200);
    const double w = s.width.At(p);
    const double area = LogUniform(g, 1e3, 1e5);
    if (i == 30 || i == 66) {
      const double d = Uniform(g, 1.2, 2) * w;
      s.lines.push_back({p - d, area * Uniform(g, 0.3, 1), 0});
      s.lines.push_back({p, area, 2});
      s.lines.push_back({p + d, area * Uniform(g, 0.3, 1), 0});
    } else if (i % 8 == 4 && i <= 60) {
      s.lines.push_back({p, area, 2});
      s.lines.push_back({p + Uniform(g, 1, 2) * w, area * Uniform(g, 0.3, 1), 0});
    } else {
      s.lines.push_back({p, area, 2});
    }
  }
  return s;
}

LineSpectrum XRayCase(std::uint32_t seed) {
  RandomGenerator g = KitGenerator(8000 + seed);
  LineSpectrum s;
  s.name = "x-ray";
  s.channels = 4096;
  s.width = WidthLaw::Sqrt(1, 8, 4096, 20);
  s.deltaWidth = 2;  // the linear law through the ends departs from the square root by up to 1.3
  s.continuum = {30, 0, 300, 1500, 0.5};
  const int groups = 14;
  for (int i = 0; i < groups; ++i)
    s.lines.push_back({GroupCentre(g, i, groups, 150, 3950), LogUniform(g, 2e3, 2e5), 0});
  return s;
}

LineSpectrum FlatCase(double level, int channels) {
  LineSpectrum s;
  s.name = "flat " + std::to_string(static_cast<long long>(level));
  s.channels = channels;
  s.width = WidthLaw::Linear(1, 3.0, channels, 5.0);
  s.continuum = {level, 0, 0, 1000, 0.5};
  return s;
}

}  // namespace orv::testing
