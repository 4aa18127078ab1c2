// The one spectrum under analysis: counts, their deviations and abscissae per channel (1-based),
// the spectrum and interval bounds, the width information and the instrument definition.
#pragma once

#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/state.h"
#include "spectrum/measurement.h"

namespace orv {

class TSpectrum {
 public:
  explicit TSpectrum(std::string name = "");

  std::string fileName;
  int fileType = 2;
  int a1 = 1, a2 = 16384;
  int b1 = 1, b2 = 16384;
  double maxValue = 1.0;
  double minValue = 0.0;
  int dback = 3;
  // Instrument definition.
  double chanWidth = 4.0;
  double delay = 0.0;
  double theta = 76.0;
  double flightPath = 21.13;
  double width1 = 5.0;
  double deltaWidth = 4.0;
  double width2 = 6.0;
  double lambda = 1.54;
  double widthVariable = 0.0;
  double deltaWidthVariable = 0.0;
  // Abscissa mapping: channel = channelOffset + channelsPerX * abscissa.
  double xFirst = 1.0, xLast = 16384.0;
  double xStep = 1.0;
  double channelOffset = 0.0, channelsPerX = 1.0;
  std::string definitionTitle;
  // Times, start and calibration as the file gave them; empty for the bare types.
  SpectrumMeasurement measurement;
  // Where the deviations come from: the file's own error column (kept as given), and whether the
  // counts were changed beyond counting (smoothed, background subtracted), so that they no longer
  // follow counting statistics.
  bool errorsFromFile = false;
  bool processed = false;
  // The counts are as the detector recorded them, so their variance is their expectation: fits
  // weigh them by the model. Otherwise `err` holds the spread.
  bool CountsAreRaw() const { return !errorsFromFile && !processed; }

  // Indexed 1..kSpectrumCapacity; element 0 is unused.
  std::vector<double> sp;
  std::vector<double> err;
  std::vector<double> x;

  // The arrays and the abscissa mapping as created, and no record of their origin: a new reading
  // starts from here, so nothing of the previous spectrum survives beyond the new one's end.
  void ClearData();
  // Largest and smallest count in [a1, a2]; the minimum is never above 0.
  void FindExtremes();
  // The count of a channel for sums, start values and comparisons: 0 outside the arrays and for a
  // value that is not a number.
  double CountAt(int channel) const {
    const double v = channel >= 1 && channel <= kSpectrumCapacity ? sp[channel] : 0.0;
    return std::isfinite(v) ? v : 0.0;
  }
  // 1/err^2, or 0 for a channel whose deviation is 0 (left out of fits).
  double Weight(int channel) const;
  // err = sqrt(|0.9 sp + 0.1 (covar sp)^2| + 0.1) over [a1, a2]; free-field spectra and spectra whose
  // file gave the errors keep their own.
  void SetErrors(double covar);
  // Reads the instrument definition file; a missing file is skipped, a value of 0 keeps the field.
  // Returns false when the file could not be opened.
  bool ReadDefinition(const std::string& path);
  void ReadDefinition(std::istream& in);

  static std::int32_t SwapHalves(std::int32_t v);
};

// What a command sets on the spectrum before it knows whether the next file can be read: its name,
// type and bounds. Kept aside and put back when the reading fails, so the loaded spectrum stays whole.
struct SpectrumChoice {
  std::string fileName;
  int fileType, a1, a2, b1, b2;
  explicit SpectrumChoice(const TSpectrum& s)
      : fileName(s.fileName), fileType(s.fileType), a1(s.a1), a2(s.a2), b1(s.b1), b2(s.b2) {}
  void RestoreTo(TSpectrum& s) const {
    s.fileName = fileName;
    s.fileType = fileType;
    s.a1 = a1, s.a2 = a2, s.b1 = b1, s.b2 = b2;
  }
};

// Width law from the widths at the two spectrum ends.
void SetWidthLaw(AnalysisState& state, const TSpectrum& spectrum);
// Stores the analysed interval in the spectrum and in the state's working copies, keeping it inside
// the spectrum bounds.
void SetInterval(AnalysisState& state, TSpectrum& spectrum, int first, int last);

}  // namespace orv
