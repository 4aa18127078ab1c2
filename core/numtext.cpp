#include "core/numtext.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <istream>

namespace orv {

int RoundHalfEven(double x) {
  if (std::isnan(x)) return 0;
  if (x >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (x <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(std::nearbyint(x));  // default rounding mode: to nearest, ties to even
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsNumberChar(char c) {
  return IsDigit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E' || c == 'd' || c == 'D';
}
bool IsSeparator(char c) {
  return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

namespace {

enum class TokenStatus { kOk, kInvalid, kOverflow };

TokenStatus ParseToken(std::string_view t, double& value) {
  // Validate the grammar and build a canonical text that from_chars accepts.
  std::string canon;
  canon.reserve(t.size() + 2);
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    if (t[i] == '-') canon.push_back('-');
    ++i;
  }
  std::size_t intDigits = 0, fracDigits = 0;
  while (i < t.size() && IsDigit(t[i])) canon.push_back(t[i++]), ++intDigits;
  if (intDigits == 0) canon.push_back('0');
  if (i < t.size() && t[i] == '.') {
    canon.push_back('.');
    ++i;
    while (i < t.size() && IsDigit(t[i])) canon.push_back(t[i++]), ++fracDigits;
    if (fracDigits == 0) canon.push_back('0');
  }
  // A lone sign, or a sign followed only by a point, is not a number; a lone point reads as 0.
  bool hadSign = !t.empty() && (t[0] == '+' || t[0] == '-');
  if (intDigits == 0 && fracDigits == 0 && (hadSign || i == 0)) return TokenStatus::kInvalid;
  bool negativeExponent = false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
    canon.push_back('e');
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
      negativeExponent = t[i] == '-';
      if (negativeExponent) canon.push_back('-');
      ++i;
    }
    std::size_t expDigits = 0;
    while (i < t.size() && IsDigit(t[i])) canon.push_back(t[i++]), ++expDigits;
    if (expDigits == 0) return TokenStatus::kInvalid;
  }
  if (i != t.size()) return TokenStatus::kInvalid;
  value = 0.0;
  auto [ptr, ec] = std::from_chars(canon.data(), canon.data() + canon.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Underflow is a zero; overflow is no number the analysis can use.
    if (!negativeExponent) return TokenStatus::kOverflow;
    value = 0.0;
    return TokenStatus::kOk;
  }
  if (ec != std::errc() || ptr != canon.data() + canon.size()) return TokenStatus::kInvalid;
  return std::isfinite(value) ? TokenStatus::kOk : TokenStatus::kOverflow;
}

}  // namespace

std::optional<double> ParseNumberToken(std::string_view t) {
  double value;
  if (ParseToken(t, value) != TokenStatus::kOk) return std::nullopt;
  return value;
}

double ReadNumber(std::string_view text, int& accepted) {
  std::string s;
  s.reserve(text.size());
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    s.push_back(c == ',' ? '.' : c);
  }
  if (s.empty()) return 0.0;
  accepted = 1;
  auto v = ParseNumberToken(s);
  if (!v) {
    accepted = 0;
    return 1.001;
  }
  return *v;
}

double ReadNumberClamped(std::string_view text, double lower, double upper, int& accepted) {
  return std::clamp(ReadNumber(text, accepted), lower, upper);
}

int ReadInteger(std::string_view text, int& accepted) {
  return RoundHalfEven(ReadNumber(text, accepted));
}

std::optional<double> ParseFreeFieldToken(std::string_view token, bool* outOfRange) {
  std::array<char, 128> buf;
  std::size_t n = 0;
  for (char c : token) {
    if (!IsNumberChar(c)) continue;
    if (n == buf.size()) return std::nullopt;  // no real number is that long
    buf[n++] = c;
  }
  if (n == 0) return std::nullopt;
  double value;
  switch (ParseToken(std::string_view(buf.data(), n), value)) {
    case TokenStatus::kOk:
      return value;
    case TokenStatus::kOverflow:
      if (outOfRange) *outOfRange = true;
      return std::nullopt;
    case TokenStatus::kInvalid:
      break;
  }
  return std::nullopt;
}

bool IsMistypedNumber(std::string_view token) {
  return std::any_of(token.begin(), token.end(), IsDigit) && !ParseFreeFieldToken(token);
}

int ParseNumberList(std::string_view text, std::vector<double>& out, bool* outOfRange,
                    std::string* badToken) {
  out.clear();
  if (badToken) badToken->clear();
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i])) ++i;
    std::size_t start = i;
    while (i < text.size() && !IsSeparator(text[i])) ++i;
    if (i > start) {
      const std::string_view token = text.substr(start, i - start);
      if (auto v = ParseFreeFieldToken(token, outOfRange))
        out.push_back(*v);
      else if (badToken && badToken->empty() && IsMistypedNumber(token))
        *badToken = token;
    }
  }
  return static_cast<int>(out.size());
}

FreeFieldLine ClassifyFreeFieldLine(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();  // files written on other platforms
  if (line.empty() || line[0] == '*') return FreeFieldLine::kSkip;
  if (line[0] == '/') return FreeFieldLine::kEndOfBlock;
  if (auto star = line.find('*'); star != std::string::npos) line.erase(star);
  return FreeFieldLine::kData;
}

int NumberStream::Read(std::vector<double>& values, int first, int last) {
  if (first < 0) first = 0;
  last = std::min<long long>(last, static_cast<long long>(values.size()) - 1);
  int stored = 0;
  int index = first;
  while (index <= last && std::getline(in_, line_)) {
    ++lineNumber_;
    FreeFieldLine kind = ClassifyFreeFieldLine(line_);
    if (kind == FreeFieldLine::kEndOfBlock) return stored;
    if (kind == FreeFieldLine::kSkip) continue;
    ParseNumberList(line_, numbers_, &outOfRange_, &lineBadToken_);
    if (!lineBadToken_.empty() && badToken_.empty()) {
      badToken_ = lineBadToken_;
      badTokenLine_ = lineNumber_;
    }
    for (double v : numbers_) {
      values[index++] = v;
      ++stored;
      if (index > last) break;
    }
  }
  if (in_.eof()) atEnd_ = true;
  return stored;
}

std::string FormatFixed(double value, int width, int decimals) {
  width = std::clamp(width, 0, 200);
  decimals = std::clamp(decimals, 0, 30);
  // No number to write: asterisks fill the field, as for a number that does not fit, so that a
  // reader never takes "NaN" or "Inf" for a value.
  if (!std::isfinite(value)) return std::string(std::max(width, 1), '*');
  std::array<char, 400> buf;
  int n = std::snprintf(buf.data(), buf.size(), "%*.*f", width, decimals, value);
  if (n < 0) return std::string(width, '*');
  if (n >= static_cast<int>(buf.size())) n = static_cast<int>(buf.size()) - 1;
  return std::string(buf.data(), n);
}

std::string JoinFields(std::initializer_list<std::string> fields) {
  std::string line;
  for (const std::string& f : fields) {
    if (!line.empty() && !f.empty() && f.front() != ' ') line += ' ';
    line += f;
  }
  return line;
}

std::string FormatInt(long long value, int width) {
  std::array<char, 64> buf;
  int n = std::snprintf(buf.data(), buf.size(), "%*lld", std::clamp(width, 0, 40), value);
  return std::string(buf.data(), std::max(0, n));
}

std::string FormatNumber(int width, int decimals, double value) {
  if (width < 0) width = 0;
  std::string text(std::min(width, 23), '*');
  auto log10 = [](double v) { return std::log(v) / 2.302585; };
  bool fits = value == 0.0 || (value > 0 && log10(value) <= width - decimals - 1) ||
              (value < 0 && log10(-value) <= width - decimals - 2);
  if (fits) text = FormatFixed(value, width, decimals);
  return text;
}

std::string RemoveBlanks(std::string text) {
  std::erase(text, ' ');
  return text;
}

std::string FormatNumberCompact(int width, double value) {
  std::array<char, 400> buf;
  int n;
  if (value == 0.0) return "0";
  if (!std::isfinite(value)) return FormatFixed(value, 0, 0);
  double magnitude = std::fabs(value);
  if (magnitude >= std::pow(10.0, width - 3)) {
    n = std::snprintf(buf.data(), buf.size(), "%12.6E", value);
  } else if (value == std::trunc(value)) {
    n = std::snprintf(buf.data(), buf.size(), "%.0f", value);
  } else {
    int intDigits = 1;
    for (double m = std::trunc(magnitude); m >= 10.0; m /= 10.0) ++intDigits;
    int decimals = std::clamp(width - 1 - intDigits, 0, 30);
    n = std::snprintf(buf.data(), buf.size(), "%.*f", decimals, value);
  }
  std::string s(buf.data(), std::clamp(n, 0, static_cast<int>(buf.size()) - 1));
  return RemoveBlanks(std::move(s));
}

}  // namespace orv
