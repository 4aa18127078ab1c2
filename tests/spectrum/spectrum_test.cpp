#include "spectrum/spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace orv {
namespace {

TEST(Spectrum, ConstructorStateAndExtremes) {
  TSpectrum s("x.spe");
  EXPECT_EQ(s.err[100], 1.0);
  // All negative: the maximum is the largest (still negative); positive data: the minimum is 0.
  s.a1 = 10;
  s.a2 = 12;
  for (auto [values, max, min] :
       {std::tuple{std::array{-5.0, -2.0, -9.0}, -2.0, -9.0}, {{5.0, 7.0, 6.0}, 7.0, 0.0}}) {
    std::copy(values.begin(), values.end(), s.sp.begin() + 10);
    s.FindExtremes();
    EXPECT_EQ(std::tuple(s.maxValue, s.minValue), std::tuple(max, min));
  }
}

TEST(Spectrum, VarianceFormulaAndWeights) {
  TSpectrum s;
  s.fileType = 1, s.a1 = 1, s.a2 = 3;
  s.sp[1] = 100, s.sp[2] = 0, s.sp[3] = 10000;
  s.SetErrors(0.0);
  EXPECT_DOUBLE_EQ(s.err[1], std::sqrt(90.1));
  EXPECT_DOUBLE_EQ(s.err[2], std::sqrt(0.1));
  s.SetErrors(0.01);
  EXPECT_DOUBLE_EQ(s.err[3], std::sqrt(9000 + 0.1 * 100 * 100 + 0.1));
  EXPECT_DOUBLE_EQ(s.Weight(1), 1.0 / (s.err[1] * s.err[1]));
  s.err[2] = 0.0;
  EXPECT_EQ(s.Weight(2) + s.Weight(0) + s.Weight(kSpectrumCapacity + 1), 0.0);
  s.fileType = 3, s.err[1] = 10.0;  // a free-field spectrum keeps the deviations its reader gave
  s.SetErrors(0.01);
  EXPECT_EQ(s.err[1], 10.0);

  EXPECT_EQ(std::tuple(TSpectrum::SwapHalves(1), TSpectrum::SwapHalves(0x12345678),
                       TSpectrum::SwapHalves(TSpectrum::SwapHalves(-123456))),
            std::tuple(65536, 0x56781234, -123456));
}

TEST(Spectrum, DefinitionFile) {
  auto path = std::filesystem::temp_directory_path() / "orv_def_test.def";
  std::ofstream(path)
      << "* instrument of the test bench\nDiffractometer 7\n2.5\n0\n* angle follows\n80\n22.5\n0\n1.79\n";
  TSpectrum s;
  s.delay = 3.0;
  ASSERT_TRUE(s.ReadDefinition(path.string()));
  EXPECT_EQ(s.definitionTitle, "Diffractometer 7");
  // The delay's 0 keeps the previous value.
  EXPECT_EQ(std::tuple(s.chanWidth, s.delay, s.theta, s.flightPath, s.width1, s.lambda),
            std::tuple(2.5, 3.0, 80.0, 22.5, 5.0, 1.79));
  std::filesystem::remove(path);
  EXPECT_FALSE(s.ReadDefinition(path.string()));
}

TEST(Spectrum, WidthLawAndInterval) {
  AnalysisState st;
  TSpectrum s;
  s.a1 = 1, s.a2 = 4096, s.width1 = 4.0, s.width2 = 6.0;
  SetWidthLaw(st, s);
  EXPECT_DOUBLE_EQ(st.kw0 + st.kw1, 4.0);
  EXPECT_DOUBLE_EQ(st.kw0 + st.kw1 * 4096, 6.0);
  s.a2 = 1;  // one channel: constant width instead of a division by zero
  SetWidthLaw(st, s);
  EXPECT_EQ(std::tuple(st.kw0, st.kw1), std::tuple(4.0, 0.0));

  struct Case {
    int a1, a2, from, to, b1, b2;
  };
  for (Case c : {Case{1, 4096, 0, 20000, 2, 4095},
                 {1, 4096, 300, 100, 100, 300},
                 {7, 7, 0, 0, 7, 7},
                 {7, 8, 0, 0, 7, 8}}) {
    s.a1 = c.a1, s.a2 = c.a2;
    SetInterval(st, s, c.from, c.to);
    EXPECT_EQ(std::tuple(s.b1, s.b2, st.intervalLength), std::tuple(c.b1, c.b2, c.b2 - c.b1 + 1))
        << c.from << ".." << c.to;
  }
}

}  // namespace
}  // namespace orv
