#include "analysis/automatic/width_law.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "analysis/interval_fit.h"
#include "analysis/workspace.h"
#include "core/numeric.h"

namespace orv {

double WidthLaw::At(double channel) const {
  return std::sqrt(std::max(Square(channel), 0.25));
}

double WidthLaw::Slope(double channel) const {
  return Square(channel) > 0.25 ? (b + 2 * q * channel) / (2 * At(channel)) : 0.0;
}

double WidthLaw::DeltaAt(double channel) const {
  return delta >= 0 ? delta : std::max(3 * scatter, 0.1 * At(channel));
}

WidthLaw LawThroughWidths(double width1, double width2, int first, int last) {
  WidthLaw law;
  const double span = std::max(1, last - first);
  law.b = (width2 * width2 - width1 * width1) / span;
  law.a = width1 * width1 - law.b * first;
  return law;
}

std::string WidthLawLine(const WidthLaw& law) {
  char text[256];
  std::snprintf(text, sizeof text, "Width law FWHM(chan)= sqrt(a + b*chan): a= %.6g b= %.6g scatter= %.3g",
                law.a, law.b, law.scatter);
  std::string line = text;
  if (law.lines > 0) {
    line += " (" + std::to_string(law.lines) + " of " + std::to_string(law.measured) + " clear lines";
    if (law.q != 0) {
      std::snprintf(text, sizeof text, "; with q*chan^2 under the root, q= %.4g", law.q);
      line += text;
    }
    if (!law.note.empty()) line += "; " + law.note;
    line += ")";
  } else if (!law.note.empty())
    line += " (" + law.note + ")";
  return line;
}

namespace {

double Median(std::vector<double>& v) {
  if (v.empty()) return 0;
  const std::size_t mid = v.size() / 2;
  std::nth_element(v.begin(), v.begin() + mid, v.end());
  return v[mid];
}

// Median relative deviation of the widths from the law (a, b); infinite where the law is not a width.
double MedianDeviation(const std::vector<WidthPoint>& p, double a, double b, std::vector<double>& work) {
  work.clear();
  for (const WidthPoint& q : p) {
    const double square = a + b * q.channel;
    if (!(square > 0)) return INFINITY;
    work.push_back(std::fabs(q.width - std::sqrt(square)) / q.width);
  }
  return Median(work);
}

}  // namespace

namespace {
// The relative error a fitted width has beyond its statistical one (the background under the line,
// its sampling by the channels), allowed for when lines are judged outliers: without it, a few very
// precise lines reject each other and the law rests on a narrow stretch of the spectrum, from which it
// extrapolates badly. Doublets widen a line by far more.
constexpr double kSystematic = 0.01;
}  // namespace

WidthLaw FitWidthLaw(std::vector<WidthPoint>& points) {
  WidthLaw law;
  law.measured = static_cast<int>(points.size());
  for (WidthPoint& q : points) q.kept = false;
  const int n = law.measured;
  if (n < 3) return law;
  // Least median of squares: the law through every pair of lines (and every constant one) that the
  // most lines lie close to. Up to half of the lines may be doublets, escape or natural-width lines.
  std::vector<double> work;
  double best = INFINITY;
  for (int i = 0; i < n; ++i) {
    const double wi2 = points[i].width * points[i].width;
    double d = MedianDeviation(points, wi2, 0, work);
    if (d < best) best = d, law.a = wi2, law.b = 0;
    for (int j = i + 1; j < n; ++j) {
      const double dc = points[j].channel - points[i].channel;
      if (std::fabs(dc) < 1) continue;
      const double b = (points[j].width * points[j].width - wi2) / dc;
      const double a = wi2 - b * points[i].channel;
      d = MedianDeviation(points, a, b, work);
      if (d < best) best = d, law.a = a, law.b = b;
    }
  }
  // Then a weighted fit of FWHM² through the lines within 3 of their expected deviation from the law,
  // the expected deviation being each width's own error and the scatter of the lines about the law.
  int kept = 0;
  for (int round = 0; round < 8; ++round) {
    work.clear();
    for (const WidthPoint& q : points)
      work.push_back(std::fabs(q.width - law.At(q.channel)) / law.At(q.channel));
    const double relative = 1.4826 * Median(work);
    // Normal equations of FWHM² in 1, c, c² (channels scaled to keep them well conditioned).
    Eigen::Matrix3d m = Eigen::Matrix3d::Zero();
    Eigen::Vector3d v = Eigen::Vector3d::Zero();
    double yy = 0;
    kept = 0;
    double low = INFINITY, high = -INFINITY;
    for (WidthPoint& q : points) {
      const double w = law.At(q.channel);
      const double spread = std::sqrt(q.error * q.error + relative * relative * w * w);
      q.kept = std::fabs(q.width - w) <= 3 * std::hypot(spread, kSystematic * w);
      if (!q.kept) continue;
      ++kept;
      low = std::min(low, q.channel);
      high = std::max(high, q.channel);
      const double weight = 1 / (4 * w * w * std::max(spread * spread, 1e-6 * w * w));
      const double t = q.channel * 1e-3, y = q.width * q.width;
      const Eigen::Vector3d basis(1, t, t * t);
      m += weight * basis * basis.transpose();
      v += weight * y * basis;
      yy += weight * y * y;
    }
    if (kept < 3) break;
    const Eigen::Vector2d two = m.topLeftCorner<2, 2>().ldlt().solve(v.head<2>());
    if (!two.allFinite() || std::fabs(m(0, 0) * m(1, 1) - m(0, 1) * m(0, 1)) < 1e-12 * m(0, 0) * m(1, 1)) {
      law.a = v(0) / m(0, 0), law.b = 0, law.q = 0;
      continue;
    }
    law.a = two(0), law.b = two(1) * 1e-3, law.q = 0;
    // The c² term only when enough lines over a wide stretch ask for it (F-test at 5 %).
    if (kept >= 6 && high - low > 0.3 * std::max(high, 1.0)) {
      const Eigen::Vector3d three = m.ldlt().solve(v);
      const double rest2 = yy - two.dot(v.head<2>()), rest3 = yy - three.dot(v);
      if (three.allFinite() && three(2) > 0 && rest2 - rest3 > 3.84 * rest3 / (kept - 3)) {
        law.a = three(0), law.b = three(1) * 1e-3, law.q = three(2) * 1e-6;
      }
    }
  }
  if (kept < 3) {
    for (WidthPoint& q : points) q.kept = false;
    law.lines = 0;
    return law;
  }
  double sum = 0;
  for (const WidthPoint& q : points)
    if (q.kept) sum += (q.width - law.At(q.channel)) * (q.width - law.At(q.channel));
  law.scatter = std::sqrt(sum / kept);
  law.lines = kept;
  return law;
}

namespace {

struct Hump {
  int top = 0;
  int left = 0, right = 0;  // its valleys
  double width = 0;         // FWHM estimate, channels
  double significance = 0;  // net counts over their error within ±1.5 widths
};

// Variance (channels²) the two binomial smoothing passes add to a line: FWHM² grows by 8 ln 2 times it.
constexpr double kSmoothingWidth2 = 8 * 0.6931471805599453 * 1.0;
// A line is clear when its counts stand this many errors above what lies under it.
constexpr double kClearSignificance = 12;
// The largest χ² per degree of freedom of a clear line's fit; below kCleanMisfit it fits the shape
// well, and kEnoughClean such lines make the law alone.
constexpr double kClearMisfit = 10;
constexpr double kCleanMisfit = 4;
constexpr int kEnoughClean = 5;
// Valleys are looked for at most this far from a top.
constexpr int kMaxReach = 160;

}  // namespace

std::vector<WidthPoint> MeasureClearLines(Workspace& ws, int first, int last, int maxLines) {
  TSpectrum& s = ws.spectrum;
  std::vector<WidthPoint> out;
  first = std::max(first, s.a1);
  last = std::min({last, s.a2, static_cast<int>(s.sp.size()) - 1});
  const int n = last - first + 1;
  if (n < 24) return out;
  // A lightly smoothed copy (two binomial passes) so that a top is not a single noisy channel.
  std::vector<double> raw(n), z(n), t(n);
  for (int i = 0; i < n; ++i) raw[i] = std::max(s.CountAt(first + i), 0.0);
  z = raw;
  for (int pass = 0; pass < 2; ++pass) {
    t = z;
    for (int i = 1; i + 1 < n; ++i) z[i] = 0.25 * t[i - 1] + 0.5 * t[i] + 0.25 * t[i + 1];
  }

  std::vector<Hump> humps;
  for (int m = 2; m + 2 < n; ++m) {
    if (!(z[m] > z[m - 1] && z[m] >= z[m + 1] && z[m] >= z[m - 2] && z[m] >= z[m + 2])) continue;
    // Walk down each side to the valley; a higher count on the way means m is not its hump's top.
    auto valley = [&](int step) {
      int i = m, low = m;
      while (std::abs(i - m) < kMaxReach && i + step >= 0 && i + step < n) {
        i += step;
        if (z[i] > z[m]) return -1;
        if (z[i] < z[low])
          low = i;
        else if (z[i] > z[low] + 2 * std::sqrt(z[low] + 1) + 1)
          break;
      }
      return low;
    };
    const int L = valley(-1), R = valley(+1);
    if (L < 0 || R < 0 || m - L < 2 || R - m < 2) continue;
    auto base = [&](double i) { return z[L] + (z[R] - z[L]) * (i - L) / (R - L); };
    const double height = z[m] - base(m);
    if (!(height > 0)) continue;
    // Half-height crossings, each before its valley.
    auto crossing = [&](int step) -> double {
      for (int i = m; i + step >= L && i + step <= R; i += step) {
        const int j = i + step;
        const double hj = z[j] - base(j), hi = z[i] - base(i);
        if (hj < height / 2) return i + step * (hi - height / 2) / std::max(hi - hj, 1e-12);
      }
      return NAN;
    };
    const double left = crossing(-1), right = crossing(+1);
    if (!std::isfinite(left) || !std::isfinite(right)) continue;
    const double smoothedWidth = right - left;
    const double width = std::sqrt(std::max(smoothedWidth * smoothedWidth - kSmoothingWidth2, 0.25));
    const int lo = std::max(L, static_cast<int>(std::lround(m - 1.5 * width)));
    const int hi = std::min(R, static_cast<int>(std::lround(m + 1.5 * width)));
    double net = 0, under = 0;
    for (int i = lo; i <= hi; ++i) {
      const double b = std::max(base(i), 0.0);
      net += raw[i] - b;
      under += b;
    }
    humps.push_back({m, L, R, width, net / std::sqrt(std::fabs(net) + 2 * under + 1)});
  }

  // The clear ones, clearest first.
  std::vector<int> clear;
  for (int k = 0; k < static_cast<int>(humps.size()); ++k)
    if (humps[k].significance >= kClearSignificance) clear.push_back(k);
  std::sort(clear.begin(), clear.end(),
            [&](int x, int y) { return humps[x].significance > humps[y].significance; });

  // Each with the tops standing out near it, all sharing one free width: a resolved neighbour then
  // does not widen the line. The spectrum's width settings are borrowed and given back.
  const double keepDelta = s.deltaWidth, keepVariable = s.widthVariable,
               keepDeltaVariable = s.deltaWidthVariable;
  const int keepDegree = s.dback;
  IntervalFitState& fs = ws.fit;
  std::vector<char> used(n, 0);
  constexpr int kMostNeighbours = 3;
  // Lines that fit the shape less well (a detector tail) do not use up the places of those that fit
  // it well, which decide the law where there are enough of them.
  int clean = 0;
  for (int k : clear) {
    if (clean >= maxLines || static_cast<int>(out.size()) >= 2 * maxLines) break;
    const Hump& h = humps[k];
    if (used[h.top]) continue;
    const int reach = static_cast<int>(std::ceil(3 * h.width)) + 2;
    const double floor = std::min(z[h.left], z[h.right]);
    double positions[kMostNeighbours + 2] = {0, static_cast<double>(first + h.top)};
    int peaks = 1, lo = h.top, hi = h.top;
    bool crowded = false;
    for (int j = std::max(2, h.top - reach); j <= std::min(n - 3, h.top + reach); ++j) {
      if (std::abs(j - h.top) < 0.8 * h.width) continue;
      if (!(z[j] > z[j - 1] && z[j] >= z[j + 1] && z[j] >= z[j - 2] && z[j] >= z[j + 2])) continue;
      if (z[j] - floor < 1.8 * std::sqrt(z[j] + 1)) continue;
      if (peaks > kMostNeighbours) {
        crowded = true;
        break;
      }
      positions[++peaks] = first + j;
      lo = std::min(lo, j);
      hi = std::max(hi, j);
    }
    if (crowded) continue;
    for (int j = std::max(0, lo - 1); j <= std::min(n - 1, hi + 1); ++j) used[j] = 1;
    fs.startChannel = std::max(first, first + lo - reach);
    fs.endChannel = std::min(last, first + hi + reach);
    if (fs.endChannel - fs.startChannel < 12 + 2 * peaks || fs.endChannel - fs.startChannel >= kEnginePoints)
      continue;
    const double top = positions[1];
    fs.firstPeak = 1;
    fs.lastPeak = peaks;
    fs.n = peaks;
    fs.wInt = h.width;
    s.deltaWidth = 0.75 * h.width;
    s.widthVariable = 0;
    s.deltaWidthVariable = 0;
    s.dback = -2;
    if (!FitInterval(ws, positions, 0)) {
      if (ws.engine.abandoned) break;
      continue;
    }
    const PeakFigures r = PeakResult(ws, 1);
    const double lower = std::max(0.5, h.width - s.deltaWidth), upper = h.width + s.deltaWidth;
    const bool onBound = r.width < lower + 0.01 * h.width || r.width > upper - 0.01 * h.width;
    // A blend of lines fits one shape far worse than this. A strong line whose detector tail the
    // shape lacks fits it somewhat worse; its error grows with the misfit.
    if (onBound || !(r.widthError > 0) || r.widthError > 0.15 * r.width || r.area < 10 * r.areaError ||
        std::fabs(r.position - top) > h.width || !(ws.engine.chi2 < kClearMisfit))
      continue;
    out.push_back({r.position, r.width, r.widthError * std::sqrt(std::max(ws.engine.chi2, 1.0)), false,
                   ws.engine.chi2});
    clean += ws.engine.chi2 < kCleanMisfit;
  }
  s.deltaWidth = keepDelta;
  s.widthVariable = keepVariable;
  s.deltaWidthVariable = keepDeltaVariable;
  s.dback = keepDegree;
  std::sort(out.begin(), out.end(),
            [](const WidthPoint& x, const WidthPoint& y) { return x.channel < y.channel; });
  return out;
}

WidthLaw EstimateWidthLaw(Workspace& ws, int first, int last, const WidthLaw& fallback) {
  std::vector<WidthPoint> points = MeasureClearLines(ws, first, last);
  // Lines that fit the shape well decide when there are enough of them: an unresolved doublet also
  // fits somewhat worse. Where they are few, the strong lines with a detector tail are needed too, or
  // the law's slope rests on a few weak lines and fails far from them.
  const auto clean = std::count_if(points.begin(), points.end(),
                                   [](const WidthPoint& p) { return p.misfit < kCleanMisfit; });
  if (clean >= kEnoughClean)
    points.erase(std::remove_if(points.begin(), points.end(),
                                [](const WidthPoint& p) { return !(p.misfit < kCleanMisfit); }),
                 points.end());
  WidthLaw law = FitWidthLaw(points);
  if (law.lines >= 3) return law;
  WidthLaw used = fallback;
  used.measured = law.measured;
  used.lines = 0;
  if (points.empty() || points.size() > 2) {
    used.note = "fewer than 3 clear lines: " + fallback.note;
    return used;
  }
  // One or two clear lines cannot give a law's slope, but they do give its scale: the given law is
  // scaled through them. Two that disagree beyond their errors and 5 % keep the narrower one, as a
  // hidden doublet or a line of natural width only widens.
  double ratio[2] = {}, error[2] = {};
  const int n = static_cast<int>(points.size());
  // Given widths that are no width at a line (below half a channel there) give no shape to scale: the
  // law is then constant.
  for (const WidthPoint& p : points) {
    if (!(fallback.Square(p.channel) > 0.25)) {
      used.a = 1, used.b = 0, used.q = 0;
      break;
    }
  }
  for (int i = 0; i < n; ++i) {
    const double given = used.At(points[i].channel);
    ratio[i] = points[i].width / given;
    error[i] = std::max(points[i].error / given, 1e-6);
  }
  double k = ratio[0];
  if (n == 2) {
    if (std::fabs(ratio[0] - ratio[1]) <=
        3 * std::hypot(error[0], error[1]) + 0.05 * (ratio[0] + ratio[1]) / 2) {
      const double w0 = 1 / (error[0] * error[0]), w1 = 1 / (error[1] * error[1]);
      k = (w0 * ratio[0] + w1 * ratio[1]) / (w0 + w1);
      used.lines = 2;
    } else {
      k = std::min(ratio[0], ratio[1]);
      used.lines = 1;
    }
  } else {
    used.lines = 1;
  }
  used.a *= k * k;
  used.b *= k * k;
  used.q *= k * k;
  used.scatter = 0;
  // The shape is still the given one: the given admissible deviation stays.
  used.delta = ws.spectrum.deltaWidth;
  used.note = fallback.note + (used.lines == 1 ? " scaled through it" : " scaled through them");
  return used;
}

}  // namespace orv
