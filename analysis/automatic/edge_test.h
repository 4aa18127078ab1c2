// Whether a fitted peak is a line or the shoulder of a smeared step in the continuum (a Compton edge,
// a shelf beside a strong line). The search marks the bend of such a step as a narrow peak, and a low
// polynomial background cannot follow the step, so the peak takes it up and looks significant. The
// alternative is fitted in the peak's place: the same background polynomial plus an error-function
// step of free height and position, smeared at least as much as a line. A line is kept when the peak
// model explains the counts better than every step by a margin.
#pragma once

#include <vector>

namespace orv {

// One channel of the interval: the count and its weight, the model's other peaks as fitted, and the
// tested peak's shape of unit height at this channel.
struct EdgePoint {
  double channel = 0, count = 0, weight = 0, others = 0, shape = 0;
};

struct EdgeComparison {
  // Least weighted residual sums over the steps tried: of the step alone in the peak's place, and of
  // the step with the peak on it.
  double stepChi2 = 0, bothChi2 = 0;
  double peakChi2 = 0;                     // of the peak alone on the background
  double stepPosition = 0, stepSigma = 0;  // the best step alone
  // What the peak adds to the best description by a step: its likelihood-ratio statistic.
  double Margin() const { return stepChi2 - bothChi2; }
  // What the step adds to the peak: whether there is an edge beside it at all.
  double EdgeEvidence() const { return peakChi2 - bothChi2; }
  // The peak is the edge: the edge is there beyond doubt and the peak adds too little to it.
  bool PeakIsEdge() const;
};

// Both descriptions over the points with a polynomial background of `degree` (0..2) refitted, the
// heights free but the step only falling towards higher channels (the continuum of scattered photons
// ends in a falling edge, the shelf beside a line lies on its low side), over step positions within 1.5 FWHM
// of the peak and smearing sigma of 1 to 6.5 times the line's (an edge is smeared by the resolution, the
// electrons' binding and multiple scattering). The step alone with height 0 is the background alone, so a
// peak on a flat background is tested as before, and one on a real edge keeps the edge under it. Points must
// be in channel order.
EdgeComparison CompareWithEdge(const std::vector<EdgePoint>& points, double fwhm, double position,
                               int degree);

// The margin a peak must have: its area 2 of its errors above the step, the rule by which the
// refinement keeps any peak over the background alone.
inline constexpr double kEdgeMargin = 4;
// The evidence an edge needs beside the peak: a likelihood ratio at a false-alarm rate of 0.001 for
// its height and position. Without it the peak stands as it was fitted (on a flat continuum a step of
// free position would otherwise take up part of a weak line, and the line be lost).
inline constexpr double kEdgeEvidence = 13.8;

inline bool EdgeComparison::PeakIsEdge() const {
  return Margin() < kEdgeMargin && EdgeEvidence() > kEdgeEvidence;
}

}  // namespace orv
