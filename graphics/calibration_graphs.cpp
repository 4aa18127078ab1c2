#include "graphics/calibration_graphs.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "analysis/auto_calibration.h"
#include "core/dialog.h"
#include "core/numeric.h"
#include "core/numtext.h"
#include "core/peak_model.h"
#include "graphics/memory_canvas.h"
#include "graphics/plot.h"

namespace orv {

namespace {

constexpr int kCurveLeft = 7;      // x of the first argument
constexpr int kCurvePixels = 180;  // from the first to the last argument
constexpr int kCalibrationAxis = 190;
constexpr int kModelAxis = 200;
constexpr int kDialogLeft = 250, kDialogWidth = 330, kDialogHeight = 430;
// The calibration graphs with texts beside the plot box and a listing of four columns.
constexpr int kWideDialogWidth = 420;
constexpr int kSideLabelLeft = 218;
constexpr int kCalibrationBoxLeft = 10, kModelBoxLeft = 20;
constexpr int kListingTop = 238, kListingHeight = 130;  // the buttons start at 375

// A wild value (a curve overshooting far outside its range, or a non-number) must not give a line of
// billions of steps: coordinates are kept within a margin around the box before drawing.
int ToPixel(double v) {
  return std::clamp(RoundHalfEven(v), -4 * kPlotBoxHeight, 5 * kPlotBoxHeight);
}

std::string NoBlanks(std::string s) {
  std::erase(s, ' ');
  return s;
}

// Five green dotted levels 50 pixels apart from the base line up.
void DrawDotLevels(Canvas& c) {
  for (int k = 0; k < 5; ++k)
    for (int j = 0; j < 102; ++j) c.Pixel(2 * j, kPlotBoxBase - 50 * k, kGreen);
}

// Four dotted verticals 63 pixels apart from the first argument on.
void DrawDotVerticals(Canvas& c) {
  for (int k = 0; k < 4; ++k)
    for (int j = 0; j < 57; ++j) c.Pixel(kCurveLeft + 63 * k, 3 + 5 * j, kGreen);
}

void DrawDotGrid(Canvas& c) {
  DrawDotLevels(c);
  DrawDotVerticals(c);
}

// The filled marker of a data point: five pixels wide, three high.
void DrawMarker(Canvas& c, int x, int y) {
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -2; dx <= 2; ++dx)
      if (std::abs(dx) + std::abs(dy) < 8) c.Pixel(x + dx, y + dy, kCalibrationPointColor);
}

DialogImage ImageOf(const MemoryCanvas& c, int left) {
  return DialogImage{left, 0, kPlotBoxWidth, kPlotBoxHeight, c.pixels()};
}

void ShowTestedCount(DialogRequest& r, int n) {
  ShowLabel(r, 1, kSideLabelLeft, 15, "Tested " + std::to_string(n) + " peaks", kYellow, kMaroon);
}

int ItemCount(int count) {
  return std::clamp(count, 0, kMaxCalibrationItems);
}

// Value range of a table's `value` column, from the documented start values so that an empty table
// leaves an empty range.
void ValueRange(const CalibrationList& items, int n, double& lo, double& hi) {
  lo = 1e14;
  hi = -1e14;
  for (int i = 1; i <= n; ++i) {
    lo = std::min(lo, items[i].value);
    hi = std::max(hi, items[i].value);
  }
}

}  // namespace

int CalibrationPixelX(double argument, double first, double last) {
  return ToPixel((argument - first) * kCurvePixels / std::max(0.0001, last - first) + kCurveLeft);
}

int CalibrationPixelY(double value, double lo, double hi) {
  return ToPixel(kPlotBoxBase - (value - lo) / std::max(0.000001, hi - lo) * kCalibrationAxis);
}

double EnergyCalibrationChiSquare(const AnalysisState& state, const CalibrationTables& cal) {
  const int n = ItemCount(state.energyItemCount);
  double sum = 0;
  for (int i = 1; i <= n; ++i) {
    const CalibrationItem& item = cal.energyItems[i];
    const double fitted = ApplyCalibrations(state, cal, item.argument, 0, 0, 0).energy;
    const double d = (item.value - fitted) / std::max(0.000001, item.error);
    sum += d * d;
  }
  return sum / std::max(n - 2, 1);
}

DialogRequest BuildEnergyCalibrationGraph(const Workspace& ws, const std::string& captionSuffix) {
  const AnalysisState& st = ws.state;
  const CalibrationList& items = ws.calibration.energyItems;
  const int n = ItemCount(st.energyItemCount);
  DialogRequest r =
      PrepareDialog("Energy calibration " + captionSuffix, kDialogLeft, kWideDialogWidth, kDialogHeight);

  double lo, hi;
  ValueRange(items, n, lo, hi);
  const double first = items[1].argument, last = items[std::max(n, 1)].argument;

  MemoryCanvas canvas(kPlotBoxWidth, kPlotBoxHeight);
  DrawDotGrid(canvas);
  PointDrawer curve(canvas, 2);
  std::vector<std::string> lines;
  for (int i = 1; i <= n; ++i) {
    const CalibrationItem& item = items[i];
    const double fitted = ApplyCalibrations(st, ws.calibration, item.argument, 0, 0, 0).energy;
    curve.DrawPoint(CalibrationPixelX(item.argument, first, last), CalibrationPixelY(fitted, lo, hi),
                    kCalibrationCurveColor);
    lines.push_back(FormatNumber(9, 2, item.argument) + "  " + FormatNumber(10, 3, item.value) + "  " +
                    FormatNumber(10, 3, fitted) + "  " + FormatNumber(9, 3, item.value - fitted));
  }
  // The markers go over the finished curve: an exact calibration passes through every data point,
  // and the point must stay visible.
  for (int i = 1; i <= n; ++i)
    DrawMarker(canvas, CalibrationPixelX(items[i].argument, first, last),
               CalibrationPixelY(items[i].value, lo, hi));
  r.image = ImageOf(canvas, kCalibrationBoxLeft);

  ShowTestedCount(r, n);
  ShowTextArea(r, 5, kWideDialogWidth - 10, lines);
  r.textArea->top = kListingTop;  // below the plot box, above the buttons
  r.textArea->height = kListingHeight;
  ShowLabel(r, 2, kSideLabelLeft, 40,
            "Chi^2/fd=" + NoBlanks(FormatNumber(20, 2, EnergyCalibrationChiSquare(st, ws.calibration))),
            kYellow, kMaroon);
  return r;
}

DialogRequest BuildEfficiencyCalibrationGraph(const Workspace& ws) {
  const CalibrationList& items = ws.calibration.efficiencyItems;
  const int n = ItemCount(ws.state.efficiencyItemCount);
  DialogRequest r = PrepareDialog("Efficiency calibration", kDialogLeft, kWideDialogWidth, kDialogHeight);

  double lo, hi;
  ValueRange(items, n, lo, hi);
  const double first = items[1].argument, last = items[std::max(n, 1)].argument;

  // Interpolate takes the n coefficients followed by the n energies, from index 1.
  std::array<double, 2 * kMaxCalibrationItems + 1> table{};
  for (int i = 1; i <= n; ++i) {
    table[i] = items[i].value;
    table[n + i] = items[i].argument;
  }

  MemoryCanvas canvas(kPlotBoxWidth, kPlotBoxHeight);
  DrawDotGrid(canvas);
  PointDrawer curve(canvas, 2);
  const double step = (last - first) / kCalibrationAxis;
  for (int j = 0; j < 200 && n > 0; ++j) {
    const double e = first + j * step;
    const double k = Interpolate(table.data(), static_cast<int>(table.size()), n, e);
    curve.DrawPoint(CalibrationPixelX(e, first, last), CalibrationPixelY(k, lo, hi), kCalibrationCurveColor);
  }
  std::vector<std::string> lines;
  for (int i = 1; i <= n; ++i) {
    DrawMarker(canvas, CalibrationPixelX(items[i].argument, first, last),
               CalibrationPixelY(items[i].value, lo, hi));
    lines.push_back(FormatNumber(10, 3, items[i].argument) + "  " + FormatNumber(12, 6, items[i].value) +
                    "  " + FormatNumber(12, 6, items[i].error));
  }
  r.image = ImageOf(canvas, kCalibrationBoxLeft);

  ShowTestedCount(r, n);
  ShowTextArea(r, 5, kWideDialogWidth - 10, lines);
  r.textArea->top = kListingTop;  // below the plot box, above the buttons
  r.textArea->height = kListingHeight;
  return r;
}

DialogRequest BuildPeakModelGraph(const Workspace& ws) {
  const TPeakModel& model = ws.model();
  DialogRequest r = PrepareDialog(std::string("Peak Model ") + PeakModelName(model.kind), kDialogLeft,
                                  kDialogWidth, kDialogHeight);
  double lo = 1000 * model.samples[1], hi = lo;
  for (int i = 1; i <= kPeakModelSamples; ++i) {
    lo = std::min(lo, 1000 * model.samples[i]);
    hi = std::max(hi, 1000 * model.samples[i]);
  }

  MemoryCanvas canvas(kPlotBoxWidth, kPlotBoxHeight);
  canvas.Fill(2, 3, 198, 212, kBlack);
  DrawDotLevels(canvas);
  PointDrawer cross(canvas, 0);
  for (int i = 1; i <= kPeakModelSamples; ++i) {
    const double y = kPlotBoxBase - kModelAxis * (1000 * model.samples[i] - lo) / std::max(0.000001, hi - lo);
    cross.DrawPoint(4 + i, ToPixel(y), kPeakModelColor);
  }
  DrawDotVerticals(canvas);
  r.image = ImageOf(canvas, kModelBoxLeft);
  return r;
}

DialogRequest BuildAutoCalibrationGraph(const Workspace& ws) {
  const AutoCalibration& a = ws.autoCalibration;
  DialogRequest r =
      PrepareDialog("Auto-calibration: " + a.sample, kDialogLeft, kWideDialogWidth, kDialogHeight);
  const int k = a.found() ? a.size : 0;
  double first = 1e14, last = -1e14, lo = 1e14, hi = -1e14;
  for (int i = 0; i < k; ++i) {
    first = std::min(first, a.channels[i]);
    last = std::max(last, a.channels[i]);
    lo = std::min(lo, a.energies[i]);
    hi = std::max(hi, a.energies[i]);
  }
  auto line = [&a](double channel) { return a.p0 * (channel - a.x0) + a.p1; };

  MemoryCanvas canvas(kPlotBoxWidth, kPlotBoxHeight);
  DrawDotGrid(canvas);
  std::vector<std::string> lines;
  if (k > 0) {
    PointDrawer curve(canvas, 2);
    for (int j = 0; j <= kCurvePixels; j += 4) {
      const double channel = first + (last - first) * j / kCurvePixels;
      curve.DrawPoint(CalibrationPixelX(channel, first, last), CalibrationPixelY(line(channel), lo, hi),
                      kCalibrationCurveColor);
    }
    lines.push_back("  Channel     Energy     Line   Deviation");
    for (int i = 0; i < k; ++i) {
      DrawMarker(canvas, CalibrationPixelX(a.channels[i], first, last),
                 CalibrationPixelY(a.energies[i], lo, hi));
      lines.push_back(FormatNumber(9, 2, a.channels[i]) + "  " + FormatNumber(9, 2, a.energies[i]) + "  " +
                      FormatNumber(9, 2, line(a.channels[i])) + "  " +
                      FormatNumber(9, 3, a.energies[i] - line(a.channels[i])));
    }
  }
  r.image = ImageOf(canvas, kCalibrationBoxLeft);

  const double intercept = a.p1 - a.p0 * a.x0;
  int row = 0;
  auto label = [&](const std::string& text) {
    ShowLabel(r, row + 1, kSideLabelLeft, 10 + 24 * row, text, kYellow, kMaroon);
    ++row;
  };
  label("Line found:");
  label("E = " + NoBlanks(FormatNumber(12, 5, a.p0)) + " * chan");
  label(std::string(intercept < 0 ? "  - " : "  + ") + NoBlanks(FormatNumber(12, 2, std::fabs(intercept))));
  label("Matches: " + std::to_string(k) + " of " + std::to_string(a.referenceCount));
  label(a.sample + " lines");
  label("Accuracy: " + NoBlanks(FormatNumber(9, 2, CalibrationAccuracy(a))) + " %");
  ShowTextArea(r, 5, kWideDialogWidth - 10, lines);
  r.textArea->top = kListingTop;
  r.textArea->height = kListingHeight - 25;  // the check box goes below
  ShowCheckBox(r, kPutInForce, false);
  return r;
}

bool GraphAutoCalibration(Workspace& ws, UiPort& port) {
  DialogRequest r = BuildAutoCalibrationGraph(ws);
  if (!port.ShowDialog(r)) return false;
  if (r.checkBox && r.checkBox->checked &&
      PutAutoCalibrationInForce(ws.autoCalibration, ws.state, ws.calibration))
    ws.state.reportLines[1] = " Energy calibration set up";
  return true;
}

bool GraphEnergyCalibration(Workspace& ws, UiPort& port, const std::string& captionSuffix) {
  if (!EnergyCalibrationInForce(ws.state)) {
    port.ShowMessage("No energy calibration set up");
    return false;
  }
  DialogRequest r = BuildEnergyCalibrationGraph(ws, captionSuffix);
  return port.ShowDialog(r);
}

bool GraphEfficiencyCalibration(Workspace& ws, UiPort& port) {
  // Like the energy table, a coefficient table needs two items before it converts anything.
  if (!EfficiencyCalibrationInForce(ws.state)) {
    port.ShowMessage("No efficiency calibration set up");
    return false;
  }
  DialogRequest r = BuildEfficiencyCalibrationGraph(ws);
  return port.ShowDialog(r);
}

bool GraphPeakModel(Workspace& ws, UiPort& port) {
  DialogRequest r = BuildPeakModelGraph(ws);
  return port.ShowDialog(r);
}

}  // namespace orv
