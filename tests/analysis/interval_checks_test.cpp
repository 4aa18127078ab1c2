#include "analysis/interval_checks.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "analysis/fit_loop.h"
#include "analysis/output_sections.h"
#include "analysis/spectrum_fit.h"
#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"

namespace orv {
namespace {

using testing::FakePort;
using Strings = std::vector<std::string>;

// Intervals that cannot be fitted soundly are refused before any fit, each with its own message; the
// others are fitted and the summary shows the highest background degree their fits used.
TEST(IntervalChecks, DegenerateIntervalsAreRefusedByName) {
  Workspace ws(std::filesystem::temp_directory_path().string());
  ResetAnalysisState(ws);
  testing::FillSpectrum(ws.spectrum, 1024, {{200, 5000, 4}, {600, 5000, 4}, {612, 4000, 4}}, 100, 0, nullptr);
  Marking& mk = ws.marking;
  mk.peakCount = 5;
  const double peaks[] = {200, 600, 612, 1100, 500};
  for (int k = 1; k <= 5; ++k) mk.peakList[k] = peaks[k - 1];
  mk.intervalCount = 4;
  mk.intervalTable[1] = {180, 220, 1, 1};
  mk.intervalTable[2] = {580, 630, 2, 3};
  mk.intervalTable[3] = {1000, INT_MAX, 4, 4};  // a bound of 1e308 as a data set gives it
  mk.intervalTable[4] = {500, 500, 5, 5};       // one channel for eight parameters
  FakePort port;
  EXPECT_TRUE(SpectrumFit(ws, port, 0, nullptr));
  EXPECT_EQ(port.messages, (Strings{"Error, interval 1000 2147483647 outside the spectrum 1 1024",
                                    "Error, interval 500 500 has 1 channel(s) for 1 peak(s)"}));
  // Every peak of the marking has its row; the refused ones hold their marked positions, no area.
  EXPECT_EQ(ws.state.resultCount, 5);
  EXPECT_NEAR(ws.results[3].channel, 612, 0.1);
  EXPECT_EQ(std::tuple(ws.results[4].channel, ws.results[4].area, ws.results[5].channel, ws.results[5].area),
            std::tuple(1100.0, 0.0, 500.0, 0.0));
  // The highest degree the fits used (the data choose it for each interval).
  EXPECT_GE(ws.state.usedBackgroundDegree, ws.fit.backgroundDegree);

  // An interval beyond the end of a shorter spectrum is refused as well.
  port.messages.clear();
  ws.spectrum.a2 = 600;
  mk.intervalCount = 2;
  EXPECT_TRUE(SpectrumFit(ws, port, 0, nullptr));
  EXPECT_EQ(port.messages, (Strings{"Error, interval 580 630 outside the spectrum 1 600"}));

  // More peaks than one fit takes: said, and the interval is still fitted with the first 150.
  port.messages.clear();
  MarkInterval crowded{1, 400, 1, kMaxPeaks + 1};
  EXPECT_TRUE(CheckIntervalForFit(ws, crowded, port));
  EXPECT_EQ(port.messages,
            (Strings{"Warning, interval 1 400 holds 151 peaks; only the first 150 are fitted"}));
}

TEST(IntervalChecks, MarkingFilesAndLoopsRefuseBoundsBeyondTheArrays) {
  const auto dir = std::filesystem::temp_directory_path() / ("orv_checks_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  Workspace ws(dir.string());
  ResetAnalysisState(ws);
  FakePort port;
  for (const std::string bound : {"1e308", "3000000000", "40000"}) {
    const auto path = (dir / "marking.txt").string();
    std::ofstream(path) << "100 140 1\n120\n1630 " << bound << " 1\n1649\n";
    ws.marking.peakCount = 0;
    port.messages.clear();
    EXPECT_FALSE(LoadMarkingFile(path, ws.marking, ws.state, port));
    ASSERT_EQ(port.messages.size(), 1u);
    EXPECT_EQ(port.messages[0].rfind("Error, interval 1630 ", 0), 0u) << port.messages[0];
    EXPECT_EQ(ws.marking.peakCount, 0);
  }
  // A marking that came another way is checked when the loop starts.
  ws.marking.peakCount = ws.marking.intervalCount = 1;
  ws.marking.intervalTable[1] = {10, INT_MAX, 1, 1};
  ws.state.nameCount = 1;
  ws.names.names[1] = "x.bin";
  ws.spectrum.fileType = 1;
  EXPECT_FALSE(FitLoopCommand(ws, port).ran);
  EXPECT_EQ(port.statuses.back(), "Error, marking outside the spectrum arrays|");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace orv
