#include "analysis/spectrum_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/workspace_test.h"
#include "ui/script/script_port.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

class SpectrumInputTest : public testing::WorkspaceTest {
 protected:
  SpectrumInputTest() : WorkspaceTest("orv_input_") {}
  std::string Write(const std::string& name, const std::string& text) {
    auto p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
};

TEST_F(SpectrumInputTest, WholeDialogAnsweredByScript) {
  std::string file = Write("s.txt", "* two peaks\n10 20 30 400 30 20 10\n");
  ASSERT_TRUE(ws_->output.Create((dir_ / "a.res").string()));
  std::ostringstream log;
  ScriptPort port(
      "file " + file + "\ndialog Input the Spectrum\nradio 3\ncheck \"Restore ini-bounds\" on\nhelp\nok\n",
      log);
  ASSERT_TRUE(InputSpectrumCommand(*ws_, port)) << log.str();
  const TSpectrum& s = ws_->spectrum;
  EXPECT_EQ(s.fileType, 3);
  EXPECT_EQ(s.a1, 1);
  EXPECT_EQ(s.a2, 7);
  EXPECT_EQ(s.b1, 2);  // no ini-bounds were given: the inner channels
  EXPECT_EQ(s.b2, 6);
  EXPECT_EQ(ws_->state.intervalFirst, 2);
  EXPECT_EQ(ws_->state.intervalLength, 5);
  EXPECT_EQ(s.maxValue, 400);
  EXPECT_DOUBLE_EQ(s.err[4], std::sqrt(400.0));  // a free-field spectrum keeps its own deviations
  EXPECT_EQ(ws_->state.lastDir, dir_.string());
  EXPECT_EQ(ws_->state.reportLines[0], " Spectrum read in. ");
  EXPECT_NE(log.str().find("help: Spectrum File Type are: (length < 16385)"), std::string::npos);
  std::ifstream res(dir_ / "a.res");
  std::string line;
  std::getline(res, line);
  EXPECT_EQ(line, file + " Spectrum read in. ");
}

TEST_F(SpectrumInputTest, BinaryTypeGetsTheVarianceFormula) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += std::string{char(100), char(0)};
  std::string file = Write("b.dat", bytes);
  ws_->state.iniB1 = 10;
  ws_->state.iniB2 = 50;
  std::ostringstream log;
  ScriptPort port("file " + file + "\ndialog\nradio 1\nok\n", log);
  ASSERT_TRUE(InputSpectrumCommand(*ws_, port)) << log.str();
  EXPECT_EQ(ws_->spectrum.a2, 100);
  EXPECT_EQ(ws_->spectrum.b1, 10);  // "Restore ini-bounds" is checked at first
  EXPECT_EQ(ws_->spectrum.b2, 50);
  EXPECT_DOUBLE_EQ(ws_->spectrum.err[5], std::sqrt(90 + 0.1 * 1 + 0.1));
}

TEST_F(SpectrumInputTest, AsciiLineStructureAsked) {
  std::string file = Write("xy.txt", "100 0.5 40\n101 0.6 50\n102 0.7 45\n");
  std::ostringstream log;
  ScriptPort port("file " + file +
                      "\ndialog\nradio 4\ncheck 4 off\nbox on\nok\n"
                      "dialog Enter indicators\ntext 1 3 2\nok\n",
                  log);
  ASSERT_TRUE(InputSpectrumCommand(*ws_, port)) << log.str();
  EXPECT_EQ(ws_->state.input.lineIndicators, (std::array<int, 3>{1, 3, 2}));
  EXPECT_EQ(ws_->spectrum.a1, 100);
  EXPECT_EQ(ws_->spectrum.a2, 102);
  EXPECT_EQ(ws_->spectrum.sp[101], 50);
  EXPECT_EQ(ws_->spectrum.b1, 101);
  EXPECT_EQ(ws_->spectrum.b2, 101);
}

TEST_F(SpectrumInputTest, FailuresLeaveTheSpectrumAsItWas) {
  std::string good = Write("good.txt", "1 2 3 4 5 6 7 8\n");
  std::ostringstream log;
  ScriptPort first("file " + good + "\ndialog\nradio 3\nok\n", log);
  ASSERT_TRUE(InputSpectrumCommand(*ws_, first));
  const TSpectrum before = ws_->spectrum;

  auto attempt = [&](const std::string& script) {
    std::ostringstream l;
    ScriptPort port(script, l);
    bool ok = InputSpectrumCommand(*ws_, port);
    EXPECT_FALSE(port.failed()) << l.str();
    return std::make_pair(ok, l.str());
  };
  std::ostringstream many;
  for (int i = 0; i < 40000; ++i) many << "1 ";
  std::string tooLong = Write("long.txt", many.str());
  std::string zeros = Write("zeros.txt", "0 0 0 0\n");
  std::string huge = Write("huge.txt", "1 2 3e999\n");

  auto [ok1, log1] = attempt("file " + tooLong + "\ndialog\nradio 3\nok\n");
  EXPECT_FALSE(ok1);
  EXPECT_NE(log1.find("message: Error, more than 32768 channels"), std::string::npos);
  auto [ok2, log2] = attempt("file " + huge + "\ndialog\nradio 3\nok\n");
  EXPECT_FALSE(ok2);
  EXPECT_NE(log2.find("number out of range in line 1"), std::string::npos);
  auto [ok3, log3] = attempt("file " + (dir_ / "missing.txt").string() + "\n");
  EXPECT_FALSE(ok3);
  EXPECT_NE(log3.find("message: No file "), std::string::npos);
  auto [ok4, log4] = attempt("cancel\n");
  EXPECT_FALSE(ok4);
  auto [ok5, log5] = attempt("file " + good + "\ndialog\nradio 1\ncancel\n");
  EXPECT_FALSE(ok5);

  EXPECT_EQ(ws_->spectrum.a2, before.a2);
  EXPECT_EQ(ws_->spectrum.sp, before.sp);
  EXPECT_EQ(ws_->spectrum.err, before.err);
  EXPECT_EQ(ws_->spectrum.b2, before.b2);

  // An all-zero spectrum is read but refused.
  auto [ok6, log6] = attempt("file " + zeros + "\ndialog\nradio 3\nok\n");
  EXPECT_FALSE(ok6);
  EXPECT_EQ(ws_->state.reportLines[0], "++++ Error, wrong reading");
}

TEST_F(SpectrumInputTest, PoorDataScale) {
  std::string file = Write("small.txt", "0.1 0.5 0.2\n");
  std::ostringstream log;
  ScriptPort port("file " + file + "\ndialog\nradio 3\nok\n", log);
  ASSERT_TRUE(InputSpectrumCommand(*ws_, port));
  EXPECT_NE(log.str().find("message: Poor data scale, max < 1"), std::string::npos);
  EXPECT_EQ(ws_->spectrum.maxValue, 1.0);
}

}  // namespace
}  // namespace orv
