// The spectrum under analysis written as IAEA SPE or as ANSI N42.42 (2012 schema), with its times and
// energy calibration, so that work can go on in other tools. Numbers carry 17 significant digits, so
// a reading gives back the values written. The file's channel 0 is our channel a1.
#include <pugixml.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

namespace orv {

namespace {

using namespace formats;

std::string Exact(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", std::isfinite(v) ? v : 0.0);
  return text;
}

struct Parts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The parts of a start time in the readers' common form; nothing for any other text.
std::optional<Parts> StartParts(const std::string& iso) {
  Parts p;
  if (std::sscanf(iso.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &p.year, &p.month, &p.day, &p.hour, &p.minute,
                  &p.second) != 6 ||
      IsoDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second).empty())
    return std::nullopt;
  return p;
}

bool Checked(const TSpectrum& s, std::string* error) {
  if (s.a1 < 1 || s.a2 < s.a1 || s.a2 > kSpectrumCapacity || s.a2 >= static_cast<int>(s.sp.size())) {
    if (error) *error = "Error, the spectrum holds no channels";
    return false;
  }
  // What is written must read back: these files hold counts, never negative values.
  for (int ch = s.a1; ch <= s.a2; ++ch) {
    if (std::isfinite(s.sp[ch]) && s.sp[ch] >= 0.0) continue;
    if (error) *error = "Error, channel " + std::to_string(ch) + " holds no count (" + Exact(s.sp[ch]) + ")";
    return false;
  }
  return true;
}

// The calibration in the file's numbering (file channel 0 = our a1); trailing zeros dropped.
std::vector<double> FileCoefficients(const TSpectrum& s, const std::vector<double>& coefficients) {
  std::vector<double> c = ShiftPolynomial(coefficients, s.a1);
  TrimPolynomial(c);
  return c;
}

}  // namespace

bool WriteIaeaSpe(const TSpectrum& s, const std::vector<double>& coefficients, const std::string& path,
                  std::string* error) {
  if (!Checked(s, error)) return false;
  std::string out;
  const SpectrumMeasurement& m = s.measurement;
  out += "$SPEC_ID:\n" + (m.description.empty() ? s.fileName : m.description) + "\n";
  out += "$SPEC_REM:\nwritten by ORVANT from " + s.fileName + "\n";
  if (auto t = StartParts(m.startTime)) {
    char text[40];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t->month, t->day, t->year, t->hour,
                  t->minute, t->second);
    out += "$DATE_MEA:\n" + std::string(text) + "\n";
  }
  if (m.HasTimes()) out += "$MEAS_TIM:\n" + Exact(m.liveTime) + " " + Exact(m.realTime) + "\n";
  out += "$DATA:\n0 " + std::to_string(s.a2 - s.a1) + "\n";
  for (int ch = s.a1; ch <= s.a2; ++ch) {
    out += Exact(s.sp[ch]);
    out += (ch - s.a1) % 8 == 7 || ch == s.a2 ? '\n' : ' ';
  }
  const std::vector<double> c = FileCoefficients(s, coefficients);
  if (!c.empty()) {
    if (c.size() <= 2) out += "$ENER_FIT:\n" + Exact(c[0]) + " " + Exact(c.size() > 1 ? c[1] : 0.0) + "\n";
    out += "$MCA_CAL:\n" + std::to_string(c.size()) + "\n";
    for (double v : c) out += Exact(v) + " ";
    out += "keV\n";
  }
  out += "$ENDRECORD:\n";
  std::ofstream f(path, std::ios::binary);
  if (!(f << out) || !f.flush()) {
    if (error) *error = "Cannot write " + path;
    return false;
  }
  return true;
}

bool WriteN42(const TSpectrum& s, const std::vector<double>& coefficients, const std::string& path,
              std::string* error) {
  if (!Checked(s, error)) return false;
  const SpectrumMeasurement& m = s.measurement;
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";
  pugi::xml_node root = doc.append_child("RadInstrumentData");
  root.append_attribute("xmlns") = "http://physics.nist.gov/N42/2011/N42";
  pugi::xml_node instrument = root.append_child("RadInstrumentInformation");
  instrument.append_attribute("id") = "RadInstrumentInformation-1";
  instrument.append_child("RadInstrumentManufacturerName").text() = "unknown";
  instrument.append_child("RadInstrumentModelName").text() = "unknown";
  instrument.append_child("RadInstrumentClassCode").text() = "Other";
  pugi::xml_node detector = root.append_child("RadDetectorInformation");
  detector.append_attribute("id") = "RadDetectorInformation-1";
  detector.append_child("RadDetectorCategoryCode").text() = "Gamma";
  detector.append_child("RadDetectorKindCode").text() = "Other";
  if (!m.description.empty()) detector.append_child("RadDetectorDescription").text() = m.description.c_str();
  const std::vector<double> c = FileCoefficients(s, coefficients);
  if (!c.empty()) {
    pugi::xml_node cal = root.append_child("EnergyCalibration");
    cal.append_attribute("id") = "EnergyCalibration-1";
    std::string values;
    for (double v : c) values += (values.empty() ? "" : " ") + Exact(v);
    cal.append_child("CoefficientValues").text() = values.c_str();
  }
  pugi::xml_node measurement = root.append_child("RadMeasurement");
  measurement.append_attribute("id") = "RadMeasurement-1";
  measurement.append_child("MeasurementClassCode").text() = "Foreground";
  if (auto t = StartParts(m.startTime)) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t->year, t->month, t->day, t->hour,
                  t->minute, t->second);
    measurement.append_child("StartDateTime").text() = text;
  }
  if (m.realTime > 0.0)
    measurement.append_child("RealTimeDuration").text() = ("PT" + Exact(m.realTime) + "S").c_str();
  pugi::xml_node spectrum = measurement.append_child("Spectrum");
  spectrum.append_attribute("id") = "Spectrum-1";
  spectrum.append_attribute("radDetectorInformationReference") = "RadDetectorInformation-1";
  if (!c.empty()) spectrum.append_attribute("energyCalibrationReference") = "EnergyCalibration-1";
  if (m.liveTime > 0.0)
    spectrum.append_child("LiveTimeDuration").text() = ("PT" + Exact(m.liveTime) + "S").c_str();
  std::string counts;
  for (int ch = s.a1; ch <= s.a2; ++ch) {
    counts += Exact(s.sp[ch]);
    counts += (ch - s.a1) % 8 == 7 || ch == s.a2 ? '\n' : ' ';
  }
  pugi::xml_node data = spectrum.append_child("ChannelData");
  data.append_attribute("compressionCode") = "None";
  data.text() = ("\n" + counts).c_str();
  if (!doc.save_file(path.c_str(), "  ", pugi::format_default, pugi::encoding_utf8)) {
    if (error) *error = "Cannot write " + path;
    return false;
  }
  return true;
}

}  // namespace orv
