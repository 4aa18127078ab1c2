// The energy calibration a spectrum file brings with it: put in force when the file is read, and
// taken out of force by the next reading unless the user has entered or changed a calibration since.
#pragma once

#include <string>
#include <vector>

#include "analysis/calibration.h"
#include "core/port.h"
#include "core/state.h"
#include "spectrum/spectrum.h"

namespace orv {

// What a file put in force, to tell later whether the calibration is still the file's.
struct FileCalibrationMark {
  bool active = false;
  std::string fileName;
  std::vector<double> coefficients;  // E(c) in our channels
  CalibrationList items{};
  int count = 0;
  int mode = 0;
};

// True while the energy calibration in force is the one the mark describes.
bool StillFileCalibration(const AnalysisState& state, const CalibrationTables& cal,
                          const FileCalibrationMark& mark);

// After a spectrum was read: a calibration put in force by an earlier file and not changed since goes
// out of force; the file's own calibration (s.measurement) is put in force — the linear mode with two
// items at the spectrum's ends for a straight line, otherwise the non-linear mode with an item every
// 1/16 of the spectrum. Each change is noted in `sink`.
void TakeFileCalibration(AnalysisState& state, CalibrationTables& cal, FileCalibrationMark& mark,
                         const TSpectrum& s, LineSink* sink);

// The energy calibration in force as a polynomial E(c) (coefficient k of c^k): the file's own while it
// is in force, the straight line in linear mode, otherwise a parabola through the items. Empty when no
// energy calibration is in force.
std::vector<double> EnergyPolynomial(const AnalysisState& state, const CalibrationTables& cal,
                                     const FileCalibrationMark& mark);

// "E(ch) = c0 + c1*ch + c2*ch^2" with six significant digits.
std::string PolynomialText(const std::vector<double>& c);

// "Live time = 300 s  Real time = 301.2 s" (the times the file gave); empty when it gave none.
std::string MeasurementTimesLine(const SpectrumMeasurement& m);

}  // namespace orv
