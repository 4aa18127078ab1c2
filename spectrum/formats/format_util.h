// Helpers shared by the format readers and writers: lines, numbers, polynomials and the step that
// moves a fully parsed file into the spectrum object.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spectrum/readers.h"
#include "spectrum/spectrum.h"

namespace orv::formats {

// Counts above this are no counts of any analyser; they would only overflow later sums.
inline constexpr double kMaxCount = 1e15;
// More calibration coefficients than this is corruption, not a calibration.
inline constexpr int kMaxCoefficients = 8;

// The lines of a text, split at LF, CRLF or CR, without their line ends.
std::vector<std::string_view> SplitLines(std::string_view text);
// The text without a leading UTF-8 byte-order mark.
std::string_view WithoutBom(std::string_view text);
std::string_view Trim(std::string_view s);
std::string Lower(std::string_view s);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// The whole token as a number (no trailing characters, one leading "+" allowed); a decimal comma is
// not accepted. Infinities and NaN are read so that the caller can refuse them by name.
std::optional<double> ParseNumber(std::string_view token);
// Tokens separated by blanks, tabs and commas.
std::vector<std::string_view> Tokens(std::string_view line, std::string_view separators = " \t,");

// Polynomial helpers; coefficient k belongs to x^k.
double EvaluatePolynomial(const std::vector<double>& c, double x);
// The polynomial q with q(x) = p(x + shift).
std::vector<double> ShiftPolynomial(const std::vector<double>& p, double shift);
// The least-squares polynomial of degree `degree` (at most 2) through the points.
std::vector<double> FitPolynomial(const std::vector<double>& x, const std::vector<double>& y, int degree);
// A straight line when it meets every point within a millionth of the span of y, otherwise a
// parabola (three points or more); empty for fewer than two points.
std::vector<double> FitCalibration(const std::vector<double>& x, const std::vector<double>& y);
// Trailing zero coefficients removed.
void TrimPolynomial(std::vector<double>& c);

// A fully parsed file: counts of channels 1..n and what the file knows.
struct ParsedSpectrum {
  std::vector<double> counts;
  SpectrumMeasurement measurement;
  // Energy calibration in the file's own channel numbering and the file channel of our channel 1.
  std::vector<double> fileCoefficients;
  double firstFileChannel = 0.0;
};

// A whole number of channels or counts as text.
std::string FormatCount(double n);

// "Error, FILE: what".
std::string FileError(const TSpectrum& s, const std::string& what);
// A reader's refusal of the file: not ok, with FileError's one message.
ReadOutcome Refusal(const TSpectrum& s, const std::string& what);

// Checks the counts and the calibration and moves them into the spectrum (a1 = 1, a2 = n, abscissa =
// channel). A calibration that is all zeros is no calibration; one that does not rise with the channel
// is dropped with a warning; non-finite coefficients refuse the file.
ReadOutcome StoreParsed(TSpectrum& s, ParsedSpectrum& p);

// Where the columns of a headed CSV file are (0-based; -1 when absent).
struct CsvLayout {
  std::size_t headerLine = 0;
  char separator = ',';
  int counts = -1, channel = -1, energy = -1;
  bool softChannel = false;  // an "x" column: taken as channels only when it numbers the rows
};
// The fields of a line, surrounding blanks and quotes removed; the separator ' ' stands for runs of
// blanks and tabs.
std::vector<std::string_view> CsvFields(std::string_view line, char separator);
// The first non-comment line as a header with a counts column; nothing when it is not one.
std::optional<CsvLayout> FindCsvHeader(const std::vector<std::string_view>& lines);

// "yyyy-mm-dd hh:mm:ss" from the parts, "" when they are not a date.
std::string IsoDateTime(int year, int month, int day, int hour, int minute, double second);
// A date written "mm/dd/yyyy hh:mm:ss" (as analysers' text files do) in the form above; the text
// itself, trimmed, when it is not such a date.
std::string MonthFirstDateTime(std::string_view text);

}  // namespace orv::formats
