#include "analysis/auto_calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/test_spectra.h"
#include "analysis/workspace.h"
#include "core/numeric.h"
#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;

// A found peak: its channel and the energy of the line it really is (0: no sample line).
struct Peak {
  double channel = 0, energy = 0;
};

std::vector<double> Channels(const std::vector<Peak>& peaks) {
  std::vector<double> c;
  for (const Peak& p : peaks) c.push_back(p.channel);
  return c;
}

// The items of `v` whose bits are set in `mask`, in index order.
template <typename T>
std::vector<T> Pick(int mask, const std::vector<T>& v) {
  std::vector<T> out;
  for (unsigned m = static_cast<unsigned>(mask); m != 0; m &= m - 1) out.push_back(v[std::countr_zero(m)]);
  return out;
}

void SortByChannel(std::vector<Peak>& peaks) {
  std::sort(peaks.begin(), peaks.end(), [](const Peak& x, const Peak& y) { return x.channel < y.channel; });
}

// Every chosen peak is paired with the line it really is.
void ExpectTruePairs(const AutoCalibration& best, const std::vector<Peak>& peaks) {
  ASSERT_TRUE(best.found());
  const auto chosen = Pick(best.peakMask, peaks);
  ASSERT_EQ(static_cast<int>(chosen.size()), best.size);
  for (int j = 0; j < best.size; ++j) EXPECT_EQ(chosen[j].energy, best.energies[j]) << "pair " << j;
  EXPECT_EQ(std::popcount(static_cast<unsigned>(best.referenceMask)), best.size);
}

// The sample lines `present` at channel (E - b) / a plus peaks of no sample line, in channel order.
std::vector<Peak> Synthetic(const ReferenceSample& s, std::vector<int> present, std::vector<double> extras,
                            double a, double b) {
  std::vector<Peak> peaks;
  for (int i : present) peaks.push_back({(s.energies[i] - b) / a, s.energies[i]});
  for (double e : extras) peaks.push_back({(e - b) / a, 0});
  SortByChannel(peaks);
  return peaks;
}

TEST(AutoCalibration, SubsetCountsOrderAndPrint) {
  std::vector<double> masks;
  for (int m = 0; m <= kMaxSubsetItems; ++m) {
    double binomial = 1;
    for (int k = 0; k <= m + 1; ++k) {
      ASSERT_EQ(EnumerateSubsets(m, k, 0, masks, nullptr), std::lround(k > m ? 0 : binomial) - (k == 0));
      for (std::size_t i = 0; i < masks.size(); ++i) {
        ASSERT_EQ(std::popcount(static_cast<unsigned>(masks[i])), k);
        ASSERT_LT(masks[i], 1u << m);
        ASSERT_LT(i > 0 ? masks[i - 1] : -1, masks[i]);
      }
      binomial = binomial * (m - k) / (k + 1);
    }
  }
  FakePort sink;
  EXPECT_EQ(EnumerateSubsets(3, 2, 1, masks, &sink), 3);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"         3            011", "         5            101",
                                                  "         6            110",
                                                  "    3 of 2-3 pattern[s] out of 7 possible"}));
  EXPECT_EQ(EnumerateSubsets(17, 3, 0, masks, nullptr), -1);
  EXPECT_TRUE(masks.empty());
}

// FitLine on every pairing in order, the strictly smallest chi-square per degree of freedom kept.
TEST(AutoCalibration, SearchIsTheExhaustiveMinimumAndTiesKeepTheFirst) {
  RandomGenerator g;
  FakePort port;
  for (int trial = 0; trial < 4; ++trial) {
    const int r = 4 + trial, n = 9 - trial;
    std::vector<double> energies(r), channels(n), rm, pm;
    for (double& e : energies) e = 100 + 1000 * RandomUniform(g);
    for (double& c : channels) c = 50 + 2000 * RandomUniform(g);
    AutoCalibration best;
    ASSERT_EQ(AutoCalibrate(channels, energies, 1.0, best, port, nullptr), AutoCalibrationOutcome::kFound);
    LineFit expect;
    double chi = 1e17, masks[2] = {};
    for (int k = std::min(r, n); k >= 3; --k) {
      EnumerateSubsets(r, k, 0, rm, nullptr);
      EnumerateSubsets(n, k, 0, pm, nullptr);
      for (double a : rm)
        for (double b : pm) {
          const auto e = Pick(int(a), energies), c = Pick(int(b), channels);
          LinePoint pts[17];
          for (int j = 0; j < k; ++j) pts[j + 1] = {e[j], c[j], 1.0, 0};
          const LineFit f = FitLine(pts, k, 0, nullptr);
          if (f.ok && f.chi < chi) chi = f.chi, expect = f, masks[0] = a, masks[1] = b;
        }
    }
    EXPECT_EQ(best.criterion, chi);
    EXPECT_EQ(best.referenceMask, int(masks[0]));
    EXPECT_EQ(best.peakMask, int(masks[1]));
    EXPECT_EQ(best.p0, expect.p0);
    EXPECT_EQ(best.s1, expect.error1);
  }
  // A line or a peak listed twice: identical pairings tie, and the first met (smallest mask) wins.
  const std::vector<double> once{10, 20, 30}, twice{10, 20, 30, 10, 20, 30};
  AutoCalibration best;
  ASSERT_EQ(AutoCalibrate(twice, once, 1.0, best, port, nullptr), AutoCalibrationOutcome::kFound);
  EXPECT_EQ(best.peakMask, 7);
  ASSERT_EQ(AutoCalibrate(once, twice, 1.0, best, port, nullptr), AutoCalibrationOutcome::kFound);
  EXPECT_EQ(best.referenceMask, 7);
}

// Exact positions: the true pairs win wherever lines are missing or peaks are extra.
TEST(AutoCalibration, KnownCalibrationIsRecovered) {
  const double a = 0.7, b = 0.35;
  for (const ReferenceSample& s : ReferenceSamples()) {
    SCOPED_TRACE(s.name);
    for (const auto& peaks : {Synthetic(s, {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}, a, b),
                              Synthetic(s, {0, 2, 3, 5, 7, 8}, {511.0, 1460.8}, a, b),
                              Synthetic(s, {0, 1, 2, 3, 4, 5, 6, 7, 8},
                                        {75, 139.5, 511.0, 583.2, 911.2, 1460.8, 2614.5}, a, b)}) {
      FakePort port;
      AutoCalibration best;
      ASSERT_EQ(AutoCalibrate(Channels(peaks), s.energies, 1.0, best, port, nullptr),
                AutoCalibrationOutcome::kFound);
      ExpectTruePairs(best, peaks);
      EXPECT_NEAR(best.p0, a, best.s0);
      EXPECT_NEAR(best.p1 - best.p0 * best.x0, b, std::hypot(best.s0 * best.x0, best.s1));
    }
  }
}

TEST(AutoCalibration, TooFewTooManyAndSingular) {
  const std::vector<double> energies(ReferenceSamples()[0].energies.begin(),
                                     ReferenceSamples()[0].energies.end());
  FakePort port;
  AutoCalibration best;
  EXPECT_EQ(AutoCalibrate(std::vector<double>{100, 200}, energies, 1.0, best, port, &port),
            AutoCalibrationOutcome::kNoPairing);
  EXPECT_FALSE(best.found());
  EXPECT_EQ(AutoCalibrate(std::vector<double>(17, 100.0), energies, 1.0, best, port, &port),
            AutoCalibrationOutcome::kTooManyItems);
  // Coinciding positions give no line; the failure is written once, not for every pairing.
  EXPECT_EQ(AutoCalibrate(std::vector<double>(5, 300.0), energies, 1.0, best, port, &port),
            AutoCalibrationOutcome::kNoPairing);
  EXPECT_EQ(port.lines, std::vector<std::string>{"not ok  det=       0.0000"});
}

class AutoCalibrationCommandTest : public testing::WorkspaceTest {
 protected:
  AutoCalibrationCommandTest() : WorkspaceTest("orv_auto_calibration_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    FakePort port;
    ASSERT_TRUE(CreateOutputFile(*ws_, port));
  }
  void Mark(const std::vector<double>& channels) {
    ws_->marking.peakCount = static_cast<int>(channels.size());
    std::copy(channels.begin(), channels.end(), ws_->marking.peakList.begin() + 1);
  }
  std::vector<std::string> OutputLines() { return testing::ReadLines(ws_->output.path()); }
};

TEST_F(AutoCalibrationCommandTest, CancelFailuresAndTheResultLines) {
  Workspace& ws = *ws_;
  const auto peaks = Synthetic(ReferenceSamples()[1], {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}, 0.5, 1.25);
  Mark(Channels(peaks));
  int graphs = 0;
  auto graph = [&] { return ++graphs, true; };

  FakePort cancel;
  EXPECT_FALSE(AutoCalibrationCommand(ws, cancel, graph));
  EXPECT_FALSE(ws.autoCalibration.found());

  FakePort port;
  port.answers.push_back(testing::ChooseRadio(2));
  ASSERT_TRUE(AutoCalibrationCommand(ws, port, graph));
  EXPECT_EQ(graphs, 1);
  ExpectTruePairs(ws.autoCalibration, peaks);
  EXPECT_FALSE(ws.state.energyCalibrated);
  auto lines = OutputLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Short calibr pars   0.50000     1.25"), lines.end());

  // The graph's dialog cancelled: the pairing is kept, nothing written.
  const auto before = OutputLines().size();
  port.answers.push_back(testing::ChooseRadio(2));
  EXPECT_TRUE(AutoCalibrationCommand(ws, port, [] { return false; }));

  // Too few and too many peaks: a message, no parameter lines, no graph.
  for (int count : {2, 17}) {
    Mark(std::vector<double>(count, 100.0));
    FakePort p;
    p.AcceptNext();
    EXPECT_FALSE(AutoCalibrationCommand(ws, p, graph));
    EXPECT_EQ(p.messages,
              std::vector<std::string>{
                  count == 17 ? "17-too large number of items. Job stopped"
                              : "Auto-calibration: 2 peaks marked, 3 at least needed. Nothing written."});
    EXPECT_FALSE(ws.autoCalibration.found());
  }
  EXPECT_EQ(graphs, 1);
  EXPECT_EQ(OutputLines().size(), before);
}

TEST_F(AutoCalibrationCommandTest, BuiltInSpectraPairWithTheirTrueLines) {
  const auto& records = TestSpectrumRecords();
  for (int sample : {1, 2}) {
    const ReferenceSample& s = ReferenceSamples()[sample - 1];
    const std::string name = sample == 1 ? "raa" : "euu";
    SCOPED_TRACE(name);
    FakePort load;
    const auto it =
        std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.name == name; });
    load.answers.push_back(testing::ChooseRadio(static_cast<int>(it - records.begin()) + 1));
    ASSERT_TRUE(TestSpectraCommand(*ws_, load));
    std::ifstream in(std::string(ORVANT_SOURCE_DIR) + "/data/test_spectra/" + name + ".truth");
    std::vector<std::pair<double, Peak>> found;  // area, peak
    for (std::string line; std::getline(in, line);) {
      std::istringstream f(line);
      double channel, area, fwhm, energy, gauss, under;
      std::string kind;
      if (line.empty() || line[0] == '*' ||
          !(f >> channel >> area >> fwhm >> energy >> gauss >> under >> kind) || kind != "full" ||
          energy < s.energies.front() - 20 || energy > s.energies.back() + 20)
        continue;
      // Truth energies are rounded to 10 eV; the sample's are the evaluated ones.
      const auto near = std::find_if(s.energies.begin(), s.energies.end(),
                                     [&](double e) { return std::fabs(e - energy) < 0.05; });
      found.push_back({area, {channel, near != s.energies.end() ? *near : 0}});
    }
    std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    found.resize(std::min<std::size_t>(found.size(), kMaxSubsetItems));
    std::vector<Peak> peaks;
    for (const auto& f : found) peaks.push_back(f.second);
    SortByChannel(peaks);
    ASSERT_EQ(std::count_if(peaks.begin(), peaks.end(), [](const Peak& p) { return p.energy != 0; }), 9);
    Mark(Channels(peaks));
    FakePort port;
    port.answers.push_back(testing::ChooseRadio(sample));
    ASSERT_TRUE(AutoCalibrationCommand(*ws_, port, [] { return true; }));
    ExpectTruePairs(ws_->autoCalibration, peaks);
    EXPECT_LT(CalibrationAccuracy(ws_->autoCalibration), 0.01);
  }
}

}  // namespace
}  // namespace orv
