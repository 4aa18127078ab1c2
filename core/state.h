// The run settings of one analysis: everything an analysis step needs that does not travel with the
// loaded spectrum. The spectrum-related settings (bounds, widths, background degree) live in TSpectrum.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace orv {

// Capacities: memory is allocated once, so every table has a fixed size.
inline constexpr int kSpectrumCapacity = 32768;  // channels of the spectrum arrays
inline constexpr int kTypedBoundLimit = 16384;   // largest bound accepted from a dialog
inline constexpr int kMaxPeaks = 150;            // peaks in one fitted interval
inline constexpr int kEngineParameters = 2 * kMaxPeaks + 6;
inline constexpr int kEnginePoints = 4096;
inline constexpr int kMaxMarkedPeaks = 999;
inline constexpr int kMaxResults = 1000;
inline constexpr int kMaxCalibrationItems = 60;
// Iterations a fit may take: beyond this a fit that has not converged never will, it only hangs.
inline constexpr int kMaxIterationLimit = 1000;

// Colour as one integer: red + 256 * green + 65536 * blue.
constexpr std::int32_t MakeColor(int red, int green, int blue) {
  return red + 256 * green + 65536 * blue;
}

// Options of the spectrum readers; kept between inputs.
struct InputOptions {
  bool skipHeader = false;                     // binary types: the first 1024 bytes are a header
  bool reverseBytes = false;                   // type 2: exchange the 16-bit halves of each value
  bool startAtOne = true;                      // type 4: false takes the first channel from the first X
  std::array<int, 3> lineIndicators{1, 2, 3};  // type 4: positions of X, Y and error in a line
};

struct AnalysisState {
  // Fitting intervals and marking.
  int maxInterval = 256;
  int markingMode = 0;  // 0 automatic, 1 manual, 2 by energies, 3 from a data set
  double sensitivity = 1.0;
  double resolution = 1.0;
  double kWidth = 2.0;
  double adInterv = 2.0;
  double smallStatistics = 7.0;

  // Counting statistics and blunders.
  double covar = 0.01;
  double blunderOrder = 10.0;
  double chibc = 1.25;

  // Fit control.
  double positionDeviation = 5.0;
  int iterationLimit = 7;
  double fitStep = 0.99;
  double fitDamper = 0.01;
  double normCoefficient = 1.0;
  bool normaliseByCoefficient = false;
  int usedBackgroundDegree = 0;
  double positionBoundFactor = 2.0;
  double amplitudeBoundFactor = 1.0;
  int currentInterval = 1;

  // Width law w(c) = kw0 + kw1 * c, admissible within +- deltaWidth.
  double kw0 = 4.0 - 2.0 / 4095.0;
  double kw1 = 2.0 / 4095.0;

  // Graph scale and preprocessing.
  int scaleMode = 0;   // 0 normal, 1 square root, 2 ln(1+|v|), 3 trimmed
  int pointStyle = 0;  // 0 five-pixel cross, 1 single pixel, 2 connected line
  double trimmingCoefficient = 0.5;
  bool graphFittedErrors = false;
  bool xScaleLogarithmic = false;
  bool longReflectionIndicators = false;
  int compressionFactor = 2;

  // Working copies of the analysed interval.
  int intervalFirst = 2;
  int intervalLast = 4095;
  int intervalLength = 4094;
  int iniB1 = 0;
  int iniB2 = 0;
  int selectedFirst = 1;
  int selectedLast = 4096;
  int selectedLength = 4096;

  // Calibration, results and lists.
  bool energyCalibrated = false;
  bool efficiencyCalibrated = false;
  int energyItemCount = 0;
  int efficiencyItemCount = 0;
  int calibrationMode = 0;  // 0 non-linear (spline), 1 linear
  int efficiencyMode = 0;
  double firstChannel = 1.0;
  double lastChannel = 4096.0;
  int resultCount = 0;
  bool resultsUnsaved = false;
  bool limFormat = false;  // summary table: the intensity column shows the background
  int markedCount = 0;
  int nameCount = 0;
  int graphMarkCount = 0;  // peak ticks drawn on the current graph

  // File names.
  std::string nameListFile = "spfn.tab";
  std::string loopTableFile = "orvant.tab";
  std::string outputFileName = "a.res";
  std::string startDir;
  std::string lastDir;

  InputOptions input;

  // Display settings, carried between runs by the settings file.
  double screenScale = 1.0;
  int fontSize = 10;
  bool russianHelp = false;
  std::string settingsTitle;
  std::int32_t colorBackground = MakeColor(0, 0, 0);
  std::int32_t colorTextBackground = MakeColor(128, 0, 0);
  std::int32_t colorFitData = MakeColor(0, 255, 255);
  std::int32_t colorExpData = MakeColor(255, 0, 255);
  std::int32_t colorForm = MakeColor(0, 128, 0);
  std::int32_t colorForm1Back = MakeColor(128, 0, 0);

  // Window state.
  int graphMode = 0;  // 0 nothing, 1 spectrum, 2 interval fit, 3 interval graph, 13 two-click cut
  int viewFirst = 1;
  int viewLast = 4096;
  int viewWidth = 4096;
  int cadreStepping = 0;

  // The report a command leaves for the status lines.
  std::array<std::string, 2> reportLines;
};

}  // namespace orv
