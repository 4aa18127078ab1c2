#include "core/numeric.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/numtext.h"

namespace orv {

namespace {

constexpr std::int32_t kModulus1 = 2147483563;
constexpr std::int32_t kModulus2 = 2147483399;

// A seed outside 1..modulus−1 would lock the recurrence at 0 or overflow Schrage's products.
std::int32_t ValidSeed(std::int64_t seed, std::int32_t modulus) {
  std::int64_t v = seed % modulus;
  if (v < 0) v += modulus;
  return v == 0 ? 1 : static_cast<std::int32_t>(v);
}

double Sign(double v) {
  return v < 0 ? -1.0 : 1.0;
}

}  // namespace

void RandomGenerator::Seed(std::int32_t a, std::int32_t b) {
  s1 = ValidSeed(a, kModulus1);
  s2 = ValidSeed(b, kModulus2);
}

double RandomUniform(RandomGenerator& g) {
  if (g.s1 < 1 || g.s1 >= kModulus1) g.s1 = ValidSeed(g.s1, kModulus1);
  if (g.s2 < 1 || g.s2 >= kModulus2) g.s2 = ValidSeed(g.s2, kModulus2);
  // Schrage's method keeps every product inside 32 bits.
  std::int32_t k = g.s1 / 53668;
  g.s1 = 40014 * (g.s1 - k * 53668) - k * 12211;
  if (g.s1 < 0) g.s1 += kModulus1;
  k = g.s2 / 52774;
  g.s2 = 40692 * (g.s2 - k * 52774) - k * 3791;
  if (g.s2 < 0) g.s2 += kModulus2;
  std::int32_t z = g.s1 - g.s2;
  if (z < 1) z += kModulus1 - 1;
  return z * 4.656613e-10;  // z lies in 1..modulus−1, so the result stays inside (0, 1)
}

std::pair<double, double> RandomNormalPair(RandomGenerator& g) {
  double p, q, r;
  do {
    p = 2 * RandomUniform(g) - 1;
    q = 2 * RandomUniform(g) - 1;
    r = p * p + q * q;
  } while (!(r > 0 && r <= 1));
  const double f = std::sqrt(-2 * std::log(r) / r);
  return {p * f, q * f};
}

void FilterBySign(double* a, int& n, int mode) {
  int kept = 0;
  for (int i = 1; i <= n; ++i) {
    const double v = a[i];
    const bool keep = mode == -1 ? v >= 0 : mode == 0 ? v != 0 : mode == 1 ? v <= 0 : true;
    if (keep) a[++kept] = v;
  }
  n = std::max(kept, 0);
}

void SortArray(double* a, int& n, int mode) {
  if (n <= 1) return;
  if (mode == 0) {
    int kept = 0;
    for (int i = 1; i <= n; ++i)
      if (i == n || a[i] != a[i + 1]) a[++kept] = a[i];
    n = kept;
    return;
  }
  if (mode != 1 && mode != -1) return;
  // Insertion sort: stable and in place, the same order as adjacent exchanges give.
  for (int i = 2; i <= n; ++i) {
    const double v = a[i];
    int j = i - 1;
    while (j >= 1 && (mode == 1 ? a[j] > v : a[j] < v)) {
      a[j + 1] = a[j];
      --j;
    }
    a[j + 1] = v;
  }
}

double Median(const double* a, int n, double* work) {
  if (n <= 0) return 0;
  if (work != a) std::copy(a + 1, a + n + 1, work + 1);
  int count = n;
  SortArray(work, count, 1);
  return n % 2 == 1 ? work[n / 2 + 1] : (work[n / 2] + work[n / 2 + 1]) / 2;
}

MinMax MinMaxInRange(const double* a, int from, int /*to*/, int limit) {
  MinMax r;
  if (from < 1) {
    r.minPosition = r.maxPosition = 1;
    r.minValue = r.maxValue = a[1];
    return r;
  }
  if (from > limit) return r;
  r.minPosition = r.maxPosition = from;
  r.minValue = r.maxValue = a[from];
  for (int i = from + 1; i <= limit; ++i) {
    if (a[i] < r.minValue) {
      r.minValue = a[i];
      r.minPosition = i;
    }
    if (a[i] > r.maxValue) {
      r.maxValue = a[i];
      r.maxPosition = i;
    }
  }
  return r;
}

SmoothedPoint SmoothPoint(const double* y, int n, int i) {
  if (i < 1 || i > n) return {};
  if (i == 1 || i == n || n <= 4) return {y[i], 0, 0};
  if (i == 2 || i == n - 1)
    return {(y[i - 1] + y[i + 1]) / 2, (y[i + 1] - y[i - 1]) / 2, y[i + 1] - 2 * y[i] + y[i - 1]};
  return {(-3 * y[i - 2] + 12 * y[i - 1] + 17 * y[i] + 12 * y[i + 1] - 3 * y[i + 2]) / 35,
          ((y[i + 1] - y[i - 1]) + 2 * (y[i + 2] - y[i - 2])) / 10,
          (2 * (y[i + 2] + y[i - 2]) - (y[i + 1] + y[i - 1]) - 2 * y[i]) / 7};
}

double Interpolate(const double* table, int /*capacity*/, int n, double x) {
  if (n <= 0) return 0;
  const double* y = table;       // y[1..n]
  const double* xs = table + n;  // xs[1..n]
  if (n == 1) return y[1];
  auto line = [&](int j) {  // straight line through nodes j and j + 1
    const double h = xs[j + 1] - xs[j];
    return h != 0 ? y[j] + (x - xs[j]) * (y[j + 1] - y[j]) / h : y[j];
  };
  if (x <= xs[1]) return line(1);
  if (x >= xs[n]) return line(n - 1);
  // x_j <= x < x_{j+1}
  int lo = 1, hi = n;
  while (hi - lo > 1) {
    const int mid = lo + (hi - lo) / 2;
    if (xs[mid] <= x)
      lo = mid;
    else
      hi = mid;
  }
  const int j = lo;
  if (j == 1 || j >= n - 1) return line(j);
  const double y0 = y[j - 1], y1 = y[j], y2 = y[j + 1], y3 = y[j + 2];
  const bool rising = y0 <= y1 && y1 <= y2 && y2 <= y3;
  const bool falling = y0 >= y1 && y1 >= y2 && y2 >= y3;
  const double h0 = xs[j] - xs[j - 1], h1 = xs[j + 1] - xs[j], h2 = xs[j + 2] - xs[j + 1];
  // Coinciding nodes leave the cubic undefined; the segment itself is still a line.
  if (rising || falling || !(h0 > 0 && h1 > 0 && h2 > 0)) return line(j);
  const double a11 = (h0 + h1) / 3, a12 = h1 / 6, a22 = (h1 + h2) / 3;
  const double r1 = (y2 - y1) / h1 - (y1 - y0) / h0;
  const double r2 = (y3 - y2) / h2 - (y2 - y1) / h1;
  const double d = a11 * a22 - a12 * a12;
  const double mj = (r1 * a22 - r2 * a12) / d;
  const double mj1 = (r2 * a11 - r1 * a12) / d;
  const double dl = x - xs[j], dr = xs[j + 1] - x;
  return (dl * (y2 - mj1 * h1 * h1 / 6) + dr * (y1 - mj * h1 * h1 / 6)) / h1 + dl * dl * dl * mj1 / (6 * h1) +
         dr * dr * dr * mj / (6 * h1);
}

Inversion Invert3(Matrix3& m, int mode) {
  Matrix3 c{};  // cofactors
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
      c[i][j] = m[i1][j1] * m[i2][j2] - m[i1][j2] * m[i2][j1];
    }
  const double det = m[0][0] * c[0][0] + m[0][1] * c[0][1] + m[0][2] * c[0][2];
  if (det == 0 || !std::isfinite(det)) return {false, det};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = c[j][i] / det;
  if (mode == 1) {
    m[2][0] = m[0][2];
    m[2][1] = m[1][2];
  }
  return {true, det};
}

LineFit FitLine(LinePoint* points, int k, int mode, LineSink* sink) {
  auto write = [sink](const std::string& line) {
    if (sink) sink->WriteLine(line);
  };
  auto num = [](double v) { return FormatNumber(12, 4, v); };
  LineFit f;
  double sx = 0;
  for (int i = 1; i <= k; ++i) sx += points[i].x;
  f.x0 = sx / std::max(1, k);
  auto weight = [](double e) { return e != 0 ? 1 / (e * e) : 0.0; };
  double s11 = 0, s12 = 0, s22 = 0, b1 = 0, b2 = 0;
  for (int i = 1; i <= k; ++i) {
    const double w = weight(points[i].error), dx = points[i].x - f.x0;
    s11 += w * dx * dx;
    s12 += w * dx;
    s22 += w;
    b1 += w * dx * points[i].y;
    b2 += w * points[i].y;
  }
  // The slight diagonal lift keeps a nearly degenerate system invertible.
  Matrix3 m{{{s11 * 1.00000001, s12, 0}, {s12, s22 * 1.00000001, 0}, {0, 0, 1}}};
  const Inversion inv = Invert3(m, 1);
  f.determinant = inv.determinant;
  if (!inv.ok) {
    write("not ok  det= " + num(inv.determinant));
    return f;
  }
  f.ok = true;
  f.p0 = 0.9999999 * (m[0][0] * b1 + m[0][1] * b2);
  f.p1 = 0.9999999 * (m[1][0] * b1 + m[1][1] * b2);
  double total = 0, plus = 0;
  for (int i = 1; i <= k; ++i) {
    LinePoint& p = points[i];
    p.fit = f.p0 * (p.x - f.x0) + f.p1;
    const double r = p.y - p.fit, term = weight(p.error) * r * r;
    total += term;
    if (r >= 0) plus += term;
  }
  f.chi = total / std::max(k - 2, 1);
  f.chiPlus = total != 0 ? plus / total : 0;
  f.error0 = std::sqrt(std::fabs(m[0][0]));
  f.error1 = std::sqrt(std::fabs(m[1][1]));
  if (mode == 1 || mode == 2) write("    chi, chi+ = " + num(f.chi) + num(f.chiPlus));
  if (mode == 1) {
    write("   Parameters = " + num(f.p0) + num(f.p1) + "      x_0=" + num(f.x0));
    write("     + / -      " + num(f.error0) + num(f.error1));
    for (int i = 1; i <= k; ++i)
      write(num(points[i].y) + num(points[i].x) + num(points[i].error) + num(points[i].fit));
  }
  return f;
}

EdgeFit EdgeLine(const double* a, int c1, int c2, int c3, int c4) {
  EdgeFit r;
  int count = 0;
  double sc = 0, sy = 0;
  auto over = [&](auto f) {
    for (int c = c1; c <= c2; ++c) f(c);
    for (int c = c3; c <= c4; ++c) f(c);
  };
  over([&](int c) {
    ++count;
    sc += c;
    sy += a[c];
  });
  if (count == 0) return r;
  r.meanChannel = sc / count;
  r.meanValue = sy / count;
  double num = 0, den = 0;
  over([&](int c) {
    const double d = c - r.meanChannel;
    num += d * a[c];
    den += d * d;
  });
  r.slope = den != 0 ? num / den : 0;
  return r;
}

SmoothnessMeasure Smoothness(const double* data, const double* s, int n) {
  SmoothnessMeasure r;
  if (n <= 0) return r;
  for (int i = 1; i <= n; ++i) {
    const double d = s[i] - data[i];
    r.fitMeasure += d * d / std::max(std::fabs(data[i]), 1.0);
  }
  r.fitMeasure /= n;
  for (int i = 2; i <= n - 1; ++i) {
    const double curve = s[i - 1] - 2 * s[i] + s[i + 1];
    const double slope = (std::fabs(s[i - 1] - s[i]) + std::fabs(s[i] - s[i + 1])) / 2;
    r.roughness += curve * curve / (slope * slope + 1);
  }
  return r;
}

double WidthEstimate(const double* a, int c, int last) {
  if (c < 1 || c > last) return -1;
  int m = c;
  if (c + 1 <= last && a[c + 1] > a[m]) m = c + 1;
  if (m - 1 >= 1 && a[m - 1] > a[m]) m = m - 1;
  const double half = a[m] / 2;
  int i = m - 1;
  while (i > 1 && !(std::fabs(a[i]) < half)) --i;
  if (i <= 1) return -1;
  const double dl = std::fabs(a[i + 1]) - std::fabs(a[i]);
  if (!(dl > 0.0001)) return -1;
  int j = m + 1;
  while (j <= last - 2 && !(std::fabs(a[j]) < half)) ++j;
  if (j > last - 2) return -1;
  const double dr = std::fabs(a[j - 1]) - std::fabs(a[j]);
  if (!(dr > 0.001)) return -1;
  const double width =
      (j - 1) - (i + 1) + std::fabs((a[i + 1] - half) / dl) + std::fabs((a[j - 1] - half) / dr);
  return width < 0.25 ? -1 : width;
}

HistogramResult Histogram(const double* values, int n, int* counts, int capacity, UiPort& port) {
  HistogramResult r;
  if (n > kHistogramLimit) {
    port.ShowMessage("Too long array");
    return r;
  }
  if (n <= 0 || capacity < 1) return r;
  double low = 0, high = 0;
  bool any = false;
  for (int i = 1; i <= n; ++i) {
    if (!std::isfinite(values[i])) continue;  // a stray NaN or infinity would spoil every bin
    if (!any || values[i] < low) low = values[i];
    if (!any || values[i] > high) high = values[i];
    any = true;
  }
  const int bins = std::clamp(static_cast<int>(std::ceil(std::sqrt(static_cast<double>(n)))), 1, capacity);
  std::fill(counts + 1, counts + bins + 1, 0);
  r.ok = true;
  r.bins = bins;
  r.low = low;
  r.binWidth = any ? (high - low) / bins : 0;
  for (int i = 1; i <= n; ++i) {
    const double v = values[i];
    if (!std::isfinite(v)) continue;
    int b = 1;
    if (r.binWidth > 0) b = std::clamp(1 + static_cast<int>((v - low) / r.binWidth), 1, bins);
    ++counts[b];
  }
  return r;
}

bool BackgroundThroughMinima(SplineWork& w, int n, int passes, bool withErrors, int segments) {
  if (n < 1 || n > kSplineCapacity) return false;
  double* y = w.input.data();
  double* bg = w.output.data();
  for (int i = 1; i <= n; ++i) y[i] = std::max(0.0, y[i]);
  for (int pass = 1; pass <= passes; ++pass) {
    for (int i = 1; i <= n; ++i) bg[i] = SmoothPoint(y, n, i).value;
    std::copy(bg + 1, bg + n + 1, y + 1);
  }
  if (withErrors)
    for (int i = 1; i <= n; ++i) w.errors[i] = std::sqrt(std::fabs(y[i]) + 1);
  const int count = std::abs(segments);
  const int length = count > 0 ? (n - 10) / count : 0;
  if (length >= 1) {
    // Nodes: values then abscissas, as the table interpolation expects.
    double* table = w.a.data();
    for (int s = 1; s <= count; ++s) {
      const int from = 10 + (s - 1) * length + 1;
      const int to = s == count ? n : from + length - 1;
      const MinMax mm = MinMaxInRange(y, from, to, to);
      table[s] = mm.minValue;
      table[count + s] = mm.minPosition;
    }
    for (int i = 1; i <= n; ++i) bg[i] = Interpolate(table, 2 * kSplineCapacity, count, i);
  } else {
    for (int i = 1; i <= n; ++i) bg[i] = n > 1 ? y[1] + (y[n] - y[1]) * (i - 1) / (n - 1) : y[1];
  }
  for (int i = 1; i <= n; ++i) bg[i] = std::min(std::max(bg[i], 0.0), y[i]);
  return true;
}

bool SplineFilter(SplineWork& w, int n, int passes, double c, double b, double a) {
  if (n > kSplineCapacity) return false;
  const double* data = w.input.data();
  double* z = w.output.data();
  for (int i = 1; i <= n; ++i) z[i] = data[i];
  if (n < 5) return true;
  const bool background = c >= 0;
  // The filter runs on square roots scaled to 0..1000, which evens out the counting noise; the data
  // stay as they are and the transformed copy lives in the first half of `c`.
  double* y = w.c.data();
  double* p = w.c.data() + n;  // p[1..n]
  double* alpha = w.a.data();
  double* beta = w.b.data();
  double* wt = w.weights.data();
  double top = 0;
  for (int i = 1; i <= n; ++i) {
    y[i] = Sign(data[i]) * std::sqrt(std::fabs(data[i]));
    top = std::max(top, y[i]);
  }
  const double scale = std::max(1.0, top);
  for (int i = 1; i <= n; ++i) {
    y[i] = y[i] / scale * 1000;
    z[i] = y[i];
  }
  wt[1] = wt[n] = 1;
  double sw = 0;
  for (int i = 2; i <= n - 1; ++i) {
    wt[i] = std::max(1e-8, 1 / (y[i] * y[i] + 1));
    sw += wt[i];
  }
  wt[n + 1] = wt[n];
  for (int i = 1; i <= n; ++i) p[i] = 1;
  for (int pass = 1; pass <= passes; ++pass) {
    p[1] = p[n] = 1;
    double sp = 0;
    for (int i = 2; i <= n - 1; ++i) {
      const SmoothedPoint d = SmoothPoint(y, n, i);
      if (pass == 1) {
        // The slope enters by magnitude: a falling edge would otherwise drive the weight through a pole.
        p[i] = 1 / (b * std::fabs(d.first) + a * std::fabs(d.second) + 1);
      } else {
        const double r = z[i] - y[i];
        p[i] = background ? (r < 0 ? 1 / (r * r + 1) : 1.0) : 1 / (r * r + d.second * d.second + 1);
      }
      sp += p[i];
    }
    const double coupling = sp > 0 ? std::fabs(c) * sw / sp : 0;
    alpha[1] = 0;
    beta[1] = z[1];
    for (int i = 2; i <= n; ++i) {
      const double d = (wt[i + 1] - wt[i - 1]) / 4;
      const double e = -coupling * p[i] / wt[i];
      const double q = 1 / (2 - e - (1 - d) * alpha[i - 1]);
      alpha[i] = (1 + d) * q;
      beta[i] = ((1 - d) * beta[i - 1] - e * z[i]) * q;
    }
    for (int j = n - 1; j >= 1; --j) z[j] = alpha[j] * z[j + 1] + beta[j];
    if (background)
      for (int i = 1; i <= n; ++i) z[i] = std::min(y[i], z[i]);
  }
  w.fitMeasure = w.roughness = 0;
  for (int i = 2; i <= n - 1; ++i) {
    const double r = z[i] - y[i], s = z[i + 1] - z[i - 1];
    w.fitMeasure += r * r * p[i];
    w.roughness += s * s * wt[i] / 4;
  }
  for (int i = 1; i <= n; ++i) {
    const double u = z[i] * scale / 1000;
    z[i] = Sign(u) * u * u;
    // Squaring back may round a hair above the data; a background must never exceed them.
    if (background) z[i] = std::min(z[i], data[i]);
  }
  return true;
}

bool SplineSmooth(SplineWork& w, int n, int mode, double& fitMeasure, double& roughness, double lambda) {
  if (n > kSplineCapacity) return false;
  const double* y = w.input.data();
  double* z = w.output.data();
  if (n <= 5) {
    for (int i = 1; i <= n; ++i) z[i] = y[i];
    fitMeasure = roughness = w.fitMeasure = w.roughness = 0;
    return true;
  }
  const double l = lambda / n;
  double* wt = w.weights.data();
  if (mode != 0) {
    // Caller's weights; a zero weight would divide the recursion by zero.
    for (int i = 1; i <= n; ++i) wt[i] = std::max(1e-10, z[i]);
  } else {
    double top = y[1];
    for (int i = 2; i <= n; ++i) top = std::max(top, y[i]);
    top = std::max(top, 1.0);
    for (int i = 2; i <= n - 1; ++i) {
      const double s = std::fabs(y[i - 1]) + std::fabs(y[i]) + std::fabs(y[i + 1]) + 1;
      const double r = std::fabs(y[i]) / top;
      wt[i] = std::max(1e-10, 1 / std::fabs(r * s + std::fabs(1 - r) * std::sqrt(s)));
    }
    wt[1] = wt[2];
    wt[n] = wt[n - 1];
  }
  double* A = w.a.data();
  double* B = w.b.data();
  double* C = w.c.data();
  C[1] = y[1];
  C[n] = y[n];
  C[n + 1] = 0;
  C[2 * n] = 0;
  A[1] = A[n + 1] = B[1] = B[n + 1] = 0;
  for (int i = 2; i <= n - 1; ++i) {
    const int k = n + i;
    const double P = 2 - A[i - 1];
    const double Q = 1 - A[k - 1];
    const double R = -(wt[i - 1] * B[i - 1] + l) / wt[i + 1];
    const double S = (2 * wt[i] - wt[i - 1] * B[k - 1]) / wt[i + 1];
    double D = P * S - Q * R;
    if (std::fabs(D) < 1e-100) D = D < 0 ? -1e-100 : 1e-100;
    const double T = (wt[i - 1] * C[k - 1] - l * y[i]) / wt[i + 1];
    A[i] = S / D;
    A[k] = -Q / D;
    B[i] = -R / D;
    B[k] = P / D;
    C[i] = A[i] * C[i - 1] + A[k] * T;
    C[k] = B[i] * C[i - 1] + B[k] * T;
  }
  for (int m = n - 1; m >= 1; --m) {
    const int k = n + m;
    C[m] = A[m] * C[m + 1] + A[k] * C[k + 1] + C[m];
    C[k] = B[m] * C[m + 1] + B[k] * C[k + 1] + C[k];
  }
  for (int i = 1; i <= n; ++i) z[i] = C[i];
  const SmoothnessMeasure s = Smoothness(y, z, n);
  fitMeasure = w.fitMeasure = s.fitMeasure;
  roughness = w.roughness = s.roughness;
  return true;
}

bool AutoSpline(SplineWork& w, int n, bool& badData, double s, double a) {
  if (n > kSplineCapacity) return false;
  double* y = w.input.data();
  double* z = w.output.data();
  if (n < 1) {
    badData = true;
    return true;
  }
  for (int i = 1; i <= n; ++i) z[i] = y[i];
  const MinMax mm = MinMaxInRange(y, 1, n, n);
  const double top = mm.maxValue != 0 ? mm.maxValue : 1.0;
  badData = mm.maxPosition == 1 || mm.maxPosition == n || mm.maxValue == mm.minValue;
  for (int i = 1; i <= n; ++i) y[i] = y[i] * 1000 / top;
  double best = 1e18, bestLambda = 1000, fit = 0, rough = 0;
  double lambda = 1000;
  for (int step = 1; step <= 21; ++step) {
    lambda /= 2;
    SplineSmooth(w, n, 0, fit, rough, lambda);
    if (rough < best && 0.25 * a <= fit && fit <= 0.875 * a) {
      best = rough;
      bestLambda = lambda;
    }
  }
  const double d = bestLambda / 1.5, h = (2 * bestLambda - d) / 20;
  for (int k = 1; k <= 21; ++k) {
    lambda = std::max(0.0, d + (k - 11) * h);
    SplineSmooth(w, n, 0, fit, rough, lambda);
    if (rough < best && 0.25 * a <= fit && fit <= a) {
      best = rough;
      bestLambda = lambda;
    }
  }
  SplineSmooth(w, n, 0, fit, rough, bestLambda);
  w.lambda = bestLambda;
  const double t = std::min(s, 1.0);
  for (int i = 1; i <= n; ++i) {
    z[i] = ((1 - t) * y[i] + t * z[i]) * top / 1000;
    y[i] = y[i] * top / 1000;
  }
  return true;
}

}  // namespace orv
