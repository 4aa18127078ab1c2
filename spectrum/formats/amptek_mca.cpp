// Amptek MCA: a text file of sections "<<NAME>>". <<PMCA SPECTRUM>> holds "KEY - value" lines
// (LIVE_TIME, REAL_TIME, START_TIME, TAG, DESCRIPTION); <<CALIBRATION>> a LABEL line and then
// "channel energy" pairs (channels from 0); <<DATA>> one count per line up to <<END>>. The instrument's
// configuration and status sections that may follow are skipped.
#include <cmath>

#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

namespace orv {

using namespace formats;

ReadOutcome ReadAmptekMca(TSpectrum& s, std::string_view text) {
  auto refuse = [&](const std::string& what) { return Refusal(s, what); };
  const std::vector<std::string_view> lines = SplitLines(WithoutBom(text));
  ParsedSpectrum p;
  std::vector<double> calChannels, calEnergies;
  enum class Section { kNone, kHeader, kCalibration, kData, kOther } section = Section::kNone;
  bool headerSeen = false, dataSeen = false, dataClosed = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    const std::string where = " in line " + std::to_string(i + 1);
    if (line.empty()) continue;
    if (line.substr(0, 2) == "<<") {
      const std::string name = Lower(line);
      if (section == Section::kData) {
        if (name != "<<end>>") return refuse("the data end without <<END>>" + where);
        dataClosed = true;
        section = Section::kNone;
        continue;
      }
      if (name == "<<pmca spectrum>>") {
        section = Section::kHeader;
        headerSeen = true;
      } else if (name == "<<calibration>>") {
        section = Section::kCalibration;
      } else if (name == "<<data>>") {
        if (dataSeen) return refuse("a second <<DATA>> section" + where);
        section = Section::kData;
        dataSeen = true;
      } else {
        section = Section::kOther;
      }
      continue;
    }
    if (section == Section::kHeader) {
      const std::size_t dash = line.find(" - ");
      const std::string key = Lower(Trim(line.substr(0, std::min(dash, line.find('-')))));
      const std::string_view value =
          dash == std::string_view::npos ? std::string_view{} : Trim(line.substr(dash + 3));
      if (key == "live_time" || key == "real_time") {
        if (value.empty()) continue;  // a time not measured
        auto v = ParseNumber(value);
        if (!v) return refuse(key + " '" + std::string(value.substr(0, 20)) + "' is not a number");
        (key == "live_time" ? p.measurement.liveTime : p.measurement.realTime) = *v;
      } else if (key == "start_time") {
        p.measurement.startTime = MonthFirstDateTime(value);
      } else if (key == "tag" || key == "description") {
        if (!value.empty())
          p.measurement.description += (p.measurement.description.empty() ? "" : "; ") + std::string(value);
      }
    } else if (section == Section::kCalibration) {
      if (StartsWithNoCase(line, "LABEL")) continue;
      const auto t = Tokens(line, " \t");
      auto c = t.size() >= 2 ? ParseNumber(t[0]) : std::nullopt;
      auto e = t.size() >= 2 ? ParseNumber(t[1]) : std::nullopt;
      if (!c || !e) return refuse("calibration pair '" + std::string(line.substr(0, 30)) + "'" + where);
      if (!std::isfinite(*c) || !std::isfinite(*e))
        return refuse("energy calibration with a point that is not finite" + where);
      calChannels.push_back(*c);
      calEnergies.push_back(*e);
    } else if (section == Section::kData) {
      auto v = ParseNumber(line);
      if (!v) return refuse("count '" + std::string(line.substr(0, 20)) + "'" + where + " is not a number");
      if (p.counts.size() == static_cast<std::size_t>(kSpectrumCapacity))
        return refuse("more than " + std::to_string(kSpectrumCapacity) + " channels");
      p.counts.push_back(*v);
    }
  }
  if (!headerSeen) return refuse("no <<PMCA SPECTRUM>> section");
  if (!dataSeen) return refuse("no <<DATA>> section");
  if (!dataClosed) return refuse("the data are not closed by <<END>> (file truncated?)");
  p.firstFileChannel = 0.0;
  p.fileCoefficients = FitCalibration(calChannels, calEnergies);
  return StoreParsed(s, p);
}

}  // namespace orv
