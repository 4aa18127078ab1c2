// Energy and registration-efficiency calibration: the two item tables, their entry from marked peaks,
// fit results, typed lines or files, the weighted straight line of the linear energy calibration, and
// the conversions of channels and areas into energies and intensities.
#pragma once

#include <array>
#include <iosfwd>
#include <string>
#include <vector>

#include "analysis/marking.h"
#include "analysis/results.h"
#include "core/port.h"
#include "core/state.h"

namespace orv {

// One point of a calibration. Energy: value = energy, argument = channel. Efficiency: value = K,
// argument = energy.
struct CalibrationItem {
  double value = 0;
  double argument = 0;
  double error = 0;
};

using CalibrationList = std::array<CalibrationItem, kMaxCalibrationItems + 1>;  // 1-based

enum CalibrationKind { kEnergyCalibration = 0, kEfficiencyCalibration = 1 };

// The item tables and the line of the linear energy calibration. Flags, counts, modes and the channel
// range of the line are in AnalysisState (energyCalibrated, energyItemCount, calibrationMode,
// firstChannel, lastChannel, ...).
struct CalibrationTables {
  CalibrationList energyItems{};      // sorted by channel
  CalibrationList efficiencyItems{};  // sorted by energy
  double linearIntercept = 0;         // E(x) = a + b * t(x)
  double linearSlope = 0;             // per unit of the normalised abscissa t
};

struct CalibratedPeak {
  double energy = 0, energyError = 0;
  double intensity = 0, intensityError = 0;
};

// True when the three numbers do not add up to zero (a line of zeros is no item).
bool IsValidCalibrationItem(double argument, double value, double error);

// Refuses n > 60 and n < 2 with "Error, number of peaks > 60" / "... < 2".
bool CheckCalibrationItemCount(int n, UiPort& port);

// Refuses a sorted table whose items all share one argument (a calibration through a single point has
// no slope: every energy would come out alike), with a message naming the argument.
bool CheckCalibrationSpread(const CalibrationList& items, int n, UiPort& port);

// Bubble sort of items[1..n] by argument; equal arguments keep their order.
void SortCalibrationItems(CalibrationList& items, int n);

// Free-field calibration data: items of three numbers (argument, value, error) taken from one number
// stream, the rest of the line of a third number dropped, "/" closing an item early. Items with at
// least two numbers that are valid are kept; from the 61st on each replaces the 60th. Returns the count.
int ReadCalibrationItems(std::istream& in, CalibrationList& items);

// Typed lines "argument value error" (missing numbers 0); blank and invalid lines are skipped. Returns
// the number of items given, which may exceed the 60 stored.
int ParseCalibrationLines(const std::vector<std::string>& lines, CalibrationList& items);

// Normalised abscissa of the linear calibration: the channel range maps onto -1.732051..+1.732051.
double NormalisedAbscissa(const AnalysisState& state, double channel);

// Weighted straight line through the energy table; sets linearIntercept, linearSlope, firstChannel,
// lastChannel and returns the chi-square.
double FitLinearEnergyCalibration(AnalysisState& state, CalibrationTables& cal);

// True when a calibration converts: its flag is set and its table holds the two items that every
// interpolation and line needs.
bool EnergyCalibrationInForce(const AnalysisState& state);
bool EfficiencyCalibrationInForce(const AnalysisState& state);

// E(x) of the energy table in the current mode, whether or not the calibration is in force.
double EnergyOfChannel(const AnalysisState& state, const CalibrationTables& cal, double channel);

// Position and area with their errors to energy and intensity with errors; the identity for a
// calibration that is not in force.
CalibratedPeak ApplyCalibrations(const AnalysisState& state, const CalibrationTables& cal, double position,
                                 double positionError, double area, double areaError);

// The channel of an energy through the energy table in the current mode (the caller makes sure the
// energy calibration is in force).
double EnergyToChannel(const AnalysisState& state, const CalibrationTables& cal, double energy);

// The menu commands "Energy Calibration" (kind 0) and "Efficiency Calibration" (kind 1): the source
// dialog, the entry, the listing. The calibration of this kind is out of force from the start and is
// put in force only by OK on the final listing (true; reportLines[0] says so). Report lines go to `sink`.
bool EnterCalibration(int kind, AnalysisState& state, CalibrationTables& cal, const Marking& marking,
                      const ResultTable& results, UiPort& port, LineSink* sink);

}  // namespace orv
