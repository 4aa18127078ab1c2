#include "spectrum/blunders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>
#include <vector>

#include "core/dialog.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace orv {
namespace {

void SetCount(TSpectrum& s, int i, double v) {
  s.sp[i] = v;
  s.err[i] = std::sqrt(std::max(v, 1.0));
}

// A flat spectrum of `level` counts over 1..n with deviations sqrt(counts), as the binary readers set.
TSpectrum Flat(int n, double level) {
  TSpectrum s;
  for (int i = 1; i <= n; ++i) SetCount(s, i, level);
  s.a1 = s.b1 = 1;
  s.a2 = s.b2 = n;
  return s;
}

// A binary-file spectrum of Poisson counts around expected(channel) over 1..n, with the program's errors.
template <typename Expected>
TSpectrum Poisson(int n, RandomGenerator& g, double covar, Expected expected) {
  TSpectrum s;
  for (int ch = 1; ch <= n; ++ch) s.sp[ch] = testing::PoissonDeviate(g, expected(ch));
  s.fileType = 1;
  s.a1 = s.b1 = 1;
  s.a2 = s.b2 = n;
  s.SetErrors(covar);
  return s;
}

TEST(Blunders, KnownAnswersAndLimits) {
  AnalysisState st;
  // A spike of 5000 on 100: too weak for pass 1 (ratio about 5), a direct candidate of pass 2.
  TSpectrum s = Flat(50, 100);
  SetCount(s, 20, 5000);
  BlunderCount n = CorrectBlunders(s, st, 1, 50);
  EXPECT_EQ(std::tuple(n.changed, n.zeroReplaced, s.sp[20]), std::tuple(1, 0, 100.0));
  EXPECT_DOUBLE_EQ(s.err[20], std::sqrt(200.0) / 2);  // the deviation of the neighbours' mean

  // A dropout is replaced and counted apart; its deviation no longer outweighs its neighbours'.
  s = Flat(50, 100);
  s.sp[30] = 0;
  s.err[30] = std::sqrt(0.1);
  n = CorrectBlunders(s, st, 1, 50);
  EXPECT_EQ(std::tuple(n.changed, n.zeroReplaced, s.sp[30]), std::tuple(1, 1, 100.0));
  EXPECT_GT(s.err[30], 5.0);

  s = Flat(50, 0);  // zeros: pass 1 sees no ratio, pass 2 estimates 0 everywhere
  EXPECT_EQ(CorrectBlunders(s, st, 1, 50).changed, 0);

  AnalysisState lenient;  // a very large order changes nothing
  lenient.blunderOrder = 1e30;
  s = Flat(50, 100);
  SetCount(s, 20, 5000);
  EXPECT_EQ(CorrectBlunders(s, lenient, 1, 50).changed, 0);
  EXPECT_EQ(s.sp[20], 5000);

  // chibc = 0: pass 1 takes a spike only between exactly equal neighbours, and pass 2 only direct
  // candidates, so a spike between neighbours that differ by half their sum stays.
  AnalysisState strict;
  strict.chibc = 0;
  s = Flat(50, 100);
  SetCount(s, 10, 1e6);
  for (auto [ch, v] : {std::pair{30, 50.0}, {31, 1e6}, {32, 150.0}, {33, 150.0}}) SetCount(s, ch, v);
  CorrectBlunders(s, strict, 1, 50);
  EXPECT_EQ(std::tuple(s.sp[10], s.sp[31]), std::tuple(100.0, 1e6));

  // Fewer than three channels change nothing; bounds beyond the arrays are clipped.
  s = Flat(50, 100);
  SetCount(s, 2, 5000);
  EXPECT_EQ(CorrectBlunders(s, st, 1, 2).changed + CorrectBlunders(s, st, 2, 3).changed, 0);
  TSpectrum whole = Flat(kSpectrumCapacity, 100);
  SetCount(whole, 2, 5000);
  SetCount(whole, kSpectrumCapacity - 1, 5000);
  EXPECT_EQ(CorrectBlunders(whole, st, -7, kSpectrumCapacity + 100).changed, 2);
  EXPECT_EQ(whole.sp[kSpectrumCapacity - 1], 100);

  // A steep narrow peak whose top stays below the sum of its neighbours is kept.
  s = Flat(40, 100);
  const double peak[] = {400, 1200, 2000, 1200, 400};
  for (int k = 0; k < 5; ++k) SetCount(s, 18 + k, peak[k]);
  const TSpectrum before = s;
  EXPECT_EQ(CorrectBlunders(s, st, 1, 40).changed, 0);
  EXPECT_TRUE(s.sp == before.sp && s.err == before.err);
}

TEST(Blunders, SyntheticSpectrumWithSpikesAndDropouts) {
  AnalysisState st;
  const int n = 4096;
  std::vector<testing::TruePeak> peaks;
  for (int k = 0; k < 12; ++k) {
    const double c = 200.0 + 320.0 * k;
    peaks.push_back({c, k % 3 == 0 ? 2e5 : (k % 3 == 1 ? 2e4 : 3e3), st.kw0 + st.kw1 * c});
  }
  auto nearPeak = [&](int ch, double widths) {
    for (const auto& p : peaks)
      if (std::fabs(ch - p.position) < widths * p.fwhm) return true;
    return false;
  };
  RandomGenerator g;
  std::vector<double> expected(n + 1);
  for (int ch = 1; ch <= n; ++ch) expected[ch] = testing::ExpectedCount(ch, peaks, 400.0, -0.08);
  TSpectrum s = Poisson(n, g, st.covar, [&](int ch) { return expected[ch]; });
  std::set<int> injected;
  for (int ch = 37; ch < n - 5; ch += 53) {
    if (nearPeak(ch - 3, 3) || nearPeak(ch + 3, 3)) continue;
    s.sp[ch] = injected.size() % 4 == 3 ? 0.0 : expected[ch] * (3.0 + (ch % 38));
    s.err[ch] = std::sqrt(std::fabs(0.9 * s.sp[ch] + 0.1 * std::pow(st.covar * s.sp[ch], 2)) + 0.1);
    injected.insert(ch);
  }
  ASSERT_GT(injected.size(), 50u);
  const TSpectrum before = s;

  const BlunderCount count = CorrectBlunders(s, st, s.a1, s.a2);
  int changed = 0;
  for (int ch = 1; ch <= n; ++ch) {
    const bool moved = s.sp[ch] != before.sp[ch];
    changed += moved;
    if (nearPeak(ch, 1.5) && !injected.count(ch)) {
      EXPECT_FALSE(moved) << "peak channel " << ch;
    } else if (injected.count(ch) || moved) {
      EXPECT_NEAR(s.sp[ch], expected[ch], 4 * std::sqrt(expected[ch])) << "channel " << ch;
    }
  }
  EXPECT_EQ(count.changed, changed);
  EXPECT_LE(changed, static_cast<int>(injected.size()) + n / 100);  // few noise extremes beyond these
  EXPECT_EQ(count.zeroReplaced, static_cast<int>(injected.size() / 4));
}

// Clean counting spectra are no blunders: from half a count to 10^4 counts per channel, with fixed
// seeds, at most one channel in 10^4 is changed and the sum of the counts stays as it was. Weighed by
// the measured count, zeros of a sparse spectrum were taken for dropouts (up to 68 % added counts).
TEST(Blunders, CleanPoissonSpectraStayAsTheyAre) {
  AnalysisState st;
  const int n = 20000;
  int seed = 1;
  for (double mean : {0.5, 1.0, 2.0, 5.0, 10.0, 30.0, 100.0, 1e3, 1e4}) {
    SCOPED_TRACE(mean);
    RandomGenerator g;
    g.Seed(seed++, 4711);
    TSpectrum s = Poisson(n, g, st.covar, [&](int) { return mean; });
    const TSpectrum before = s;
    const BlunderCount count = CorrectBlunders(s, st, 1, n);
    double sumBefore = 0, sumAfter = 0;
    for (int ch = 1; ch <= n; ++ch) sumBefore += before.sp[ch], sumAfter += s.sp[ch];
    EXPECT_LE(count.changed, n / 10000);
    EXPECT_NEAR(sumAfter, sumBefore, 2 * mean + 1);
  }
}

TEST(BlunderCommand, DialogSettingsAndReport) {
  using testing::FillGrid;
  TSpectrum s = Flat(100, 100);
  SetCount(s, 40, 5000);
  SetCount(s, 60, 7000);
  AnalysisState st;
  testing::FakePort port;

  // Cancel, a refused number and a negative limit leave everything as it was.
  port.answers = {testing::Refuse(), FillGrid({"abc", "10"}), FillGrid({"1.25", "-10"})};
  for (int k = 0; k < 3; ++k) EXPECT_FALSE(BlunderCommand(s, st, port, &port));
  EXPECT_EQ(std::tuple(s.sp[40], st.chibc, st.blunderOrder, port.messages.size(), port.lines.size()),
            std::tuple(5000.0, 1.25, 10.0, 1u, 0u));

  port.answers.push_back(FillGrid({"2", "12"}));
  EXPECT_TRUE(BlunderCommand(s, st, port, &port));
  // The extremes no longer show the spikes.
  EXPECT_EQ(std::tuple(st.chibc, st.blunderOrder, s.sp[40], s.maxValue), std::tuple(2.0, 12.0, 100.0, 100.0));
  EXPECT_EQ(port.lines, (std::vector<std::string>{"2 blunders corrected"}));

  port.AcceptNext();  // without an output file the report still stands
  EXPECT_TRUE(BlunderCommand(s, st, port, nullptr));
  EXPECT_EQ(st.reportLines[0], "0 blunders corrected");
}

}  // namespace
}  // namespace orv
