// Auto-calibration: which found peaks are the lines of a reference sample, and the straight line
// energy = f(channel) that puts the most lines on peaks.
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

// A subset of m items is a bit mask over m bits.
inline constexpr int kMaxSubsetItems = 16;
// Lines per reference sample; the command always uses all of them.
inline constexpr int kReferenceLineCount = 9;
// The search takes the strongest marked peaks, at most this many. Every candidate adds chances for a
// line to fall on some peak by accident: with the 38 peaks of an automatic marking of raa, a wrong
// sample reaches 5 of 9 lines within 1 FWHM, while the lines of a right sample are always among the
// strongest peaks.
inline constexpr int kMaxCalibrationPeaks = 24;
// A peak matches a line when it lies within this many FWHM of it, by the trial calibration.
inline constexpr double kMatchWindow = 1.0;
// A match is consistent when the matched peaks scatter about the straight line by at most this many
// FWHM (root mean square per degree of freedom). A detector's lines lie within a few hundredths to a
// tenth of a FWHM of its linear calibration; peaks that match lines by accident spread over the whole
// window (0.3 to 0.6 FWHM on the built-in spectra).
inline constexpr double kConsistentScatter = 0.2;
// An analyser's zero lies near channel 0: a calibration whose energy at channel 0 is further from 0
// than this share of the energy up to the highest candidate is an accidental match (a wrong sample
// reaches half of its lines on a few weak peaks that way, with offsets of a hundred keV and more).
inline constexpr double kZeroOffsetShare = 0.03;
// The least scatter assumed for the errors of the final line, in FWHM: a position is never known
// better than that, and exactly placed peaks must not give zero errors (zero weight).
inline constexpr double kLeastScatter = 0.01;

// The best match of the last run, kept with the workspace.
struct AutoCalibration {
  // Weighted deviation of the match: mean square of (energy - line) / FWHM per degree of freedom.
  double criterion = 1e17;
  int referenceMask = 0, size = 0;  // the matched lines (bits over the reference table), their number
  double p0 = 0, p1 = 0, x0 = 0;    // energy = p0 * (channel - x0) + p1
  double s0 = 0, s1 = 0;            // standard errors of p0 and p1, from the scatter of the pairs
  // The reference table of the run (referenceEnergies[0..referenceCount-1]) and the sample's name.
  std::array<double, kMaxSubsetItems> referenceEnergies{};
  int referenceCount = 0;
  std::string sample;
  // The matched pairs in energy order, energies[j] with channels[j] for j < size, and the energy error
  // each had in the final line fit (its FWHM in keV times the scatter found).
  std::array<double, kMaxSubsetItems> energies{}, channels{}, errors{};
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
  kFound,              // `best` holds the match
  kTooFewPeaks,        // fewer candidates than lines that must match
  kNoConsistentMatch,  // no trial calibration matched half of the lines consistently
};

// The lines that must match: half of the sample's lines, at least 3 (a straight line through two
// pairs always fits).
int RequiredMatches(int referenceCount);

// A candidate peak: its channel, its FWHM in channels there (the width law), and how strong it is.
struct CalibrationPeak {
  double channel = 0, width = 0, strength = 0;
};

// Finds the calibration energy = slope * channel + offset under which the most reference lines have
// a peak within kMatchWindow FWHM, then the smallest weighted deviation. Every pair of lines on every
// pair of candidates gives a trial line; each line takes the nearest candidate inside its window (a
// candidate serves one line); the straight line weighted by 1/FWHM^2 is fitted to the matched pairs
// and the matching repeated until it no longer changes. Matches that scatter by more than
// kConsistentScatter FWHM about their line do not count. `peaks` are taken strongest first, at most
// kMaxCalibrationPeaks of them; `energies` up to kMaxSubsetItems. `best` starts afresh.
AutoCalibrationOutcome AutoCalibrate(std::span<const CalibrationPeak> peaks, std::span<const double> energies,
                                     AutoCalibration& best, UiPort& port);

// The candidates of the current marking, strongest first: the fitted rows of its peaks (reported
// ones only, by criterion) when every peak has been fitted, else the marked positions by their net
// height times width. Widths come from the marking's width law (the analysis law, then the spectrum's
// widths when it has none).
std::vector<CalibrationPeak> CalibrationCandidates(const Workspace& ws);

// Root-mean-square deviation of the matched lines from the line found (k - 2 degrees of freedom) over
// their mean energy, in %: the relative energy accuracy the calibration gives. 0 without a match.
double CalibrationAccuracy(const AutoCalibration& best);

// The result lines of a found match: parameters, errors, accuracy, the line fit's print-out under the
// label " Auto-calibr", an empty line. Nothing without a match. False when a write failed.
bool WriteAutoCalibration(const AutoCalibration& best, LineSink* sink);

// Puts the line found in force as the energy calibration: the matched pairs become the energy table
// (channel, energy, the pair's error) and the calibration is the straight line through them, which
// is the line found. Nothing without a match (false).
bool PutAutoCalibrationInForce(const AutoCalibration& best, AnalysisState& state, CalibrationTables& cal);

// "Auto-Calibration": the sample dialog (Cancel ends, false), the search over the candidates of the
// marking into ws.autoCalibration, then `showCalibrationGraph` (true when it ended with OK) and, on
// true, the result lines in the output file. Without a consistent match: the message and output line
// "No consistent match with the <sample> lines", no graph, nothing that could be put in force. The
// energy calibration in force is not touched. True when a match was found; ws.state.reportLines[0]
// says what happened.
bool AutoCalibrationCommand(Workspace& ws, UiPort& port, const std::function<bool()>& showCalibrationGraph);

}  // namespace orv
