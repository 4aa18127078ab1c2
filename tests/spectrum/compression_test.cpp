#include "spectrum/compression.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

// Whole-number counts and deviations over a1..a2, so that sums are exact; junk everywhere else, as an
// earlier, longer spectrum would leave it.
TSpectrum Counting(int a1, int a2) {
  TSpectrum s;
  for (int i = 1; i <= kSpectrumCapacity; ++i) {
    const bool in = i >= a1 && i <= a2;
    s.sp[i] = in ? 1000 + (i * 37) % 500 : 1e9;
    s.err[i] = in ? 1 + i % 7 : 1e5;
    s.x[i] = 0.5 * i;
  }
  s.a1 = a1;
  s.a2 = a2;
  s.b1 = a1 + 1;
  s.b2 = a2 - 1;
  return s;
}

double Total(const std::vector<double>& v, int first, int last, bool squares = false) {
  double t = 0;
  for (int i = first; i <= last; ++i) t += squares ? v[i] * v[i] : v[i];
  return t;
}

TEST(Compress, SumsBoundsAndClearedChannels) {
  AnalysisState st;
  TSpectrum s = Counting(1, 4096);  // f = 1 keeps the counts and makes the interval the whole spectrum
  const TSpectrum before = s;
  ASSERT_EQ(Compress(s, st, 1), CompressionOutcome::kDone);
  EXPECT_TRUE(s.sp == before.sp && s.b1 == 1 && s.b2 == 4096);

  s = before;
  ASSERT_EQ(Compress(s, st, 2), CompressionOutcome::kDone);
  EXPECT_EQ(std::tuple(s.a1, s.a2, s.b2, st.intervalFirst, st.intervalLast),
            std::tuple(1, 2048, 2048, 1, 2048));
  EXPECT_EQ(s.sp[1], before.sp[1] + before.sp[2]);
  EXPECT_DOUBLE_EQ(s.err[1], std::hypot(before.err[1], before.err[2]));
  EXPECT_EQ(s.x[2048], before.x[4095]);
  EXPECT_EQ(Total(s.err, 1, 2048, true), Total(before.err, 1, 4096, true));
  for (int i = 2049; i <= 4096; ++i) ASSERT_TRUE(s.sp[i] == 0 && s.err[i] == 1) << i;
  EXPECT_EQ(s.sp[4097], 1e9);  // beyond the old spectrum nothing is touched
  EXPECT_EQ(s.maxValue, *std::max_element(s.sp.begin() + 1, s.sp.begin() + 2049));

  // A length the factor does not divide: the last group holds only what is left of the spectrum.
  s = Counting(1, 4095);
  ASSERT_EQ(Compress(s, st, 2), CompressionOutcome::kDone);
  EXPECT_EQ(std::tuple(s.a2, s.sp[2048]), std::tuple(2048, 1000.0 + (4095 * 37) % 500));

  // A spectrum starting off a group boundary.
  const TSpectrum offset = Counting(6, 1005);
  s = offset;
  ASSERT_EQ(Compress(s, st, 4), CompressionOutcome::kDone);
  EXPECT_EQ(std::tuple(s.a1, s.a2, s.sp[2], s.x[2], s.sp[1], s.err[1]),
            std::tuple(2, 252, offset.sp[6] + offset.sp[7] + offset.sp[8], offset.x[6], 0.0, 1.0));
  EXPECT_EQ(Total(s.sp, 2, 252), Total(offset.sp, 6, 1005));
  EXPECT_EQ(Total(s.err, 2, 252, true), Total(offset.err, 6, 1005, true));

  // The full arrays with a factor that does not divide them: the last group stops at the last channel.
  const TSpectrum full = Counting(1, kSpectrumCapacity);
  s = full;
  ASSERT_EQ(Compress(s, st, 3), CompressionOutcome::kDone);
  EXPECT_EQ(std::tuple(s.a2, s.sp[10923]), std::tuple(10923, full.sp[32767] + full.sp[32768]));
  EXPECT_EQ(Total(s.sp, 1, 10923), Total(full.sp, 1, kSpectrumCapacity));
}

TEST(Compress, WidthsFollowTheChannels) {
  AnalysisState st;
  st.kw0 = 3.0, st.kw1 = 0.001;
  TSpectrum s = Counting(1, 8000);
  s.width1 = 4.0, s.width2 = 12.0, s.deltaWidth = 2.0;
  ASSERT_EQ(Compress(s, st, 4), CompressionOutcome::kDone);
  EXPECT_EQ(std::tuple(s.width1, s.width2, s.deltaWidth), std::tuple(1.0, 3.0, 0.5));
  // A peak at the centre of group k has, in new channels, a quarter of its old width.
  for (int k : {1, 500, 2000}) EXPECT_NEAR(4.0 * (st.kw0 + st.kw1 * k), 3.0 + 0.001 * (4.0 * k - 1.5), 1e-12);
}

TEST(Compress, WrongFactorsLeaveTheSpectrum) {
  AnalysisState st;
  const TSpectrum before = Counting(1, 100);
  TSpectrum s = before;
  for (auto [factor, outcome] : {std::pair{0, CompressionOutcome::kWrongFactor},
                                 {-2, CompressionOutcome::kWrongFactor},
                                 {101, CompressionOutcome::kFactorTooLarge},
                                 {2147483647, CompressionOutcome::kFactorTooLarge}})
    EXPECT_EQ(Compress(s, st, factor), outcome) << factor;
  s.a1 = 200;  // bounds that hold no channel
  EXPECT_EQ(Compress(s, st, 2), CompressionOutcome::kNoSpectrum);
  s.a1 = before.a1;
  EXPECT_TRUE(s.sp == before.sp && s.err == before.err && st.kw0 == AnalysisState{}.kw0);
  EXPECT_EQ(Compress(s, st, 100), CompressionOutcome::kDone);  // one channel holding everything
  EXPECT_EQ(std::tuple(s.a2, s.sp[1]), std::tuple(1, Total(before.sp, 1, 100)));
}

TEST(CompressCommand, DialogFactorsAndCancel) {
  using testing::TypeText;
  const TSpectrum before = Counting(1, 1000);
  TSpectrum s = before;
  AnalysisState st;
  st.compressionFactor = 3;
  testing::FakePort port;
  // Cancel, a refused number, 0 and a factor beyond the spectrum change nothing.
  port.answers = {testing::Refuse(), TypeText("abc"), TypeText("0"), TypeText("-1e300")};
  for (int k = 0; k < 4; ++k) EXPECT_FALSE(CompressCommand(s, st, port));
  EXPECT_TRUE(s.sp == before.sp && s.a2 == 1000);
  ASSERT_EQ(port.messages.size(), 2u);
  EXPECT_EQ(port.messages[0], "Wrong compression factor");

  // A negative factor counts by its magnitude; the preset keeps its value.
  port.answers.push_back(TypeText("-2"));
  EXPECT_TRUE(CompressCommand(s, st, port));
  EXPECT_EQ(std::tuple(s.a2, st.reportLines[0], st.compressionFactor),
            std::tuple(500, " Compression by factor 2", 3));
}

}  // namespace
}  // namespace orv
