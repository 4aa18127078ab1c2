#include "analysis/marking.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "tests/support/fake_port.h"

namespace orv {
namespace {

using testing::FakePort;

Marking Read(const std::string& text, FakePort& port, MarkingRead* outcome = nullptr) {
  Marking m;
  std::istringstream in(text);
  MarkingRead r = ReadMarkingDataSet(in, m, port);
  if (outcome) *outcome = r;
  return m;
}

// Each interval as {start, end, firstPeak, lastPeak}.
std::vector<std::array<int, 4>> Intervals(const Marking& m) {
  std::vector<std::array<int, 4>> v;
  for (int i = 1; i <= m.intervalCount; ++i) {
    const MarkInterval& t = m.intervalTable[i];
    v.push_back({t.startChannel, t.endChannel, t.firstPeak, t.lastPeak});
  }
  return v;
}
using Table = std::vector<std::array<int, 4>>;

TEST(MarkingDataSet, ValidSetReadBack) {
  FakePort port;
  MarkingRead outcome;
  Marking m = Read(
      "* calibration source\n100, 130, 2   * the example block\n112.5 118\n\n"
      "-200\t-260 3\n* peaks over two lines\n210 .5e3\n240.25 999\n"  // 999: beyond the 3 announced
      "300 330 1\n315\n",
      port, &outcome);
  EXPECT_TRUE(outcome == MarkingRead::kRead && port.messages.empty());
  EXPECT_EQ(Intervals(m), (Table{{100, 130, 1, 2}, {200, 260, 3, 5}, {300, 330, 6, 6}}));
  EXPECT_EQ(std::tuple(m.peakCount, m.markingLength), std::tuple(6, 2 * 3 + 6));
  // Peaks are not compared with their interval: 500 lies beyond 260 and is kept.
  EXPECT_EQ(FlatMarking(m),
            (std::vector<double>{-100, 112.5, 118, -130, -200, 210, 500, 240.25, -260, -300, 315, -330}));
}

TEST(MarkingDataSet, IrregularBlocks) {
  FakePort port;
  Marking m = Read("* nothing\n   \n\t * a comment tail only\n", port);
  EXPECT_EQ(m.intervalCount + m.peakCount + m.markingLength, 0);
  // No peaks announced (zero or negative): an empty interval, the next header read as such.
  m = Read("10 20 0\n30 40 -2\n50 60 1\n55\n", port);
  EXPECT_EQ(Intervals(m), (Table{{10, 20, 1, 0}, {30, 40, 1, 0}, {50, 60, 1, 1}}));
  EXPECT_EQ(FlatMarking(m), (std::vector<double>{-10, -20, -30, -40, -50, 55, -60}));
  // Reversed bounds are put in order (halves round to even).
  EXPECT_EQ(Intervals(Read("260.5 -199.5 1\n230\n", port)), (Table{{200, 260, 1, 1}}));
  // Blocks cut short by "/" or by the end of the file own only the peaks read.
  m = Read("10 20 2\n12 14\n30 40 3\n33\n/\n50 60 4\n55 56\n", port);
  EXPECT_EQ(Intervals(m), (Table{{10, 20, 1, 2}, {30, 40, 3, 3}, {50, 60, 4, 5}}));
  // Characters that belong to no number are ignored; a header without numbers reads as zeros.
  m = Read("first 100 last 130 peaks 2\n112 x 118\nabc\n", port);
  EXPECT_EQ(Intervals(m), (Table{{100, 130, 1, 2}, {0, 0, 3, 2}}));
  EXPECT_EQ(m.peakList[2], 118);
  EXPECT_TRUE(port.messages.empty());
}

std::string Blocks(int blocks, int peaks) {
  std::string text;
  for (int b = 0; b < blocks; ++b) {
    text +=
        std::to_string(10 * b + 1) + " " + std::to_string(10 * b + 9) + " " + std::to_string(peaks) + "\n";
    for (int k = 0; k < peaks; ++k) text += std::to_string(10 * b + 5) + " ";
    text += "\n";
  }
  return text;
}

TEST(MarkingDataSet, CapacityLimits) {
  FakePort port;
  MarkingRead outcome;
  EXPECT_EQ(Read(Blocks(9, 111), port, &outcome).peakCount, 999);
  EXPECT_TRUE(outcome == MarkingRead::kRead && port.messages.empty());
  // The block crossing the capacity is cut there; the message ends the reading.
  Marking m = Read(Blocks(2, 600) + Blocks(1, 1), port, &outcome);
  EXPECT_EQ(outcome, MarkingRead::kTruncated);
  EXPECT_EQ(port.messages, std::vector<std::string>{"Error, too many marking points"});
  EXPECT_EQ(Intervals(m), (Table{{1, 9, 1, 600}, {11, 19, 601, 999}}));
  // A block of which nothing fits leaves no interval.
  EXPECT_EQ(Read(Blocks(9, 111) + Blocks(1, 2), port).intervalCount, 9);
  m = Read(Blocks(1000, 0), port, &outcome);
  EXPECT_EQ(outcome, MarkingRead::kTruncated);
  EXPECT_EQ(m.intervalCount, kMaxMarkedIntervals);
  EXPECT_EQ(port.messages.size(), 3u);
}

TEST(MarkingFile, FailuresLeaveTheMarking) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("orv_marking_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::string file = (dir / "set.dat").string(), missing = (dir / "none.dat").string();
  std::ofstream(file) << "100 130 2\n112.5 118\n";
  Marking m;
  m.peakCount = m.intervalCount = 1, m.kw1 = 0.001, m.compr = 2;
  AnalysisState st;
  FakePort port;
  std::string name;
  EXPECT_FALSE(ReadMarkingFile(m, st, port, name));  // Cancel in the dialog
  port.AcceptNext();
  EXPECT_FALSE(ReadMarkingFile(m, st, port, name));  // Cancel in the file selection
  EXPECT_FALSE(LoadMarkingFile(missing, m, st, port));
  EXPECT_FALSE(LoadMarkingFile(dir.string(), m, st, port));  // a folder is no data set
  EXPECT_EQ(port.messages,
            (std::vector<std::string>{"Failure, file= " + missing, "Failure, file= " + dir.string()}));
  // Bounds beyond the arrays are refused by name.
  for (const std::string bound : {"1e308", "3000000000", "40000"}) {
    std::ofstream(dir / "far.dat") << "100 140 1\n120\n1630 " << bound << " 1\n1649\n";
    EXPECT_FALSE(LoadMarkingFile((dir / "far.dat").string(), m, st, port));
    EXPECT_EQ(port.messages.back().rfind("Error, interval 1630 ", 0), 0u) << port.messages.back();
  }
  EXPECT_EQ(port.messages.size(), 5u);
  EXPECT_EQ(m.peakCount + m.intervalCount, 2);
  port.AcceptNext();
  port.files = {file};
  ASSERT_TRUE(ReadMarkingFile(m, st, port, name));
  EXPECT_EQ(Intervals(m), (Table{{100, 130, 1, 2}}));
  // The width law belongs to the last search, not to the data set.
  EXPECT_EQ(std::tuple(name, st.markedCount, m.kw1, m.compr), std::tuple(file, 4, 0.001, 2.0));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace orv
