#include "spectrum/readers.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "core/numtext.h"
#include "spectrum/formats/formats.h"

namespace orv {

const std::vector<std::string> kFileTypeCaptions = {
    " binary, 2 bytes per word",          " binary, 4 bytes per word", " ASCII free field format",
    " ASCII  threes:  X,  Y,  [ error ]", " IAEA SPE (.spe)",          " ORTEC CHN (.chn)",
    " ANSI N42.42 XML (.n42, .xml)",      " Amptek MCA (.mca)",        " CSV / TSV with a header row"};

namespace {

constexpr int kHeaderBytes = 1024;
constexpr int kBlockBytes = 512;

std::string TooLongMessage() {
  return "Error, more than " + std::to_string(kSpectrumCapacity) + " channels in the spectrum file";
}

std::string FirstChannelMessage(long long channel) {
  return "Error, first channel " + std::to_string(channel) + " outside 1.." +
         std::to_string(kSpectrumCapacity);
}

std::string OutOfRangeMessage(int line) {
  return "Error, number out of range in line " + std::to_string(line);
}

std::string NotANumberMessage(const std::string& file, int line, const std::string& token) {
  const std::string shown = token.size() <= 40 ? token : token.substr(0, 40) + "...";
  return "Error, " + file + " line " + std::to_string(line) + ": \"" + shown + "\" is not a number";
}

// The numbers of a line by the typed-number grammar, each token whole; false with the first token
// that is no number (or none a double can hold).
bool ParseStrictNumbers(const std::string& line, std::vector<double>& out, std::string& bad) {
  out.clear();
  std::size_t i = 0;
  auto separator = [](char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r'; };
  while (i < line.size()) {
    while (i < line.size() && separator(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !separator(line[i])) ++i;
    if (i == start) continue;
    const std::string_view token(line.data() + start, i - start);
    const auto v = ParseNumberToken(token);
    if (!v) {
      bad = token;
      return false;
    }
    out.push_back(*v);
  }
  return true;
}

// A first data line holding control characters suggests a binary file read as text. Tabs are
// separators of both text types and never count.
bool HasControlCharacter(const std::string& line) {
  return std::any_of(line.begin(), line.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 32 && c != '\t'; });
}

std::string OpenFailure(const TSpectrum& s, int code) {
  if (s.fileType == 1) return s.fileName + ": opening failure; \nfile may be Read_Only";
  return s.fileName + "\n: opening failure; IOres= " + std::to_string(code) + "\nfile may be Read_Only";
}

}  // namespace

ReadOutcome ReadBinarySpectrum(TSpectrum& s, const unsigned char* data, std::size_t size, int wordSize,
                               const InputOptions& o) {
  ReadOutcome r;
  const std::size_t perBlock = kBlockBytes / wordSize;
  std::size_t pos = 0;
  std::size_t valuesRead = 0;  // the header counts towards the limit of the arrays
  if (o.skipHeader) {
    std::size_t header = std::min<std::size_t>(size, kHeaderBytes);
    pos = header;
    valuesRead = 2 * perBlock;
  }
  int stored = 0;
  while (pos < size && valuesRead < static_cast<std::size_t>(kSpectrumCapacity)) {
    std::size_t blockEnd = std::min(size, pos + kBlockBytes);
    std::size_t values = (blockEnd - pos) / wordSize;  // a short last block is used as far as it goes
    for (std::size_t j = 0; j < values; ++j, pos += wordSize) {
      const unsigned char* b = data + pos;
      double v;
      if (wordSize == 2) {
        v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
      } else {
        auto u = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                 (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
        auto w = static_cast<std::int32_t>(u);
        if (o.reverseBytes) w = TSpectrum::SwapHalves(w);
        v = w;
      }
      ++stored;
      s.sp[stored] = v;
      s.err[stored] = std::sqrt(std::max(1.0, v));
    }
    valuesRead += perBlock;
    if (values < perBlock) break;
    pos = blockEnd;
  }
  s.a1 = 1;
  s.a2 = std::max(stored, 1);
  // Channel 1 of a multichannel analyser often holds a timer, never counts.
  s.sp[1] = 0.0;
  s.err[1] = 1.0;
  r.ok = true;
  return r;
}

ReadOutcome ReadFreeFieldSpectrum(TSpectrum& s, std::istream& in) {
  ReadOutcome r;
  if (s.a1 < 1 || s.a1 > kSpectrumCapacity) {
    r.messages.push_back(FirstChannelMessage(s.a1));
    return r;
  }
  std::string line;
  std::vector<double> numbers;
  bool firstLine = true;
  int lineNumber = 0;
  int ch = s.a1 - 1;
  while (std::getline(in, line)) {
    ++lineNumber;
    FreeFieldLine kind = ClassifyFreeFieldLine(line);
    if (kind == FreeFieldLine::kEndOfBlock) break;
    if (kind == FreeFieldLine::kSkip) continue;
    if (firstLine && HasControlCharacter(line)) r.messages.push_back("Warning, no ASCII spectrum");
    firstLine = false;
    // Every token is a count: one dropped would move every later count one channel down.
    std::string bad;
    if (!ParseStrictNumbers(line, numbers, bad)) {
      r.messages.push_back(NotANumberMessage(s.fileName, lineNumber, bad));
      return r;
    }
    if (ch + static_cast<long long>(numbers.size()) > kSpectrumCapacity) {
      r.messages.push_back(TooLongMessage());
      return r;
    }
    for (double v : numbers) {
      ++ch;
      s.sp[ch] = v;
      s.err[ch] = std::sqrt(std::max(0.0, v));
    }
  }
  if (ch < s.a1) return r;  // nothing stored: a2 keeps the value passed in
  s.a2 = ch;
  r.ok = true;
  return r;
}

ReadOutcome ReadXYSpectrum(TSpectrum& s, std::istream& in, const InputOptions& o) {
  ReadOutcome r;
  const auto& ind = o.lineIndicators;
  if (std::any_of(ind.begin(), ind.end(), [](int i) { return i < 1 || i > 100; })) {
    r.messages.push_back("Error, wrong ASCII line indicators");
    return r;
  }
  const std::size_t needXY = std::max<std::size_t>({2, std::size_t(ind[0]), std::size_t(ind[1])});
  const std::size_t needE = std::max<std::size_t>(3, ind[2]);
  std::string line;
  std::vector<double> numbers;
  bool firstLine = true;
  bool outOfRange = false;
  int lineNumber = 0;
  long long ch = 0;
  int last = 0;
  while (std::getline(in, line)) {
    ++lineNumber;
    FreeFieldLine kind = ClassifyFreeFieldLine(line);
    if (kind == FreeFieldLine::kEndOfBlock) break;
    if (kind == FreeFieldLine::kSkip) continue;
    ParseNumberList(line, numbers, &outOfRange);
    if (outOfRange) {
      r.messages.push_back(OutOfRangeMessage(lineNumber));
      return r;
    }
    if (firstLine) {
      firstLine = false;
      if (numbers.size() < 2 || HasControlCharacter(line))
        r.messages.push_back("Warning, is it channel-counts spectrum?");
      long long first = s.a1;
      if (!o.startAtOne && numbers.size() >= std::size_t(ind[0])) {
        double xv = numbers[ind[0] - 1];
        first = std::fabs(xv) < 1e18 ? std::llround(std::nearbyint(xv)) : -1;
      }
      if (first < 1 || first > kSpectrumCapacity) {
        r.messages.push_back(FirstChannelMessage(first));
        return r;
      }
      s.a1 = static_cast<int>(first);
      ch = first - 1;
    }
    if (numbers.empty()) continue;
    if (++ch > kSpectrumCapacity) {
      r.messages.push_back(TooLongMessage());
      return r;
    }
    if (numbers.size() >= needXY) {
      double y = numbers[ind[1] - 1];
      s.x[ch] = numbers[ind[0] - 1];
      s.sp[ch] = y;
      s.err[ch] = std::sqrt(std::fabs(y) + 1.0);
      if (numbers.size() >= needE) {
        s.err[ch] = numbers[ind[2] - 1];
        s.errorsFromFile = true;
      }
      last = static_cast<int>(ch);
    }
  }
  if (last == 0) return r;
  s.a2 = last;
  s.xFirst = s.x[s.a1];
  s.xLast = s.x[s.a2];
  s.xStep = (s.xLast - s.xFirst) / std::max(1, s.a2 - s.a1);
  s.channelsPerX = (s.a2 - s.a1) / std::max(1.0, s.xLast - s.xFirst);
  s.channelOffset = s.a2 - s.channelsPerX * s.xLast;
  r.ok = true;
  return r;
}

ReadOutcome ReadSpectrumFile(TSpectrum& s, const InputOptions& o) {
  ReadOutcome r;
  // What the last file knew about its measurement does not belong to this one.
  s.measurement = SpectrumMeasurement{};
  if (IsFormatType(s.fileType)) return ReadFormatFile(s);
  std::error_code ec;
  bool directory = std::filesystem::is_directory(s.fileName, ec);
  if (s.fileType == 1 || s.fileType == 2) {
    errno = 0;
    std::FILE* f = directory ? nullptr : std::fopen(s.fileName.c_str(), "rb");
    if (!f) {
      r.messages.push_back(OpenFailure(s, directory ? EISDIR : errno));
      return r;
    }
    // Never more than the arrays can take, however large the file.
    const int wordSize = s.fileType == 1 ? 2 : 4;
    std::vector<unsigned char> bytes(kHeaderBytes + static_cast<std::size_t>(kSpectrumCapacity) * wordSize);
    std::size_t n = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return ReadBinarySpectrum(s, bytes.data(), n, wordSize, o);
  }
  if (s.fileType == 3 || s.fileType == 4) {
    std::ifstream in;
    if (!directory) in.open(s.fileName);
    if (!in) {
      int code = directory ? EISDIR : errno;
      r.messages.push_back(s.fileName + ": I/O error " + std::to_string(code) + " (" + std::strerror(code) +
                           ")");
      return r;
    }
    return s.fileType == 3 ? ReadFreeFieldSpectrum(s, in) : ReadXYSpectrum(s, in, o);
  }
  return r;  // any other type reads nothing
}

}  // namespace orv
