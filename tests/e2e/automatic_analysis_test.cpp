// The automatic analysis against the line kit, told nothing about the widths: per case and pooled
// over its seeds, the share of lines found, false peaks per 1000 channels, the area pulls of the
// found lines and the error of the estimated width law, each held to its bound; the figures are
// printed for the record.
#include "analysis/automatic/automatic_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/line_kit.h"

namespace orv {
namespace {

using testing::LineSpectrum;

struct CaseFigures {
  testing::MatchTally tally;
  double pullSum = 0, pullSquares = 0;
  int pulls = 0;
  double worstWidth = 0;  // largest relative error of the law where a line of > 1000 counts stands
  int widthLines = 0, widthWithin = 0;
  double milliseconds = 0;
  int runs = 0;
  double PullMean() const { return pulls ? pullSum / pulls : 0; }
  double PullSd() const {
    return pulls > 1 ? std::sqrt(std::max(0.0, (pullSquares - pullSum * pullSum / pulls) / (pulls - 1))) : 0;
  }
};

// One analysis of one seed: matched with the kit's rules, and a line closer than 1 FWHM to a found
// neighbour also counts as found when the neighbour's peak holds the pair's area within 2 errors.
void AnalyseOnce(const LineSpectrum& spectrum, std::uint32_t seed, Workspace& ws, CaseFigures& f) {
  RandomGenerator noise = testing::KitGenerator(seed * 7919 + 13);
  testing::LoadLineSpectrum(ws, spectrum, &noise, false);
  testing::FakePort port;
  AutomaticResult out;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(AutomaticAnalysis(ws, port, AutomaticOptions{}, out)) << spectrum.name;
  f.milliseconds +=
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ++f.runs;

  const std::vector<testing::FittedPeak> peaks = testing::LatestResults(ws);
  testing::MatchResult m = testing::Match(spectrum, peaks);
  const auto& lines = spectrum.lines;
  const int nl = static_cast<int>(lines.size());
  auto row = [&](int p) -> const ResultRow& { return ws.results[ws.results.resultBase + 1 + p]; };
  auto inside = [&](double c) { return c >= spectrum.FirstChannel() && c <= spectrum.LastChannel(); };
  for (int l = 0; l < nl; ++l) {
    if (m.lineToPeak[l] >= 0 || !inside(lines[l].position)) continue;
    for (int n = 0; n < nl; ++n) {
      const int p = m.lineToPeak[n];
      if (n == l || p < 0 ||
          std::fabs(lines[n].position - lines[l].position) >= spectrum.Fwhm(lines[l].position))
        continue;
      if (std::fabs(row(p).area - lines[n].area - lines[l].area) <= 2 * row(p).areaError) {
        m.lineToPeak[l] = p;
        break;
      }
    }
  }
  if (std::getenv("KIT_DEBUG")) {
    std::printf("%s seed %u: %s\n", spectrum.name.c_str(), seed, WidthLawLine(out.law).c_str());
    for (int p = 0; p < static_cast<int>(peaks.size()); ++p) {
      if (m.peakToLine[p] >= 0 || !(peaks[p].criterion > 3)) continue;
      double nearest = 1e9, area = 0;
      for (const auto& L : lines)
        if (std::fabs(L.position - peaks[p].channel) < std::fabs(nearest))
          nearest = L.position - peaks[p].channel, area = L.area;
      std::printf(
          "  false at %.1f crit %.1f area %.0f +- %.0f width %.2f (true %.2f); nearest line %+.1f area "
          "%.0f\n",
          peaks[p].channel, peaks[p].criterion, row(p).area, row(p).areaError, row(p).width,
          spectrum.Fwhm(peaks[p].channel), nearest, area);
    }
  }
  // Recount the found lines with the pairs added.
  testing::MatchTally& t = m.tally;
  t.found = t.foundSignificant = t.foundIsolatedStrong = 0;
  for (int l = 0; l < nl; ++l) {
    if (!inside(lines[l].position)) continue;
    const double w = spectrum.Fwhm(lines[l].position);
    bool isolated = true;
    for (int n = 0; n < nl; ++n)
      isolated &= n == l || std::fabs(lines[n].position - lines[l].position) >= 3 * w;
    const double criterion = spectrum.TrueCriterion(l);
    const bool found = m.lineToPeak[l] >= 0;
    t.found += found;
    if (std::getenv("KIT_DEBUG") && !found && criterion > 3) {
      std::printf("  missed line %.1f area %.0f crit %.1f isolated %d;", lines[l].position, lines[l].area,
                  criterion, isolated);
      for (int r = 1; r <= ws.state.resultCount; ++r)
        if (std::fabs(ws.results[r].channel - lines[l].position) < 4 * w)
          std::printf(" [peak %.1f area %.0f crit %.1f]", ws.results[r].channel, ws.results[r].area,
                      ws.results[r].criterion);
      for (int n = 0; n < nl; ++n)
        if (n != l && std::fabs(lines[n].position - lines[l].position) < 8 * w)
          std::printf(" {line %.1f %.0f}", lines[n].position, lines[n].area);
      std::printf("\n");
    }
    if (criterion > 3) t.foundSignificant += found;
    if (isolated && criterion > 5) t.foundIsolatedStrong += found;
    // The pull of the peak against every line it stands for.
    if (found && criterion > 5) {
      const int p = m.lineToPeak[l];
      double truth = 0;
      bool first = true;
      for (int n = 0; n < nl; ++n) {
        if (m.lineToPeak[n] != p) continue;
        truth += lines[n].area;
        first &= n >= l;
      }
      if (first && row(p).areaError > 0) {
        const double pull = (row(p).area - truth) / row(p).areaError;
        if (std::getenv("KIT_DEBUG") && std::fabs(pull) > 4) {
          std::printf(
              "  pull %+.1f: line %.1f area %.0f (truth %.0f) peak %.1f area %.0f +- %.0f width %.2f crit "
              "%.1f;",
              pull, lines[l].position, lines[l].area, truth, row(p).channel, row(p).area, row(p).areaError,
              row(p).width, row(p).criterion);
          for (int n = 0; n < nl; ++n)
            if (n != l && std::fabs(lines[n].position - lines[l].position) < 3 * w)
              std::printf(" [%.1f %.0f peak %d]", lines[n].position, lines[n].area, m.lineToPeak[n]);
          std::printf(" fwhm %.2f\n", w);
        }
        f.pullSum += pull;
        f.pullSquares += pull * pull;
        ++f.pulls;
      }
    }
    if (lines[l].area > 1000) {
      const double error = std::fabs(out.law.At(lines[l].position) / w - 1);
      if (std::getenv("KIT_DEBUG") && error > 0.05)
        std::printf("  width law %.2f against %.2f at %.1f\n", out.law.At(lines[l].position), w,
                    lines[l].position);
      f.worstWidth = std::max(f.worstWidth, error);
      ++f.widthLines;
      f.widthWithin += error <= 0.05;
    }
  }
  f.tally += t;
}

struct KitCase {
  const char* name;
  std::function<LineSpectrum(std::uint32_t)> make;
  int seeds;
};

class AutomaticKit : public ::testing::TestWithParam<int> {};

const std::vector<KitCase>& Cases() {
  static const std::vector<KitCase> cases = {
      {"isolated", testing::IsolatedLinesCase, 12},
      {"doublets", [](std::uint32_t seed) { return testing::DoubletsCase(seed); }, 12},
      {"weak", testing::WeakLinesCase, 12},
      {"high background", testing::HighBackgroundCase, 12},
      {"wide range", testing::WideRangeCase, 12},
      {"low counts", testing::LowCountsCase, 12},
      {"long 16384", testing::LongSpectrumCase, 4},
      {"xray", testing::XRayCase, 12},
  };
  return cases;
}

TEST_P(AutomaticKit, MeetsTheBoundsWithoutWidths) {
  const KitCase& c = Cases()[static_cast<std::size_t>(GetParam())];
  auto ws = std::make_unique<Workspace>(::testing::TempDir());
  ResetAnalysisState(*ws);
  CaseFigures f;
  for (int seed = 1; seed <= c.seeds; ++seed) {
    AnalyseOnce(c.make(static_cast<std::uint32_t>(seed)), static_cast<std::uint32_t>(seed), *ws, f);
    if (HasFatalFailure()) return;
  }
  const testing::MatchTally& t = f.tally;
  std::printf(
      "%-15s found(C>3) %5.1f %%  isolated C>5 %5.1f %%  false %.2f /1000 ch  pulls %+.2f sd %.2f (%d)  "
      "width law worst %.1f %% (%d of %d within 5 %%)  %.1f ms per analysis\n",
      c.name, 100 * t.SignificantShare(), 100 * t.IsolatedStrongShare(), t.FalsePer1000(), f.PullMean(),
      f.PullSd(), f.pulls, 100 * f.worstWidth, f.widthWithin, f.widthLines, f.milliseconds / f.runs);
  // Every bound in every case.
  auto bound = [&](const char* what, bool met, const std::string& figure) {
    EXPECT_TRUE(met) << c.name << ": " << what << " " << figure << "  " << t.Summary();
  };
  bound("found", t.SignificantShare() >= 0.95, std::to_string(t.SignificantShare()));
  bound("isolated", t.IsolatedStrongShare() >= 0.995, std::to_string(t.IsolatedStrongShare()));
  bound("false", t.FalsePer1000() <= 0.3, std::to_string(t.FalsePer1000()));
  if (f.pulls >= 20) {
    bound("pull mean", std::fabs(f.PullMean()) <= 0.3, std::to_string(f.PullMean()));
    bound("pull sd", f.PullSd() >= 0.85 && f.PullSd() <= 1.2, std::to_string(f.PullSd()));
  }
  bound("width law", f.worstWidth <= 0.05, std::to_string(f.worstWidth));
}

INSTANTIATE_TEST_SUITE_P(Cases, AutomaticKit, ::testing::Range(0, 8),
                         [](const ::testing::TestParamInfo<int>& i) {
                           std::string name = Cases()[static_cast<std::size_t>(i.param)].name;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

}  // namespace
}  // namespace orv
