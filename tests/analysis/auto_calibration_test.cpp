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
#include "tests/support/workspace_test.h"

namespace orv {
namespace {

using testing::FakePort;

// A found peak: its channel and the energy of the line it really is (0 for a peak of no sample line).
struct Peak {
  double channel = 0, energy = 0;
};

std::vector<double> Channels(const std::vector<Peak>& peaks) {
  std::vector<double> c;
  for (const Peak& p : peaks) c.push_back(p.channel);
  return c;
}

// Every chosen peak is paired with the line it really is.
void ExpectTruePairs(const AutoCalibration& best, const std::vector<Peak>& peaks) {
  ASSERT_TRUE(best.found());
  int j = 0;
  for (unsigned m = static_cast<unsigned>(best.peakMask); m != 0; m &= m - 1, ++j)
    EXPECT_EQ(peaks[std::countr_zero(m)].energy, best.energies[j]) << "pair " << j;
  EXPECT_EQ(j, best.size);
  EXPECT_EQ(std::popcount(static_cast<unsigned>(best.referenceMask)), best.size);
}

// Slope and intercept of energy = a * channel + b agree with the truth within their errors.
void ExpectLine(const AutoCalibration& best, double a, double b) {
  EXPECT_NEAR(best.p0, a, best.s0);
  EXPECT_NEAR(best.p1 - best.p0 * best.x0, b, std::hypot(best.s0 * best.x0, best.s1));
}

// The lines present (indices into the sample) at channel (E - b) / a, plus extra peaks of no sample
// line, in channel order as a marking lists them.
std::vector<Peak> Synthetic(const ReferenceSample& s, std::vector<int> present, std::vector<double> extras,
                            double a, double b) {
  std::vector<Peak> peaks;
  for (int i : present) peaks.push_back({(s.energies[i] - b) / a, s.energies[i]});
  for (double e : extras) peaks.push_back({(e - b) / a, 0});
  std::sort(peaks.begin(), peaks.end(), [](const Peak& x, const Peak& y) { return x.channel < y.channel; });
  return peaks;
}

TEST(AutoCalibration, ReferenceSamplesAndSubsetLists) {
  const auto& samples = ReferenceSamples();
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[0].name, "Ra-226");
  EXPECT_EQ(samples[1].name, "Eu-152");
  EXPECT_DOUBLE_EQ(samples[0].energies[0], 186.211);
  EXPECT_DOUBLE_EQ(samples[1].energies[8], 1408.013);
  for (const auto& s : samples) EXPECT_TRUE(std::is_sorted(s.energies.begin(), s.energies.end()));

  std::vector<double> masks;
  for (int m = 0; m <= kMaxSubsetItems; ++m) {
    double binomial = 1;
    for (int k = 0; k <= m + 1; ++k) {
      ASSERT_EQ(EnumerateSubsets(m, k, 0, masks, nullptr), std::lround(k > m ? 0 : binomial) - (k == 0));
      for (std::size_t i = 0; i < masks.size(); ++i) {
        const auto mask = static_cast<unsigned>(masks[i]);
        ASSERT_EQ(std::popcount(mask), k);
        ASSERT_LT(mask, 1u << m);
        if (i > 0) {
          ASSERT_LT(masks[i - 1], masks[i]);
        }
      }
      binomial = binomial * (m - k) / (k + 1);
    }
  }
  FakePort sink;
  EXPECT_EQ(EnumerateSubsets(3, 2, 1, masks, &sink), 3);
  EXPECT_EQ(sink.lines, (std::vector<std::string>{"         3            011", "         5            101",
                                                  "         6            110",
                                                  "    3 of 2-3 pattern[s] out of 7 possible"}));
  sink.lines.clear();
  EXPECT_EQ(EnumerateSubsets(9, 3, 2, masks, &sink), 84);
  EXPECT_EQ(sink.lines, std::vector<std::string>{"   84 of 3-9 pattern[s] out of 511 possible"});
  EXPECT_EQ(EnumerateSubsets(17, 3, 1, masks, &sink), -1);
  EXPECT_TRUE(masks.empty());
  EXPECT_EQ(sink.lines.size(), 1u);
}

// The search is the plain rule: FitLine on every pairing in the documented order, the strictly
// smallest chi-square per degree of freedom kept.
TEST(AutoCalibration, SearchIsTheExhaustiveMinimumAndTiesKeepTheFirst) {
  RandomGenerator g;
  for (int trial = 0; trial < 4; ++trial) {
    const int r = 4 + trial, n = 9 - trial;
    std::vector<double> energies(r), channels(n);
    for (double& e : energies) e = 100 + 1000 * RandomUniform(g);
    for (double& c : channels) c = 50 + 2000 * RandomUniform(g);
    FakePort port;
    AutoCalibration best;
    ASSERT_EQ(AutoCalibrate(channels, energies, 1.0, best, port, nullptr), AutoCalibrationOutcome::kFound);
    AutoCalibration expect;
    std::vector<double> rm, pm;
    for (int k = std::min(r, n); k >= 3; --k) {
      EnumerateSubsets(r, k, 0, rm, nullptr);
      EnumerateSubsets(n, k, 0, pm, nullptr);
      for (double a : rm)
        for (double b : pm) {
          LinePoint pts[17];
          int j = 0;
          for (unsigned m = static_cast<unsigned>(a); m != 0; m &= m - 1)
            pts[++j].y = energies[std::countr_zero(m)];
          j = 0;
          for (unsigned m = static_cast<unsigned>(b); m != 0; m &= m - 1) {
            pts[++j].x = channels[std::countr_zero(m)];
            pts[j].error = 1.0;
          }
          const LineFit f = FitLine(pts, k, 0, nullptr);
          if (!f.ok || !(f.chi < expect.criterion)) continue;
          expect.criterion = f.chi;
          expect.referenceMask = int(a);
          expect.peakMask = int(b);
          expect.size = k;
          expect.p0 = f.p0;
          expect.p1 = f.p1;
          expect.x0 = f.x0;
          expect.s0 = f.error0;
          expect.s1 = f.error1;
        }
    }
    EXPECT_EQ(best.criterion, expect.criterion);
    EXPECT_EQ(best.referenceMask, expect.referenceMask);
    EXPECT_EQ(best.peakMask, expect.peakMask);
    EXPECT_EQ(best.size, expect.size);
    EXPECT_EQ(best.p0, expect.p0);
    EXPECT_EQ(best.p1, expect.p1);
    EXPECT_EQ(best.x0, expect.x0);
    EXPECT_EQ(best.s0, expect.s0);
    EXPECT_EQ(best.s1, expect.s1);
  }
  // A line or a peak listed twice: identical pairings tie, and the first met (smallest mask) wins.
  const std::vector<double> lines{100, 200, 300}, twice{100, 200, 300, 100, 200, 300};
  const std::vector<double> peaks{10, 20, 30}, peaksTwice{10, 20, 30, 10, 20, 30};
  FakePort port;
  AutoCalibration best;
  ASSERT_EQ(AutoCalibrate(peaksTwice, lines, 1.0, best, port, nullptr), AutoCalibrationOutcome::kFound);
  EXPECT_EQ(best.peakMask, 7);
  ASSERT_EQ(AutoCalibrate(peaks, twice, 1.0, best, port, nullptr), AutoCalibrationOutcome::kFound);
  EXPECT_EQ(best.referenceMask, 7);
}

// With exact positions the true pairs lie on the line to rounding, far below any accidental
// coincidence, so the winner is made of true pairs wherever lines are missing or peaks are extra.
// With realistic position errors the rule still picks the smallest chi-square per degree of freedom,
// which is usually a three-pair subset of the true pairs and at times a wrong coincidence; what it
// guarantees there is a criterion no larger than that of the true pairing.
TEST(AutoCalibration, KnownCalibrationIsRecovered) {
  const auto& samples = ReferenceSamples();
  const double a = 0.7, b = 0.35;
  for (const ReferenceSample& s : samples) {
    SCOPED_TRACE(s.name);
    const std::vector<std::vector<Peak>> cases = {
        Synthetic(s, {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}, a, b),
        Synthetic(s, {0, 2, 3, 5, 7, 8}, {511.0, 1460.8}, a, b),
        Synthetic(s, {0, 1, 2, 3, 4, 5, 6, 7, 8}, {75, 139.5, 511.0, 583.2, 911.2, 1460.8, 2614.5}, a, b),
    };
    for (const auto& peaks : cases) {
      FakePort port;
      AutoCalibration best;
      ASSERT_EQ(AutoCalibrate(Channels(peaks), s.energies, 1.0, best, port, nullptr),
                AutoCalibrationOutcome::kFound);
      ExpectTruePairs(best, peaks);
      ExpectLine(best, a, b);
    }
    // Position errors of 0.2 channels.
    RandomGenerator g;
    std::vector<Peak> peaks = cases[1];
    for (Peak& p : peaks) p.channel += 0.2 * RandomNormalPair(g).first;
    std::array<LinePoint, 10> truth{};
    int k = 0;
    for (const Peak& p : peaks)
      if (p.energy != 0) truth[++k] = {p.energy, p.channel, 1.0, 0};
    FakePort port;
    AutoCalibration best;
    ASSERT_EQ(AutoCalibrate(Channels(peaks), s.energies, 1.0, best, port, nullptr),
              AutoCalibrationOutcome::kFound);
    EXPECT_LE(best.criterion, FitLine(truth.data(), k, 0, nullptr).chi);
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
  EXPECT_EQ(best.criterion, 1e17);
  std::vector<double> many(17);
  for (int i = 0; i < 17; ++i) many[i] = 100.0 * (i + 1);
  EXPECT_EQ(AutoCalibrate(many, energies, 1.0, best, port, &port), AutoCalibrationOutcome::kTooManyItems);
  EXPECT_EQ(port.messages, std::vector<std::string>{"17-too large number of items. Job stopped"});
  // Coinciding positions give no line; the failure is written once, not for every pairing.
  EXPECT_EQ(AutoCalibrate(std::vector<double>(5, 300.0), energies, 1.0, best, port, &port),
            AutoCalibrationOutcome::kNoPairing);
  EXPECT_EQ(port.lines, std::vector<std::string>{"not ok  det=       0.0000"});
  EXPECT_TRUE(WriteAutoCalibration(best, &port));
  EXPECT_EQ(port.lines.size(), 1u);
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
  std::vector<std::string> OutputLines() {
    std::ifstream in(ws_->output.path());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool Has(const std::string& start) {
    const auto lines = OutputLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  }
  // Loads a built-in spectrum and returns the sixteen strongest full-energy peaks of its truth file
  // within the sample's energy range, in channel order.
  std::vector<Peak> LoadBuiltIn(const std::string& name, const ReferenceSample& s) {
    FakePort port;
    const auto& records = TestSpectrumRecords();
    const auto it =
        std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.name == name; });
    port.answers.push_back(testing::ChooseRadio(static_cast<int>(it - records.begin()) + 1));
    EXPECT_TRUE(TestSpectraCommand(*ws_, port));
    std::ifstream in(std::string(ORVANT_SOURCE_DIR) + "/data/test_spectra/" + name + ".truth");
    std::vector<std::pair<double, Peak>> found;  // area, peak
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      double channel, area, fwhm, energy, gauss, under;
      std::string kind;
      if (line.empty() || line[0] == '*' ||
          !(fields >> channel >> area >> fwhm >> energy >> gauss >> under >> kind))
        continue;
      if (kind == "full" && energy > s.energies.front() - 20 && energy < s.energies.back() + 20)
        found.push_back({area, {channel, energy}});
    }
    std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
    found.resize(std::min<std::size_t>(found.size(), kMaxSubsetItems));
    std::vector<Peak> peaks;
    for (const auto& f : found) peaks.push_back(f.second);
    std::sort(peaks.begin(), peaks.end(), [](const Peak& x, const Peak& y) { return x.channel < y.channel; });
    return peaks;
  }
};

TEST_F(AutoCalibrationCommandTest, CancelFailuresAndTheResultLines) {
  Workspace& ws = *ws_;
  const ReferenceSample& eu = ReferenceSamples()[1];
  const auto peaks = Synthetic(eu, {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}, 0.5, 1.25);
  Mark(Channels(peaks));
  ws.state.energyCalibrated = false;
  int graphs = 0;
  auto graph = [&] { return ++graphs, true; };

  FakePort cancel;
  EXPECT_FALSE(AutoCalibrationCommand(ws, cancel, graph));
  ASSERT_EQ(cancel.shown.size(), 1u);
  EXPECT_EQ(cancel.shown[0].caption, "Auto-calibration");
  EXPECT_EQ(cancel.shown[0].radio1->items, (std::vector<std::string>{"Ra-226", "Eu-152"}));
  EXPECT_EQ(cancel.shown[0].radio1->chosen, 1);
  EXPECT_FALSE(ws.autoCalibration.found());

  FakePort port;
  port.answers.push_back(testing::ChooseRadio(2));
  ASSERT_TRUE(AutoCalibrationCommand(ws, port, graph));
  EXPECT_EQ(graphs, 1);
  ExpectTruePairs(ws.autoCalibration, peaks);
  EXPECT_EQ(ws.state.reportLines[0], " Auto-calibration done: " + std::to_string(ws.autoCalibration.size) +
                                         " of 9 Eu-152 lines matched");
  EXPECT_FALSE(ws.state.energyCalibrated);
  EXPECT_EQ(ws.state.energyItemCount, 0);
  auto lines = OutputLines();
  auto at = std::find(lines.begin(), lines.end(), "Short calibr pars   0.50000     1.25");
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(at[1].substr(0, 18), "Their errors      ");
  EXPECT_EQ(at[2], "Calibration accuracy    0.00 %");
  EXPECT_EQ(at[3], " Auto-calibr");
  EXPECT_EQ(at[4].substr(0, 16), "    chi, chi+ = ");
  EXPECT_EQ(at[6 + 1 + ws.autoCalibration.size], "");

  // The graph's dialog cancelled: the pairing is kept, nothing written.
  const auto before = OutputLines().size();
  port.answers.push_back(testing::ChooseRadio(2));
  EXPECT_TRUE(AutoCalibrationCommand(ws, port, [] { return false; }));
  EXPECT_EQ(OutputLines().size(), before);

  // Too few and too many peaks: a message, no parameter lines, no graph.
  for (int count : {2, 17}) {
    std::vector<double> c(count);
    for (int i = 0; i < count; ++i) c[i] = 100.0 + 150 * i;
    Mark(c);
    FakePort p;
    p.AcceptNext();
    EXPECT_FALSE(AutoCalibrationCommand(ws, p, graph));
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(p.messages[0], count == 17
                                 ? "17-too large number of items. Job stopped"
                                 : "Auto-calibration: 2 peaks marked, 3 at least needed. Nothing written.");
    EXPECT_FALSE(ws.autoCalibration.found());
  }
  EXPECT_EQ(graphs, 1);
  EXPECT_EQ(OutputLines().size(), before);
}

// The peaks of the built-in Ra and Eu spectra at their true positions, with the other strong lines of
// the spectra among them, pair with the true lines of the sample.
TEST_F(AutoCalibrationCommandTest, BuiltInSpectraPairWithTheirTrueLines) {
  for (int sample : {1, 2}) {
    const ReferenceSample& s = ReferenceSamples()[sample - 1];
    SCOPED_TRACE(s.name);
    std::vector<Peak> peaks = LoadBuiltIn(sample == 1 ? "raa" : "euu", s);
    // Truth energies are rounded to 10 eV; the sample's are the evaluated ones.
    for (Peak& p : peaks) {
      const auto near = std::find_if(s.energies.begin(), s.energies.end(),
                                     [&](double e) { return std::fabs(e - p.energy) < 0.05; });
      p.energy = near != s.energies.end() ? *near : 0;
    }
    ASSERT_EQ(std::count_if(peaks.begin(), peaks.end(), [](const Peak& p) { return p.energy != 0; }), 9);
    ASSERT_LE(peaks.size(), 16u);
    Mark(Channels(peaks));
    FakePort port;
    port.answers.push_back(testing::ChooseRadio(sample));
    ASSERT_TRUE(AutoCalibrationCommand(*ws_, port, [] { return true; }));
    ExpectTruePairs(ws_->autoCalibration, peaks);
    EXPECT_LT(CalibrationAccuracy(ws_->autoCalibration), 0.01);
  }
  EXPECT_TRUE(Has("Short calibr pars "));
}

}  // namespace
}  // namespace orv
