// The carbon line measurement of a spectrum given on an energy scale: the counts in a fixed energy
// region, their flat background and a significance criterion; and the list of spectrum files that the
// carbon analysis works through.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "spectrum/spectrum.h"

namespace orv {

// Region of the carbon line, keV.
inline constexpr double kCarbonRegionLow = 4400.0;
inline constexpr double kCarbonRegionHigh = 4600.0;
// The fixed window marked on the graph, keV.
inline constexpr double kCarbonMarkLow = 4350.0;
inline constexpr double kCarbonMarkHigh = 4500.0;

struct CarbonLineResult {
  int first = 0, last = 0;  // the channels examined: the analysed interval
  double step = 0.0;        // energy per channel over the interval
  bool computed = false;    // false for a constant energy scale: everything below stays 0
  int regionChannels = 0;   // channels with ec1 <= X <= ec2
  double S = 0.0;           // sum of the rounded counts in the region
  double B = 0.0;           // flat background level per channel
  double background = 0.0;  // B times the channels of the region
  double variance = 0.0;    // sum of the squared errors in the region
  double criterion = 0.0;   // (S - background) / sqrt(variance), 0 when the variance is 0
};

// Measures over the analysed interval b1..b2. B is the mean of the counts at the first channel reaching
// ec1 and at the first channel from there on reaching ec2; when no channel reaches ec2 it is the count
// of the last channel reaching ec1. A region with no channel gives zeros.
CarbonLineResult MeasureCarbonLine(const TSpectrum& s, double ec1, double ec2);

// The two curves of the carbon graph over b1..b2, curve 1 then curve 2: the counts, and a marker of the
// fixed window 4350..4500 keV (largest count - 1 inside it, smallest count + 1 elsewhere).
std::vector<double> CarbonLineCurves(const TSpectrum& s);

// The spectrum names of a list file: every line that does not begin with "*", with the blanks around
// it removed; blank lines are skipped, since they name no file.
std::vector<std::string> ReadCarbonNameList(std::istream& in);

}  // namespace orv
