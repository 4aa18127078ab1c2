// Auto-calibration: which found peaks are the lines of a reference sample, by an exhaustive search
// over subsets with a straight line energy = f(channel) fitted to every pairing.
#pragma once

#include <array>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/port.h"

namespace orv {

struct Workspace;
struct AnalysisState;
struct CalibrationTables;

// A subset of m items is a bit mask over m bits; beyond 16 items the lists would not fit the work
// array and the search would run for hours.
inline constexpr int kMaxSubsetItems = 16;
// Lines per reference sample; the command always uses all of them.
inline constexpr int kReferenceLineCount = 9;
// Error given to every (energy, channel) pair in the search, keV. All pairs share it, so its value
// does not change which pairing wins; it makes chi-square per degree of freedom the mean squared
// energy residual in keV^2 and states the parameter errors for a 1 keV scatter of the points, the
// order of a peak-position error times the gain of a typical uncalibrated spectrum.
inline constexpr double kAutoCalibrationPairError = 1.0;

// The best pairing of the last run, kept with the workspace.
struct AutoCalibration {
  double criterion = 1e17;  // chi-square per degree of freedom of the best pairing
  int referenceMask = 0, peakMask = 0, size = 0;
  double p0 = 0, p1 = 0, x0 = 0;  // energy = p0 * (channel - x0) + p1
  double s0 = 0, s1 = 0;          // standard errors of p0 and p1
  // The reference table of the run (referenceEnergies[0..referenceCount-1]) and the sample's name.
  std::array<double, kMaxSubsetItems> referenceEnergies{};
  int referenceCount = 0;
  std::string sample;
  // The best pairing's points, energies[j] paired with channels[j] for j < size.
  std::array<double, kMaxSubsetItems> energies{}, channels{};
  double pairError = kAutoCalibrationPairError;
  bool found() const { return size > 0; }
};

struct ReferenceSample {
  std::string name;                                    // "Ra-226", "Eu-152"
  std::array<double, kReferenceLineCount> energies{};  // keV, ascending
};

// The two samples, read once from the compiled-in line tables.
const std::vector<ReferenceSample>& ReferenceSamples();

// Fills `masks` with every mask of 1..2^m-1 (ascending) that has exactly k of its m low bits set and
// returns their number. Print mode 1 writes each mask (10 wide) and its bit pattern (highest bit
// first, 15 wide) to `sink`; modes 1 and 2 end with the count line. More than 16 items (or a negative
// m) returns -1 with `masks` empty and writes nothing: the caller reports it.
int EnumerateSubsets(int m, int k, int printMode, std::vector<double>& masks, LineSink* sink);

enum class AutoCalibrationOutcome {
  kFound,         // `best` holds a pairing
  kTooManyItems,  // more than 16 peaks or lines; the message box has been shown
  kNoPairing,     // fewer than 3 peaks or lines, or every fit singular
};

// The exhaustive search: k from min(size) down to 3, reference masks outer, peak masks inner, the
// j-th chosen energy with the j-th chosen channel, the straight line of FitLine with `pairError` on
// every pair; strictly smaller chi-square per degree of freedom wins, so ties keep the pairing met
// first. `best` starts afresh. A singular fit writes FitLine's "not ok  det= " line to `sink` once
// per run (a marking with coinciding positions would otherwise flood the file).
AutoCalibrationOutcome AutoCalibrate(std::span<const double> channels, std::span<const double> energies,
                                     double pairError, AutoCalibration& best, UiPort& port, LineSink* sink);

// Root-mean-square deviation of the points from the line (with k - 2 degrees of freedom) over their
// mean energy, in %: the relative energy accuracy the calibration gives. 0 without a pairing.
double CalibrationAccuracy(const AutoCalibration& best);

// The result lines of a found pairing: parameters, errors, accuracy, the line fit's print-out under
// the label " Auto-calibr", an empty line. Nothing without a pairing. False when a write failed.
bool WriteAutoCalibration(const AutoCalibration& best, LineSink* sink);

// Puts the line found in force as the energy calibration: the matched pairs become the energy table
// (channel, energy, the pair error) and the calibration is the straight line through them, which is
// the line found. Nothing without a pairing (false).
bool PutAutoCalibrationInForce(const AutoCalibration& best, AnalysisState& state, CalibrationTables& cal);

// "Auto-Calibration": the sample dialog (Cancel ends, false), the search over the marked peaks into
// ws.autoCalibration, then `showCalibrationGraph` (the energy-calibration graph; true when it ended
// with OK) and, on true, the result lines in the output file. The energy calibration in force is
// not touched. True when a pairing was found; ws.state.reportLines[0] says what happened.
bool AutoCalibrationCommand(Workspace& ws, UiPort& port, const std::function<bool()>& showCalibrationGraph);

}  // namespace orv
