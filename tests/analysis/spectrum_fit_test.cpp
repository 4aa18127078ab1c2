#include "analysis/spectrum_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <tuple>

#include "analysis/info_views.h"
#include "analysis/marking_modes.h"
#include "analysis/output_sections.h"
#include "analysis/workspace.h"
#include "core/numtext.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"
#include "tests/support/text_file.h"

namespace orv {
namespace {

using testing::FakePort;
using testing::FillSpectrum;
using testing::TruePeak;

TEST(SpectrumFit, RecoversKnownPeaksWithinReportedErrors) {
  Workspace ws(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(ws);
  ws.state.covar = 0;
  const std::vector<TruePeak> truth = {
      {250.4, 12000, 4.2}, {610.7, 6000, 4.6}, {622.9, 9000, 4.6}, {1100.2, 20000, 5.3}, {1700.8, 8000, 6.0}};
  RandomGenerator noise;
  FillSpectrum(ws.spectrum, 2048, truth, 300, -0.08, &noise);
  ws.spectrum.b1 = 2, ws.spectrum.b2 = 2047;
  ws.spectrum.width1 = 4.2, ws.spectrum.width2 = 6.2, ws.spectrum.deltaWidth = 1.5;
  FakePort port;
  port.AcceptNext();
  ASSERT_TRUE(MarkSpectrum(ws, port));
  // The search also takes noise bumps for peaks; the fit gives them a criterion below 3.
  ASSERT_GE(ws.marking.peakCount, 5);
  ASSERT_TRUE(SpectrumFitCommand(ws, port));
  EXPECT_TRUE(ws.state.resultsUnsaved && ws.state.reportLines[0] == "The spectrum has been fitted.");
  const int rows = ws.state.resultCount;
  ASSERT_EQ(rows, ws.marking.peakCount);
  int significantStrays = 0;
  for (int k = 1; k <= rows; ++k) {
    bool near = false;
    for (const TruePeak& t : truth) near |= std::fabs(ws.results[k].channel - t.position) < 3 * t.fwhm;
    significantStrays += !near && ws.results[k].criterion > 3;
  }
  EXPECT_LE(significantStrays, 1);
  for (const TruePeak& t : truth) {
    int k = 1;
    for (int i = 2; i <= rows; ++i)
      if (std::fabs(ws.results[i].channel - t.position) < std::fabs(ws.results[k].channel - t.position))
        k = i;
    const ResultRow& r = ws.results[k];
    SCOPED_TRACE(t.position);
    EXPECT_TRUE(r.channelError > 0 && r.areaError > 0);
    EXPECT_NEAR(r.channel, t.position, 4 * r.channelError + 0.05);
    EXPECT_NEAR(r.area, t.area, 4 * r.areaError + 0.02 * t.area);
    EXPECT_NEAR(r.width, t.fwhm, 0.8);
    EXPECT_GT(r.criterion, 3);
  }
  // A second fit overwrites the same rows; unsaved results are asked about first.
  port.okCancel = false;
  EXPECT_FALSE(SpectrumFitCommand(ws, port));
  EXPECT_EQ(port.questions.back(), "Previous fit results not saved");
  port.okCancel = true;
  ASSERT_TRUE(SpectrumFitCommand(ws, port));
  EXPECT_EQ(ws.state.resultCount, rows);
}

// Two markings of different sizes, each fitted: the table, the result view and the saved summary hold
// the rows of the second marking and nothing of the first.
TEST(SpectrumFit, TableHoldsExactlyTheMarkingFitted) {
  const auto dir = std::filesystem::temp_directory_path() / "orv_spectrum_fit_rows";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  Workspace ws(dir.string());
  ResetAnalysisState(ws);
  FakePort port;
  ASSERT_TRUE(CreateOutputFile(ws, port));
  RandomGenerator noise;
  FillSpectrum(ws.spectrum, 2048,
               {{250.4, 12000, 4.2},
                {610.7, 6000, 4.6},
                {622.9, 9000, 4.6},
                {1100.2, 20000, 5.3},
                {1700.8, 8000, 6.0}},
               300, -0.08, &noise);
  ws.spectrum.width1 = 4.2, ws.spectrum.width2 = 6.2, ws.spectrum.deltaWidth = 1.5;
  auto markAndFit = [&](int b1, int b2) {
    ws.spectrum.b1 = b1, ws.spectrum.b2 = b2;
    port.AcceptNext();
    EXPECT_TRUE(MarkSpectrum(ws, port));
    EXPECT_TRUE(SpectrumFitCommand(ws, port));
    return ws.marking.peakCount;
  };
  const int first = markAndFit(2, 2047);
  const int second = markAndFit(560, 680);
  ASSERT_GE(first, 5);
  ASSERT_TRUE(second >= 2 && second < first);
  EXPECT_EQ(std::tuple(ws.state.resultCount, ws.results.resultBase), std::tuple(second, 0));
  for (int k = 1; k <= ResultTable::resultCapacity; ++k) {
    const ResultRow& r = ws.results[k];
    if (k <= second)
      EXPECT_TRUE(r.channel > 560 && r.channel < 680 && r.areaError > 0) << k;
    else
      EXPECT_EQ(std::tuple(r.channel, r.area), std::tuple(0.0, 0.0)) << k;
  }
  port.AcceptNext();
  ShowResultTableView(ws, port);
  ASSERT_TRUE(port.dialogs.back().listBox);
  EXPECT_EQ(port.dialogs.back().listBox->lines.size(), 2u * second);

  port.AcceptNext();
  SaveFitResultsCommand(ws, port);
  const auto lines = testing::ReadLines(ws.output.path());
  const auto heading = std::find(lines.begin(), lines.end(),
                                 "Number of peaks  = " + FormatInt(second, 3) +
                                     "  Peak model type  = " + PeakModelName(ws.model().kind));
  ASSERT_NE(heading, lines.end());
  // Value line, error line, empty line per row after the column heading and an empty line.
  const auto columns =
      std::find_if(heading, lines.end(), [](const std::string& l) { return l.rfind("   Channel", 0) == 0; });
  ASSERT_NE(columns, lines.end());
  EXPECT_EQ(lines.end() - columns - 2, 3 * second);
}

TEST(SpectrumFit, BadIntervalsAreReportedAndSkippedAndRowsMove) {
  Workspace ws(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(ws);
  FillSpectrum(ws.spectrum, 1024, {{200, 5000, 4}, {600, 5000, 4}}, 100, 0, nullptr);
  Marking& mk = ws.marking;
  mk.peakCount = 2, mk.peakList[1] = 200, mk.peakList[2] = 600, mk.intervalCount = 3;
  mk.intervalTable[1] = {180, 220, 1, 1};
  mk.intervalTable[2] = {300, 310, 2, 1};  // no peaks
  mk.intervalTable[3] = {300, 900, 2, 2};  // longer than 256 channels
  FakePort port;
  EXPECT_TRUE(SpectrumFit(ws, port, 0, nullptr));
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{"Error, no peaks in 300 310", "Error, too long interval 300 900"}));
  // The peak of the skipped interval keeps its row, at its marked position, with nothing fitted.
  EXPECT_EQ(ws.state.resultCount, 2);
  EXPECT_NEAR(ws.results[1].channel, 200, 0.01);
  EXPECT_EQ(std::tuple(ws.results[2].channel, ws.results[2].area, ws.results[2].criterion),
            std::tuple(600.0, 0.0, 0.0));
  // Mode 1 writes a value line and an error line per peak; without calibrations energy = channel.
  port.lines.clear();
  ws.state.normCoefficient = 0;
  EXPECT_TRUE(SpectrumFit(ws, port, 1, &port));
  ASSERT_EQ(port.lines.size(), 2u);
  EXPECT_EQ(port.lines[0].size(), 9u + 9 + 9 + 14 + 9 + 12 + 10);
  EXPECT_EQ(port.lines[0].substr(0, 18), "   200.00   200.00");
  // No marking: the command says so.
  mk.peakCount = 0;
  EXPECT_FALSE(SpectrumFitCommand(ws, port));
  EXPECT_EQ(port.statuses.back(), "No marking data|");
  // Rows inserted after a row move the rows above it; deletion closes the gap.
  ws.state.resultCount = 3;
  for (int r = 1; r <= 3; ++r) ws.results[r].channel = r;
  InsertResultRow(ws, 1);
  EXPECT_EQ(std::tuple(ws.state.resultCount, ws.results[1].channel, ws.results[2].channel,
                       ws.results[3].channel, ws.results[4].channel),
            std::tuple(4, 1.0, 0.0, 2.0, 3.0));
  DeleteResultRow(ws, 2);
  EXPECT_EQ(std::tuple(ws.state.resultCount, ws.results[2].channel, ws.results[3].channel),
            std::tuple(3, 2.0, 3.0));
}

}  // namespace
}  // namespace orv
