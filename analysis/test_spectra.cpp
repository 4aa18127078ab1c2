#include "analysis/test_spectra.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numbers>
#include <sstream>

#include "core/dialog.h"
#include "core/help_texts.h"
#include "core/numtext.h"

namespace orv::embedded {
extern const char test_spectrum_raa[];
extern const std::size_t test_spectrum_raa_size;
extern const char test_spectrum_negr[];
extern const std::size_t test_spectrum_negr_size;
extern const char test_spectrum_front[];
extern const std::size_t test_spectrum_front_size;
extern const char test_spectrum_euu[];
extern const std::size_t test_spectrum_euu_size;
extern const char test_spectrum_bpeak[];
extern const std::size_t test_spectrum_bpeak_size;
}  // namespace orv::embedded

namespace orv {

namespace {

constexpr int kGaussModel = 1;
const char* const kGaussRestored = "The Gauss peak model is restored.";

// The clock value spread over both seeds, so that nearby clock readings start distant sequences.
void SeedFromClock(RandomGenerator& random, std::uint64_t clock) {
  const auto a = static_cast<std::int32_t>(clock % 2147483562u + 1);
  const std::uint64_t mixed = clock ^ (clock >> 29) ^ (clock * 0x9E3779B97F4A7C15u);
  const auto b = static_cast<std::int32_t>(mixed % 2147483398u + 1);
  random.Seed(a, b);
}

// Appends a line to the output file; only the first failure of a command is shown.
void WriteReportLine(Workspace& ws, UiPort& port, const std::string& line, bool& failed) {
  if (WriteOutputLine(ws, line) || failed) return;
  failed = true;
  port.ShowMessage(ws.output.lastError());
}

}  // namespace

const std::vector<TestSpectrumRecord>& TestSpectrumRecords() {
  // clang-format off
  // caption, name, channels, width1, width2, deltaWidth, sensitivity, resolution, covar, maxInterval, dback
  // (negative: the data choose the background degree up to its magnitude)
  static const std::vector<TestSpectrumRecord> records = {
      {"Set Raa Spectrum", "raa.spc", 3600, 1.5, 3.0, 2.5, 5.0, 5.0, 0.025, 512, -3,
       {embedded::test_spectrum_raa, embedded::test_spectrum_raa_size}},
      {"Set Negray Spectrum", "negr.spc", 820, 3.0, 4.0, 2.0, 2.0, 3.0, 0.01, 512, -3,
       {embedded::test_spectrum_negr, embedded::test_spectrum_negr_size}},
      {"Set Front Spectrum", "front.spc", 3493, 4.0, 5.0, 1.0, 1.5, 1.0, 0.02, 512, -3,
       {embedded::test_spectrum_front, embedded::test_spectrum_front_size}},
      {"Set Euu Spectrum", "euu.spc", 1605, 4.0, 7.0, 2.5, 2.0, 3.0, 0.01, 512, -3,
       {embedded::test_spectrum_euu, embedded::test_spectrum_euu_size}},
      {"Set Broad Peak Spectrum", "bpeak.spc", 1024, 79.5, 80.5, 20.0, 1.0, 1.0, 0.01, 1024, 1,
       {embedded::test_spectrum_bpeak, embedded::test_spectrum_bpeak_size}},
  };
  // clang-format on
  return records;
}

std::vector<double> TestSpectrumCounts(const TestSpectrumRecord& record) {
  std::istringstream in{std::string(record.text)};
  NumberStream numbers(in);
  // One slot more than needed, so that surplus numbers are noticed.
  std::vector<double> counts(static_cast<std::size_t>(record.channels) + 2, 0.0);
  if (numbers.Read(counts, 1, record.channels + 1) != record.channels || numbers.outOfRange()) return {};
  counts.pop_back();
  return counts;
}

void SimulateCommand(Workspace& ws, std::uint64_t clockSeed, UiPort& port) {
  TSpectrum& s = ws.spectrum;
  RandomGenerator& random = ws.random;
  SeedFromClock(random, clockSeed);
  const double slope = RandomUniform(random);
  const double level = 300 * RandomUniform(random);
  s.a1 = 1;
  s.a2 = kSimulatedChannels;
  SetInterval(ws.state, s, 1, kSimulatedChannels);

  struct Peak {
    double position, area;
  };
  std::vector<Peak> peaks(kSimulatedPeaks);
  for (Peak& p : peaks) {
    p.position = RandomUniform(random) * (s.a2 - s.a1) * 0.95 + (s.a1 + 20);
    p.area = RandomUniform(random) * 1000 + 200;
  }

  const double sqrtLn2 = std::sqrt(std::log(2.0));
  bool failed = false;
  WriteReportLine(ws, port, "Peaks are simulated (pos, area, width)", failed);
  // The drawn value sets each peak's height of a profile exp(-ln2 (x/w)^2), whose half width at half
  // maximum is w: the report gives what a fit should find, the area (height times w sqrt(pi/ln2))
  // and the full width 2w.
  const double areaPerHeight = kSimulatedHalfWidth * std::sqrt(std::numbers::pi / std::log(2.0));
  for (const Peak& p : peaks) {
    WriteReportLine(ws, port,
                    FormatNumber(10, 2, p.position) + FormatNumber(10, 2, p.area * areaPerHeight) +
                        FormatNumber(10, 2, 2 * kSimulatedHalfWidth),
                    failed);
  }

  for (int i = 1; i <= kSimulatedChannels; ++i) {
    double y = slope * i / 100 + level;
    for (const Peak& p : peaks) {
      const double u = sqrtLn2 * (i - p.position) / kSimulatedHalfWidth;
      y += p.area * std::exp(-u * u);
    }
    const double g = RandomNormalPair(random).second;
    s.sp[i] = std::max(0.0, y + g * std::sqrt(y));
    s.err[i] = std::sqrt(std::fabs(s.sp[i]) + 1);
  }
  s.FindExtremes();
  ws.state.scaleMode = 0;
  s.fileName.clear();
}

bool TestSpectraCommand(Workspace& ws, UiPort& port) {
  AnalysisState& st = ws.state;
  TSpectrum& s = ws.spectrum;
  if (st.resultsUnsaved && !port.AskOkCancel("Previous fit results not saved")) return false;

  const auto& records = TestSpectrumRecords();
  std::vector<std::string> captions;
  for (const auto& r : records) captions.push_back(r.caption);
  DialogRequest r = PrepareDialog("Set Test Spectra", 0, 600, 420);
  r.helpLines = HelpText(HelpId::kTestSpectra, st.russianHelp);
  ShowRadioGroup(r, 1, 1, 20, 150, 300, 20, captions, 1);
  if (!port.ShowDialog(r)) return false;
  const TestSpectrumRecord& chosen =
      records[std::clamp(r.radio1 ? r.radio1->chosen : 1, 1, static_cast<int>(records.size())) - 1];
  // Read before anything changes, so that damaged data leave the analysis as it was.
  const std::vector<double> counts = TestSpectrumCounts(chosen);
  if (counts.empty()) {
    port.ShowMessage("Error, the built-in spectrum " + chosen.name + " is damaged");
    return false;
  }

  ClearSpectrumCounters(st);
  st.energyCalibrated = false;
  st.efficiencyCalibrated = false;
  st.maxInterval = 512;
  st.sensitivity = 1.0;
  st.resolution = 1.0;
  st.covar = 0.01;
  s.dback = -3;
  if (ws.model().kind != kGaussModel) {
    ws.model().Create(&port);
    st.reportLines[0] = kGaussRestored;
    bool failed = false;
    WriteReportLine(ws, port, kGaussRestored, failed);
  }
  st.resultsUnsaved = false;

  s.ClearData();
  for (int i = 1; i <= chosen.channels; ++i) {
    s.sp[i] = counts[i];
    s.err[i] = std::sqrt(std::fabs(counts[i]) + 1);
  }
  s.fileName = chosen.name;
  s.a1 = 1;
  s.a2 = chosen.channels;
  SetInterval(st, s, 1, chosen.channels);
  s.FindExtremes();
  s.width1 = chosen.width1;
  s.width2 = chosen.width2;
  s.deltaWidth = chosen.deltaWidth;
  st.sensitivity = chosen.sensitivity;
  st.resolution = chosen.resolution;
  st.covar = chosen.covar;
  st.maxInterval = chosen.maxInterval;
  s.dback = chosen.dback;
  s.SetErrors(st.covar);
  return true;
}

}  // namespace orv
