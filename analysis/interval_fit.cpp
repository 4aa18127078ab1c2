#include "analysis/interval_fit.h"

#include <algorithm>
#include <cmath>

#include "analysis/workspace.h"
#include "core/numtext.h"

namespace orv {
namespace {

// Chebyshev polynomials T2 and T3 at x (T0 = 1, T1 = x).
void Chebyshev(double x, double& t2, double& t3) {
  t2 = 2 * x * x - 1;
  t3 = 2 * x * t2 - x;
}

// The engine's records as the model reads and writes them point by point.
struct RecordValue {
  const ParamRec* p;
  double operator()(int k) const { return p[k].value; }
};
struct RecordDeriv {
  ParamRec* p;
  void operator()(int k, double v) const { p[k].deriv = v; }
};

// The background at x, given T2 and T3 there; value(k) is the value of record k.
template <class Value>
double Background(const Value& value, double x, double t2, double t3) {
  return value(1) + value(2) * x + value(3) * t2 + value(4) * t3;
}

void SetRecord(ParamRec& r, double lower, double value, double upper) {
  r.lower = lower;
  r.value = value;
  r.upper = upper;
  r.coef = 1;
  r.offset = 0;
  r.error = 0;
  r.deriv = 0;
}

// The measured value, weight and coordinate of point i: fixed while the parameters move, so a fit
// works them out once (see FitInterval).
IntervalPoint MeasurePoint(const Workspace& ws, int i) {
  const IntervalFitState& fs = ws.fit;
  const TSpectrum& s = ws.spectrum;
  IntervalPoint d;
  const int ch = fs.startChannel + i - 1;
  const int last = static_cast<int>(s.sp.size()) - 1;
  if (ch < 1 || ch > last) return d;
  d.inside = true;
  d.channel = ch;
  d.y = s.sp[ch];
  double sigma = ws.state.covar * d.y + s.err[ch];
  if (fs.lowStatistics) {
    // Too few counts per channel for a Gaussian likelihood: pair each channel with the next one.
    const int next = std::min(ch + 1, last);
    d.y = (s.sp[ch] + s.sp[next]) / 2;
    sigma = std::sqrt(s.err[ch] * s.err[ch] + s.err[next] * s.err[next]) / 2;
  }
  d.w = sigma != 0 ? 1 / (sigma * sigma) : 0;
  d.x = fs.Coordinate(ch);
  Chebyshev(d.x, d.t2, d.t3);
  return d;
}

// The model at one point: parameter k's value from value(k), its derivative handed to put(k, ∂f/∂k).
// With kComponents every component's value goes to the graphs too. kPeaks > 0 fixes n at compile time.
template <int kPeaks, bool kComponents, class Value, class Put>
[[gnu::always_inline]] inline void PointModel(int n, const Value& value, Put&& put,
                                              const TPeakModel::Table& shape, const IntervalPoint& d,
                                              double& y, double& w, double& f, double* components) {
  if constexpr (kPeaks > 0) n = kPeaks;
  if (!d.inside) {
    for (int k = 1; k <= 2 * n + 6; ++k) put(k, 0.0);
    y = f = w = 0;
    return;
  }
  y = d.y;
  w = d.w;
  // Every derivative is written below, so none needs clearing first.
  const double x = d.x;
  const double background = Background(value, x, d.t2, d.t3);
  put(1, 1.0);
  put(2, x);
  put(3, d.t2);
  put(4, d.t3);
  if constexpr (kComponents) components[0] = background;
  double sum = background;

  const double wx = value(WidthIndex(n)) + value(WidthVariableIndex(n)) * x;
  const double inverseWidth = wx != 0 ? 1 / wx : 0;
  double g = 0;
#pragma GCC unroll 4
  for (int k = 1; k <= n; ++k) {
    const double amplitude = value(AmplitudeIndex(k));
    const double u = (d.channel - value(PositionIndex(n, k))) * inverseWidth;
    double m, m1, m2;
    shape.Evaluate(u, m, m1, m2);
    const double contribution = amplitude * m;
    if constexpr (kComponents) components[1 + k] = contribution;
    sum += contribution;
    put(AmplitudeIndex(k), m);
    const double slope = -amplitude * inverseWidth * m1;
    put(PositionIndex(n, k), slope);
    g += slope * u;
  }
  put(WidthIndex(n), g);
  put(WidthVariableIndex(n), g * x);
  if constexpr (kComponents) components[1] = sum;
  f = sum;
}

// The model procedure the engine calls, over the points worked out before the fit.
class IntervalFitModel {
 public:
  IntervalFitModel(Workspace& ws, const TPeakModel::Table& shape, const IntervalPoint* points)
      : ws_(ws), shape_(shape), points_(points) {}

  void operator()(double& y, double& w, double& f, int /*phase*/, int i) const {
    ParamRec* p = ws_.engine.params.data();
    PointModel<0, false>(ws_.fit.n, RecordValue{p}, RecordDeriv{p}, shape_, points_[i], y, w, f, nullptr);
  }

 private:
  Workspace& ws_;
  const TPeakModel::Table& shape_;
  const IntervalPoint* points_;
};

}  // namespace

void IntervalModel(Workspace& ws, double& y, double& w, double& f, int /*phase*/, int i) {
  ParamRec* p = ws.engine.params.data();
  PointModel<0, true>(ws.fit.n, RecordValue{p}, RecordDeriv{p}, ws.model().CurrentTable(),
                      MeasurePoint(ws, i), y, w, f, ws.fit.componentValues.data());
}

double IntervalBackground(const Workspace& ws, double channel) {
  const double x = ws.fit.Coordinate(channel);
  double t2, t3;
  Chebyshev(x, t2, t3);
  return Background(RecordValue{ws.engine.params.data()}, x, t2, t3);
}

void LoadInterval(Workspace& ws, int index) {
  const MarkInterval& m = ws.marking.intervalTable[std::clamp(index, 1, kMaxMarkedIntervals)];
  IntervalFitState& fs = ws.fit;
  fs.startChannel = m.startChannel;
  fs.endChannel = m.endChannel;
  fs.firstPeak = m.firstPeak;
  fs.lastPeak = m.lastPeak;
  fs.n = std::clamp(m.lastPeak - m.firstPeak + 1, 0, kMaxPeaks);
}

bool FitInterval(Workspace& ws, const double* positions, int mode) {
  IntervalFitState& fs = ws.fit;
  TParameter& e = ws.engine;
  const TSpectrum& s = ws.spectrum;
  const AnalysisState& st = ws.state;
  const int n = std::clamp(fs.n, 0, kMaxPeaks);
  fs.n = n;
  fs.retried = false;
  fs.fitDone = false;

  e.nPoints = std::abs(fs.endChannel) - std::abs(fs.startChannel) + 1;
  e.nParams = 2 * n + 6;
  for (int k = 1; k <= e.nParams; ++k) {  // every record independent, no dependence
    e.params[k] = ParamRec{};
    e.params[k].master = k;
  }
  const int span = fs.endChannel - fs.startChannel;
  fs.xScale = span != 0 ? 2.0 / span : 0.0;
  fs.xOffset = span != 0 ? -static_cast<double>(fs.startChannel + fs.endChannel) / span : 0.0;

  double lo = s.CountAt(fs.startChannel), hi = 0;
  for (int ch = fs.startChannel; ch <= fs.endChannel; ++ch) {
    const double v = s.CountAt(ch);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  fs.intervalMin = lo;
  fs.intervalMax = hi;
  fs.lowStatistics = hi < st.smallStatistics;

  for (int j = 1; j <= 4; ++j) SetRecord(e.params[j], -1e11, 0, 1e11);
  e.params[1].value = lo;
  e.params[1].lower = std::sqrt(std::fabs(lo));

  // Background degree: no more terms than peaks to anchor them, one more for a steep interval.
  int degree = std::min({n, std::abs(s.dback), 3});
  if (hi - lo <= std::sqrt(std::fabs(lo))) degree = std::min(n, 2);
  const double yStart = s.CountAt(fs.startChannel), yEnd = s.CountAt(fs.endChannel);
  if (std::fabs(yStart - yEnd) >= 1.5 * std::fabs(yStart + yEnd)) degree = std::min(degree + 1, 3);
  if (mode == 1) degree = 3;
  fs.backgroundDegree = degree;
  for (int j = 4; j >= degree + 2; --j) {
    e.params[j].lower = e.params[j].upper = e.params[j].value = 0;
  }

  const int w0 = WidthIndex(n), w1 = WidthVariableIndex(n);
  SetRecord(e.params[w0], std::max(0.5, fs.wInt - s.deltaWidth), fs.wInt, fs.wInt + s.deltaWidth);
  SetRecord(e.params[w1], -s.deltaWidthVariable, s.widthVariable, s.deltaWidthVariable);
  const double centre = ws.model().samples[kPeakModelCentre];
  for (int k = 1; k <= n; ++k) {
    const double p = positions[k];
    const double amplitude =
        std::max(std::fabs(s.CountAt(RoundHalfEven(p)) - lo), 10.0) / (1e-10 + std::fabs(centre));
    SetRecord(e.params[AmplitudeIndex(k)], std::sqrt(std::fabs(amplitude) + 1) * st.amplitudeBoundFactor,
              amplitude, 1e12);
    SetRecord(e.params[PositionIndex(n, k)], fs.startChannel, p, fs.endChannel);
  }

  e.maxIter = st.iterationLimit;
  e.step = st.fitStep;
  e.damper = st.fitDamper;
  if (n != 1) {
    // Multiplets are ill-conditioned: damp more, step shorter, iterate longer.
    e.damper = std::min(st.fitDamper, 0.1);
    e.step = std::min(st.fitStep, 1 - e.damper);
    e.maxIter = std::min(3, n) + RoundHalfEven(8 * (1 - e.step)) + st.iterationLimit;
  }
  e.equalWeights = false;
  e.tracePeriod = 0;

  // The engine said why (message box or its message fields); there is nothing to retry.
  auto refused = [&e] { return e.abandoned || !e.arrayMsg.empty() || !e.errorMsg.empty() || e.nPoints < 1; };
  // Room for the points is kept from fit to fit; only a longer interval than before allocates.
  fs.points.resize(
      std::max<std::size_t>(fs.points.size(), static_cast<std::size_t>(std::max(e.nPoints, 0)) + 1));
  for (int i = 1; i <= e.nPoints; ++i) fs.points[i] = MeasurePoint(ws, i);
  const IntervalPoint* points = fs.points.data();
  IntervalFitModel model(ws, ws.model().CurrentTable(), points);
  e.Fit(model);
  if (refused()) return false;
  e.Diagnose();
  if (e.notDefinite || e.notInverted || e.poorQuality || e.accuracyNotReached || e.signImbalance) {
    // One more attempt, softer on outliers and more careful; the softer weighting stays.
    fs.retried = true;
    e.robustSoftness /= 2;
    e.Relax();
    e.Fit(model);
    if (refused()) return false;
    e.Diagnose();
  }
  fs.fitDone = true;
  return true;
}

PeakFigures PeakResult(const Workspace& ws, int k) {
  const IntervalFitState& fs = ws.fit;
  const TParameter& e = ws.engine;
  const TSpectrum& s = ws.spectrum;
  const int n = fs.n;
  PeakFigures r;
  const int ia = AmplitudeIndex(k), ip = PositionIndex(n, k), i0 = WidthIndex(n), i1 = WidthVariableIndex(n);
  r.position = e.params[ip].value;
  r.positionError = e.params[ip].error;

  const double x = fs.Coordinate(r.position);
  const double a = e.params[ia].value;
  r.width = e.params[i0].value + e.params[i1].value * x;
  const double varW = e.Covariance(i0, i0) + 2 * x * e.Covariance(i0, i1) + x * x * e.Covariance(i1, i1);
  const double covAW = e.Covariance(ia, i0) + x * e.Covariance(ia, i1);
  // With w1 fixed (the usual case) this is the error of w0.
  r.widthError = varW > 0 ? std::sqrt(varW) : e.params[i0].error;
  r.area = std::fabs(a * r.width);
  const double sa = e.params[ia].error;
  double varArea = sa * sa * r.width * r.width + a * a * varW + 2 * a * r.width * covAW;
  if (!(varArea >= 0)) varArea = sa * sa * r.width * r.width + a * a * varW;
  r.areaError = std::sqrt(std::max(varArea, 0.0));

  // Counts within 1.5 widths of the peak against two background estimates: the fitted polynomial
  // and the mean of the interval's edge channels.
  const int lo = RoundHalfEven(std::max<double>(s.a1, r.position - 1.5 * r.width));
  const int hi = RoundHalfEven(std::min<double>(s.a2, r.position + 1.5 * r.width));
  double total = 0;
  for (int ch = lo; ch <= hi; ++ch) total += s.CountAt(ch);
  const double channels = hi - lo + 1;
  const double bFit = channels * IntervalBackground(ws, r.position);
  const double bEdge = channels *
                       (s.CountAt(fs.startChannel) + s.CountAt(fs.startChannel + 1) +
                        s.CountAt(fs.endChannel) + s.CountAt(fs.endChannel - 1)) /
                       4;
  const double b = (bFit + bEdge) / 2;
  r.criterion = (total - b) / std::sqrt(std::fabs(b) + std::fabs(total) + 1);
  r.background = std::fabs(b);
  return r;
}

}  // namespace orv
