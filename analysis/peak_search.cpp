#include "analysis/peak_search.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Dense>

#include "core/numeric.h"
#include "core/numtext.h"

namespace orv {
namespace {

// Counts beyond this are clamped so that sums over 32,768 channels stay finite.
constexpr double kHugeCount = 1e290;
// Net counts over a top's width, in units of their error, that make a flat-topped weak line a
// candidate on a low segment (well above what the background's dips and noise reach).
constexpr double kStandOut = 5;

int Round(double x) {
  return RoundHalfEven(x);
}

// A spectrum value made safe for sums: NaN counts as 0, infinities and absurd values are clamped.
double SafeCount(double v) {
  if (std::isnan(v)) return 0;
  return std::clamp(v, -kHugeCount, kHugeCount);
}

// One segment of the search on the work arrays; the candidates live in position/tag/found[1..count].
class SegmentSearch {
 public:
  SegmentSearch(PeakSearchWork& w, const AnalysisState& state, const TPeakModel& model, double deltaWidth,
                double compr, double kw1, double kw0)
      : w_(w),
        model_(model),
        sensitivity_(state.sensitivity),
        resolution_(std::fabs(state.resolution)),
        smallStatistics_(state.smallStatistics),
        deltaWidth_(deltaWidth),
        compr_(compr),
        kw1_(kw1),
        kw0_(kw0) {
    modelMax_ = model.EvaluateShape(0);
  }

  // Searches y[1..n], the copy of channels a..b. Leaves the candidates in segment points; returns
  // their number (0 also for a segment that was skipped).
  int Run(int a, int b, int n, UiPort& port, bool& widthConsistent);

 private:
  int Clip(int j) const { return std::clamp(j, 1, n_); }
  // The working width law is a function of the channel; a segment point stands for compr channels.
  double ChannelOf(double pos) const { return a_ + (pos - 1) * compr_; }
  double CalibratedWidth(double pos) const { return ChannelOf(pos) * kw1_ + kw0_; }

  bool Compress(UiPort& port);
  void Smooth();
  void SubtractBackground();
  void FindCandidates(double wMid, double segmentMax);
  bool CountsStandOut(int c, double width) const;
  void WeakTest(double factor, double width);
  void AnalyseMultiplets(bool& widthConsistent);
  void Classify(int k, int total, double& code);
  void Strip();
  void RemoveSpikes();
  void FindHiddenPeaks(double factor);
  void MergeClosePairs(double width);
  void Subtract(int c, double amplitude, double width, bool widened);
  bool Append(double pos, double tag, double found);
  // Drops the candidates whose position was set to 0.
  void Compact() { FilterBySign(w_.position.data(), count_, 0); }
  void Sort() { SortArray(w_.position.data(), count_, 1); }

  PeakSearchWork& w_;
  const TPeakModel& model_;
  double sensitivity_, resolution_, smallStatistics_, deltaWidth_, compr_, kw1_, kw0_;
  double modelMax_ = 0;
  int a_ = 0, b_ = 0, n_ = 0, count_ = 0;
  double maxBeforeScaling_ = 0;
  double scale_ = 1;  // of the counts, so that the maximum is at most 10,000
};

int SegmentSearch::Run(int a, int b, int n, UiPort& port, bool& widthConsistent) {
  a_ = a;
  b_ = b;
  n_ = n;
  count_ = 0;
  double* y = w_.y.data();
  if (compr_ > 1 && !Compress(port)) return 0;
  if (n_ < 3) return 0;  // no inner point to look at

  // Segment significance: the counts around the maximum must stand out from the minimum.
  MinMax mm = MinMaxInRange(y, 1, n_, n_);
  const double m = mm.minValue;
  double M = mm.maxValue;
  const int k = std::clamp(mm.maxPosition, 2, n_ - 1);
  const double s = std::fabs(y[k - 1] + y[k] + y[k + 1] - 3 * m);
  if (3 * sensitivity_ * std::sqrt(std::fabs(3 * m + 1)) > s) return 0;

  // Few counts: neighbours are summed so that the statistics allow a decision.
  if (M <= 5 * smallStatistics_) {
    for (int j = 1; j <= n_ - 1; ++j) y[j] += y[j + 1];
    y[n_] += y[n_ - 1];
    M = std::max(M + y[k + 1], y[k - 1] + M);
  }
  maxBeforeScaling_ = M;
  // Thresholds below are tuned to a maximum of at most 10,000.
  scale_ = M > 10000 ? 10000 / M : 1;
  if (scale_ != 1) {
    for (int j = 1; j <= n_; ++j) y[j] *= scale_;
  }

  Smooth();
  // The errors are those of the counts before scaling, scaled alike: scaling the counts down must not
  // make weak peaks beside strong ones look less significant than they are.
  for (int j = 1; j <= n_; ++j) {
    w_.e[j] = scale_ * std::sqrt(std::fabs(y[j]) / scale_ + 1);
    w_.spread[j] = std::sqrt(std::fabs(y[j]) + 1);
  }
  SubtractBackground();

  const double segmentMax = MinMaxInRange(y, 1, n_, n_).maxValue;
  // The width law at the middle channel of the segment, in working (possibly compressed) points.
  const double wMid = kw0_ + kw1_ * (a + b) / 2.0;

  FindCandidates(wMid, segmentMax);
  if (count_ == 0) return 0;
  WeakTest(1, wMid);
  // Below 100 scaled counts a segment is too weak for the shape analysis.
  if (segmentMax >= 100) {
    AnalyseMultiplets(widthConsistent);
    if (count_ > 0) {
      FindHiddenPeaks(1);
      MergeClosePairs(wMid);
    }
  }
  return count_;
}

// Re-bins y[1..n] into round(n / compr) + 2 bins, each channel spread over 1000 equal parts, so that
// wide peaks get about eight points per width. Bin B is centred on channel a + (B − 1)·compr − 1.5.
bool SegmentSearch::Compress(UiPort& port) {
  if (n_ > kSearchCompressLimit) {
    port.ShowMessage("Too long array");
    return false;
  }
  const int bins = Round(n_ / compr_) + 2;
  double* out = w_.b.data();
  double* parts = w_.q.data();  // parts received per bin
  std::fill(out + 1, out + bins + 1, 0.0);
  std::fill(parts + 1, parts + bins + 1, 0.0);
  const double c = compr_;
  auto bin = [c](int j, int part) { return Round((j + part / 1000.0) / c) + 1; };
  for (int j = 1; j <= n_; ++j) {
    const double share = w_.y[j] / 1000;
    // The parts of one channel span less than one bin, so they fall into at most two bins; the
    // rounding is monotonic, so the first part of the second bin is found by bisection.
    const int first = bin(j, 0), last = bin(j, 999);
    int split = 1000;
    if (first != last) {
      int lo = 0, hi = 999;  // bin(lo) == first, bin(hi) == last
      while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        (bin(j, mid) == first ? lo : hi) = mid;
      }
      split = hi;
    }
    if (first >= 1 && first <= bins) {
      out[first] += split * share;
      parts[first] += split;
    }
    if (split < 1000 && last >= 1 && last <= bins) {
      out[last] += (1000 - split) * share;
      parts[last] += 1000 - split;
    }
  }
  // The end bins hold only part of a bin's channels (or none): they take the value of the nearest
  // whole bin, as a partial bin would look like a valley and pull the background down.
  const int firstTouched = std::clamp(bin(1, 0), 1, bins), lastTouched = std::clamp(bin(n_, 999), 1, bins);
  auto partial = [&](int k) { return parts[k] + 2 < 1000 * c; };
  if (lastTouched - firstTouched >= 2) {
    const int head = partial(firstTouched) ? firstTouched + 1 : firstTouched;
    const int tail = partial(lastTouched) ? lastTouched - 1 : lastTouched;
    for (int k = 1; k < head; ++k) out[k] = out[head];
    for (int k = tail + 1; k <= bins; ++k) out[k] = out[tail];
  } else {
    out[1] = out[2];
    out[bins] = out[bins - 1];
  }
  std::copy(out + 1, out + bins + 1, w_.y.data() + 1);
  n_ = bins;
  return true;
}

// Three five-point smoothing passes; the smoothed counts may not go negative.
void SegmentSearch::Smooth() {
  double* y = w_.y.data();
  double* t = w_.scratch.data();
  for (int pass = 0; pass < 3; ++pass) {
    for (int j = 1; j <= n_; ++j) t[j] = SmoothPoint(y, n_, j).value;
    for (int j = 1; j <= n_; ++j) y[j] = std::max(0.0, t[j]);
  }
}

// Background through the minima of ranges about eight widths long, interpolated between them.
void SegmentSearch::SubtractBackground() {
  double* y = w_.y.data();
  double* bg = w_.b.data();
  if (n_ <= 25) {
    const double slope = (y[n_] - y[1]) / (n_ - 1);
    for (int j = 1; j <= n_; ++j) bg[j] = y[1] + slope * (j - 1);
  } else {
    const int K = std::max(1, n_ / std::max(25, Round(8 * kw0_)));
    const int l = (n_ - 20) / K;
    double* nodes = w_.nodes.data();
    const int count = K + 2;
    int node = 0;
    auto addNode = [&](int from, int to) {
      const MinMax r = MinMaxInRange(y, from, to, to);
      ++node;
      nodes[node] = r.minValue;
      nodes[count + node] = r.minPosition;
    };
    addNode(1, 10);
    for (int i = 1; i <= K; ++i) addNode((i - 1) * l + 11, i * l + 10);
    addNode(K * l + 11, n_);
    for (int j = 1; j <= n_; ++j) bg[j] = Interpolate(nodes, static_cast<int>(w_.nodes.size()), count, j);
  }
  for (int j = 1; j <= n_; ++j) {
    bg[j] = std::clamp(bg[j], 0.0, y[j]);
    y[j] = std::max(0.0, y[j] - bg[j]);
  }
}

bool SegmentSearch::Append(double pos, double tag, double found) {
  if (count_ >= kSearchCapacity) return false;
  ++count_;
  w_.position[count_] = pos;
  w_.tag[count_] = tag;
  w_.found[count_] = found;
  return true;
}

// Candidates: local maxima of strongly negative quasi-curvature that stand above their errors.
void SegmentSearch::FindCandidates(double wMid, double segmentMax) {
  const double* y = w_.y.data();
  const double* e = w_.e.data();
  double* q = w_.q.data();
  const int n = n_;
  q[1] = q[n] = 0;
  for (int i = 2; i <= n - 1; ++i) {
    const double d1 = (y[i + 1] - y[i - 1]) / 2;
    const double d2 = y[i - 1] - 2 * y[i] + y[i + 1];
    const SmoothedPoint five = SmoothPoint(y, n, i);
    const double q3 = d2 / std::sqrt(d1 * d1 + 1);
    const double q5 = five.second / std::sqrt(five.first * five.first + 1);
    q[i] = (q3 + q5) / 2 + 1e-6 * i;  // the tilt makes equal curvatures unequal
  }
  const double f = wMid < 5 ? 2 : 1;  // narrow peaks need more margin against noise
  const bool low = segmentMax < std::max(3 * smallStatistics_, 150.0);
  for (int i = 2; i <= n - 1; ++i) {
    const double fe = f * e[i];
    bool top = i >= 3 && i <= n - 2 && y[i] > y[i - 2] && y[i] > y[i - 1] && y[i] > y[i + 1] &&
               y[i] > y[i + 2] && y[i] > fe;
    if (!top) {
      top = i >= 4 && i <= n - 3 && y[i] > y[i - 3] && y[i] > (y[i - 2] + y[i - 1]) / 2 && y[i] > y[i + 3] &&
            y[i] > (y[i + 1] + y[i + 2]) / 2 && y[i] > fe;
    }
    if (!top || !(q[i] < 0 && q[i] < q[i - 1] && q[i] < q[i + 1])) continue;
    // The curvature limit scales with the counts, so that weak peaks of a segment scaled down for
    // its strong ones keep their chance. On a low segment the curvature of a weak, wide line stays
    // within that limit although its counts stand clearly out: there the counts decide.
    if (!(q[i] < -1.5 * scale_) && !(low && CountsStandOut(i, wMid))) continue;
    if (!(y[i] > sensitivity_ * e[i] && y[i + 1] > f * e[i + 1] && y[i - 1] > f * e[i - 1])) continue;
    Append(i, q[i], -1);
  }

  // On a low segment a rugged but level stretch can pass the tests: compare the total variation
  // with the statistical scatter.
  if (low) {
    for (int k = 1; k <= count_; ++k) {
      const double pk = w_.position[k];
      double total = 0, scatter = 0;
      for (int j = std::max(1, Round(pk - 3)); j <= std::min(n - 1, Round(pk + 3)); ++j) {
        total += std::fabs(y[j + 1] - y[j]);
        scatter += std::sqrt(y[j]);
      }
      if (total < 0.33 * sensitivity_ * scatter) w_.position[k] = 0;
    }
    Compact();
  }

  // Candidates on neighbouring points are one peak at their count-weighted mean.
  for (int k = 1; k <= count_ - 1; ++k) {
    const int u = Clip(Round(w_.position[k])), v = Clip(Round(w_.position[k + 1]));
    if (v - u <= 1) {
      w_.position[k + 1] = (u * y[u] + v * y[v]) / std::max(y[u] + y[v], 1.0);
      w_.position[k] = 0;
    }
  }
  Compact();
}

// The net counts within ±0.75 widths of point c exceed kStandOut·sensitivity times their error.
bool SegmentSearch::CountsStandOut(int c, double width) const {
  const double* y = w_.y.data();
  const double* e = w_.e.data();
  const int h = std::max(1, Round(0.75 * width));
  double sum = 0, variance = 0;
  for (int j = std::max(1, c - h); j <= std::min(n_, c + h); ++j) {
    sum += y[j];
    variance += e[j] * e[j];
  }
  return sum > kStandOut * sensitivity_ * std::sqrt(variance);
}

// A candidate must carry significantly more counts than its errors over about 1.5 widths around it;
// afterwards the insignificant points are cleared from y.
void SegmentSearch::WeakTest(double factor, double width) {
  double* y = w_.y.data();
  const double* e = w_.e.data();
  double* pos = w_.position.data();
  double previous = 1;  // p_0
  for (int k = 1; k <= count_; ++k) {
    const double gapLeft = pos[k] - previous;
    const double next = k < count_ ? pos[k + 1] : n_;
    const double gapRight = next - pos[k];
    previous = pos[k];
    const int c = Clip(Round(pos[k]));
    int lo = std::max(1, c - Round(std::min(gapLeft / 2, 0.75 * width)));
    int hi = std::min(n_, c + Round(std::min(gapRight / 2, 0.75 * width)));
    if (hi - lo < 2) {
      lo = std::max(1, c - 1);
      hi = std::min(n_, c + 1);
    }
    double sum = 0, variance = 0;
    for (int j = lo; j <= hi; ++j) {
      sum += y[j];
      variance += e[j] * e[j];
    }
    // Marked by a negative sign so that the gaps of the later candidates keep the original positions.
    if (!(std::sqrt(variance) * sensitivity_ * 3 * factor < sum)) pos[k] = -pos[k];
  }
  for (int k = 1; k <= count_; ++k) {
    if (pos[k] < 0) pos[k] = 0;
  }
  for (int j = 1; j <= n_; ++j) {
    if (y[j] < e[j] * sensitivity_ * factor) y[j] = 0;
  }
  Compact();
}

void SegmentSearch::AnalyseMultiplets(bool& widthConsistent) {
  double* y = w_.y.data();
  double* pos = w_.position.data();
  double* found = w_.found.data();
  const double tolerance = deltaWidth_ * compr_;
  if (count_ >= 2) {
    // Width check: the found widths against each other and against the width law.
    double sumFound = 0, sumLaw = 0;
    for (int k = 1; k <= count_; ++k) {
      const double law = CalibratedWidth(pos[k]);
      found[k] = WidthEstimate(y, Clip(Round(pos[k])), n_);
      sumFound += found[k] == -1 ? law : found[k];
      sumLaw += law;
    }
    const double meanFound = sumFound / count_, meanLaw = sumLaw / count_;
    const double medianFound = Median(found, count_, w_.scratch.data());
    if (std::fabs(meanFound - medianFound) > 3 * tolerance ||
        std::fabs(meanFound - meanLaw) > 3 * tolerance) {
      widthConsistent = false;
    }

    const int original = count_;
    for (int k = 1; k <= original; ++k) Classify(k, original, w_.tag[k]);

    // Removal of the unclassifiable candidates, doublet partners included.
    for (int k = 1; k <= count_; ++k) {
      if (w_.tag[k] == 0) pos[k] = 0;
    }
    // In a very weak segment a candidate without a distinct top is dropped too. The reach of the
    // test is limited to the calibrated width W_k: beyond one width the neighbourhood belongs to
    // other peaks.
    if (maxBeforeScaling_ < 20) {
      for (int k = 1; k <= count_; ++k) {
        if (pos[k] == 0) continue;
        const int c = Clip(Round(pos[k]));
        const double reach = CalibratedWidth(pos[k]);
        const double nextFound = k < count_ ? found[k + 1] : 2 * reach;
        const int lo = std::max(1, c - Round(std::min(medianFound / 2, reach)));
        const int hi = std::min(n_, c + Round(std::min(nextFound / 2, reach)));
        int distinct = 0;
        for (int j = lo; j <= hi; ++j) {
          if (std::fabs(y[j] - y[c]) > sensitivity_ * w_.e[j]) ++distinct;
        }
        const bool regular = (static_cast<int>(w_.tag[k]) & 2) != 0;
        if (distinct < 3 && !regular && hi - lo > 4) pos[k] = 0;
      }
    }
    Compact();
    Sort();
  }
  if (count_ > 0) Strip();
  RemoveSpikes();
}

// Class code 4·strong + 2·regular width + isolated of candidate k; a strong, isolated candidate that
// is much broader than the width law becomes a doublet (a partner is appended).
void SegmentSearch::Classify(int k, int total, double& code) {
  const double* y = w_.y.data();
  double* pos = w_.position.data();
  const double* found = w_.found.data();
  const double tolerance = deltaWidth_ * compr_ * resolution_;
  const int c = Clip(Round(pos[k]));
  const double yc = y[c];
  const double t = 3 * sensitivity_ * std::fabs(w_.e[c]);
  const double law = CalibratedWidth(pos[k]);
  const double fk = found[k];
  bool strong = yc >= t;
  bool regular = fk != -1 && std::fabs(fk - law) <= tolerance;
  bool isolated =
      fk != -1 && (k == 1 || pos[k] - pos[k - 1] > 2 * law) && (k == total || pos[k + 1] - pos[k] > 2 * law);
  if ((fk >= 0.5 && fk <= 1.5) || (yc < t && fk < law) || yc < t / 2 || (!strong && !regular && yc <= 200)) {
    strong = regular = isolated = false;
  }
  const bool broadened = fk - law > 1.5 * tolerance && deltaWidth_ / law < 0.25;
  code = 4 * strong + 2 * regular + isolated;
  if (strong && broadened && isolated && !regular && yc > 200) {
    int d = Round(fk);
    if (k > 1) d = std::max(d, Round(found[k - 1]));
    if (k < total) d = std::max(d, Round(found[k + 1]));
    const double left = k > 1 ? pos[k - 1] : 1;
    const double right = k < total ? pos[k + 1] : n_;
    if (c - d - left > 0 && right - c - d > 0) {
      const int half = std::max(3, Round(law / 2));
      if (Append(Clip(c + half), code, fk)) pos[k] = Clip(c - half);
    }
  }
}

// Subtracts the model peak centred at point c from y, clipping at 0. `widened`: the model value is
// the largest of three samples one point apart, which covers a centre off by up to one point.
void SegmentSearch::Subtract(int c, double amplitude, double width, bool widened) {
  if (!(modelMax_ > 0) || !(width > 0)) return;
  double* y = w_.y.data();
  const double scale = amplitude / modelMax_;
  const double step = 1 / width;
  // Tabulated models vanish beyond their table; the closed forms never do.
  int reach = n_;
  if (model_.kind != 2 && model_.kind != 6) {
    const double r = std::ceil(model_.range * width + 2);
    if (r < n_) reach = static_cast<int>(r);
  }
  for (int j = std::max(1, c - reach); j <= std::min(n_, c + reach); ++j) {
    const double x = (j - c) / width;
    double v = model_.EvaluateShape(x);
    if (widened) v = std::max({v, model_.EvaluateShape(x + step), model_.EvaluateShape(x - step)});
    y[j] = std::max(0.0, y[j] - v * scale);
  }
}

// Every candidate is stripped from y with the current peak model, so that what remains shows peaks
// hidden under or beside them.
void SegmentSearch::Strip() {
  const double* y = w_.y.data();
  for (int k = 1; k <= count_; ++k) {
    int c = Clip(Round(w_.position[k]));
    if (c > 1 && y[c - 1] > y[c]) {
      --c;
    } else if (c < n_ && y[c + 1] > y[c]) {
      ++c;
    }
    Subtract(c, y[c], std::max(1.0, CalibratedWidth(w_.position[k])), true);
  }
}

// Isolated single points and pairs between zeros are noise, not peaks.
void SegmentSearch::RemoveSpikes() {
  double* y = w_.y.data();
  for (int j = 2; j <= n_ - 1; ++j) {
    if (y[j] > 0 && y[j - 1] == 0 && y[j + 1] == 0) y[j] = 0;
  }
  for (int j = 2; j <= n_ - 2; ++j) {
    if (y[j] > 0 && y[j + 1] > 0 && y[j - 1] == 0 && y[j + 2] == 0) y[j] = y[j + 1] = 0;
  }
}

// Peaks left in the stripped y: the highest remaining point is a peak when the counts of its
// neighbourhood are significant and fill about one width.
void SegmentSearch::FindHiddenPeaks(double factor) {
  double* y = w_.y.data();
  const int h = Round(kw0_ + kw1_ * (a_ + b_) / 2.0);
  const int reach = std::max(0, h);
  // Every round clears at least its maximum, so n rounds suffice.
  for (int pass = 0; pass < n_; ++pass) {
    const MinMax mm = MinMaxInRange(y, 1, n_, n_);
    const int c = mm.maxPosition;
    if (!(mm.maxValue >= 16 * scale_)) break;
    int lo = c, hi = c;
    while (lo > std::max(1, c - reach)) {
      if (y[--lo] == 0) break;
    }
    while (hi < std::min(n_, c + reach)) {
      if (y[++hi] == 0) break;
    }
    double sum = 0;
    int positive = 0;
    for (int j = lo; j <= hi; ++j) {
      sum += y[j];
      positive += y[j] > 0;
    }
    const double t = (hi - lo + 1) * 2 * sensitivity_ * factor * std::fabs(w_.e[c]);
    double width = CalibratedWidth(c) + 0.5;
    if (!(width >= 0.25)) width = 0.25;
    Subtract(c, y[c], width, false);
    y[c] = 0;  // guarantees progress whatever the model's centre value
    if (t < sum && h <= positive + 1) Append(c, 0, -1);
  }
  Sort();
}

// Candidates closer than the statistics can separate are one peak at their mean position.
void SegmentSearch::MergeClosePairs(double width) {
  double* pos = w_.position.data();
  const int rounds = count_ - 1;
  for (int r = 0; r < rounds && count_ >= 2; ++r) {
    int k = 1;
    for (int i = 2; i <= count_ - 1; ++i) {
      if (pos[i + 1] - pos[i] < pos[k + 1] - pos[k]) k = i;
    }
    const double gap = pos[k + 1] - pos[k];
    const int u = Clip(Round(pos[k])), v = Clip(Round(pos[k + 1]));
    const double t = std::max(1.0, 2 * width * std::fabs(1 / w_.spread[u] + 1 / w_.spread[v]) * resolution_);
    if (gap >= t && gap >= 2) break;
    pos[k] = (pos[k] + pos[k + 1]) / 2;
    pos[k + 1] = 0;
    Compact();
    Sort();
  }
}

// Significance of the candidates against noise and against the flanks of their neighbours.
constexpr int kLocalPeaks = 9;  // candidates in one local fit, the tested one included
constexpr int kLocalSize = kLocalPeaks + 3;
static_assert(std::tuple_size_v<decltype(PeakSearchWork::localShapes)> == (2 * 1024 + 1) * kLocalPeaks);
constexpr double kShapeError = 0.03;  // relative error of a neighbour's modelled counts
using LocalMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, kLocalSize, kLocalSize>;
using LocalVector = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, kLocalSize, 1>;

class LocalFit {
 public:
  LocalFit(const TSpectrum& s, int first, int last, double kw0, double kw1, const TPeakModel& model,
           const double* pos, int count, double* shapes)
      : s_(s),
        first_(first),
        last_(last),
        kw0_(kw0),
        kw1_(kw1),
        model_(model),
        pos_(pos),
        count_(count),
        shapes_(shapes) {
    gaussian_ = !(model.EvaluateShape(0) > 0);
    bounded_ = model.kind != 2 && model.kind != 6 && model.range > 0;
  }

  struct Result {
    bool ok = false;
    double chi2 = 0;
    std::array<double, 2> amplitude{}, z{};
  };

  // Weighted linear least-squares fit of the counts within ±3 widths of `centre` (at most ±1024
  // channels): a quadratic background, the peak shape (width from the law) at each of the `trials`
  // positions, and the shapes of the nearest candidates with active[i] != 0 (scanning out from
  // candidate `near`; `skip1`, `skip2` left out) whose centres lie within ±4.5 widths, so that their
  // flanks are explained by their own shape. Positions are fixed, so the fit is linear. Weights: the
  // inverse of the counts averaged over three channels, at least 1.
  Result Solve(double centre, int near, const double* trial, int trials, int skip1, int skip2,
               const unsigned char* active) const {
    Result r;
    const double w = Width(centre);
    std::array<double, kLocalPeaks> at{};
    int members = 0;
    for (; members < trials; ++members) at[members] = trial[members];
    auto usable = [&](int i) { return active[i] && i != skip1 && i != skip2; };
    int left = near, right = near + 1;
    while (members < kLocalPeaks) {
      while (left >= 1 && !usable(left)) --left;
      while (right <= count_ && !usable(right)) ++right;
      const double dl = left >= 1 ? centre - pos_[left] : 1e300;
      const double dr = right <= count_ ? pos_[right] - centre : 1e300;
      if (!(std::min(dl, dr) < 4.5 * w)) break;
      at[members++] = dl <= dr ? pos_[left--] : pos_[right++];
    }
    const int size = 3 + members;
    // At most 1024 channels either side, so that absurd width laws cannot make the search crawl.
    const double reach = std::min(3 * w, 1024.0);
    const int lo = std::max(first_, Round(centre - reach)), hi = std::min(last_, Round(centre + reach));
    if (hi - lo + 1 <= size) return r;
    std::array<double, kLocalPeaks> inverseWidth{};
    for (int m = 0; m < members; ++m) inverseWidth[m] = 1 / Width(at[m]);
    // The shapes are worked out once for both accumulations below.
    for (int j = lo; j <= hi; ++j) {
      double* shape = shapes_ + (j - lo) * kLocalPeaks;
      for (int m = 0; m < members; ++m) shape[m] = Shape((j - at[m]) * inverseWidth[m]);
    }
    // The lower triangle of the normal matrix, accumulated by hand: small and of varying size.
    std::array<double, kLocalSize * kLocalSize> sums{};
    LocalVector rhs(size), x(size);
    std::array<double, kLocalSize> row{};
    double yy = 0;
    const double inverseSpan = 1 / reach;
    // `neighbours`: the neighbours' amplitudes of a first solution, or null. With them, each channel's
    // variance grows by the square of kShapeError times the neighbours' counts there: a strong
    // neighbour's shape is never exact (position, width, tails), and its misfit must not make a peak.
    auto accumulate = [&](const LocalVector* neighbours) {
      std::fill(sums.begin(), sums.end(), 0.0);
      rhs.setZero();
      yy = 0;
      for (int j = lo; j <= hi; ++j) {
        const double y = Count(j);
        double variance =
            std::max(1.0, (std::fabs(Count(j - 1)) + std::fabs(y) + std::fabs(Count(j + 1))) / 3);
        const double t = (j - centre) * inverseSpan;
        row[0] = 1;
        row[1] = t;
        row[2] = t * t;
        const double* shape = shapes_ + (j - lo) * kLocalPeaks;
        for (int m = 0; m < members; ++m) row[3 + m] = shape[m];
        if (neighbours) {
          double counts = 0;
          for (int m = trials; m < members; ++m) counts += std::max(0.0, (*neighbours)(3 + m)) * row[3 + m];
          variance += kShapeError * kShapeError * counts * counts;
        }
        const double weight = 1 / variance;
        for (int a = 0; a < size; ++a) {
          const double ra = row[a] * weight;
          double* line = sums.data() + a * kLocalSize;
          for (int b = 0; b <= a; ++b) line[b] += ra * row[b];
          rhs(a) += ra * y;
        }
        yy += (y * weight) * y;  // in this order, so that huge counts do not overflow
      }
    };
    Eigen::LDLT<LocalMatrix> ldlt(size);
    auto solve = [&] {
      LocalMatrix normal(size, size);
      for (int a = 0; a < size; ++a) {
        for (int b = 0; b <= a; ++b) normal(a, b) = normal(b, a) = sums[a * kLocalSize + b];
      }
      // A whisker of ridge keeps coinciding shapes solvable; their significance then is small.
      for (int i = 0; i < size; ++i) normal(i, i) *= 1 + 1e-10;
      ldlt.compute(normal);
      if (ldlt.info() != Eigen::Success) return false;
      x = ldlt.solve(rhs);
      return true;
    };
    accumulate(nullptr);
    if (!solve()) return r;
    if (members > trials) {
      const LocalVector first = x;
      accumulate(&first);
      if (!solve()) return r;
    }
    // χ² = yᵀWy − xᵀ(AᵀWy) at the solution.
    r.chi2 = yy - x.dot(rhs);
    for (int m = 0; m < trials; ++m) {
      LocalVector unit = LocalVector::Zero(size);
      unit(3 + m) = 1;
      const double variance = ldlt.solve(unit)(3 + m);
      if (!(variance > 0) || !std::isfinite(x(3 + m))) return r;
      r.amplitude[m] = x(3 + m);
      r.z[m] = x(3 + m) / std::sqrt(variance);
    }
    r.ok = std::isfinite(r.chi2);
    return r;
  }

  // Amplitude over its standard error of candidate k, placed at channel p, among its neighbours.
  double Significance(int k, const unsigned char* active) const { return Significance(k, active, pos_[k]); }
  double Significance(int k, const unsigned char* active, double p) const {
    const Result r = Solve(p, k, &p, 1, k, 0, active);
    return r.ok ? r.z[0] : 0;
  }
  double Width(double p) const { return std::max(1.0, kw0_ + kw1_ * p); }

 private:
  double Count(int j) const { return SafeCount(s_.sp[std::clamp(j, first_, last_)]); }
  double Shape(double u) const {
    if (gaussian_) return std::exp(-2.772588722239781 * u * u);
    // Models other than the Lorentzian and the exponential vanish beyond their range.
    if (bounded_ && std::fabs(u) > model_.range) return 0;
    return model_.EvaluateShape(u);
  }

  const TSpectrum& s_;
  int first_, last_;
  double kw0_, kw1_;
  const TPeakModel& model_;
  const double* pos_;
  int count_;
  double* shapes_;  // kLocalPeaks values per channel of the window
  bool gaussian_ = false, bounded_ = false;
};

// Keeps the candidates listed[1..count] (ascending) whose local fit shows them above noise:
// amplitude above kSignificance·sensitivity standard errors. A candidate that fails beside another
// failing one (two candidates sharing one peak's counts) is tried again against the passing
// candidates only. Returns the new count; significance[] follows the kept candidates.
constexpr double kSignificance = 3;

int KeepSignificant(const TSpectrum& s, int first, int last, double kw0, double kw1, const TPeakModel& model,
                    double sensitivity, PeakSearchWork& work, int count) {
  LocalFit fit(s, first, last, kw0, kw1, model, work.listed.data(), count, work.localShapes.data());
  unsigned char* active = work.verdict.data();
  const double threshold = kSignificance * std::max(sensitivity, 0.0);
  std::fill(active + 1, active + count + 1, 1);
  for (int k = 1; k <= count; ++k) work.significance[k] = fit.Significance(k, active);
  for (int k = 1; k <= count; ++k) active[k] = work.significance[k] > threshold ? 1 : 0;
  const int lastChannel = std::min(last, static_cast<int>(s.sp.size()) - 1);
  for (int k = 1; k <= count; ++k) {
    if (active[k]) continue;
    // Tested against the passing candidates only (k itself is always in its own fit).
    double z = fit.Significance(k, active);
    if (!(z > threshold)) {
      // A candidate the search left on the flank of its peak (a merged pair, say): the top within
      // two widths, when no passing candidate holds it already.
      const double p = work.listed[k];
      const double w = std::max(1.0, kw0 + kw1 * p);
      const int lo = std::max(first, Round(p - 2 * w)), hi = std::min(lastChannel, Round(p + 2 * w));
      int m = lo;
      for (int j = lo + 1; j <= hi; ++j) {
        if (SafeCount(s.sp[j]) > SafeCount(s.sp[m])) m = j;
      }
      bool taken = m == lo || m == hi;
      for (int i = std::max(1, k - kLocalPeaks); i <= std::min(count, k + kLocalPeaks) && !taken; ++i)
        taken = active[i] && std::fabs(work.listed[i] - m) < 0.5 * w;
      if (!taken && fit.Significance(k, active, m) > threshold) {
        work.listed[k] = m;
        z = fit.Significance(k, active);
      }
    }
    if (z > threshold) {
      work.significance[k] = z;
      active[k] = 2;
    }
  }
  int kept = 0;
  for (int k = 1; k <= count; ++k) {
    if (!active[k]) continue;
    // Moved candidates stay in order: insertion into the kept, ascending part.
    int i = ++kept;
    const double p = work.listed[k], z = work.significance[k];
    for (; i > 1 && work.listed[i - 1] > p; --i) {
      work.listed[i] = work.listed[i - 1];
      work.significance[i] = work.significance[i - 1];
    }
    work.listed[i] = p;
    work.significance[i] = z;
  }
  return kept;
}

// Two candidates closer than 1.5 widths that one peak explains as well (χ² within kPairChi2 of the
// pair's, or either of the pair insignificant) are one peak at the best place between them: the fit
// would share one line's counts between two peaks. Returns the new count.
constexpr double kPairChi2 = 16;

int MergePairs(const TSpectrum& s, int first, int last, double kw0, double kw1, const TPeakModel& model,
               double sensitivity, PeakSearchWork& work, int count) {
  double* pos = work.listed.data();
  unsigned char* active = work.verdict.data();
  const double threshold = kSignificance * std::max(sensitivity, 0.0);
  const double gain = std::max(kPairChi2, threshold * threshold);
  LocalFit fit(s, first, last, kw0, kw1, model, pos, count, work.localShapes.data());
  std::fill(active + 1, active + count + 1, 1);
  // Merging: the single peak is tried at nine places from one to the other.
  for (int i = 1; i < count; ++i) {
    if (!active[i]) continue;
    int j = i + 1;
    while (j <= count && !active[j]) ++j;
    if (j > count) break;
    const double w = fit.Width(pos[i]);
    if (!(pos[j] - pos[i] < 1.5 * w)) continue;
    const double centre = (pos[i] + pos[j]) / 2;
    const double pair[2] = {pos[i], pos[j]};
    const LocalFit::Result two = fit.Solve(centre, i, pair, 2, i, j, active);
    if (!two.ok) continue;
    double best = centre, bestChi2 = 1e300;
    for (int step = 0; step <= 8; ++step) {
      const double x = pos[i] + (pos[j] - pos[i]) * step / 8;
      const LocalFit::Result one = fit.Solve(centre, i, &x, 1, i, j, active);
      if (one.ok && one.chi2 < bestChi2) bestChi2 = one.chi2, best = x;
    }
    if (bestChi2 - two.chi2 < gain || two.z[0] < threshold || two.z[1] < threshold) {
      pos[i] = best;
      active[j] = 0;
      --i;  // the merged peak may meet its next neighbour
    }
  }
  int kept = 0;
  for (int k = 1; k <= count; ++k) {
    if (active[k]) pos[++kept] = pos[k];
  }
  return kept;
}

}  // namespace

PeakEstimate EstimatePeak(const TSpectrum& spectrum, double p, double width) {
  PeakEstimate r;
  const int first = std::max(1, spectrum.a1);
  const int last = std::min(spectrum.a2, static_cast<int>(spectrum.sp.size()) - 1);
  r.position = p;
  if (!(p >= first && p <= last)) return r;
  r.ok = true;
  auto y = [&](int ch) { return SafeCount(spectrum.sp[std::clamp(ch, first, last)]); };
  const int c = Round(p);
  const int reach = std::max(1, Round(std::max(width, 2.0) / 2));
  const int lo = std::max(first, c - reach), hi = std::min(last, c + reach);
  int m = lo;
  for (int j = lo + 1; j <= hi; ++j) {
    if (y(j) > y(m)) m = j;
  }
  // When the counts still rise beyond the window, its highest channel is the flank of a larger peak
  // further away, not a top of this one: moving there would stack two peaks on one. The position
  // stays where the search put it.
  const bool flank =
      (m == lo && lo > first && y(lo - 1) > y(lo)) || (m == hi && hi < last && y(hi + 1) > y(hi));
  if (!flank) {
    double sum = 0, moment = 0;
    for (int j = std::max(first, m - 2); j <= std::min(last, m + 2); ++j) {
      sum += y(j);
      moment += (j - m) * y(j);
    }
    // Negative counts could throw the centroid out of its five channels.
    r.position = sum > 0.01 ? std::clamp(m + moment / sum, m - 2.0, m + 2.0) : m;
  }
  const double w = std::max(width, 2.0);
  r.first = std::max(first, Round(r.position - 1.5 * w));
  r.last = std::min(last, Round(r.position + 1.5 * w));
  double total = 0;
  for (int j = r.first; j <= r.last; ++j) total += y(j);
  r.background = (r.last - r.first + 1) * (y(r.first) + y(r.first + 1) + y(r.last) + y(r.last - 1)) / 4;
  r.netArea = std::max(total - r.background, 0.0);
  return r;
}

PeakSearchResult SearchPeaks(const TSpectrum& spectrum, int b1, int b2, double deltaWidth, double width2,
                             double width1, const AnalysisState& state, const TPeakModel& model,
                             PeakSearchWork& work, Marking& marking, UiPort& port) {
  PeakSearchResult result;
  marking.peakCount = 0;
  const int first = std::max(1, spectrum.a1);
  const int last = std::min(spectrum.a2, static_cast<int>(spectrum.sp.size()) - 1);
  b1 = std::clamp(b1, first, std::max(first, last));
  b2 = std::clamp(b2, first, std::max(first, last));

  // Width law over the interval without its end channels; without valid widths it stays 0.
  const int s = std::max(2, b1), e = b2 - 1, length = e - s;
  const bool widthsValid = std::isfinite(width1) && std::isfinite(width2) && width1 > 0 && width2 > 0;
  if (widthsValid) {
    result.kw1 = (width2 - width1) / std::max(1, length);
    result.kw0 = width2 - e * result.kw1;
    // Wide peaks are compressed to about eight points per width.
    result.compr = width1 > 8 ? width1 / 8 : 1;
  }
  const double compr = result.compr;
  marking.kw1 = result.kw1 / compr;
  marking.kw0 = result.kw0 / compr;
  marking.compr = compr;
  if (!widthsValid || last < first) return result;
  const int minLength = Round((width1 + width2) / 2);
  if (length <= minLength || state.resolution == 0) return result;

  // At least 3 points so that the valley cut always moves on; at most the work arrays' capacity.
  const int segmentLength =
      static_cast<int>(std::clamp(std::nearbyint(state.maxInterval * compr), 3.0, double{kSearchCapacity}));
  SegmentSearch search(work, state, model, deltaWidth, compr, marking.kw1, marking.kw0);
  // Every segment of the interval is searched; the candidates are judged together afterwards.
  int count = 0;
  for (int a = s; e - a > minLength;) {
    int b = std::min(a + segmentLength - 1, e);
    int n = b - a + 1;
    for (int j = 1; j <= n; ++j) {
      const int ch = a + j - 1;
      // The rising tilt makes equal neighbouring counts unequal.
      work.y[j] = std::max(0.0, SafeCount(spectrum.sp[ch]) + 1e-6 * ch);
    }
    // End the segment in the deepest valley of its last third, so that no peak is cut.
    const int m0 = 2 * (segmentLength / 3) + 1;
    if (m0 < n) {
      n = MinMaxInRange(work.y.data(), m0, n, n).minPosition;
      b = a + n - 1;
    }
    const int found = search.Run(a, b, n, port, result.widthConsistent);
    for (int k = 1; k <= found && count < kSearchCapacity; ++k) {
      // A compressed point p is centred on channel a + (p − 1)·compr − 1.5.
      const double p = work.position[k];
      work.searched[++count] = std::fabs(compr > 1 ? a + (p - 1) * compr - 1.5 : a + p - 1);
    }
    a = b;  // neighbouring segments share their boundary channel
  }
  SortArray(work.searched.data(), count, 1);

  // Final positions and net areas on the full spectrum.
  auto law = [&](double p) { return result.kw0 + result.kw1 * p; };
  for (int k = 1; k <= count; ++k) {
    const double p = work.searched[k];
    const PeakEstimate est = EstimatePeak(spectrum, p, law(p));
    work.listed[k] = est.ok ? est.position : p;
    work.netArea[k] = est.netArea;
  }
  // Two candidates the search placed within half a width of each other are one peak found twice (at a
  // shared segment boundary): the one with the larger net area stays. Candidates the search placed
  // apart stay apart: when their refinements meet, both keep the search's positions.
  for (int k = 1; k < count; ++k) {
    for (int i = k + 1; i <= count && work.searched[i] - work.searched[k] < 2 * law(work.searched[k]); ++i) {
      if (work.listed[k] == 0 || work.listed[i] == 0) continue;
      const double half = std::max(0.5 * law(work.listed[k]), 1e-9);
      if (std::fabs(work.listed[i] - work.listed[k]) >= half) continue;
      if (work.searched[i] - work.searched[k] < half) {
        work.listed[work.netArea[i] > work.netArea[k] ? k : i] = 0;
      } else {
        work.listed[k] = work.searched[k];
        work.listed[i] = work.searched[i];
      }
    }
  }
  int kept = 0;
  for (int k = 1; k <= count; ++k) {
    if (work.listed[k] == 0) continue;
    ++kept;
    work.listed[kept] = work.listed[k];
    work.netArea[kept] = work.netArea[k];
  }
  count = kept;
  SortArray(work.listed.data(), count, 1);
  count =
      KeepSignificant(spectrum, first, last, result.kw0, result.kw1, model, state.sensitivity, work, count);
  count = MergePairs(spectrum, first, last, result.kw0, result.kw1, model, state.sensitivity, work, count);

  // The most significant candidates fill the peak list.
  if (count > kMaxMarkedPeaks) {
    result.listFull = true;
    std::copy(work.significance.begin() + 1, work.significance.begin() + count + 1, work.netArea.begin() + 1);
    std::nth_element(work.netArea.begin() + 1, work.netArea.begin() + (count - kMaxMarkedPeaks),
                     work.netArea.begin() + count + 1);
    const double cut = work.netArea[count - kMaxMarkedPeaks];
    int listed = 0;
    for (int k = 1; k <= count && listed < kMaxMarkedPeaks; ++k) {
      if (work.significance[k] > cut) marking.peakList[++listed] = work.listed[k];
    }
    for (int k = 1; k <= count && listed < kMaxMarkedPeaks; ++k) {
      if (work.significance[k] == cut) marking.peakList[++listed] = work.listed[k];
    }
    count = listed;
    SortArray(marking.peakList.data(), count, 1);
  } else {
    std::copy(work.listed.begin() + 1, work.listed.begin() + count + 1, marking.peakList.begin() + 1);
  }
  marking.peakCount = count;
  result.peakCount = count;
  return result;
}

}  // namespace orv
