#include "tests/support/line_kit.h"

#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/workspace_test.h"

namespace orv::testing {
namespace {

LineSpectrum OneLine(double position, double area, double fwhm, double level) {
  LineSpectrum s;
  s.channels = 1024;
  s.width = WidthLaw::Linear(1, fwhm, 1024, fwhm);
  s.continuum.level = level;
  s.lines.push_back({position, area, 0});
  return s;
}

TEST(LineKit, ExpectedCountsHoldTheAreasAndTheComptonPlateau) {
  LineSpectrum s = OneLine(500.3, 12345, 4.7, 0);
  double sum = 0;
  for (int ch = 1; ch <= s.channels; ++ch) sum += s.Expected(ch);
  EXPECT_NEAR(sum, 12345, 1e-6 * 12345);
  // ±1.5 FWHM holds 99.96 % of a Gaussian (±3.53 σ), up to the rounding of the window bounds.
  EXPECT_NEAR(s.TrueCounts(0) / 12345, 0.9996, 0.002);

  // 1 MeV line: edge at 1000·2α/(1+2α) keV, α = 1000/511; plateau about comptonRatio times the area.
  LineSpectrum c = OneLine(2000, 1e5, 4, 0);
  c.channels = 4096;
  c.continuum.kevPerChannel = 0.5;
  c.lines[0].comptonRatio = 3;
  const double alpha = 1000.0 / 511;
  EXPECT_NEAR(c.ComptonEdge(0), 2000 * 2 * alpha / (1 + 2 * alpha), 1e-9);
  double plateau = 0;
  for (int ch = 1; ch <= c.channels; ++ch) plateau += c.ContinuumAt(ch);
  EXPECT_NEAR(plateau / 3e5, 1.0, 0.02);
  EXPECT_GT(c.ContinuumAt(c.ComptonEdge(0) - 150), 10 * c.ContinuumAt(c.ComptonEdge(0) + 150));
  // At 250 keV photoabsorption dominates: a sixteenth of the plateau.
  c.lines[0].position = 500;
  double low = 0;
  for (int ch = 1; ch <= c.channels; ++ch) low += c.ContinuumAt(ch);
  EXPECT_NEAR(low / (3e5 / 16), 1.0, 0.03);
}

TEST(LineKit, TrueCriterionKnownAnswers) {
  // Flat 100/ch, FWHM 4: the window is round(±6) = 13 channels, U = 1300.
  const LineSpectrum s = OneLine(300, 2000, 4, 100);
  const double n = s.TrueCounts(0);
  EXPECT_NEAR(s.UnderCounts(0), 1300, 1e-6);
  EXPECT_NEAR(s.TrueCriterion(0), n / std::sqrt(n + 2600 + 1), 1e-12);
  // The inverse used by the case builders.
  for (double c : {2.0, 5.0, 10.0, 60.0}) {
    const LineSpectrum t = OneLine(300, AreaForCriterion(c, 250, 4), 4, 250);
    EXPECT_NEAR(t.TrueCriterion(0), c, 0.01 * c);
  }
  // A neighbour's tail counts as "under".
  LineSpectrum two = s;
  two.lines.push_back({304, 2000, 0});
  EXPECT_GT(two.UnderCounts(0), 1300 + 500);
}

TEST(LineKit, MatchingFollowsTheDefinitions) {
  LineSpectrum s;
  s.channels = 2000;
  s.width = WidthLaw::Linear(1, 4, 2000, 4);  // tolerance 2 channels, sharing below 2 channels
  s.continuum.level = 100;
  s.lines = {{100, 5000, 0}, {200, 5000, 0}, {300, 5000, 0}, {301.5, 5000, 0},
             {400, 5000, 0}, {405, 5000, 0}, {3000, 5000, 0}};  // beyond the spectrum: not counted
  const std::vector<FittedPeak> peaks = {
      {101.9, 50},  // line 100, within 2 channels
      {102.5, 40},  // a second peak beside it: reported, matches nothing
      {197.5, 2},   // 2.5 channels off line 200: not found; weak, so not false either
      {300.8, 60},  // shared by 300 and 301.5 (1.5 channels apart)
      {402.4, 9},   // between 400 and 405: within 2 channels of 400 only... 2.4 off: none
      {404.0, 9},   // line 405
      {700, 3.5},   // nothing there: false
      {900, 2.9},   // nothing there, not reported
  };
  const MatchResult r = Match(s, peaks);
  const MatchTally& t = r.tally;
  EXPECT_EQ(t.lines, 6);
  EXPECT_EQ(t.found, 4);  // 100, 300, 301.5, 405
  EXPECT_EQ(r.lineToPeak[0], 0);
  EXPECT_EQ(r.lineToPeak[1], -1);
  EXPECT_EQ(r.lineToPeak[2], 3);
  EXPECT_EQ(r.lineToPeak[3], 3);
  EXPECT_EQ(r.lineToPeak[4], -1);
  EXPECT_EQ(r.lineToPeak[5], 5);
  EXPECT_EQ(t.peaks, 8);
  EXPECT_EQ(t.reported, 6);
  EXPECT_EQ(t.falseReported, 3);  // 102.5, 402.4, 700
  EXPECT_EQ(t.channels, 1999);    // 2..2000
  EXPECT_NEAR(t.FalsePer1000(), 3000.0 / 1999, 1e-12);
  // Lines 100 and 200 are isolated and strong; 300/301.5 and 400/405 are not isolated.
  EXPECT_EQ(t.isolatedStrong, 2);
  EXPECT_EQ(t.foundIsolatedStrong, 1);

  // One peak between two lines 3 channels apart goes to one of them only, and the matching finds the
  // assignment that serves both when two peaks allow it, whatever their order.
  LineSpectrum d = s;
  d.lines = {{500, 5000, 0}, {503, 5000, 0}};
  EXPECT_EQ(Match(d, {{501.5, 10}}).tally.found, 1);
  EXPECT_EQ(Match(d, {{501.6, 10}, {499.9, 10}}).tally.found, 2);

  MatchTally sum = t;
  sum += t;
  EXPECT_EQ(sum.falseReported, 6);
  EXPECT_EQ(sum.channels, 3998);
  EXPECT_DOUBLE_EQ(sum.FoundShare(), t.FoundShare());
}

class LineKitLoad : public WorkspaceTest {
 protected:
  LineKitLoad() : WorkspaceTest("orv_line_kit_") {}
};

TEST_F(LineKitLoad, LoadsCountsAndOptionallyTheWidthLaw) {
  const LineSpectrum s = XRayCase(1);
  const double startWidth1 = ws_->spectrum.width1;
  RandomGenerator g = KitGenerator(5);
  LoadLineSpectrum(*ws_, s, &g, false);
  EXPECT_EQ(ws_->spectrum.a2, 4096);
  EXPECT_EQ(ws_->spectrum.sp[1], 0);
  EXPECT_EQ(ws_->spectrum.b1, 2);
  EXPECT_EQ(ws_->spectrum.width1, startWidth1);
  double counts = 0, expected = 0;
  for (int ch = 2; ch <= 4096; ++ch) {
    counts += ws_->spectrum.sp[ch];
    expected += s.Expected(ch);
    ASSERT_EQ(ws_->spectrum.sp[ch], std::round(ws_->spectrum.sp[ch]));
  }
  EXPECT_NEAR(counts, expected, 5 * std::sqrt(expected));

  LoadLineSpectrum(*ws_, s, nullptr, true);
  EXPECT_DOUBLE_EQ(ws_->spectrum.width1, 8);
  EXPECT_DOUBLE_EQ(ws_->spectrum.width2, 20);
  EXPECT_NEAR(ws_->state.kw0 + ws_->state.kw1 * 4096, 20, 1e-9);
  EXPECT_DOUBLE_EQ(ws_->spectrum.sp[2000], s.Expected(2000));

  // The same seed gives the same spectrum.
  RandomGenerator a = KitGenerator(9), b = KitGenerator(9);
  LoadLineSpectrum(*ws_, s, &a, true);
  const double first = ws_->spectrum.sp[1234];
  LoadLineSpectrum(*ws_, s, &b, true);
  EXPECT_EQ(ws_->spectrum.sp[1234], first);
}

// The weak case promises lines of true criterion 2-10, the range where detection bounds are judged.
TEST(LineKit, WeakCaseHoldsWhatItPromises) {
  const LineSpectrum weak = WeakLinesCase(3);
  for (int k = 0; k < static_cast<int>(weak.lines.size()); ++k) {
    EXPECT_GT(weak.TrueCriterion(k), 1.9);
    EXPECT_LT(weak.TrueCriterion(k), 10.5);
  }
}

}  // namespace
}  // namespace orv::testing
