#include "analysis/automatic/automatic_analysis.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "analysis/automatic/edge_test.h"
#include "analysis/interval_checks.h"
#include "analysis/interval_fit.h"
#include "analysis/peak_search.h"
#include "analysis/workspace.h"

namespace orv {
namespace {

// The chord of the law over a piece of the interval stays within this fraction of the law, so that
// the search's straight width law holds on every piece.
constexpr double kChordTolerance = 0.02;
// Residual structure worth a try: the matched-filter significance of a missing peak.
constexpr double kResidualTry = 3.0;
// Peaks in a row, each close to the next, that make one broad structure rather than lines.
constexpr int kCombPeaks = 4;
// Peaks closer than this many widths of the law are not resolved from each other.
constexpr double kLeastSeparation = 0.5;
// Peaks closer than this many widths share counts, and each must show it is needed.
constexpr double kCrowded = 1.5;
// A line's tail and the misfit of its shape (low-energy tailing of a few per cent is common in
// semiconductor detectors) reach this many widths and carry up to this share of its area: a peak
// there, and no larger, cannot be told from them.
constexpr double kShapeReach = 2.5;
constexpr double kShapeShare = 0.05;
// Peaks below this criterion are tested against a smeared step of the continuum; above it a step
// cannot pass for a line, and the test would only cost time.
constexpr double kEdgeTested = 10;
// The background polynomial under the step or the peak in that test: enough for the continuum's
// curvature over one interval.
constexpr int kEdgeDegree = 2;

struct PeakGroup {
  int start = 0, end = 0;
  std::vector<double> peaks;
};

// The program's search over first..last, piece by piece: on each piece the search's straight law is
// the chord of `law`. Every piece is searched with a margin of a few widths on both sides, and keeps
// the peaks of its own stretch, so that a line on a joint is found once.
std::vector<double> SearchWithLaw(Workspace& ws, const TSpectrum& s, UiPort& port, const WidthLaw& law,
                                  int first, int last) {
  if (!ws.searchWork) ws.searchWork = std::make_unique<PeakSearchWork>();
  auto piece = std::make_unique<Marking>();
  std::vector<double> found;
  int c0 = first;
  while (c0 < last) {
    int c1 = std::min(c0 + 256, last);
    while (c1 < last) {
      const int next = std::min(c1 + 256, last);
      const double mid = (c0 + next) / 2.0;
      const double chord = (law.At(c0) + law.At(next)) / 2;
      if (std::fabs(chord - law.At(mid)) > kChordTolerance * law.At(mid)) break;
      c1 = next;
    }
    const int pad = static_cast<int>(std::ceil(4 * law.At(c1))) + 2;
    const int sa = std::max(first, c0 - pad), sb = std::min(last, c1 + pad);
    SearchPeaks(s, sa, sb, law.DeltaAt((sa + sb) / 2.0), law.At(sb), law.At(sa), ws.state, ws.model(),
                *ws.searchWork, *piece, port);
    for (int k = 1; k <= piece->peakCount; ++k) {
      const double p = piece->peakList[k];
      if (p >= c0 && (p < c1 || c1 == last)) found.push_back(p);
    }
    c0 = c1;
  }
  std::sort(found.begin(), found.end());
  // Two marks within half a width are one line.
  std::vector<double> merged;
  for (double p : found) {
    if (!merged.empty() && p - merged.back() < 0.5 * law.At(p))
      merged.back() = (merged.back() + p) / 2;
    else
      merged.push_back(p);
  }
  if (static_cast<int>(merged.size()) > kMaxMarkedPeaks) merged.resize(kMaxMarkedPeaks);
  return merged;
}

// Fitting intervals: each peak gets kWidth widths of the law plus adInterv channels on each side,
// overlapping stretches join, and a stretch longer than maxInterval is split at its widest gap.
std::vector<PeakGroup> FormGroups(const AnalysisState& st, const WidthLaw& law,
                                  const std::vector<double>& peaks, int first, int last) {
  std::vector<PeakGroup> groups;
  for (double p : peaks) {
    const double reach = st.kWidth * law.At(p) + st.adInterv;
    const int lo = std::max(first, static_cast<int>(std::floor(p - reach)));
    const int hi = std::min(last, static_cast<int>(std::ceil(p + reach)));
    if (!groups.empty() && lo <= groups.back().end) {
      groups.back().end = std::max(groups.back().end, hi);
      groups.back().peaks.push_back(p);
    } else {
      groups.push_back({lo, hi, {p}});
    }
  }
  std::vector<PeakGroup> out;
  std::vector<PeakGroup> pending(groups.rbegin(), groups.rend());
  while (!pending.empty()) {
    PeakGroup g = std::move(pending.back());
    pending.pop_back();
    const int n = static_cast<int>(g.peaks.size());
    if ((g.end - g.start + 1 <= st.maxInterval && n <= kMaxPeaks) || n < 2) {
      out.push_back(std::move(g));
      continue;
    }
    int widest = 0;
    for (int k = 1; k + 1 < n; ++k)
      if (g.peaks[k + 1] - g.peaks[k] > g.peaks[widest + 1] - g.peaks[widest]) widest = k;
    const int cut = static_cast<int>(std::lround((g.peaks[widest] + g.peaks[widest + 1]) / 2));
    PeakGroup left{g.start, cut, std::vector<double>(g.peaks.begin(), g.peaks.begin() + widest + 1)};
    PeakGroup right{cut, g.end, std::vector<double>(g.peaks.begin() + widest + 1, g.peaks.end())};
    pending.push_back(std::move(right));
    pending.push_back(std::move(left));
  }
  return out;
}

class IntervalRefiner {
 public:
  IntervalRefiner(Workspace& ws, const WidthLaw& law, int degree) : ws_(ws), law_(law), degree_(degree) {}

  // Fits start..end with the marks pos[1..n] and the law's tangent over the interval; with `width` > 0
  // the peaks start from that width instead and may take any width up to twice it.
  bool Fit(int start, int end, const std::vector<double>& pos, double width = 0) {
    IntervalFitState& fs = ws_.fit;
    TSpectrum& s = ws_.spectrum;
    const int n = static_cast<int>(pos.size()) - 1;
    fs.startChannel = start;
    fs.endChannel = end;
    fs.firstPeak = 1;
    fs.lastPeak = n;
    fs.n = n;
    const double mid = (start + end) / 2.0;
    fs.wInt = width > 0 ? width : law_.At(mid);
    s.deltaWidth = width > 0 ? 0.9 * width : law_.DeltaAt(mid);
    s.widthVariable = width > 0 ? 0 : law_.Slope(mid) * (end - start) / 2;
    s.deltaWidthVariable = 0;
    s.dback = degree_;
    return FitInterval(ws_, pos.data(), 0);
  }

  // The channel where a peak of the law's width would explain most of the residuals, and the
  // significance of that explanation (the residuals' matched filter in units of its noise).
  double ResidualPeak(int start, int end, double& where) {
    const int points = end - start + 1;
    residual_.assign(static_cast<std::size_t>(points) + 1, 0.0);
    for (int i = 1; i <= points; ++i) {
      double y, w, f;
      IntervalModel(ws_, y, w, f, 3, i);
      residual_[i] = w > 0 && std::isfinite(f) ? (y - f) * std::sqrt(w) : 0;
    }
    const double width = law_.At((start + end) / 2.0);
    const int reach = static_cast<int>(std::ceil(1.5 * width));
    double best = 0;
    where = 0;
    // Up to the interval's ends: a line beside the marked ones may sit there; the interval then grows.
    const int lo = start + 2, hi = end - 2;
    for (int c = lo; c <= hi; ++c) {
      double rg = 0, gg = 0;
      for (int ch = std::max(start, c - reach); ch <= std::min(end, c + reach); ++ch) {
        const double g = ws_.model().EvaluateShape((ch - c) / width);
        rg += residual_[ch - start + 1] * g;
        gg += g * g;
      }
      const double z = gg > 0 ? rg / std::sqrt(gg) : 0;
      if (z > best) best = z, where = c;
    }
    return best;
  }

  // Of the peaks of modest criterion standing on an edge of the continuum, the one that adds least to
  // the best description of its counts by a smeared step, when it adds too little; 0 when none.
  int EdgeLike(int start, int end) {
    const int n = ws_.fit.n, points = end - start + 1;
    int worst = 0;
    double worstMargin = kEdgeMargin;
    for (int k = 1; k <= n; ++k) {
      const PeakFigures r = PeakResult(ws_, k);
      if (!(r.criterion < kEdgeTested) || !(r.width > 0)) continue;
      edge_.clear();
      for (int i = 1; i <= points; ++i) {
        double y, w, f;
        IntervalModel(ws_, y, w, f, 3, i);
        const auto& part = ws_.fit.componentValues;
        const double channel = start + i - 1;
        edge_.push_back({channel, y, std::isfinite(f) ? w : 0, f - part[0] - part[1 + k],
                         ws_.model().EvaluateShape((channel - r.position) / r.width)});
      }
      const EdgeComparison c = CompareWithEdge(edge_, law_.At(r.position), r.position, kEdgeDegree);
      if (c.PeakIsEdge() && c.Margin() < worstMargin) worstMargin = c.Margin(), worst = k;
    }
    return worst;
  }

 private:
  Workspace& ws_;
  const WidthLaw& law_;
  int degree_;
  std::vector<double> residual_;
  std::vector<EdgePoint> edge_;
};

// The figures of the current fit's peaks, in peaks[1..n] (each is worked out over its window once).
void CurrentPeaks(const Workspace& ws, int n, std::vector<PeakFigures>& peaks) {
  peaks.resize(static_cast<std::size_t>(n) + 1);
  for (int k = 1; k <= n; ++k) peaks[k] = PeakResult(ws, k);
}

// How faint peak k of peaks[1..] is against the strongest line whose shadow it stands in (1..2.5 widths
// away: closer, two lines are a doublet); kShapeShare or more when in no shadow.
double Shade(const std::vector<PeakFigures>& peaks, const WidthLaw& law, int k) {
  const PeakFigures& r = peaks[k];
  double share = kShapeShare;
  for (int j = 1; j < static_cast<int>(peaks.size()); ++j) {
    const double apart = std::fabs(peaks[j].position - r.position) / law.At(r.position);
    if (j != k && peaks[j].area > 0 && apart >= 1 && apart < kShapeReach)
      share = std::min(share, r.area / peaks[j].area);
  }
  return share;
}

// The faintest of peaks[1..] in the shadow of a much stronger line; 0 for none.
int Shadowed(const std::vector<PeakFigures>& peaks, const WidthLaw& law) {
  int shadowed = 0;
  double faintest = kShapeShare;
  for (int k = 1; k < static_cast<int>(peaks.size()); ++k) {
    const double share = Shade(peaks, law, k);
    if (share < faintest) faintest = share, shadowed = k;
  }
  return shadowed;
}

double ResidualSum(const TParameter& e) {
  return e.chi2 * e.dof;
}

}  // namespace

bool AutomaticAnalysis(Workspace& ws, UiPort& port, const AutomaticOptions& options, AutomaticResult& out) {
  out = AutomaticResult{};
  TSpectrum& s = ws.spectrum;
  AnalysisState& st = ws.state;
  Marking& mk = ws.marking;
  int first = std::max(s.b1, s.a1), last = std::min(s.b2, s.a2);
  // Channels below a discriminator's threshold (or beyond the converter's range) hold no counts at
  // all: a fit across that cut takes the step for a peak, so the analysis begins and ends where
  // counts are recorded.
  while (first < last && s.sp[first] == 0) ++first;
  while (last > first && s.sp[last] == 0) --last;
  if (last - first < 8) {
    port.ShowStatus("Error, the analysed interval is too short", "");
    return false;
  }
  ws.engine.port = &port;

  WidthLaw given = LawThroughWidths(s.width1, s.width2, first, last);
  given.note = options.widthSource;
  if (options.estimateWidths) {
    out.law = EstimateWidthLaw(ws, first, last, given);
  } else {
    out.law = given;
    out.law.delta = s.deltaWidth;
  }
  if (!out.law.lines) out.law.delta = s.deltaWidth;
  const WidthLaw& law = out.law;
  WriteOutputLine(ws, WidthLawLine(law));

  const double keepVariable = s.widthVariable, keepDeltaVariable = s.deltaWidthVariable;
  const int keepDegree = s.dback;
  const int degree = s.dback < 0 ? s.dback : -std::min(s.dback, 3);

  std::vector<double> marks = SearchWithLaw(ws, s, port, law, first, last);
  out.searched = static_cast<int>(marks.size());

  mk.peakCount = 0;
  mk.intervalCount = 0;
  mk.markingLength = 0;
  st.resultCount = 0;
  ws.results.resultBase = 0;
  st.usedBackgroundDegree = 0;
  IntervalRefiner refiner(ws, law, degree);
  const double chiLimit = -2 * std::log(kAddPeakFalseAlarm);
  // Each fitted interval with its kept peaks.
  struct Piece {
    FittedInterval curve;
    std::vector<ResultRow> rows;
  };
  std::vector<Piece> pieces;
  bool abandoned = false;
  std::vector<PeakFigures> peaks;  // of the current fit, kept from round to round
  auto fitGroups = [&](const std::vector<PeakGroup>& groups) {
    for (std::size_t g = 0; g < groups.size() && !abandoned; ++g) {
      port.ShowProgress("Automatic analysis", static_cast<int>(g), static_cast<int>(groups.size()));
      int start = groups[g].start, end = groups[g].end;
      std::vector<double> pos{0.0};
      pos.insert(pos.end(), groups[g].peaks.begin(), groups[g].peaks.end());
      // Room for every parameter of the peaks, and no more points than the engine takes.
      const int need = 2 * static_cast<int>(pos.size()) + 8;
      while (end - start + 1 < need && (start > first || end < last)) {
        start = std::max(first, start - 1);
        end = std::min(last, end + 1);
      }
      if (end - start + 1 < need || end - start + 1 > kEnginePoints) continue;
      auto fit = [&](const std::vector<double>& p) {
        if (refiner.Fit(start, end, p)) return true;
        abandoned |= ws.engine.abandoned;
        return false;
      };
      if (!fit(pos)) continue;
      bool fitted = true;
      // Drops repeat until every peak shows its area (each takes one peak away); the tries of one more
      // peak are counted in rounds.
      for (int round = 0; round < options.maxRounds && fitted;) {
        const int n = static_cast<int>(pos.size()) - 1;
        // A peak whose area the fit does not show (below 2 of its errors) goes, and the rest is refitted.
        CurrentPeaks(ws, n, peaks);
        int drop = 0;
        double weakestRatio = 2;
        for (int k = 1; k <= n; ++k) {
          const PeakFigures& r = peaks[k];
          const double ratio = r.areaError > 0 ? r.area / r.areaError : (r.area > 0 ? INFINITY : 0);
          if (ratio < weakestRatio) weakestRatio = ratio, drop = k;
        }
        // So does a peak in the shadow of a line many times stronger (the search on the residuals finds
        // that line's tail once the line itself is taken away), and one that a smeared step of the
        // continuum explains as well.
        if (drop == 0) drop = Shadowed(peaks, law);
        const bool edge = drop == 0 && (drop = refiner.EdgeLike(start, end)) > 0;
        if (drop > 0) {
          pos.erase(pos.begin() + drop);
          ++out.dropped;
          out.edges += edge;
          fitted = pos.size() > 1 && fit(pos);
          continue;
        }
        // A peak crowded by a neighbour stays only when the fit without it is worse by the margin
        // by which a peak is added: otherwise the peaks share out one structure among them (three
        // narrow peaks for two lines) and the areas mean nothing.
        if (n >= 2) {
          const double with = ResidualSum(ws.engine);
          const double variance = std::max(with / std::max(ws.engine.dof, 1), 1.0);
          int loosest = 0;
          double loosestGain = chiLimit;
          bool tried = false;
          for (int k = 1; k <= n; ++k) {
            bool crowded = false;
            for (int j = 1; j <= n; ++j)
              crowded |= j != k && std::fabs(pos[j] - pos[k]) < kCrowded * law.At(pos[k]);
            if (!crowded) continue;
            tried = true;
            std::vector<double> fewer = pos;
            fewer.erase(fewer.begin() + k);
            if (!fit(fewer)) continue;
            const double gain = (ResidualSum(ws.engine) - with) / variance;
            if (gain < loosestGain) loosestGain = gain, loosest = k;
          }
          if (loosest > 0) {
            pos.erase(pos.begin() + loosest);
            ++out.dropped;
            fitted = fit(pos);
            continue;
          }
          if (tried && !(fitted = fit(pos))) break;
        }
        if (n >= kMaxPeaks) break;
        // A peak more where the residuals show a line the fit lacks, or where the shared width grew
        // beyond the law by more than its error and the law's scatter allow (an unresolved neighbour).
        double where = 0;
        const double z = refiner.ResidualPeak(start, end, where);
        const ParamRec& w0 = ws.engine.params[WidthIndex(n)];
        const double allowed = 3 * std::hypot(w0.error, std::max(law.scatter, 0.02 * ws.fit.wInt));
        const bool wide = w0.value - ws.fit.wInt > allowed;
        if (!(z > kResidualTry || wide)) break;
        ++round;
        // The tries: a peak where the residuals point, and, for a width excess, the strongest peak split
        // in two a little under a width apart. The try that lowers the residuals most is kept when the
        // likelihood ratio passes and every new peak shows its area.
        int strongest = 1;
        for (int k = 2; k <= n; ++k)
          if (ws.engine.params[AmplitudeIndex(k)].value > ws.engine.params[AmplitudeIndex(strongest)].value)
            strongest = k;
        const double before = ResidualSum(ws.engine);
        std::vector<double> best;
        double bestGain = chiLimit;
        auto attempt = [&](std::vector<double> more, int firstNew, int secondNew, double baseline) {
          if (!fit(more)) return;
          const double after = ResidualSum(ws.engine);
          const double variance = std::max(after / std::max(ws.engine.dof, 1), 1.0);
          const double gain = (baseline - after) / variance;
          if (!(gain > bestGain)) return;
          CurrentPeaks(ws, static_cast<int>(more.size()) - 1, peaks);
          for (int k : {firstNew, secondNew}) {
            const PeakFigures& r = peaks[k];
            if (!(r.area > 2 * r.areaError)) return;
            if (Shade(peaks, law, k) < kShapeShare) return;
            // Two peaks closer than half a width sum to one line shape widened by a few per cent: the
            // data cannot share the area between them, so the split explains noise or a shape mismatch.
            for (int j = 1; j < static_cast<int>(peaks.size()); ++j)
              if (j != k && std::fabs(peaks[j].position - r.position) < kLeastSeparation * law.At(r.position))
                return;
          }
          bestGain = gain;
          best = std::move(more);
        };
        bool grew = false;
        if (z > kResidualTry && where > 0) {
          std::vector<double> more = pos;
          more.push_back(where);
          // The interval grows to hold the new peak with its stretch, up to its neighbours; the fit
          // without it is then redone over the same channels, so that the two compare.
          const int keepStart = start, keepEnd = end;
          const double reach = st.kWidth * law.At(where) + st.adInterv;
          const int lowest = g > 0 ? groups[g - 1].end : first;
          const int highest = g + 1 < groups.size() ? groups[g + 1].start : last;
          start = std::max(lowest, std::min(start, static_cast<int>(std::floor(where - reach))));
          end = std::min({highest, std::max(end, static_cast<int>(std::ceil(where + reach))),
                          start + kEnginePoints - 1});
          double baseline = before;
          if (start != keepStart || end != keepEnd) {
            if (fit(pos)) {
              baseline = ResidualSum(ws.engine);
            } else {
              start = keepStart, end = keepEnd;
            }
          }
          const double gainBefore = bestGain;
          attempt(std::move(more), n + 1, n + 1, baseline);
          grew = bestGain != gainBefore && (start != keepStart || end != keepEnd);
          if (!grew) start = keepStart, end = keepEnd;
        }
        if (wide && !grew) {
          std::vector<double> more = pos;
          const double half = 0.35 * law.At(pos[strongest]);
          more.push_back(pos[strongest] + half);
          more[strongest] -= half;
          attempt(std::move(more), strongest, n + 1, before);
        }
        if (!best.empty()) {
          pos = std::move(best);
          ++out.added;
          fitted = fit(pos);
          continue;
        }
        fitted = fit(pos);
        break;
      }
      // The fit of ws.fit over a..b with its peaks becomes a piece.
      auto record = [&](int a, int b) {
        NoteBackgroundDegree(ws);
        std::vector<ResultRow> here;
        for (int k = 1; k <= ws.fit.n; ++k) {
          const PeakFigures p = PeakResult(ws, k);
          here.push_back({p.position, p.positionError, p.area, p.areaError, p.width, p.widthError,
                          p.criterion, p.background});
        }
        std::sort(here.begin(), here.end(),
                  [](const ResultRow& x, const ResultRow& y) { return x.channel < y.channel; });
        FittedInterval curve;
        curve.start = a;
        curve.end = b;
        for (int i = 1; i <= b - a + 1; ++i) {
          double y, w, f;
          IntervalModel(ws, y, w, f, 3, i);
          curve.total.push_back(f);
          curve.background.push_back(IntervalBackground(ws, a + i - 1));
        }
        pieces.push_back({std::move(curve), std::move(here)});
      };
      // Four or more peaks in a row, each within 1.5 widths of the next: the narrow peaks follow one
      // broad structure (a line of natural width, the edge of a Compton plateau), which is reported as
      // what it is, one peak of its own width, in an interval of its own between its neighbours.
      if (fitted && static_cast<int>(pos.size()) > kCombPeaks) {
        const int n = static_cast<int>(pos.size()) - 1;
        std::vector<PeakFigures> figures;
        for (int k = 1; k <= n; ++k) figures.push_back(PeakResult(ws, k));
        std::sort(figures.begin(), figures.end(),
                  [](const PeakFigures& x, const PeakFigures& y) { return x.position < y.position; });
        int runFirst = 0, runLast = -1;
        for (int i = 0; i < n;) {
          int j = i;
          while (j + 1 < n &&
                 figures[j + 1].position - figures[j].position < 1.5 * law.At(figures[j].position))
            ++j;
          if (j - i > runLast - runFirst) runFirst = i, runLast = j;
          i = j + 1;
        }
        if (runLast - runFirst + 1 >= kCombPeaks) {
          double sum = 0, moment = 0;
          for (int k = runFirst; k <= runLast; ++k) {
            const double a = std::max(figures[k].area, 0.0);
            sum += a;
            moment += a * figures[k].position;
          }
          const double centre =
              sum > 0 ? moment / sum : (figures[runFirst].position + figures[runLast].position) / 2;
          const double width = figures[runLast].position - figures[runFirst].position + law.At(centre);
          const int cutLeft = runFirst > 0
                                  ? static_cast<int>(std::lround(
                                        (figures[runFirst - 1].position + figures[runFirst].position) / 2))
                                  : start;
          const int cutRight = runLast < n - 1
                                   ? static_cast<int>(std::lround(
                                         (figures[runLast].position + figures[runLast + 1].position) / 2))
                                   : end;
          std::vector<double> left{0.0}, right{0.0};
          for (int k = 0; k < runFirst; ++k) left.push_back(figures[k].position);
          for (int k = runLast + 1; k < n; ++k) right.push_back(figures[k].position);
          auto roomFor = [](int a, int b, const std::vector<double>& p) {
            return p.size() < 2 || b - a + 1 >= 2 * static_cast<int>(p.size()) + 8;
          };
          if (roomFor(start, cutLeft, left) && roomFor(cutRight, end, right) &&
              cutRight - cutLeft + 1 >= 12) {
            const std::vector<double> one{0.0, centre};
            out.dropped += runLast - runFirst;
            if (left.size() > 1 && refiner.Fit(start, cutLeft, left)) record(start, cutLeft);
            if (refiner.Fit(cutLeft, cutRight, one, width)) record(cutLeft, cutRight);
            if (right.size() > 1 && refiner.Fit(cutRight, end, right)) record(cutRight, end);
            abandoned |= ws.engine.abandoned;
            continue;
          }
        }
      }
      if (!fitted || pos.size() < 2) continue;
      record(start, end);
    }
    port.ShowProgress("Automatic analysis", static_cast<int>(groups.size()), static_cast<int>(groups.size()));
  };
  fitGroups(FormGroups(st, law, marks, first, last));

  // A strong line hides a weak one beside it from the search (a segment is scaled to its highest
  // count). The search runs again on the spectrum less the fitted peaks; the intervals its new marks
  // reach are fitted again with them, the others stay as they are.
  if (!abandoned && !pieces.empty()) {
    // The counts are lowered in place for the search and put back exactly from a copy.
    const std::vector<double> counts = s.sp;
    for (const Piece& piece : pieces) {
      const FittedInterval& c = piece.curve;
      for (int ch = c.start; ch <= c.end; ++ch) {
        const std::size_t i = static_cast<std::size_t>(ch - c.start);
        s.sp[ch] -= c.total[i] - c.background[i];
      }
    }
    const std::vector<double> marked = SearchWithLaw(ws, s, port, law, first, last);
    std::vector<double> fresh;
    for (double p : marked) {
      bool near = false;
      for (const Piece& piece : pieces)
        for (const ResultRow& r : piece.rows) near |= std::fabs(p - r.channel) < law.At(p);
      // Only a mark whose counts stand out of what the fit left there (3 errors over ±1 width) is new.
      const int lo = std::max(first, static_cast<int>(std::floor(p - law.At(p))));
      const int hi = std::min(last, static_cast<int>(std::ceil(p + law.At(p))));
      const double edge = (s.CountAt(lo - 1) + s.CountAt(hi + 1)) / 2;
      double excess = 0, total = 0;
      for (int ch = lo; ch <= hi; ++ch) excess += s.CountAt(ch) - edge, total += std::max(counts[ch], 0.0);
      if (!near && excess > 3 * std::sqrt(total + 1)) fresh.push_back(p);
    }
    std::copy(counts.begin(), counts.end(), s.sp.begin());
    if (!fresh.empty()) {
      out.searched += static_cast<int>(fresh.size());
      std::vector<double> redo = fresh;
      std::vector<Piece> kept;
      for (Piece& piece : pieces) {
        bool reached = false;
        for (double p : fresh) {
          const double reach = st.kWidth * law.At(p) + st.adInterv;
          reached |= piece.curve.start <= p + reach && piece.curve.end >= p - reach;
        }
        if (!reached) {
          kept.push_back(std::move(piece));
          continue;
        }
        for (const ResultRow& r : piece.rows) redo.push_back(r.channel);
      }
      pieces = std::move(kept);
      std::sort(redo.begin(), redo.end());
      fitGroups(FormGroups(st, law, redo, first, last));
      std::sort(pieces.begin(), pieces.end(),
                [](const Piece& a, const Piece& b) { return a.curve.start < b.curve.start; });
    }
  }

  std::vector<ResultRow> rows;
  out.intervals.clear();
  for (Piece& piece : pieces) {
    if (rows.size() + piece.rows.size() > static_cast<std::size_t>(kMaxResults)) {
      port.ShowMessage("Error, too many peaks in the table");
      break;
    }
    piece.curve.firstRow = static_cast<int>(rows.size()) + 1;
    piece.curve.lastRow = static_cast<int>(rows.size() + piece.rows.size());
    rows.insert(rows.end(), piece.rows.begin(), piece.rows.end());
    out.intervals.push_back(std::move(piece.curve));
  }

  // The kept peaks become the marking and the result table, peak k in row k as after a spectrum fit.
  for (std::size_t k = 0; k < rows.size(); ++k) {
    ws.results[static_cast<int>(k) + 1] = rows[k];
    mk.peakList[static_cast<int>(k) + 1] = rows[k].channel;
  }
  mk.peakCount = static_cast<int>(rows.size());
  for (const FittedInterval& c : out.intervals) {
    if (mk.intervalCount >= kMaxMarkedIntervals) break;
    mk.intervalTable[++mk.intervalCount] = MarkInterval{c.start, c.end, c.firstRow, c.lastRow};
  }
  st.resultCount = mk.peakCount;
  st.markedCount = mk.peakCount;
  st.resultsUnsaved = mk.peakCount > 0;
  out.peaks = mk.peakCount;
  // The law becomes the analysis' width settings: the chord over the analysed interval.
  mk.kw1 = (law.At(last) - law.At(first)) / std::max(1, last - first);
  mk.kw0 = law.At(first) - mk.kw1 * first;
  mk.compr = 1;
  st.kw1 = mk.kw1;
  st.kw0 = mk.kw0;
  if (law.lines > 0) {
    s.width1 = law.At(first);
    s.width2 = law.At(last);
    s.deltaWidth = law.DeltaAt((first + last) / 2.0);
  }
  s.widthVariable = keepVariable;
  s.deltaWidthVariable = keepDeltaVariable;
  s.dback = keepDegree;
  if (!options.estimateWidths || law.lines == 0) s.deltaWidth = law.delta >= 0 ? law.delta : s.deltaWidth;
  st.currentInterval = 1;
  WriteOutputLine(ws, "Automatic analysis: " + std::to_string(out.peaks) + " peaks in " +
                          std::to_string(out.intervals.size()) + " intervals; the search marked " +
                          std::to_string(out.searched) + ", the refinement added " +
                          std::to_string(out.added) + " and dropped " + std::to_string(out.dropped));
  out.ran = !abandoned;
  return out.ran;
}

bool AutomaticAnalysisCommand(Workspace& ws, UiPort& port, AutomaticResult& out) {
  AnalysisState& st = ws.state;
  if (st.resultsUnsaved && !port.AskOkCancel("Previous fit results not saved")) return false;
  AutomaticOptions options;
  options.widthSource = "the spectrum's widths";
  if (!AutomaticAnalysis(ws, port, options, out)) return false;
  int reported = 0;
  for (int k = 1; k <= st.resultCount; ++k) reported += ws.results[k].criterion > 3;
  st.reportLines = {"Automatic analysis: " + std::to_string(out.peaks) + " peaks, " +
                        std::to_string(reported) + " with criterion > 3",
                    "Save the results"};
  port.ShowStatus(st.reportLines[0], st.reportLines[1]);
  return true;
}

}  // namespace orv
