#include "analysis/file_calibration.h"

#include <cmath>
#include <cstdio>

#include "spectrum/formats/format_util.h"

namespace orv {

namespace {

std::string Short(double v, const char* format = "%.6g") {
  char text[40];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

}  // namespace

bool StillFileCalibration(const AnalysisState& st, const CalibrationTables& cal,
                          const FileCalibrationMark& mark) {
  if (!mark.active || !st.energyCalibrated || st.energyItemCount != mark.count ||
      st.calibrationMode != mark.mode)
    return false;
  for (int k = 1; k <= mark.count; ++k) {
    const CalibrationItem &a = cal.energyItems[k], &b = mark.items[k];
    if (a.argument != b.argument || a.value != b.value || a.error != b.error) return false;
  }
  return true;
}

void TakeFileCalibration(AnalysisState& st, CalibrationTables& cal, FileCalibrationMark& mark,
                         const TSpectrum& s, LineSink* sink) {
  auto note = [&](const std::string& line) {
    if (sink) sink->WriteLine(line);
  };
  if (StillFileCalibration(st, cal, mark)) {
    st.energyCalibrated = false;
    note("Energy calibration of " + mark.fileName + " out of force");
  }
  mark = FileCalibrationMark{};
  const std::vector<double>& c = s.measurement.energyCoefficients;
  if (c.size() < 2 || s.a2 <= s.a1) return;
  const bool linear = c.size() == 2;
  const int n = linear ? 2 : 17;
  for (int k = 1; k <= n; ++k) {
    const double channel = s.a1 + (s.a2 - s.a1) * static_cast<double>(k - 1) / (n - 1);
    cal.energyItems[k] = {formats::EvaluatePolynomial(c, channel), channel, 0.0};
  }
  st.energyItemCount = n;
  st.calibrationMode = linear ? 1 : 0;
  if (linear) FitLinearEnergyCalibration(st, cal);
  st.energyCalibrated = true;
  mark.active = true;
  mark.fileName = s.fileName;
  mark.coefficients = c;
  mark.items = cal.energyItems;
  mark.count = n;
  mark.mode = st.calibrationMode;
  note("Energy calibration of " + s.fileName + " in force: " + PolynomialText(c) +
       (linear ? " (linear)" : " (non-linear, 17 items)"));
}

std::vector<double> EnergyPolynomial(const AnalysisState& st, const CalibrationTables& cal,
                                     const FileCalibrationMark& mark) {
  if (!EnergyCalibrationInForce(st)) return {};
  if (StillFileCalibration(st, cal, mark)) return mark.coefficients;
  if (st.calibrationMode == 1) {
    // E = a + b t(x), t linear in x.
    const double t0 = NormalisedAbscissa(st, 0.0), t1 = NormalisedAbscissa(st, 1.0) - t0;
    return {cal.linearIntercept + cal.linearSlope * t0, cal.linearSlope * t1};
  }
  std::vector<double> x, y;
  for (int k = 1; k <= std::min(st.energyItemCount, kMaxCalibrationItems); ++k) {
    x.push_back(cal.energyItems[k].argument);
    y.push_back(cal.energyItems[k].value);
  }
  return formats::FitCalibration(x, y);
}

std::string PolynomialText(const std::vector<double>& c) {
  std::string text = "E(ch) =";
  for (std::size_t k = 0; k < c.size(); ++k) {
    const double v = c[k];
    text += k == 0 ? " " + Short(v) : (v < 0 ? " - " : " + ") + Short(std::fabs(v));
    if (k >= 1) text += "*ch";
    if (k >= 2) text += "^" + std::to_string(k);
  }
  return text;
}

std::string MeasurementTimesLine(const SpectrumMeasurement& m) {
  std::string line;
  if (m.liveTime > 0.0) line += "Live time = " + Short(m.liveTime, "%.10g") + " s";
  if (m.realTime > 0.0)
    line += (line.empty() ? "" : "  ") + std::string("Real time = ") + Short(m.realTime, "%.10g") + " s";
  return line;
}

}  // namespace orv
