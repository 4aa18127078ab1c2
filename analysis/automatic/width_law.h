// The width law of a spectrum, FWHM(c) = sqrt(a + b·c), estimated from the spectrum itself: clear,
// isolated lines are fitted alone with a free width and the law is fitted robustly through their
// widths. Detector resolution grows like the square root of a term linear in the energy over the
// whole range, where a straight line holds only locally; the search and the interval fits use the
// local chord or tangent of this law.
#pragma once

#include <string>
#include <vector>

namespace orv {

struct Workspace;

struct WidthLaw {
  double a = 16, b = 0;  // FWHM(c)² = a + b·c + q·c², channels
  // A term that lets the law also follow widths growing linearly over a wide range (electronic drift);
  // 0 unless the lines ask for it.
  double q = 0;
  double scatter = 0;  // rms deviation of the lines' widths from the law, channels
  double delta = -1;   // admissible deviation given with the widths; < 0: from the scatter
  int lines = 0;       // clear lines the law goes through (0: not estimated)
  int measured = 0;    // clear lines measured, outliers included
  std::string note;    // where a law that was not estimated came from

  double Square(double channel) const { return a + (b + q * channel) * channel; }  // unclamped FWHM²
  double At(double channel) const;
  // d FWHM / d channel: the tangent of the law.
  double Slope(double channel) const;
  // How far a fitted width may go from the law: enough that a fit can still show a width excess.
  double DeltaAt(double channel) const;
};

// The law through width1 at channel `first` and width2 at `last`.
WidthLaw LawThroughWidths(double width1, double width2, int first, int last);

// The output-file line of the law: "Width law FWHM(chan)= sqrt(a + b*chan): a= … b= … scatter= …".
std::string WidthLawLine(const WidthLaw& law);

// One line measured alone with a free width.
struct WidthPoint {
  double channel = 0, width = 0, error = 0;
  bool kept = false;  // the robust fit kept it (not an outlier)
  double misfit = 1;  // χ² per degree of freedom of the line's fit
};

// Robust fit of the law through the points (least median of squares start, then a weighted fit with
// outliers beyond 3 of their expected deviation left out); marks the kept points. Fewer than 3 kept
// points: lines = 0 and the law is not to be used.
WidthLaw FitWidthLaw(std::vector<WidthPoint>& points);

// Finds clear, isolated lines in first..last of the workspace spectrum and fits each alone with a
// free width (the program's interval fit); the spectrum's width settings and the fit state are
// restored afterwards. The clearest first: at most `maxLines` lines that fit the shape well, and as
// many again in all.
std::vector<WidthPoint> MeasureClearLines(Workspace& ws, int first, int last, int maxLines = 24);

// The law of the spectrum over first..last: estimated from its clear lines; with one or two clear
// lines, `fallback` scaled through them (its note says so); with none, `fallback` itself.
WidthLaw EstimateWidthLaw(Workspace& ws, int first, int last, const WidthLaw& fallback);

}  // namespace orv
