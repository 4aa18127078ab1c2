#include "analysis/auto_calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/marking_modes.h"
#include "analysis/test_spectra.h"
#include "analysis/workspace.h"
#include "core/numeric.h"
#include "tests/support/fake_port.h"
#include "tests/support/text_file.h"
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;

// Candidate peaks and the energy of the line each really is (0: no sample line).
struct Peaks {
  std::vector<CalibrationPeak> candidates;
  std::vector<double> truth;
};

// FWHM in channels of the synthetic detector: 1.5 at channel 0 growing to 3.1 at channel 4000.
double Fwhm(double channel) {
  return 1.5 + 0.0004 * channel;
}

// The sample lines `present` and extra lines of no sample at channel (E - b) / a, each moved by
// `jitter` channels times a standard normal deviate, strongest first: the sample lines, then the
// extras (so extras beyond kMaxCalibrationPeaks are never taken).
Peaks Synthetic(const ReferenceSample& s, const std::vector<int>& present, const std::vector<double>& extras,
                double a, double b, double jitter = 0) {
  RandomGenerator g;
  Peaks peaks;
  auto add = [&](double energy, double truth) {
    const double c = (energy - b) / a + jitter * RandomNormalPair(g).first;
    peaks.candidates.push_back({c, Fwhm(c), 1000.0 - static_cast<double>(peaks.truth.size())});
    peaks.truth.push_back(truth);
  };
  for (int i : present) add(s.energies[i], s.energies[i]);
  for (double e : extras) add(e, 0);
  return peaks;
}

// Every matched pair is a line with the peak it really is.
void ExpectTruePairs(const AutoCalibration& best, const Peaks& peaks) {
  ASSERT_TRUE(best.found());
  for (int j = 0; j < best.size; ++j) {
    const auto it = std::find_if(peaks.candidates.begin(), peaks.candidates.end(),
                                 [&](const CalibrationPeak& p) { return p.channel == best.channels[j]; });
    ASSERT_NE(it, peaks.candidates.end());
    EXPECT_EQ(peaks.truth[it - peaks.candidates.begin()], best.energies[j]) << "pair " << j;
  }
  EXPECT_EQ(std::popcount(static_cast<unsigned>(best.referenceMask)), best.size);
}

// 40 weak lines of no sample, every 37.3 keV from 60 keV.
const std::vector<double> kWeakLines = [] {
  std::vector<double> e;
  for (int i = 0; i < 40; ++i) e.push_back(60 + 37.3 * i);
  return e;
}();

const std::vector<int> kAll = {0, 1, 2, 3, 4, 5, 6, 7, 8};  // every line of a sample

// Lines of other emitters, in keV, and background lines: what a real spectrum shows beside a sample.
const std::vector<double> kOtherLines = {75.0,  139.5, 511.0,  583.2,  727.3,  860.6,
                                         911.2, 969.0, 1460.8, 1592.5, 2103.5, 2614.5};

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

// Known calibrations come back with every pair right, whether lines are missing, peaks are extra (more
// than kMaxCalibrationPeaks of them too: only the strongest are looked at) or positions scatter; the errors
// and the accuracy follow the scatter.
TEST(AutoCalibration, KnownCalibrationIsRecovered) {
  FakePort port;
  for (const ReferenceSample& s : ReferenceSamples()) {
    double meanEnergy = 0;
    for (double e : s.energies) meanEnergy += e / 9;
    for (const auto& [a, b] : {std::pair(0.7, 0.35), std::pair(0.25, -3.0), std::pair(1.6, 12.0)}) {
      SCOPED_TRACE(s.name + " " + std::to_string(a) + " " + std::to_string(b));
      struct Case {
        Peaks peaks;
        int matches;
        double jitter;
      };
      for (const Case& c : {Case{Synthetic(s, kAll, {}, a, b), 9, 0},
                            Case{Synthetic(s, {0, 2, 3, 5, 7}, {511.0, 1460.8}, a, b), 5, 0},
                            Case{Synthetic(s, kAll, kOtherLines, a, b, 0.05), 9, 0.05},
                            Case{Synthetic(s, kAll, kWeakLines, a, b), 9, 0}}) {
        AutoCalibration best;
        ASSERT_EQ(AutoCalibrate(c.peaks.candidates, s.energies, best, port), AutoCalibrationOutcome::kFound);
        ExpectTruePairs(best, c.peaks);
        EXPECT_EQ(best.size, c.matches);
        // The errors come from the scatter: exact positions give (nearly) exact parameters.
        EXPECT_NEAR(best.p0, a, 6 * best.s0 + 1e-6 * a);
        EXPECT_NEAR(best.p1 - best.p0 * best.x0, b, 6 * std::hypot(best.s0 * best.x0, best.s1) + 1e-3);
        EXPECT_LT(best.s0, 2e-3 * a);
        // The accuracy: rms of the residuals over the mean energy, in %.
        const double accuracy = CalibrationAccuracy(best), scatter = 100 * a * c.jitter / meanEnergy;
        if (c.matches == 9) {
          EXPECT_GE(accuracy, 0.3 * scatter);  // an rms of 7 degrees of freedom
          EXPECT_LT(accuracy, 1.6 * scatter + 1e-4);
        }
      }
    }
  }
}

// A wrong sample, too few of the sample's lines or of strong peaks, or too few peaks: no calibration.
TEST(AutoCalibration, NoConsistentMatchAndTooFewPeaks) {
  const ReferenceSample &ra = ReferenceSamples()[0], &eu = ReferenceSamples()[1];
  FakePort port;
  AutoCalibration best;
  const auto raPeaks = Synthetic(ra, kAll, kOtherLines, 0.7, 0.35, 0.05);
  EXPECT_EQ(AutoCalibrate(raPeaks.candidates, eu.energies, best, port),
            AutoCalibrationOutcome::kNoConsistentMatch);
  EXPECT_FALSE(best.found());
  const auto euPeaks = Synthetic(eu, kAll, kOtherLines, 0.89, 0.4, 0.05);
  EXPECT_EQ(AutoCalibrate(euPeaks.candidates, ra.energies, best, port),
            AutoCalibrationOutcome::kNoConsistentMatch);
  // The lines listed after kMaxCalibrationPeaks stronger peaks of other emitters are never considered.
  const Peaks strong = Synthetic(eu, kAll, kWeakLines, 0.89, 0.4);
  const auto& c = strong.candidates;
  std::vector<CalibrationPeak> buried(c.begin() + 9, c.begin() + 9 + kMaxCalibrationPeaks);
  buried.insert(buried.end(), c.begin(), c.begin() + 9);
  EXPECT_EQ(AutoCalibrate(buried, eu.energies, best, port), AutoCalibrationOutcome::kNoConsistentMatch);
  // Four of nine lines is less than half.
  const auto four = Synthetic(ra, {1, 3, 5, 7}, kOtherLines, 0.7, 0.35);
  EXPECT_EQ(AutoCalibrate(four.candidates, ra.energies, best, port),
            AutoCalibrationOutcome::kNoConsistentMatch);
  // Fewer candidates than lines that must match; coinciding or unusable peaks give no line.
  EXPECT_EQ(RequiredMatches(9), 5);
  const std::vector<CalibrationPeak> fewPeaks = {{100, 2, 1}, {200, 2, 1}, {300, 2, 1}, {400, 2, 1}};
  EXPECT_EQ(AutoCalibrate(fewPeaks, ra.energies, best, port), AutoCalibrationOutcome::kTooFewPeaks);
  const std::vector<CalibrationPeak> same(9, CalibrationPeak{300, 2, 1});
  EXPECT_EQ(AutoCalibrate(same, ra.energies, best, port), AutoCalibrationOutcome::kNoConsistentMatch);
  const std::vector<CalibrationPeak> bad(9, CalibrationPeak{std::nan(""), 0, 1});
  EXPECT_EQ(AutoCalibrate(bad, ra.energies, best, port), AutoCalibrationOutcome::kTooFewPeaks);
}

class AutoCalibrationCommandTest : public testing::WorkspaceTest {
 protected:
  AutoCalibrationCommandTest() : WorkspaceTest("orv_auto_calibration_") {}
  void SetUp() override {
    WorkspaceTest::SetUp();
    FakePort port;
    ASSERT_TRUE(CreateOutputFile(*ws_, port));
  }
  // Marks the peaks as an unfitted marking; their strengths come from the (empty) spectrum then, so
  // the order is the marking's.
  void Mark(const std::vector<CalibrationPeak>& peaks) {
    ws_->marking.peakCount = static_cast<int>(peaks.size());
    for (std::size_t i = 0; i < peaks.size(); ++i) ws_->marking.peakList[i + 1] = peaks[i].channel;
    ws_->results.resultBase = ws_->state.resultCount = 0;
  }
  std::vector<std::string> OutputLines() { return testing::ReadLines(ws_->output.path()); }
};

TEST_F(AutoCalibrationCommandTest, CancelFailuresAndTheResultLines) {
  Workspace& ws = *ws_;
  ws.marking.kw1 = 0.0004, ws.marking.kw0 = 1.5, ws.marking.compr = 1;
  const auto peaks = Synthetic(ReferenceSamples()[1], kAll, {}, 0.5, 1.25);
  Mark(peaks.candidates);
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
  EXPECT_EQ(ws.state.reportLines[0], " Auto-calibration done: 9 of 9 Eu-152 lines matched");
  auto lines = OutputLines();
  for (const char* expected : {"Short calibr pars   0.50000     1.25", "Calibration accuracy    0.00 %"})
    EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;

  // The graph's dialog cancelled: the match is kept, nothing written.
  const auto before = OutputLines().size();
  port.answers.push_back(testing::ChooseRadio(2));
  EXPECT_TRUE(AutoCalibrationCommand(ws, port, [] { return false; }));
  EXPECT_EQ(OutputLines().size(), before);

  // The wrong sample: the message and the output line, no graph, nothing to put in force.
  FakePort wrong;
  wrong.answers.push_back(testing::ChooseRadio(1));
  EXPECT_FALSE(AutoCalibrationCommand(ws, wrong, graph));
  EXPECT_EQ(wrong.messages, std::vector<std::string>{"No consistent match with the Ra-226 lines"});
  EXPECT_EQ(OutputLines().back(), "No consistent match with the Ra-226 lines");
  EXPECT_FALSE(ws.autoCalibration.found());
  EXPECT_FALSE(PutAutoCalibrationInForce(ws.autoCalibration, ws.state, ws.calibration));

  // Too few peaks: a message, nothing written, no graph.
  Mark({{100, 2, 1}, {200, 2, 1}});
  FakePort p;
  p.AcceptNext();
  EXPECT_FALSE(AutoCalibrationCommand(ws, p, graph));
  EXPECT_EQ(p.messages, std::vector<std::string>{
                            "Auto-calibration: 2 peaks marked, 5 at least needed. Nothing written."});
  EXPECT_EQ(graphs, 1);
  EXPECT_EQ(OutputLines().size(), before + 1);
}

// As a user would: a built-in spectrum and its automatic marking, unfitted (the marked peaks are the
// candidates), then auto-calibration with either sample. The right one gives the spectrum's true
// calibration; the wrong one says so. (The fitted rows as candidates: the scripted runs.)
TEST_F(AutoCalibrationCommandTest, AutomaticMarkingOfTheBuiltInSpectra) {
  struct Known {
    int record, sample;
    double slope, offset;
  };
  for (const Known& k : {Known{1, 1, 0.70, 0.35}, Known{4, 2, 0.89, 0.40}}) {  // raa, euu
    SCOPED_TRACE(k.record);
    Workspace& ws = *ws_;
    FakePort load;
    load.fallback = [](DialogRequest&) { return true; };
    load.answers.push_back(testing::ChooseRadio(k.record));
    ASSERT_TRUE(TestSpectraCommand(ws, load));
    SetInterval(ws.state, ws.spectrum, ws.spectrum.a1, ws.spectrum.a2);
    ws.state.markingMode = 0;
    ASSERT_TRUE(MarkSpectrum(ws, load));
    FakePort port;
    port.answers.push_back(testing::ChooseRadio(k.sample));
    ASSERT_TRUE(AutoCalibrationCommand(ws, port, [] { return true; }));
    const AutoCalibration& best = ws.autoCalibration;
    EXPECT_EQ(best.size, 9);
    EXPECT_NEAR(best.p0, k.slope, 2e-3 * k.slope);
    EXPECT_NEAR(best.p1 - best.p0 * best.x0, k.offset, 2.0);
    EXPECT_LT(CalibrationAccuracy(best), 0.2);
    for (int j = 0; j < best.size; ++j)
      EXPECT_EQ(best.energies[j], ReferenceSamples()[k.sample - 1].energies[j]);

    FakePort other;
    other.answers.push_back(testing::ChooseRadio(3 - k.sample));
    EXPECT_FALSE(AutoCalibrationCommand(ws, other, [] { return true; }));
    EXPECT_EQ(other.messages, std::vector<std::string>{"No consistent match with the " +
                                                       ReferenceSamples()[2 - k.sample].name + " lines"});
    EXPECT_FALSE(ws.state.energyCalibrated);
  }
}

}  // namespace
}  // namespace orv
