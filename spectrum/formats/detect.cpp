// Telling a file's format by its content, and reading a file of types 5..9 from disk.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "spectrum/formats/format_util.h"
#include "spectrum/formats/formats.h"

namespace orv {

namespace {

using namespace formats;

// Enough for the header and counts of the largest CHN file and the head of any text file.
constexpr std::size_t kHeadBytes = 256 * 1024;
// No spectrum file of these formats comes near this; a larger file is refused before it is read.
constexpr std::uintmax_t kMaxFileBytes = 256u * 1024u * 1024u;

const std::vector<std::string> kTypeNames = {"", "", "", "", "", "spe", "chn", "n42", "mca", "csv"};

bool IsChn(std::string_view b, std::size_t size) {
  if (b.size() < 32) return false;
  auto u16 = [&](std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
  };
  if (u16(0) != 0xFFFF) return false;
  const std::size_t channels = u16(30), dataEnd = 32 + 4 * channels;
  if (channels == 0 || size < dataEnd) return false;
  if (size == dataEnd) return true;
  if (b.size() < dataEnd + 2) return false;
  const unsigned code = u16(dataEnd);
  return code == 0x10000 - 101 || code == 0x10000 - 102;
}

bool ContainsElement(std::string_view text, std::string_view local) {
  for (std::size_t at = text.find(local); at != std::string_view::npos; at = text.find(local, at + 1))
    if (at > 0 && (text[at - 1] == '<' || text[at - 1] == ':')) return true;
  return false;
}

// The numbers of a free-field line, after the comment rules; false when a token is not a number.
bool NumericLine(std::string_view line, std::vector<double>& numbers) {
  numbers.clear();
  if (auto star = line.find('*'); star != std::string_view::npos) line = line.substr(0, star);
  for (std::string_view t : Tokens(line)) {
    auto v = ParseNumber(t);
    if (!v) return false;
    numbers.push_back(*v);
  }
  return true;
}

// 4 when every data line holds two or three numbers and the first rises by a constant step, 3 when the
// lines hold numbers only, 0 otherwise.
int TextNumbersType(const std::vector<std::string_view>& lines) {
  std::vector<double> numbers;
  bool pairs = true;
  int dataLines = 0;
  double firstX = 0.0, lastX = 0.0, step = 0.0;
  for (std::string_view raw : lines) {
    const std::string_view line = Trim(raw);
    if (line.empty() || line[0] == '*') continue;
    if (line[0] == '/') break;
    if (!NumericLine(line, numbers)) return 0;
    if (numbers.empty()) continue;
    ++dataLines;
    if (!pairs) continue;
    if (numbers.size() < 2 || numbers.size() > 3) {
      pairs = false;
      continue;
    }
    const double x = numbers[0];
    if (dataLines == 1) {
      firstX = x;
    } else if (dataLines == 2) {
      step = x - firstX;
      pairs = step > 0.0;
    } else {
      const double expected = lastX + step;
      pairs = std::fabs(x - expected) <= 1e-6 * step + 1e-9 * std::fabs(x);
    }
    lastX = x;
  }
  if (dataLines == 0) return 0;
  return pairs && dataLines >= 2 ? 4 : 3;
}

std::string ReadHead(const std::string& path, std::size_t limit) {
  std::ifstream in(path, std::ios::binary);
  std::string head(limit, '\0');
  in.read(head.data(), static_cast<std::streamsize>(limit));
  head.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  return head;
}

}  // namespace

const std::string& FileTypeName(int type) {
  static const std::string none;
  return type >= 1 && type <= kLastFileType ? kTypeNames[type] : none;
}

int FileTypeFromName(const std::string& name) {
  const std::string n = Lower(Trim(name));
  if (n.size() == 1 && n[0] >= '1' && n[0] <= '9') return n[0] - '0';
  for (int t = kIaeaSpeType; t <= kLastFileType; ++t)
    if (n == kTypeNames[t]) return t;
  return 0;
}

int DetectFormatOfContent(std::string_view head, std::size_t fileSize) {
  if (IsChn(head, fileSize)) return kOrtecChnType;
  // XML in UTF-16 (which the XML parser reads): its ASCII characters are every other byte.
  if (head.size() >= 2 && (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF")) {
    std::string narrow;
    for (std::size_t k = head[0] == '\xFF' ? 2 : 3; k < head.size(); k += 2) narrow += head[k];
    return ContainsElement(narrow, "N42InstrumentData") || ContainsElement(narrow, "RadInstrumentData")
               ? kN42Type
               : 0;
  }
  std::string_view text = WithoutBom(head);
  const auto start = text.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return 0;
  text = text.substr(start);
  if (text.substr(0, 2) == "<<") {
    if (StartsWithNoCase(text, "<<PMCA SPECTRUM>>") || text.find("<<DATA>>") != std::string_view::npos)
      return kAmptekMcaType;
  }
  if (text[0] == '<' &&
      (ContainsElement(text, "N42InstrumentData") || ContainsElement(text, "RadInstrumentData")))
    return kN42Type;
  std::vector<std::string_view> lines = SplitLines(text);
  // A head that stops inside the file may end in a cut line.
  if (head.size() < fileSize && lines.size() > 1) lines.pop_back();
  if (text[0] == '$') {
    for (std::string_view l : lines)
      if (StartsWithNoCase(Trim(l), "$DATA:")) return kIaeaSpeType;
  }
  if (auto csv = FindCsvHeader(lines)) {
    // The row under the header must hold a count where the header says.
    for (std::size_t k = csv->headerLine + 1; k < lines.size(); ++k) {
      const std::string_view row = Trim(lines[k]);
      if (row.empty() || row[0] == '#') continue;
      const std::vector<std::string_view> fields = CsvFields(row, csv->separator);
      if (static_cast<int>(fields.size()) > csv->counts) {
        std::string count(fields[csv->counts]);
        if (csv->separator == ';') std::replace(count.begin(), count.end(), ',', '.');
        if (ParseNumber(count)) return kCsvType;
      }
      break;
    }
  }
  return TextNumbersType(lines);
}

FormatGuess DetectSpectrumFormat(const std::string& path) {
  FormatGuess g;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    g.message = "No file " + path;
    return g;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  g.type = ec ? 0 : DetectFormatOfContent(ReadHead(path, kHeadBytes), static_cast<std::size_t>(size));
  if (g.type == 0)
    g.message =
        "Error, " + path +
        ": the format is not recognised (tried IAEA SPE, ORTEC CHN, ANSI N42.42, Amptek MCA, CSV with a "
        "header row, ASCII X,Y lines, ASCII free field); binary word files need their type, 1 or 2";
  return g;
}

ReadOutcome ReadFormatFile(TSpectrum& s) {
  ReadOutcome r;
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(s.fileName, ec);
  if (ec || !std::filesystem::is_regular_file(s.fileName, ec)) {
    r.messages.push_back(s.fileName + ": cannot be read");
    return r;
  }
  if (size > kMaxFileBytes) {
    r.messages.push_back(
        FileError(s, "file of " + std::to_string(size) + " bytes, too large for a spectrum"));
    return r;
  }
  const std::string bytes = ReadHead(s.fileName, static_cast<std::size_t>(size));
  if (bytes.size() != size) {
    r.messages.push_back(s.fileName + ": cannot be read");
    return r;
  }
  switch (s.fileType) {
    case kIaeaSpeType:
      return ReadIaeaSpe(s, bytes);
    case kOrtecChnType:
      return ReadOrtecChn(s, bytes);
    case kN42Type:
      return ReadN42(s, bytes);
    case kAmptekMcaType:
      return ReadAmptekMca(s, bytes);
    case kCsvType:
      return ReadHeadedCsv(s, bytes);
    default:
      return r;
  }
}

}  // namespace orv
