#include "analysis/spectrum_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <utility>

#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"
#include "ui/script/script_port.h"

namespace orv {
namespace {

class SpectrumInputTest : public testing::WorkspaceTest {
 protected:
  SpectrumInputTest() : WorkspaceTest("orv_input_") {}
  std::string Write(const std::string& name, const std::string& text) {
    auto p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  // Runs the command on a script; returns its outcome and the script's log.
  std::pair<bool, std::string> Input(const std::string& script) {
    std::ostringstream log;
    ScriptPort port(script, log);
    const bool ok = InputSpectrumCommand(*ws_, port);
    EXPECT_FALSE(port.failed()) << log.str();
    return {ok, log.str()};
  }
  bool Logged(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }
};

TEST_F(SpectrumInputTest, WholeDialogAnsweredByScript) {
  std::string file = Write("s.txt", "* two peaks\n10 20 30 400 30 20 10\n");
  ASSERT_TRUE(ws_->output.Create((dir_ / "a.res").string()));
  const auto [ok, log] = Input(
      "file " + file + "\ndialog Input the Spectrum\nradio 3\ncheck \"Restore ini-bounds\" on\nhelp\nok\n");
  ASSERT_TRUE(ok) << log;
  const TSpectrum& s = ws_->spectrum;
  // No ini-bounds were given: the inner channels.
  EXPECT_EQ(std::tuple(s.fileType, s.a1, s.a2, s.b1, s.b2, ws_->state.intervalFirst,
                       ws_->state.intervalLength, s.maxValue),
            std::tuple(3, 1, 7, 2, 6, 2, 5, 400.0));
  EXPECT_DOUBLE_EQ(s.err[4], std::sqrt(400.0));  // a free-field spectrum keeps its own deviations
  EXPECT_EQ(ws_->state.lastDir, dir_.string());
  EXPECT_EQ(ws_->state.reportLines[0], " Spectrum read in. ");
  EXPECT_EQ(testing::ReadLines(dir_ / "a.res"), std::vector<std::string>{file + " Spectrum read in. "});
}

// Reading a spectrum drops the fit results of the one before: unsaved ones are asked about first, as
// the fits and the compression ask, and nothing is left for Exit to ask about afterwards.
TEST_F(SpectrumInputTest, UnsavedResultsAreAskedAbout) {
  const std::string file = Write("s.txt", "10 20 30 400 30 20 10\n");
  ws_->state.resultsUnsaved = true;
  auto [ok, log] = Input("cancel\n");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(Logged(log, "question: Previous fit results not saved -> cancel")) << log;
  EXPECT_TRUE(ws_->state.resultsUnsaved);
  std::tie(ok, log) = Input("ok\nfile " + file + "\ndialog\nradio 3\nok\n");
  EXPECT_TRUE(ok) << log;
  EXPECT_FALSE(ws_->state.resultsUnsaved);
}

TEST_F(SpectrumInputTest, BinaryTypeGetsTheVarianceFormula) {
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += std::string{char(100), char(0)};
  std::string file = Write("b.dat", bytes);
  ws_->state.iniB1 = 10, ws_->state.iniB2 = 50;
  ASSERT_TRUE(Input("file " + file + "\ndialog\nradio 1\nok\n").first);
  // "Restore ini-bounds" is checked at first.
  EXPECT_EQ(std::tuple(ws_->spectrum.a2, ws_->spectrum.b1, ws_->spectrum.b2), std::tuple(100, 10, 50));
  EXPECT_DOUBLE_EQ(ws_->spectrum.err[5], std::sqrt(90 + 0.1 * 1 + 0.1));
}

TEST_F(SpectrumInputTest, AsciiLineStructureAsked) {
  std::string file = Write("xy.txt", "100 0.5 40\n101 0.6 50\n102 0.7 45\n");
  ASSERT_TRUE(Input("file " + file +
                    "\ndialog\nradio 4\ncheck 4 off\nbox on\nok\ndialog Enter indicators\ntext 1 3 2\nok\n")
                  .first);
  const TSpectrum& s = ws_->spectrum;
  EXPECT_EQ(ws_->state.input.lineIndicators, (std::array<int, 3>{1, 3, 2}));
  EXPECT_EQ(std::tuple(s.a1, s.a2, s.sp[101], s.b1, s.b2), std::tuple(100, 102, 50.0, 101, 101));
}

TEST_F(SpectrumInputTest, FailuresLeaveTheSpectrumAsItWas) {
  const std::string good = Write("good.txt", "1 2 3 4 5 6 7 8\n");
  ASSERT_TRUE(Input("file " + good + "\ndialog\nradio 3\nok\n").first);
  const TSpectrum before = ws_->spectrum;
  std::string many;
  for (int i = 0; i < 40000; ++i) many += "1 ";
  for (auto [script, said] : {std::pair{"file " + Write("long.txt", many) + "\ndialog\nradio 3\nok\n",
                                        "message: Error, more than 32768 channels"},
                              {"file " + Write("huge.txt", "1 2 3e999\n") + "\ndialog\nradio 3\nok\n",
                               "line 1: \"3e999\" is not a number"},
                              {"file " + (dir_ / "missing.txt").string() + "\n", "message: No file "},
                              {std::string("cancel\n"), ""},
                              {"file " + good + "\ndialog\nradio 1\ncancel\n", ""}}) {
    const auto [ok, log] = Input(script);
    EXPECT_FALSE(ok) << script;
    EXPECT_TRUE(Logged(log, said)) << log;
  }
  EXPECT_EQ(std::tuple(ws_->spectrum.a2, ws_->spectrum.b2), std::tuple(before.a2, before.b2));
  EXPECT_TRUE(ws_->spectrum.sp == before.sp && ws_->spectrum.err == before.err);
  // An all-zero spectrum is read but refused; values below 1 are accepted with a warning.
  EXPECT_FALSE(Input("file " + Write("zeros.txt", "0 0 0 0\n") + "\ndialog\nradio 3\nok\n").first);
  EXPECT_EQ(ws_->state.reportLines[0], "++++ Error, wrong reading");
  const auto [ok, log] = Input("file " + Write("small.txt", "0.1 0.5 0.2\n") + "\ndialog\nradio 3\nok\n");
  ASSERT_TRUE(ok);
  EXPECT_TRUE(Logged(log, "message: Poor data scale, max < 1"));
  EXPECT_EQ(ws_->spectrum.maxValue, 1.0);
}

}  // namespace
}  // namespace orv
