#include "ui/carbon_analysis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <tuple>

#include "analysis/carbon_line.h"
#include "tests/support/fake_port.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;

// 350 channels at 5 keV from 3000 keV (4400..4600 keV: channels 281..321) on a flat 100 counts; the
// line adds 50 counts to channels 296..305.
double Energy(int ch) {
  return 3000.0 + 5.0 * (ch - 1);
}
double Count(int ch, bool line) {
  return 100.0 + (line && ch >= 296 && ch <= 305 ? 50.0 : 0.0);
}

TSpectrum CarbonSpectrum(bool line) {
  TSpectrum s;
  s.a1 = s.b1 = 1;
  s.a2 = s.b2 = 350;
  for (int ch = 1; ch <= 350; ++ch)
    s.x[ch] = Energy(ch), s.sp[ch] = Count(ch, line), s.err[ch] = std::sqrt(s.sp[ch]);
  s.FindExtremes();
  return s;
}

// Lines of line number, X, Y, error.
void WriteCarbonFile(const std::filesystem::path& path, bool line) {
  std::ofstream out(path);
  out << "* synthetic carbon spectrum\n";
  for (int ch = 1; ch <= 350; ++ch)
    out << ch << " " << Energy(ch) << " " << Count(ch, line) << " " << std::sqrt(Count(ch, line)) << "\n";
}

TEST(CarbonLine, CriterionSeparatesLineFromFlatBackground) {
  const CarbonLineResult with = MeasureCarbonLine(CarbonSpectrum(true), 4400, 4600);
  ASSERT_TRUE(with.computed);
  EXPECT_EQ(std::tuple(with.regionChannels, with.S, with.background), std::tuple(41, 4600.0, 4100.0));
  EXPECT_DOUBLE_EQ(with.criterion, 500 / std::sqrt(4100.0 + 500.0));

  const CarbonLineResult without = MeasureCarbonLine(CarbonSpectrum(false), 4400, 4600);
  EXPECT_DOUBLE_EQ(without.S, without.background);
  EXPECT_LT(std::fabs(without.criterion), 1e-12);
}

TEST(CarbonLine, EdgeCases) {
  TSpectrum s = CarbonSpectrum(false);
  // The level is the mean of the first channels reaching ec1 and ec2, not the last channel's count.
  s.sp[281] = 90;
  s.sp[321] = 110;
  s.sp[350] = 77;
  EXPECT_DOUBLE_EQ(MeasureCarbonLine(s, 4400, 4600).B, 100);
  s.sp[281] = s.sp[321] = 100;

  // Between two channel energies: the region holds no channel.
  CarbonLineResult r = MeasureCarbonLine(s, 4401, 4404);
  EXPECT_TRUE(r.computed);
  EXPECT_EQ(r.regionChannels + r.S + r.background + r.criterion, 0);

  // Above the last channel (4745 keV): the level is the last channel's count; counts round half-even.
  s.sp[341] = 100.5;
  s.sp[342] = 101.5;
  r = MeasureCarbonLine(s, 4700, 5000);
  EXPECT_EQ(std::tuple(r.regionChannels, r.B, r.background, r.S),
            std::tuple(10, 77.0, 770.0, 7 * 100 + 100 + 102 + 77.0));

  for (int ch = 1; ch <= 350; ++ch) s.err[ch] = 0;
  r = MeasureCarbonLine(s, 4400, 4600);
  EXPECT_TRUE(r.S > 0 && r.criterion == 0);  // no deviations: no criterion, never a division by zero

  // A constant energy scale has no region to measure.
  for (int ch = 1; ch <= 350; ++ch) s.x[ch] = 4500;
  r = MeasureCarbonLine(s, 4400, 4600);
  EXPECT_FALSE(r.computed);
  EXPECT_EQ(r.S + r.background + r.criterion, 0);
}

class CarbonAnalysisTest : public testing::WorkspaceTest {
 protected:
  CarbonAnalysisTest() : WorkspaceTest("orv_carbon_") {}
  std::string WriteList(const std::string& text) {
    const auto path = dir_ / "list.tab";
    std::ofstream(path) << text;
    return path.string();
  }
  FakePort port_;
};

TEST_F(CarbonAnalysisTest, ShowsEachListedSpectrumUntilCancel) {
  WriteCarbonFile(dir_ / "with.txt", true);
  WriteCarbonFile(dir_ / "without.txt", false);
  const std::string list = WriteList("* carbon series\nwith.txt\n\n  without.txt\r\n");
  ws_->marking.peakCount = 3;
  port_.fallback = [](DialogRequest&) { return true; };
  port_.files.push_back(list);
  CarbonAnalysisCommand(*ws_, port_);

  ASSERT_EQ(port_.shown.size(), 3u);
  EXPECT_EQ(port_.messages, std::vector<std::string>{"2 spectrum names read"});
  EXPECT_EQ(port_.shown[1].listBox->lines,
            (std::vector<std::string>{"Max = 150  Min = 0", "   a1=3000.00(1)  a2=4745.00(350)",
                                      "region   ec1=4400   ec2=4600 Kev", "  Spectrum = with.txt",
                                      "(i1-i2)=1 - 350  S= 4600", "    Backgr=4100.0", "   Crit=7.37"}));
  EXPECT_EQ(port_.shown[2].listBox->lines[6], "   Crit=0.00");
  const auto& pixels = port_.shown[1].image->pixels;
  EXPECT_NE(std::find(pixels.begin(), pixels.end(), 0xFF00FFu), pixels.end());  // the counts
  EXPECT_NE(std::find(pixels.begin(), pixels.end(), 0x80FFFFu), pixels.end());  // the window marker

  // The last spectrum read stays loaded, with the reading settings of the analysis.
  EXPECT_EQ(std::tuple(ws_->spectrum.fileName, ws_->spectrum.fileType, ws_->marking.peakCount),
            std::tuple((dir_ / "without.txt").string(), 4, 0));

  // Cancel on the first spectrum ends the series.
  FakePort cancel;
  cancel.AcceptNext();
  cancel.answers.push_back([](DialogRequest&) { return false; });
  cancel.fallback = [](DialogRequest&) { return true; };
  cancel.files.push_back(list);
  CarbonAnalysisCommand(*ws_, cancel);
  EXPECT_EQ(cancel.shown.size(), 2u);
  EXPECT_EQ(ws_->spectrum.fileName, (dir_ / "with.txt").string());
}

TEST_F(CarbonAnalysisTest, MissingFilesAreReported) {
  port_.fallback = [](DialogRequest&) { return true; };
  port_.files.push_back((dir_ / "nolist.tab").string());
  CarbonAnalysisCommand(*ws_, port_);
  EXPECT_EQ(port_.messages, std::vector<std::string>{"No file " + (dir_ / "nolist.tab").string()});

  // Missing or unreadable listed spectra are reported and skipped.
  WriteCarbonFile(dir_ / "with.txt", true);
  std::ofstream(dir_ / "empty.txt") << "* nothing\n";
  const std::string oldName = ws_->spectrum.fileName;
  port_ = FakePort{};
  port_.fallback = [](DialogRequest&) { return true; };
  port_.files.push_back(WriteList("gone.txt\nempty.txt\n"));
  CarbonAnalysisCommand(*ws_, port_);
  EXPECT_EQ(port_.messages, (std::vector<std::string>{
                                "2 spectrum names read", "No file " + (dir_ / "gone.txt").string(),
                                "Spectrum " + (dir_ / "empty.txt").string() + " is wrong; it is skipped"}));
  EXPECT_EQ(port_.shown.size(), 1u);
  EXPECT_EQ(ws_->spectrum.fileName, oldName);

  port_.files.push_back(WriteList((dir_ / "with.txt").string() + "\n"));
  CarbonAnalysisCommand(*ws_, port_);
  ASSERT_EQ(port_.shown.size(), 3u);  // a full path is read as it stands
}

}  // namespace
}  // namespace orv
