#include "analysis/automatic/automatic_analysis.h"
#include "analysis/automatic/edge_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::PoissonDeviate;
using testing::TruePeak;

double Law(double a, double b, double c) {
  return std::sqrt(a + b * c);
}

TEST(WidthLawFit, RecoversTheLawPastWideOutliers) {
  // Lines on FWHM = sqrt(6 + 0.0012 c); a third of them wider (doublets, natural-width lines).
  std::vector<WidthPoint> points;
  RandomGenerator g;
  for (int k = 0; k < 18; ++k) {
    const double c = 300 + 880 * k;
    const double w = Law(6, 0.0012, c);
    const double wide = k % 3 == 1 ? 1.3 + 0.1 * (k % 4) : 1.0;
    points.push_back({c, w * wide * (1 + 0.01 * RandomNormalPair(g).first), 0.01 * w, false});
  }
  WidthLaw law = FitWidthLaw(points);
  ASSERT_EQ(law.lines, 12);
  EXPECT_EQ(law.measured, 18);
  for (const WidthPoint& p : points)
    EXPECT_EQ(p.kept, std::fabs(p.width / Law(6, 0.0012, p.channel) - 1) < 0.05);
  for (double c : {100.0, 4000.0, 16000.0}) EXPECT_NEAR(law.At(c) / Law(6, 0.0012, c), 1, 0.02) << c;
  EXPECT_LT(law.scatter, 0.1);
  EXPECT_DOUBLE_EQ(law.DeltaAt(16000), std::max(3 * law.scatter, 0.1 * law.At(16000)));

  // Widths growing linearly over 16,384 channels (2.5 -> 6): the c² term under the root follows them.
  std::vector<WidthPoint> linear;
  for (int k = 0; k < 20; ++k) {
    const double c = 200 + 800 * k;
    linear.push_back({c, 2.5 + 3.5 * c / 16384, 0.01, false});
  }
  const WidthLaw wide = FitWidthLaw(linear);
  EXPECT_EQ(wide.lines, 20);
  EXPECT_GT(wide.q, 0);
  for (double c : {200.0, 3000.0, 9000.0, 16000.0})
    EXPECT_NEAR(wide.At(c) / (2.5 + 3.5 * c / 16384), 1, 0.01) << c;
  EXPECT_NE(WidthLawLine(wide).find("; with q*chan^2 under the root, q= "), std::string::npos);

  // Five precise lines over the upper half of a spectrum whose widths grow linearly (3.5 -> 4.5 over
  // 4096 channels), each off the root law by up to 2 %: none is an outlier, and the law through all
  // of them still holds at the low end, where no line stood.
  std::vector<WidthPoint> upper = {{2492.0, 4.085, 0.015, false},
                                   {2877.8, 4.202, 0.010, false},
                                   {3022.9, 4.216, 0.012, false},
                                   {3223.7, 4.239, 0.032, false},
                                   {3896.1, 4.430, 0.031, false}};
  const WidthLaw narrow = FitWidthLaw(upper);
  EXPECT_EQ(narrow.lines, 5);
  for (double c : {180.0, 1000.0, 4000.0}) EXPECT_NEAR(narrow.At(c) / (3.5 + c / 4096), 1, 0.05) << c;

  // Too few lines: no law.
  std::vector<WidthPoint> two(points.begin(), points.begin() + 2);
  EXPECT_EQ(FitWidthLaw(two).lines, 0);
}

TEST(EdgeTest, TellsTheShoulderOfAStepFromALine) {
  // Expected counts of channels 60..140 (no noise, Poisson weights): a continuum of 200 with a smeared
  // falling step of 600 at channel 100, and lines of FWHM 4 (200 counts at their top).
  const double fwhm = 4, sigma = fwhm / 2.3548;
  auto line = [&](double c, double at) {
    return std::exp(-4 * std::log(2.0) * std::pow((c - at) / fwhm, 2));
  };
  auto points = [&](double step, double lineAt, double lineHeight, double markedAt) {
    std::vector<EdgePoint> p;
    for (int c = 60; c <= 140; ++c) {
      const double y = 200 + step * 0.5 * std::erfc((c - 100) / (1.5 * sigma * std::sqrt(2.0))) +
                       lineHeight * line(c, lineAt);
      p.push_back({double(c), y, 1 / y, 0, line(c, markedAt)});
    }
    return p;
  };
  // A peak marked on the step's shoulder is the step.
  const EdgeComparison shoulder = CompareWithEdge(points(600, 0, 0, 97), fwhm, 97, 2);
  EXPECT_TRUE(shoulder.PeakIsEdge()) << shoulder.Margin() << " " << shoulder.EdgeEvidence();
  EXPECT_NEAR(shoulder.stepChi2, 0, 1e-6);
  EXPECT_NEAR(shoulder.stepPosition, 100, 1e-9);
  // A line on a flat continuum, and a line beside the edge, stay lines.
  const EdgeComparison flat = CompareWithEdge(points(0, 97, 200, 97), fwhm, 97, 2);
  EXPECT_FALSE(flat.PeakIsEdge());
  EXPECT_NEAR(flat.peakChi2, 0, 1e-6);
  EXPECT_GT(flat.Margin(), 100);
  const EdgeComparison beside = CompareWithEdge(points(600, 103, 200, 103), fwhm, 103, 2);
  EXPECT_FALSE(beside.PeakIsEdge());
  EXPECT_NEAR(beside.bothChi2, 0, 1e-6);
  // Too few points: no decision.
  EXPECT_FALSE(CompareWithEdge(std::vector<EdgePoint>(5), fwhm, 97, 2).PeakIsEdge());
}

TEST(WidthLawFit, LawThroughWidthsAndItsLine) {
  const WidthLaw law = LawThroughWidths(4, 6, 2, 4095);
  EXPECT_NEAR(law.At(2), 4, 1e-12);
  EXPECT_NEAR(law.At(4095), 6, 1e-12);
  EXPECT_GT(law.Slope(1000), 0);
  WidthLaw shown;
  shown.a = 6.25, shown.b = 0.0018, shown.scatter = 0.043, shown.lines = 12, shown.measured = 14;
  EXPECT_EQ(
      WidthLawLine(shown),
      "Width law FWHM(chan)= sqrt(a + b*chan): a= 6.25 b= 0.0018 scatter= 0.043 (12 of 14 clear lines)");
  shown.lines = 0;
  shown.note = "fewer than 3 clear lines: the start-up widths";
  EXPECT_NE(WidthLawLine(shown).find(" (fewer than 3 clear lines: the start-up widths)"), std::string::npos);
}

class AutomaticAnalysisTest : public testing::WorkspaceTest {
 protected:
  AutomaticAnalysisTest() : WorkspaceTest("orv_automatic_") {}

  // Poisson counts of the lines on a falling continuum over `channels` channels.
  void Fill(int channels, const std::vector<TruePeak>& lines, double level, std::uint32_t seed) {
    TSpectrum& s = ws_->spectrum;
    RandomGenerator g;
    g.Seed(static_cast<std::int32_t>(seed), 777);
    for (int ch = 1; ch <= channels; ++ch) {
      const double continuum = level * (1 + 2.0 * std::exp(-ch / (0.3 * channels)));
      s.sp[ch] = PoissonDeviate(g, testing::ExpectedCount(ch, lines, continuum, 0));
    }
    s.a1 = 1;
    s.a2 = channels;
    s.b1 = 2;
    s.b2 = channels - 1;
    s.SetErrors(0);
    s.FindExtremes();
  }

  testing::FakePort port_;
};

TEST_F(AutomaticAnalysisTest, FallsBackToTheGivenWidthsWithoutClearLines) {
  // Pure continuum: no line to measure, nothing to report.
  Fill(1024, {}, 30, 5);
  ws_->spectrum.width1 = 3;
  ws_->spectrum.width2 = 5;
  AutomaticOptions options;
  options.widthSource = "the test spectrum's widths";
  AutomaticResult out;
  AutomaticAnalysis(*ws_, port_, options, out);
  EXPECT_EQ(out.law.lines, 0);
  EXPECT_NEAR(out.law.At(ws_->spectrum.b1), 3, 1e-9);
  EXPECT_EQ(out.law.note, "fewer than 3 clear lines: the test spectrum's widths");
  for (int r = 1; r <= ws_->state.resultCount; ++r) EXPECT_LE(ws_->results[r].criterion, 5) << r;
}

// Told nothing about the widths: strong single lines, and strong doublets 0.8 and 1 FWHM apart, on
// widths far from the start-up law. The law is found; each structure holds at most as many rows as lines,
// and their areas sum to the truth within their errors. (Detection, false peaks and pulls over many
// spectra: the line kit's automatic analysis suite.)
TEST_F(AutomaticAnalysisTest, FindsTheLawAndNeverSplitsALineOrADoublet) {
  const double a = 9, b = 0.002;
  std::vector<TruePeak> lines;
  std::vector<std::vector<double>> groups;
  for (int k = 0; k < 10; ++k) {
    const double c = 200 + 370 * k, w = Law(a, b, c);
    if (k % 2) {
      const double apart = k % 4 == 1 ? 0.8 : 1.0;
      lines.push_back({c, 4e4, w});
      lines.push_back({c + apart * w, 4e4, w});
      groups.push_back({c, c + apart * w});
    } else {
      lines.push_back({c, 1e5, w});
      groups.push_back({c});
    }
  }
  for (std::uint32_t seed : {5u, 6u, 7u}) {
    Fill(4096, lines, 60, seed);
    const std::vector<double> counts = ws_->spectrum.sp;
    AutomaticResult out;
    ASSERT_TRUE(AutomaticAnalysis(*ws_, port_, AutomaticOptions{}, out));
    EXPECT_TRUE(ws_->spectrum.sp == counts);  // the second search's lowered counts are put back exactly
    for (double c : {200.0, 2000.0, 3700.0}) EXPECT_NEAR(out.law.At(c) / Law(a, b, c), 1, 0.05) << c;
    // Each row stands at its marked peak; each interval holds its peaks and has its fitted curve.
    const Marking& mk = ws_->marking;
    ASSERT_EQ(ws_->state.resultCount, mk.peakCount);
    for (int r = 1; r <= mk.peakCount; ++r) EXPECT_DOUBLE_EQ(ws_->results[r].channel, mk.peakList[r]);
    ASSERT_EQ(static_cast<int>(out.intervals.size()), mk.intervalCount);
    for (int i = 1; i <= mk.intervalCount; ++i) {
      const MarkInterval& m = mk.intervalTable[i];
      const FittedInterval& c = out.intervals[i - 1];
      EXPECT_EQ(std::tuple(c.start, static_cast<int>(c.total.size())),
                std::tuple(m.startChannel, c.end - c.start + 1));
      for (int k = m.firstPeak; k <= m.lastPeak; ++k)
        EXPECT_TRUE(mk.peakList[k] >= m.startChannel && mk.peakList[k] <= m.endChannel) << k;
    }
    std::size_t next = 0;
    for (const std::vector<double>& group : groups) {
      double truth = 0;
      for (; next < lines.size() && lines[next].position <= group.back(); ++next) truth += lines[next].area;
      double area = 0, variance = 0;
      int rows = 0;
      for (int r = 1; r <= ws_->state.resultCount; ++r) {
        const ResultRow& row = ws_->results[r];
        if (row.channel < group.front() - 2 * Law(a, b, group.front()) ||
            row.channel > group.back() + 2 * Law(a, b, group.back()))
          continue;
        ++rows;
        area += row.area;
        variance += row.areaError * row.areaError;
      }
      EXPECT_GE(rows, 1) << group.front();
      EXPECT_LE(rows, static_cast<int>(group.size())) << group.front();
      EXPECT_LT(std::fabs(area - truth), 4 * std::sqrt(variance) + 1) << group.front();
    }
  }
}

}  // namespace
}  // namespace orv
