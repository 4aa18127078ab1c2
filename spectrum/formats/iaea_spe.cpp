// IAEA SPE: a text file of sections, each opened by a line "$NAME:". $DATA: holds the first and last
// channel numbers and then the counts, any number to a line; $MEAS_TIM: live and real time in seconds;
// $DATE_MEA: the start as mm/dd/yyyy hh:mm:ss; $MCA_CAL: the number of coefficients and then the
// coefficients (before the unit); $ENER_FIT: the offset and slope of an older calibration. Sections the
// reader does not know are skipped.
#include <cmath>
#include <optional>

#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

namespace orv {

namespace {

using namespace formats;

// Numbers of a line; false when a token is not a number. Tokens after `count` numbers are left
// alone (units, comments).
bool LineNumbers(std::string_view line, std::vector<double>& out, std::size_t count) {
  out.clear();
  for (std::string_view t : Tokens(line)) {
    if (out.size() == count) break;
    auto v = ParseNumber(t);
    if (!v) return false;
    out.push_back(*v);
  }
  return true;
}

}  // namespace

ReadOutcome ReadIaeaSpe(TSpectrum& s, std::string_view text) {
  auto refuse = [&](const std::string& what) { return Refusal(s, what); };
  const std::vector<std::string_view> lines = SplitLines(WithoutBom(text));
  ParsedSpectrum p;
  std::vector<double> enerFit, mcaCal, numbers;
  bool dataSeen = false;
  std::size_t i = 0;
  auto sectionLine = [&](std::size_t k) { return !Trim(lines[k]).empty() && Trim(lines[k])[0] == '$'; };
  // The next line of the section, or nothing at the next section or the end.
  auto next = [&]() -> std::optional<std::string_view> {
    if (i + 1 >= lines.size() || sectionLine(i + 1)) return std::nullopt;
    return lines[++i];
  };
  for (; i < lines.size(); ++i) {
    std::string_view line = Trim(lines[i]);
    if (line.empty() || line[0] != '$') continue;
    const std::size_t colon = line.find(':');
    const std::string name = Lower(Trim(line.substr(1, colon == std::string_view::npos ? colon : colon - 1)));
    const std::size_t headerLine = i + 1;
    if (name == "data") {
      if (dataSeen) continue;  // a second block is not ours to interpret
      dataSeen = true;
      auto range = next();
      if (!range || !LineNumbers(*range, numbers, 2) || numbers.size() < 2)
        return refuse("$DATA: wants the first and last channel in line " + std::to_string(headerLine + 1));
      const double first = numbers[0], last = numbers[1];
      if (first != std::floor(first) || last != std::floor(last) || std::fabs(first) > 1e9 ||
          std::fabs(last) > 1e9 || last < first)
        return refuse("$DATA: channels " + std::string(Trim(*range)) + " are no channel range");
      const double declared = last - first + 1.0;
      if (declared > kSpectrumCapacity)
        return refuse("$DATA: " + FormatCount(declared) + " channels, more than " +
                      std::to_string(kSpectrumCapacity));
      p.firstFileChannel = first;
      p.counts.reserve(static_cast<std::size_t>(declared));
      while (auto data = next()) {
        for (std::string_view t : Tokens(*data)) {
          auto v = ParseNumber(t);
          if (!v)
            return refuse("count '" + std::string(t.substr(0, 20)) + "' in line " + std::to_string(i + 1) +
                          " is not a number");
          if (p.counts.size() == static_cast<std::size_t>(declared))
            return refuse("$DATA: more counts than the " + FormatCount(declared) + " channels declared");
          p.counts.push_back(*v);
        }
      }
      if (p.counts.size() != static_cast<std::size_t>(declared))
        return refuse("$DATA: " + FormatCount(declared) + " channels declared, " +
                      std::to_string(p.counts.size()) + " counts found");
    } else if (name == "meas_tim") {
      auto times = next();
      if (!times || !LineNumbers(*times, numbers, 2) || numbers.empty())
        return refuse("$MEAS_TIM: wants the live and real time in line " + std::to_string(headerLine + 1));
      p.measurement.liveTime = numbers[0];
      if (numbers.size() > 1) p.measurement.realTime = numbers[1];
    } else if (name == "date_mea") {
      if (auto date = next()) p.measurement.startTime = MonthFirstDateTime(*date);
    } else if (name == "spec_id") {
      if (auto id = next()) p.measurement.description = std::string(Trim(*id));
    } else if (name == "ener_fit") {
      auto fit = next();
      if (!fit || !LineNumbers(*fit, enerFit, kMaxCoefficients + 1))
        return refuse("$ENER_FIT: wants numbers in line " + std::to_string(headerLine + 1));
    } else if (name == "mca_cal") {
      auto countLine = next();
      if (!countLine || !LineNumbers(*countLine, numbers, 1) || numbers.size() != 1 || numbers[0] < 1 ||
          numbers[0] > kMaxCoefficients || numbers[0] != std::floor(numbers[0]))
        return refuse("$MCA_CAL: wants the number of coefficients in line " + std::to_string(headerLine + 1));
      const auto count = static_cast<std::size_t>(numbers[0]);
      auto values = next();
      if (!values || !LineNumbers(*values, mcaCal, count) || mcaCal.size() != count)
        return refuse("$MCA_CAL: wants " + std::to_string(count) + " coefficients in line " +
                      std::to_string(headerLine + 2));
    }
  }
  if (!dataSeen) return refuse("no $DATA: section");
  p.fileCoefficients = !mcaCal.empty() ? mcaCal : enerFit;
  return StoreParsed(s, p);
}

}  // namespace orv
