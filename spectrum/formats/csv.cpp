// CSV or TSV with a header row: the counts column is found by its name (counts, cts, y, ...), a channel
// column and an energy column are optional; through the energies a calibration is fitted. Fields are
// separated by tabs, semicolons (then a decimal comma is allowed) or commas; lines beginning with "#"
// are comments.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

namespace orv {

namespace formats {

namespace {

std::string ColumnName(std::string_view field) {
  std::string n = Lower(Trim(field));
  n.erase(std::remove(n.begin(), n.end(), '"'), n.end());
  // Units in brackets, or after an underscore or blank, are not part of the name: "Energy (keV)",
  // "energy_kev", "counts [1]".
  if (auto bracket = n.find_first_of("(["); bracket != std::string::npos) n.resize(bracket);
  n = std::string(Trim(n));
  for (const char* unit : {"_kev", " kev", "_ev", " ev", "_mev", " mev"})
    if (n.size() > std::strlen(unit) && n.ends_with(unit)) n.resize(n.size() - std::strlen(unit));
  return std::string(Trim(n));
}

bool OneOf(const std::string& name, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return name == n; });
}

bool Comment(std::string_view line) {
  return line.empty() || line[0] == '#';
}

}  // namespace

std::vector<std::string_view> CsvFields(std::string_view line, char separator) {
  std::vector<std::string_view> out;
  if (separator == ' ') {
    for (std::string_view f : Tokens(line, " \t"))
      out.push_back(f.size() >= 2 && f.front() == '"' && f.back() == '"' ? f.substr(1, f.size() - 2) : f);
    return out;
  }
  std::size_t start = 0;
  while (true) {
    const std::size_t end = line.find(separator, start);
    std::string_view f = Trim(line.substr(start, end == std::string_view::npos ? end : end - start));
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = f.substr(1, f.size() - 2);
    out.push_back(f);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return out;
}

std::optional<CsvLayout> FindCsvHeader(const std::vector<std::string_view>& lines) {
  std::size_t k = 0;
  while (k < lines.size() && Comment(Trim(lines[k]))) ++k;
  if (k == lines.size()) return std::nullopt;
  const std::string_view header = Trim(lines[k]);
  CsvLayout l;
  l.headerLine = k;
  // Blanks separate the columns only when nothing else does.
  l.separator = header.find('\t') != std::string_view::npos  ? '\t'
                : header.find(';') != std::string_view::npos ? ';'
                : header.find(',') != std::string_view::npos ? ','
                                                             : ' ';
  const auto names = CsvFields(header, l.separator);
  for (std::size_t c = 0; c < names.size(); ++c) {
    const std::string n = ColumnName(names[c]);
    const int col = static_cast<int>(c);
    if (l.counts < 0 && OneOf(n, {"counts", "count", "cts", "y", "data", "intensity", "value", "spectrum",
                                  "gross counts", "total counts", "counts per channel"}))
      l.counts = col;
    else if (l.channel < 0 && OneOf(n, {"channel", "channels", "chan", "ch", "bin", "channel number", "x"}))
      l.channel = col, l.softChannel = n == "x";
    else if (l.energy < 0 && OneOf(n, {"energy", "e", "kev", "ev", "mev"}))
      l.energy = col;
  }
  if (l.counts < 0) return std::nullopt;
  return l;
}

}  // namespace formats

using namespace formats;

ReadOutcome ReadHeadedCsv(TSpectrum& s, std::string_view text) {
  auto refuse = [&](const std::string& what) { return Refusal(s, what); };
  const std::vector<std::string_view> lines = SplitLines(WithoutBom(text));
  const auto layout = FindCsvHeader(lines);
  if (!layout)
    return refuse("no header row with a counts column (counts, count, cts, y, data, intensity, value)");
  const CsvLayout& l = *layout;
  const std::size_t needed = static_cast<std::size_t>(std::max({l.counts, l.channel, l.energy})) + 1;
  ParsedSpectrum p;
  std::vector<double> channels, energies;
  std::string number;
  for (std::size_t i = l.headerLine + 1; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    if (Comment(line)) continue;
    const std::string where = " in line " + std::to_string(i + 1);
    const auto fields = CsvFields(line, l.separator);
    if (fields.size() < needed) return refuse(std::to_string(fields.size()) + " fields" + where);
    auto value = [&](int col) {
      number.assign(fields[col]);
      if (l.separator == ';') std::replace(number.begin(), number.end(), ',', '.');
      return ParseNumber(number);
    };
    auto count = value(l.counts);
    if (!count)
      return refuse("count '" + std::string(fields[l.counts].substr(0, 20)) + "'" + where +
                    " is not a number");
    if (p.counts.size() == static_cast<std::size_t>(kSpectrumCapacity))
      return refuse("more than " + std::to_string(kSpectrumCapacity) + " channels");
    p.counts.push_back(*count);
    if (l.channel >= 0) {
      auto c = value(l.channel);
      if (!c && !l.softChannel)
        return refuse("channel '" + std::string(fields[l.channel].substr(0, 20)) + "'" + where);
      channels.push_back(c ? *c : NAN);
    }
    if (l.energy >= 0) {
      auto e = value(l.energy);
      if (!e || !std::isfinite(*e))
        return refuse("energy '" + std::string(fields[l.energy].substr(0, 20)) + "'" + where);
      energies.push_back(*e);
    }
  }
  if (p.counts.empty()) return refuse("no data rows under the header");
  // The channel column must number the rows one by one; an "x" column that does not is just ignored.
  bool consecutive = !channels.empty();
  for (std::size_t k = 0; k < channels.size() && consecutive; ++k)
    consecutive = channels[k] == channels[0] + static_cast<double>(k) && std::fabs(channels[0]) < 1e9;
  if (l.channel >= 0 && !l.softChannel && !consecutive)
    return refuse("the channel column does not rise by 1 from row to row");
  p.firstFileChannel = consecutive ? channels[0] : 1.0;
  if (!energies.empty()) {
    std::vector<double> ours(energies.size());
    for (std::size_t k = 0; k < ours.size(); ++k) ours[k] = static_cast<double>(k) + 1.0;
    p.fileCoefficients = ShiftPolynomial(FitCalibration(ours, energies), 1.0 - p.firstFileChannel);
  }
  return StoreParsed(s, p);
}

}  // namespace orv
