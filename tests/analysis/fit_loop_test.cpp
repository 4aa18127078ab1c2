#include "analysis/fit_loop.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "analysis/spectrum_fit.h"
#include "analysis/spectrum_input.h"
#include "analysis/workspace.h"
#include "tests/support/fake_port.h"
#include "tests/support/synthetic.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;
using testing::ReadLines;
using testing::TruePeak;

const std::vector<TruePeak> kPeaks = {
    {300.3, 8000, 5.0}, {612.4, 5000, 5.0}, {624.8, 7000, 5.0}, {1100.6, 15000, 5.5}, {1500.2, 6000, 6.0}};
const char* kMarking =
    "* five peaks in four intervals\n290 312 1\n300\n598 640 2\n612 625\n"
    "1084 1116 1\n1101\n1482 1518 1\n1500\n";

// A type-1 file: rounded noisy counts of `peaks` on a falling background.
void WriteSpectrum(const std::filesystem::path& path, int channels, const std::vector<TruePeak>& peaks,
                   int seed, double spikeChannel = 0) {
  TSpectrum s;
  RandomGenerator noise;
  noise.Seed(1000 + seed, 2000 + 7 * seed);
  testing::FillSpectrum(s, channels, peaks, 200, -0.05, &noise);
  if (spikeChannel > 0) s.sp[static_cast<int>(spikeChannel)] += 3000;
  std::string bytes;
  for (int ch = 1; ch <= channels; ++ch) {
    const auto v = static_cast<std::uint16_t>(std::clamp(std::round(s.sp[ch]), 0.0, 65535.0));
    bytes.append({static_cast<char>(v & 0xff), static_cast<char>(v >> 8)});
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

// The table lines a loop run writes for one spectrum: its spectrum line and its peak lines.
std::vector<std::string> LinesOf(const std::vector<std::string>& table, const std::string& name) {
  std::vector<std::string> out;
  bool in = false;
  for (const std::string& line : table) {
    if (line.find("Spectrum ") == 20) in = line == std::string(20, ' ') + "Spectrum " + name;
    if (in) out.push_back(line);
  }
  return out;
}

class FitLoopTest : public testing::WorkspaceTest {
 protected:
  FitLoopTest() : WorkspaceTest("orv_fit_loop_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    std::istringstream marking(kMarking);
    ReadMarkingDataSet(marking, ws_->marking, port_);
  }
  std::string File(const std::string& name) const { return (dir_ / name).string(); }
  void SetNames(const std::vector<std::string>& names) {
    for (std::size_t k = 0; k < names.size(); ++k) ws_->names.names[k + 1] = names[k];
    ws_->state.nameCount = static_cast<int>(names.size());
  }
  std::vector<std::string> Run(const std::vector<std::string>& names, const std::string& of,
                               int workers = 1) {
    FakePort table;
    RunFitLoop(*ws_, names, workers, table, port_);
    return LinesOf(table.lines, of);
  }
  FakePort port_;
};

// Six spectra and, among them, a missing file, an empty one and a folder: each failure is reported in
// its turn, counted, and leaves no spectrum line; the table is the same for one and four workers.
TEST_F(FitLoopTest, SeriesTableIsTheSameForOneAndFourWorkers) {
  std::vector<std::string> good;
  for (int seed = 1; seed <= 6; ++seed) {
    good.push_back(File("s" + std::to_string(seed) + ".bin"));
    WriteSpectrum(good.back(), seed == 6 ? 1800 : 2048, kPeaks, seed);
  }
  const std::string missing = File("missing.bin"), empty = File("empty.bin"), folder = File("folder");
  std::ofstream(empty).close();
  std::filesystem::create_directory(folder);
  std::vector<std::string> names = good;
  names.insert(names.begin() + 1, {missing, empty, folder});
  SetNames(names);
  ws_->state.resultCount = 3;

  const FitLoopOutcome one = FitLoopCommand(*ws_, port_, 1);
  ASSERT_TRUE(one.ran);
  EXPECT_EQ(std::tuple(one.tablePath, one.summary.processed, one.summary.failed),
            std::tuple(File("orvant.tab"), 9, 3));
  const auto lines = ReadLines(one.tablePath);
  const FakePort first = port_;
  EXPECT_EQ(port_.texts,
            (std::vector<std::string>{"FIT  LOOP", "LOOP  FIT  finished, Results saved to orvant.tab",
                                      "  9 spectra processed", "  3 spectra failed"}));
  std::vector<std::string> statuses = {good[0] + "|Processing", "No file " + missing + "|",
                                       "No file " + folder + "|"};
  for (std::size_t k = 1; k < good.size(); ++k) statuses.push_back(good[k] + "|Processing");
  EXPECT_EQ(port_.statuses, statuses);
  EXPECT_EQ(port_.messages, std::vector<std::string>{"Spectrum " + empty + " is wrong"});
  port_ = FakePort{};
  EXPECT_EQ(ReadLines(FitLoopCommand(*ws_, port_, 4).tablePath), lines);
  EXPECT_EQ(port_.statuses, first.statuses);
  EXPECT_EQ(port_.messages, first.messages);

  ASSERT_EQ(lines.size(), 1u + 6 * (1 + 2 * kPeaks.size()));
  EXPECT_EQ(lines[0], "   Channel  Energy     Area     Intensity    Width   Norm.int. Chi2/chi+");
  for (const std::string& name : good) {
    const auto own = LinesOf(lines, name);
    ASSERT_EQ(own.size(), 1 + 2 * kPeaks.size());
    for (std::size_t k = 0; k < kPeaks.size(); ++k) {
      const std::string& value = own[1 + 2 * k];
      EXPECT_EQ(value.substr(0, 9), value.substr(9, 9));
      EXPECT_EQ(std::stod(value.substr(18, 9)), std::stod(value.substr(27, 14)));
      EXPECT_NEAR(std::stod(value.substr(0, 9)), kPeaks[k].position, 0.5) << value;
      EXPECT_NEAR(std::stod(value.substr(18, 9)), kPeaks[k].area, 0.1 * kPeaks[k].area) << value;
    }
  }
  // The loop writes no results and leaves the last spectrum read in the workspace.
  EXPECT_EQ(std::tuple(ws_->state.resultCount, ws_->spectrum.fileName, ws_->spectrum.a2),
            std::tuple(3, good.back(), 1800));

  // A normalisation coefficient of 0 divides by 0.0001 (intensity rounded).
  ws_->state.normCoefficient = 0;
  const auto peak = ReadLines(FitLoopCommand(*ws_, port_, 2).tablePath)[2];
  EXPECT_NEAR(std::stod(peak.substr(50, 12)), 1e4 * std::stod(peak.substr(27, 14)), 5000);
}

// The checks come in their order with their status lines; a table that cannot be created is an error.
TEST_F(FitLoopTest, RefusesWithoutNamesMarkingBinaryTypeOrTable) {
  const Marking marking = ws_->marking;
  ws_->marking = Marking{};
  EXPECT_FALSE(FitLoopCommand(*ws_, port_).ran);
  EXPECT_EQ(port_.statuses.back(), "Error, no spectrum file names|");
  SetNames({File("a.bin")});
  EXPECT_FALSE(FitLoopCommand(*ws_, port_).ran);
  EXPECT_EQ(port_.statuses.back(), "Error, no marking data|");
  ws_->marking = marking;
  for (int type : {3, 4}) {
    ws_->spectrum.fileType = type;
    EXPECT_FALSE(FitLoopCommand(*ws_, port_).ran);
    EXPECT_EQ(port_.statuses.back(), "Error, this file type not allowed|");
  }
  ws_->spectrum.fileType = 2;
  // A marking that did not come from a checked file, with a bound beyond the arrays.
  ws_->marking.intervalTable[1].endChannel = INT_MAX;
  EXPECT_FALSE(FitLoopCommand(*ws_, port_).ran);
  EXPECT_EQ(port_.statuses.back(), "Error, marking outside the spectrum arrays|");
  ws_->marking = marking;
  ws_->state.loopTableFile = (dir_ / "no-folder" / "orvant.tab").string();
  EXPECT_FALSE(FitLoopCommand(*ws_, port_).ran);
  EXPECT_EQ(port_.statuses.back(), "Error, cannot create the loop table " + ws_->state.loopTableFile + "|");
  EXPECT_TRUE(port_.texts.empty());

  // A table whose lines cannot be written is not reported as saved.
  if (!std::filesystem::exists("/dev/full")) return;
  WriteSpectrum(File("a.bin"), 2048, kPeaks, 1);
  ws_->spectrum.fileType = 1;
  ws_->state.loopTableFile = "/dev/full";
  EXPECT_FALSE(FitLoopCommand(*ws_, port_).summary.tableWritten);
  EXPECT_EQ(port_.texts.at(1).rfind("LOOP  FIT  finished, Error, the loop table /dev/full is incomplete", 0),
            0u);
}

// Each spectrum is fitted as if it were alone.
TEST_F(FitLoopTest, EverySpectrumStartsFromTheSnapshot) {
  // A worker copy carries the settings but not the output file or the engine's port.
  Workspace copy(ws_->state.startDir);
  ws_->engine.robustSoftness = 0.25;
  CopyWorkspaceForWorker(*ws_, copy);
  EXPECT_EQ(copy.engine.robustSoftness, 0.25);
  EXPECT_EQ(copy.engine.sink, &copy.output);
  EXPECT_EQ(copy.engine.port, nullptr);

  // An interval that runs past the end of the short spectrum is refused there, whatever the longer
  // spectrum before it held.
  std::istringstream marking("1085 1116 1\n1101\n1180 1260 1\n1190\n");
  ReadMarkingDataSet(marking, ws_->marking, port_);
  const std::vector<TruePeak> peaks = {{1100.6, 15000, 5.5}, {1190, 9000, 5.5}, {1230, 20000, 5.5}};
  const std::string longer = File("long.bin"), shorter = File("short.bin");
  WriteSpectrum(longer, 2048, peaks, 3);
  WriteSpectrum(shorter, 1200, peaks, 4);
  const auto alone = Run({shorter}, shorter);
  ASSERT_EQ(alone.size(), 3u);
  EXPECT_EQ(Run({longer, shorter}, shorter), alone);

  // Whatever a fit does to the engine's settings must not reach the next spectrum.
  const std::string wide = File("wide.bin"), spiked = File("spiked.bin");
  WriteSpectrum(wide, 2048, {{1101, 90000, 16}, {1190, 90000, 16}}, 5);
  WriteSpectrum(spiked, 2048, peaks, 6, 1096);
  CopyWorkspaceForWorker(*ws_, copy);
  copy.spectrum.fileName = wide;
  ASSERT_TRUE(LoadSpectrum(copy, port_));
  SpectrumFit(copy, port_, 1, nullptr);
  ASSERT_EQ(copy.engine.robustSoftness, 0.25);
  const auto spikedAlone = Run({spiked}, spiked);
  ASSERT_EQ(spikedAlone.size(), 5u);
  EXPECT_EQ(Run({wide, spiked}, spiked), spikedAlone);
  EXPECT_EQ(Run({wide, spiked}, spiked, 2), spikedAlone);
}

}  // namespace
}  // namespace orv
