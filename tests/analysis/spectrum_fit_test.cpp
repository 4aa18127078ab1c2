#include "analysis/spectrum_fit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <tuple>

#include "analysis/info_views.h"
#include "analysis/interval_checks.h"
#include "analysis/marking_modes.h"
#include "analysis/output_sections.h"
#include "analysis/workspace.h"
#include "core/numtext.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;
using testing::FillSpectrum;
using Strings = std::vector<std::string>;

// Two markings of different sizes, each fitted: the table, the result view and the saved summary hold
// the rows of the second marking and nothing of the first. (How well the rows meet the truth: the
// accuracy suite.)
class SpectrumFitTest : public testing::WorkspaceTest {
 protected:
  SpectrumFitTest() : WorkspaceTest("orv_spectrum_fit_") {}
};

TEST_F(SpectrumFitTest, TableHoldsExactlyTheMarkingFitted) {
  Workspace& ws = *ws_;
  FakePort port;
  ASSERT_TRUE(CreateOutputFile(ws, port));
  RandomGenerator noise;
  const std::vector<testing::TruePeak> truth = {
      {250.4, 12000, 4.2}, {610.7, 6000, 4.6}, {622.9, 9000, 4.6}, {1100.2, 20000, 5.3}, {1700.8, 8000, 6.0}};
  FillSpectrum(ws.spectrum, 2048, truth, 300, -0.08, &noise);
  ws.spectrum.width1 = 4.2, ws.spectrum.width2 = 6.2, ws.spectrum.deltaWidth = 1.5;
  auto markAndFit = [&](int b1, int b2) {
    ws.spectrum.b1 = b1, ws.spectrum.b2 = b2;
    port.AcceptNext();
    EXPECT_TRUE(MarkSpectrum(ws, port));
    EXPECT_TRUE(SpectrumFitCommand(ws, port));
    return ws.marking.peakCount;
  };
  const int first = markAndFit(2, 2047);
  ASSERT_GE(first, 5);
  EXPECT_TRUE(ws.state.resultsUnsaved && ws.state.reportLines[0] == "The spectrum has been fitted.");
  for (const auto& t : truth) {
    int near = 0;
    for (int k = 1; k <= ws.state.resultCount; ++k)
      near += std::fabs(ws.results[k].channel - t.position) < 1 && ws.results[k].criterion > 3;
    EXPECT_EQ(near, 1) << t.position;
  }
  // Unsaved results are asked about first: Cancel fits nothing.
  port.okCancel = false;
  EXPECT_FALSE(SpectrumFitCommand(ws, port));
  EXPECT_EQ(port.questions.back(), "Previous fit results not saved");
  port.okCancel = true;

  const int second = markAndFit(560, 680);
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

// Intervals that cannot be fitted soundly are refused before any fit, each with its own message; the
// others are fitted, and every peak keeps its row (a refused one at its marked position, no area).
TEST_F(SpectrumFitTest, BadIntervalsAreReportedAndSkippedAndRowsMove) {
  Workspace& ws = *ws_;
  FillSpectrum(ws.spectrum, 1024, {{200, 5000, 4}, {600, 5000, 4}, {612, 4000, 4}}, 100, 0, nullptr);
  Marking& mk = ws.marking;
  mk.peakCount = 6;
  const double peaks[] = {200, 600, 612, 1100, 500, 700};
  for (int k = 1; k <= 6; ++k) mk.peakList[k] = peaks[k - 1];
  mk.intervalCount = 6;
  mk.intervalTable[1] = {180, 220, 1, 1};
  mk.intervalTable[2] = {580, 630, 2, 3};
  mk.intervalTable[3] = {300, 310, 4, 3};       // no peaks
  mk.intervalTable[4] = {1000, INT_MAX, 4, 4};  // a bound of 1e308 as a data set gives it
  mk.intervalTable[5] = {500, 500, 5, 5};       // one channel for eight parameters
  mk.intervalTable[6] = {300, 900, 6, 6};       // longer than 256 channels
  FakePort port;
  EXPECT_TRUE(SpectrumFit(ws, port, 0, nullptr));
  EXPECT_EQ(port.messages, (Strings{"Error, no peaks in 300 310",
                                    "Error, interval 1000 2147483647 outside the spectrum 1 1024",
                                    "Error, interval 500 500 has 1 channel(s) for 1 peak(s)",
                                    "Error, too long interval 300 900"}));
  EXPECT_EQ(ws.state.resultCount, 6);
  EXPECT_NEAR(ws.results[1].channel, 200, 0.01);
  EXPECT_NEAR(ws.results[3].channel, 612, 0.1);
  for (int k : {4, 5, 6})
    EXPECT_EQ(std::tuple(ws.results[k].channel, ws.results[k].area, ws.results[k].criterion),
              std::tuple(peaks[k - 1], 0.0, 0.0));
  // The summary shows the highest degree the fits used (the data choose it for each interval).
  EXPECT_GE(ws.state.usedBackgroundDegree, ws.fit.backgroundDegree);
  // An interval beyond the end of a shorter spectrum is refused as well.
  port.messages.clear();
  ws.spectrum.a2 = 629;  // one channel short
  mk.intervalCount = 2;
  EXPECT_TRUE(SpectrumFit(ws, port, 0, nullptr));
  EXPECT_EQ(port.messages, (Strings{"Error, interval 580 630 outside the spectrum 1 629"}));
  // More peaks than one fit takes: said, and the interval is still fitted with the first 150.
  port.messages.clear();
  MarkInterval crowded{1, 400, 1, kMaxPeaks + 1};
  EXPECT_TRUE(CheckIntervalForFit(ws, crowded, port));
  EXPECT_EQ(port.messages,
            (Strings{"Warning, interval 1 400 holds 151 peaks; only the first 150 are fitted"}));
  // Mode 1 writes a value line and an error line per peak; without calibrations energy = channel.
  ws.spectrum.a2 = 1024;
  mk.intervalCount = 1;
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
