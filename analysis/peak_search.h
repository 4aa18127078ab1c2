// Automatic peak search: finds the peaks of the analysed interval segment by segment (smoothing,
// background through minima, quasi-curvature candidates, statistical tests, multiplet analysis and
// stripping with the current peak model), then judges every candidate on the counts themselves (a local
// least-squares fit with its neighbours' shapes) and fills the peak list of the marking.
#pragma once

#include <array>

#include "analysis/marking.h"
#include "core/peak_model.h"
#include "core/port.h"
#include "core/state.h"
#include "spectrum/spectrum.h"

namespace orv {

inline constexpr int kSearchCapacity = 16383;      // points of one segment
inline constexpr int kSearchCompressLimit = 8192;  // longest segment that can be re-binned

// Work arrays of the search, 1-based. About 1.7 MB: the caller allocates one (on the heap) and reuses
// it for every search, so the search itself never allocates.
struct PeakSearchWork {
  std::array<double, kSearchCapacity + 1> y{};        // working values of the segment
  std::array<double, kSearchCapacity + 1> e{};        // statistical errors after smoothing
  std::array<double, kSearchCapacity + 1> spread{};   // square root of the scaled counts (resolution)
  std::array<double, kSearchCapacity + 1> b{};        // background (also the re-binning target)
  std::array<double, kSearchCapacity + 1> q{};        // quasi-curvature
  std::array<double, kSearchCapacity + 1> scratch{};  // smoothing pass, median
  // Candidates: positions in segment points, tag (quasi-curvature, later the class code), found width.
  std::array<double, kSearchCapacity + 1> position{};
  std::array<double, kSearchCapacity + 1> tag{};
  std::array<double, kSearchCapacity + 1> found{};
  // Background nodes: values then abscissas.
  std::array<double, 2 * (kSearchCapacity / 25 + 3) + 1> nodes{};
  // Candidates of the whole interval in channels: refined position, position the search gave, net
  // area, significance of the local fit.
  std::array<double, kSearchCapacity + 1> listed{};
  std::array<double, kSearchCapacity + 1> searched{};
  std::array<double, kSearchCapacity + 1> netArea{};
  std::array<double, kSearchCapacity + 1> significance{};
  std::array<unsigned char, kSearchCapacity + 1> verdict{};
  // Peak shapes of one local significance fit, channel by channel (at most ±1024 channels, 9 shapes).
  std::array<double, 2049 * 9> localShapes{};
};

// Said in the status line and the output file when the search found more peaks than the list holds.
inline constexpr const char* kPeakListFullText = "Peak list full: the 999 most significant peaks kept; ";

struct PeakSearchResult {
  // False when, in some segment, the measured widths disagreed with the width law.
  bool widthConsistent = true;
  // Width law of the search in channels: FWHM(c) = kw0 + kw1 * c. The marking keeps it divided by
  // the compression factor (its working form).
  double kw1 = 0;
  double kw0 = 0;
  double compr = 1;
  int peakCount = 0;
  // More significant candidates were found than the peak list holds; the least significant went.
  bool listFull = false;
};

// Searches spectrum.sp over the whole of b1..b2 (kept inside the spectrum bounds). Reads sensitivity,
// resolution, maxInterval and smallStatistics from `state`; strips found peaks with `model`. Every
// candidate is then refined on the counts and must stand out in a local least-squares fit of the
// counts (quadratic background plus the model shape, at the width law, of every candidate in reach),
// so that noise and the flanks of strong neighbours are not marked. Replaces marking.peakList/peakCount
// (ascending, at most kMaxMarkedPeaks, the most significant kept; listFull says when some went) and
// sets marking.kw1, kw0 (working form) and compr; the interval table is left to interval forming. A
// compressed segment longer than 8192 points is skipped after the message "Too long array".
PeakSearchResult SearchPeaks(const TSpectrum& spectrum, int b1, int b2, double deltaWidth, double width2,
                             double width1, const AnalysisState& state, const TPeakModel& model,
                             PeakSearchWork& work, Marking& marking, UiPort& port);

struct PeakEstimate {
  bool ok = false;        // the position lay inside the spectrum
  double position = 0;    // centroid of the five channels around the highest channel near p
  double netArea = 0;     // counts above a straight background, at least 0
  double background = 0;  // counts under that background
  int first = 0, last = 0;
};

// Local estimate of a peak near channel p of the spectrum (channels a1..a2): the highest channel m
// within round(p) ± max(1, round(w/2)), w = max(width, 2) (the first on ties), so that the estimate
// stays on the peak itself; the centroid over m − 2..m + 2; the net area over round(position ∓ 1.5·w)
// with the background taken from the two channels at each end of that range.
PeakEstimate EstimatePeak(const TSpectrum& spectrum, double p, double width);

}  // namespace orv
