// Reading numbers from typed text and free-field files, and writing them in fixed-width fields.
#pragma once

#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// round(x): nearest integer, halves to the even neighbour; saturates at the int range.
int RoundHalfEven(double x);

// Strict number grammar: optional sign, digits, optional "." and fraction, optional exponent
// introduced by E, e, D or d. A leading "." reads as "0.". Nothing else may appear.
// Returns nothing for invalid text and for values outside the double range.
std::optional<double> ParseNumberToken(std::string_view token);

// A number typed into a dialog. Empty or blank text gives 0 and leaves `accepted` alone; otherwise
// blanks are removed, commas become points, and `accepted` becomes 1, or 0 for text that is not a
// number (the value is then 1.001, which callers never use because they stop on the refusal).
double ReadNumber(std::string_view text, int& accepted);
double ReadNumberClamped(std::string_view text, double lower, double upper, int& accepted);
int ReadInteger(std::string_view text, int& accepted);

// Free-field token: characters that cannot belong to a number are dropped, then the strict grammar
// applies. `outOfRange` is set when the token is a number too large for a double.
std::optional<double> ParseFreeFieldToken(std::string_view token, bool* outOfRange = nullptr);

// True when a free-field token that gave no number still held characters of a number ("1.2.3",
// "--5", "1e", "1e400", or one too long to be any): a mistyped number, never a word to pass over.
bool IsMistypedNumber(std::string_view token);

// Numbers of one free-field line (blanks, commas and tabs separate) appended to `out` after clearing
// it; returns their count. `badToken`, when given, receives the first mistyped number of the line
// (empty when there is none).
int ParseNumberList(std::string_view text, std::vector<double>& out, bool* outOfRange = nullptr,
                    std::string* badToken = nullptr);

// Line rules of free-field files. Data lines come back with the comment tail cut off.
enum class FreeFieldLine { kSkip, kEndOfBlock, kData };
FreeFieldLine ClassifyFreeFieldLine(std::string& line);

// Sequential reader of free-field numbers from a text file.
class NumberStream {
 public:
  explicit NumberStream(std::istream& in) : in_(in) {}
  // Stores numbers into values[first..last] (clamped to the vector); returns how many this call stored.
  // A "/" line ends the call; the rest of the line holding the last number is dropped.
  int Read(std::vector<double>& values, int first, int last);
  bool outOfRange() const { return outOfRange_; }
  // The first mistyped number met (empty when none) and the line that held it.
  const std::string& badToken() const { return badToken_; }
  int badTokenLine() const { return badTokenLine_; }
  int lineNumber() const { return lineNumber_; }
  bool atEnd() const { return atEnd_; }

 private:
  std::istream& in_;
  std::string line_;
  std::vector<double> numbers_;
  std::string badToken_, lineBadToken_;
  int lineNumber_ = 0;
  int badTokenLine_ = 0;
  bool outOfRange_ = false;
  bool atEnd_ = false;
};

// The value right-justified in `width` characters with `decimals` decimals, or `width` asterisks
// (at most 23) when its magnitude does not fit.
std::string FormatNumber(int width, int decimals, double value);
// The text with every blank removed (fixed-width fields shown in running text).
std::string RemoveBlanks(std::string text);
// Shortest readable form for a field of `width`: "0", a whole number, a fixed number using the width,
// or exponent form for large magnitudes; blanks removed.
std::string FormatNumberCompact(int width, double value);
// Fixed-point in a field of at least `width` characters; a number that does not fit widens the field.
// A value that is not finite is `width` asterisks (at least one).
std::string FormatFixed(double value, int width, int decimals);
// The fields of one table line side by side; a field that fills its width (or widened it) gets a
// blank in front, so that it never runs into the field before it.
std::string JoinFields(std::initializer_list<std::string> fields);
std::string FormatInt(long long value, int width);

}  // namespace orv
