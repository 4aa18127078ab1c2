// Spectra without a spectrum file, for trying the analysis out: a random simulated spectrum and five
// built-in measured-like spectra that come with analysis settings suited to them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/workspace.h"
#include "core/port.h"

namespace orv {

// Constants of the simulation: ten Gaussian peaks of half width at half maximum 4 channels in
// channels 1..1024.
inline constexpr int kSimulatedPeaks = 10;
inline constexpr int kSimulatedChannels = 1024;
inline constexpr double kSimulatedHalfWidth = 4.0;

// One built-in spectrum with the settings that are applied when it is loaded.
struct TestSpectrumRecord {
  std::string caption;  // entry of the choice dialog
  std::string name;     // becomes the spectrum's file name
  int channels = 0;
  double width1 = 0, width2 = 0, deltaWidth = 0;
  double sensitivity = 1, resolution = 1;
  double covar = 0.01;
  int maxInterval = 512;
  int dback = 3;
  std::string_view text;  // the compiled-in free-field counts
};

// The five records in the order of the choice dialog.
const std::vector<TestSpectrumRecord>& TestSpectrumRecords();

// Counts of channels 1..channels of a record (element 0 unused); empty when the compiled-in text does
// not hold exactly `channels` numbers.
std::vector<double> TestSpectrumCounts(const TestSpectrumRecord& record);

// "Simulate the Spectrum": ten random Gaussian peaks on a random linear background with counting
// noise in channels 1..1024. The workspace's generator is reseeded from `clockSeed` (the caller passes
// the clock), the peaks are listed in the output file. A failing output write is reported through `port`.
void SimulateCommand(Workspace& ws, std::uint64_t clockSeed, UiPort& port);

// "&Test": asks which built-in spectrum to load (after a confirmation when results are unsaved),
// restores the Gauss peak model when another one is in force, loads the counts and applies the
// record's settings. False when cancelled or the record's data are damaged (nothing changed then).
bool TestSpectraCommand(Workspace& ws, UiPort& port);

}  // namespace orv
