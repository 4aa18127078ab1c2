// ANSI N42.42 XML, both schemas: the 2006 one (N42InstrumentData, Measurement, Spectrum with LiveTime,
// RealTime, StartTime and Calibration/Equation/Coefficients) and the 2012 one (RadInstrumentData,
// RadMeasurement with StartDateTime and RealTimeDuration, Spectrum with LiveTimeDuration and a reference
// to an EnergyCalibration with CoefficientValues). Elements are matched by their local names, so any
// namespace or prefix is accepted. ChannelData may be plain or "CountedZeroes" (a 0 followed by the
// number of zero channels). Coefficients are for channel numbers counted from 0.
#include <pugixml.hpp>

#include <cmath>
#include <cstring>
#include <functional>

#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

namespace orv {

namespace {

using namespace formats;

std::string_view LocalName(const char* name) {
  std::string_view n(name);
  const auto colon = n.rfind(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

bool Is(const pugi::xml_node& n, std::string_view local) {
  return n.type() == pugi::node_element && LocalName(n.name()) == local;
}

pugi::xml_node Child(const pugi::xml_node& parent, std::string_view local) {
  for (pugi::xml_node c : parent.children())
    if (Is(c, local)) return c;
  return {};
}

// An attribute by name, whatever its case (the 2006 files write "Type", "Compression", ...).
std::string Attribute(const pugi::xml_node& n, std::string_view name) {
  for (pugi::xml_attribute a : n.attributes())
    if (Lower(LocalName(a.name())) == Lower(name)) return a.value();
  return "";
}

void Collect(const pugi::xml_node& n, std::string_view local, std::vector<pugi::xml_node>& out) {
  for (pugi::xml_node c : n.children()) {
    if (c.type() != pugi::node_element) continue;
    if (Is(c, local)) out.push_back(c);
    Collect(c, local, out);
  }
}

// The first element of this name at the node or among the children of its ancestors, nearest first.
pugi::xml_node Nearest(pugi::xml_node n, std::string_view local) {
  for (; n && n.type() == pugi::node_element; n = n.parent())
    if (pugi::xml_node c = Child(n, local)) return c;
  return {};
}

pugi::xml_node ById(const pugi::xml_node& root, std::string_view local, const std::string& id) {
  std::vector<pugi::xml_node> all;
  Collect(root, local, all);
  for (const pugi::xml_node& n : all)
    if (Attribute(n, "id") == id) return n;
  return {};
}

// Seconds of an ISO 8601 duration such as PT300.5S or P1DT2H; years and months have no fixed length
// and are refused.
std::optional<double> Duration(std::string_view text) {
  text = Trim(text);
  if (text.size() < 2 || text[0] != 'P') return std::nullopt;
  double total = 0.0;
  bool inTime = false, any = false;
  std::size_t i = 1;
  while (i < text.size()) {
    if (text[i] == 'T') {
      if (inTime) return std::nullopt;
      inTime = true;
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && (std::isdigit(static_cast<unsigned char>(text[j])) || text[j] == '.')) ++j;
    if (j == i || j == text.size()) return std::nullopt;
    auto v = ParseNumber(text.substr(i, j - i));
    if (!v) return std::nullopt;
    const char unit = text[j];
    double scale = 0.0;
    if (!inTime && unit == 'D') scale = 86400.0;
    if (!inTime && unit == 'W') scale = 7 * 86400.0;
    if (inTime && unit == 'H') scale = 3600.0;
    if (inTime && unit == 'M') scale = 60.0;
    if (inTime && unit == 'S') scale = 1.0;
    if (scale == 0.0) return std::nullopt;
    total += *v * scale;
    any = true;
    i = j + 1;
  }
  if (!any) return std::nullopt;
  return total;
}

std::string N42Date(std::string_view text) {
  text = Trim(text);
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  double sec = 0.0;
  const std::string t(text);
  if (std::sscanf(t.c_str(), "%d-%d-%dT%d:%d:%lf", &y, &mo, &d, &h, &mi, &sec) >= 5) {
    std::string iso = IsoDateTime(y, mo, d, h, mi, sec);
    if (!iso.empty()) return iso;
  }
  return t;
}

bool IsNeutron(pugi::xml_node spectrum, const pugi::xml_node& root) {
  for (pugi::xml_node n = spectrum; n && n.type() == pugi::node_element; n = n.parent())
    if (Lower(Attribute(n, "DetectorType")) == "neutron") return true;
  const std::string ref = Attribute(spectrum, "radDetectorInformationReference");
  if (ref.empty()) return false;
  pugi::xml_node info = ById(root, "RadDetectorInformation", ref);
  return Lower(Trim(Child(info, "RadDetectorCategoryCode").text().get())) == "neutron";
}

// The energy coefficients that belong to the spectrum; an empty node when there are none.
pugi::xml_node Coefficients(const pugi::xml_node& spectrum, const pugi::xml_node& root) {
  const std::string ref = Attribute(spectrum, "energyCalibrationReference");
  if (!ref.empty())
    if (pugi::xml_node c = Child(ById(root, "EnergyCalibration", ref), "CoefficientValues")) return c;
  // 2006: a Calibration of type Energy in the spectrum or around it, or one named by CalibrationIDs.
  std::vector<pugi::xml_node> calibrations;
  for (pugi::xml_node n = spectrum; n && n.type() == pugi::node_element; n = n.parent())
    for (pugi::xml_node c : n.children())
      if (Is(c, "Calibration")) calibrations.push_back(c);
  const std::string ids = Attribute(spectrum, "CalibrationIDs");
  if (!ids.empty()) Collect(root, "Calibration", calibrations);
  for (const pugi::xml_node& c : calibrations) {
    const std::string type = Lower(Attribute(c, "Type"));
    const std::string id = Attribute(c, "ID");
    const bool named = !id.empty() && (" " + ids + " ").find(" " + id + " ") != std::string::npos;
    if ((type == "energy" && (ids.empty() || named)) || (type.empty() && named))
      if (pugi::xml_node k = Child(Child(c, "Equation"), "Coefficients")) return k;
  }
  // 2012 without a reference: the one energy calibration of the file.
  std::vector<pugi::xml_node> energy;
  Collect(root, "EnergyCalibration", energy);
  for (const pugi::xml_node& e : energy)
    if (pugi::xml_node c = Child(e, "CoefficientValues")) return c;
  return {};
}

}  // namespace

ReadOutcome ReadN42(TSpectrum& s, std::string_view text) {
  auto refuse = [&](const std::string& what) { return Refusal(s, what); };
  pugi::xml_document doc;
  const pugi::xml_parse_result parsed =
      doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed)
    return refuse("XML not well formed (" + std::string(parsed.description()) + " at byte " +
                  std::to_string(parsed.offset) + ")");
  const pugi::xml_node root = doc.document_element();
  if (!Is(root, "N42InstrumentData") && !Is(root, "RadInstrumentData"))
    return refuse("not an N42 document (root element " + std::string(root.name()) + ")");

  std::vector<pugi::xml_node> spectra, gamma;
  Collect(root, "Spectrum", spectra);
  for (const pugi::xml_node& sp : spectra)
    if (Child(sp, "ChannelData") && !IsNeutron(sp, root)) gamma.push_back(sp);
  if (gamma.empty()) return refuse("no gamma spectrum with channel data");
  const pugi::xml_node spectrum = gamma.front();

  ParsedSpectrum p;
  const pugi::xml_node data = Child(spectrum, "ChannelData");
  const bool countedZeroes = Lower(Attribute(data, "compressionCode")) == "countedzeroes" ||
                             Lower(Attribute(data, "Compression")) == "countedzeroes";
  const std::vector<std::string_view> tokens = Tokens(data.text().get(), " \t\r\n");
  for (std::size_t k = 0; k < tokens.size(); ++k) {
    auto v = ParseNumber(tokens[k]);
    if (!v) return refuse("channel data '" + std::string(tokens[k].substr(0, 20)) + "' is not a number");
    if (countedZeroes && *v == 0.0) {
      if (k + 1 == tokens.size()) return refuse("CountedZeroes data ends with a 0 and no count of zeros");
      auto zeros = ParseNumber(tokens[++k]);
      if (!zeros || *zeros < 1 || *zeros != std::floor(*zeros) ||
          p.counts.size() + *zeros > static_cast<double>(kSpectrumCapacity))
        return refuse("CountedZeroes data with a run of zeros '" + std::string(tokens[k].substr(0, 20)) +
                      "' that is no channel count or too long");
      p.counts.insert(p.counts.end(), static_cast<std::size_t>(*zeros), 0.0);
    } else {
      p.counts.push_back(*v);
    }
    if (p.counts.size() > static_cast<std::size_t>(kSpectrumCapacity))
      return refuse("more than " + std::to_string(kSpectrumCapacity) + " channels");
  }
  if (p.counts.empty()) return refuse("the spectrum's ChannelData is empty");

  SpectrumMeasurement& m = p.measurement;
  ReadOutcome r;
  auto duration = [&](const pugi::xml_node& n, double& into, const char* what) {
    if (!n) return true;
    auto v = Duration(n.text().get());
    if (!v) {
      r.messages.push_back(FileError(s, std::string(what) + " '" + n.text().get() + "' is not a duration"));
      return false;
    }
    into = *v;
    return true;
  };
  pugi::xml_node live = Child(spectrum, "LiveTimeDuration");
  if (!live) live = Child(spectrum, "LiveTime");
  pugi::xml_node real = Nearest(spectrum, "RealTimeDuration");
  if (!real) real = Nearest(spectrum, "RealTime");
  if (!duration(live, m.liveTime, "live time") || !duration(real, m.realTime, "real time")) return r;
  pugi::xml_node start = Nearest(spectrum, "StartDateTime");
  if (!start) start = Nearest(spectrum, "StartTime");
  if (start) m.startTime = N42Date(start.text().get());

  if (pugi::xml_node c = Coefficients(spectrum, root)) {
    for (std::string_view t : Tokens(c.text().get(), " \t\r\n,")) {
      auto v = ParseNumber(t);
      if (!v)
        return refuse("energy calibration coefficient '" + std::string(t.substr(0, 20)) +
                      "' is not a number");
      p.fileCoefficients.push_back(*v);
    }
  }
  p.firstFileChannel = 0.0;

  const std::string measurementId = Attribute(spectrum.parent(), "id").empty()
                                        ? Attribute(spectrum.parent(), "ID")
                                        : Attribute(spectrum.parent(), "id");
  std::string detector = Attribute(spectrum, "radDetectorInformationReference");
  if (detector.empty()) detector = Attribute(spectrum, "Detector");
  if (detector.empty()) detector = Attribute(spectrum, "id");
  m.description = detector;
  if (gamma.size() > 1 || spectra.size() > 1) {
    m.note = "first gamma spectrum of " + std::to_string(spectra.size()) + " in the file";
    if (!measurementId.empty()) m.note += ", measurement " + measurementId;
    if (!detector.empty()) m.note += ", detector " + detector;
  }
  ReadOutcome stored = StoreParsed(s, p);
  if (stored.ok && !s.measurement.note.empty())
    stored.messages.insert(stored.messages.begin(), "Note, " + s.fileName + ": " + s.measurement.note);
  return stored;
}

}  // namespace orv
